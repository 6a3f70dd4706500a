// voldex-cli repair: crash, check, repair, clean.

#include <cstdio>
#include <iostream>
#include <string>
#include <unistd.h>

#include "cli/cli_paths.h"
#include "cli/cmd_check.h"
#include "cli/commands.h"
#include "device/messages.h"
#include "volume/fsck/repairer.h"

namespace {

constexpr int kCannotRepair = 2;
constexpr unsigned kRepairedLine = 2052, kLeftLine = 2053;

std::string Line(unsigned id, const MsgArgs& args = {}) { return FormatCatalogueMessage(id, args).value_or("?"); }

std::size_t Total(const CheckResult& r) {
    std::size_t n = 0;
    for (uint32_t k : r.counts) n += k;
    return n;
}

void PrintPlan(const std::vector<RepairStep>& plan, const CheckResult& r) {
    for (const RepairStep& s : plan)
        std::printf("%s: %s => %s\n", CheckKindName(s.kind), s.finding.c_str(), Line(s.action).c_str());
    if (Total(r) > r.findings.size()) std::printf("%s\n", Line(1711, {unsigned(Total(r) - r.findings.size())}).c_str());
}

std::string JsonList(const std::vector<std::string>& lines) {
    std::string out = "[";
    for (std::size_t k = 0; k < lines.size(); ++k) out += (k ? ", " : "") + JsonString(lines[k]);
    return out + "]";
}

// In English, as the check's JSON.
void PrintJson(const RepairOutcome& o, bool acted) {
    std::string out = "{\"before\": " + CheckJson(o.before) + ",\n\"plan\": [";
    for (std::size_t k = 0; k < o.plan.size(); ++k)
        out += std::string(k ? ",\n  " : "\n  ") + "{\"kind\": " + JsonString(CheckKindName(o.plan[k].kind)) +
               ", \"text\": " + JsonString(o.plan[k].findingEnglish) +
               ", \"action\": " + JsonString(MessageIn(Language::English, o.plan[k].action, {})) + "}";
    out += std::string(o.plan.empty() ? "" : "\n") + "],\n\"repaired\": " + (acted ? "true" : "false") +
           ", \"done\": " + JsonList(o.doneEnglish) + ", \"unmended\": " + JsonList(o.unmendedEnglish) +
           ",\n\"after\": " + CheckJson(o.after) + ", \"clean\": " + (o.after.Clean() ? "true" : "false") + "}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

// On a terminal the user is asked; elsewhere --yes is the answer, and
// without it the question stays open (nothing is written).
bool AskToRepair(const CliOptions& o) {
    if (o.yes) return true;
    if (o.no) return false;
    if (isatty(0) && isatty(2)) {
        std::fprintf(stderr, "%s [y/N] ", Line(1512).c_str());
        std::fflush(stderr);
        std::string answer;
        if (!std::getline(std::cin, answer)) return false;
        return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
    }
    AskMessage(1512, kBoxYesNoQuestion);
    return false;
}

}  // namespace

int CmdRepair(CliContext& c) {
    const CliOptions& o = c.options;
    auto image = OpenCliVolume(o, c.ui, nullptr);
    if (!image || !image->Device()) {
        ShowMessage(1522);
        return kCannotRepair;
    }
    // FAT32 and read-only images are refused before anything is read.
    if (image->FATType == kFAT32 || image->IsReadOnly()) {
        ShowMessage(image->FATType == kFAT32 ? 1509 : 1510);
        return kCannotRepair;
    }
    RepairOptions options;
    options.save = o.save;
    RepairOutcome outcome;
    outcome.before = outcome.after = CheckVolume(*image);
    outcome.plan = PlanRepair(outcome.before, options);
    if (!o.json) PrintPlan(outcome.plan, outcome.before);
    if (unsigned why = RepairRefusal(*image, outcome.before)) {
        if (o.json) PrintJson(outcome, false);
        ShowMessage(why);
        return kCannotRepair;
    }
    if (outcome.before.Clean() || o.dryRun || !AskToRepair(o)) {
        if (o.json) PrintJson(outcome, false);
        else if (outcome.before.Clean()) std::printf("%s\n", Line(1513).c_str());
        return outcome.before.Clean() ? kExitOk : kExitFailure;
    }
    outcome = RepairVolume(*image, options);
    // Everything written reaches the disk before the outcome is told.
    bool flushed = image->Flush();
    const bool closed = image->MarkClosed();
    if (o.json) {
        PrintJson(outcome, true);
    } else {
        for (const std::string& line : outcome.done) std::printf("%s\n", Line(kRepairedLine, {line}).c_str());
        for (const std::string& line : outcome.unmended) std::printf("%s\n", Line(kLeftLine, {line}).c_str());
        if (!outcome.after.Clean()) {
            std::string report = outcome.after.Report();
            std::fwrite(report.data(), 1, report.size(), stdout);
        }
        std::printf("%s\n", outcome.after.Clean() ? Line(1513).c_str() : Line(1514, {unsigned(Total(outcome.after))}).c_str());
    }
    if (outcome.writeFailed || !flushed) {
        ShowMessage(1515);
        return kExitFailure;
    }
    if (!closed) {
        ShowMessage(1841);
        return kExitFailure;
    }
    return outcome.after.Clean() ? kExitOk : kExitFailure;
}
