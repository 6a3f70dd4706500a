#include "cli/cmd_check.h"

#include <cstdio>

#include "cli/cli_paths.h"
#include "cli/commands.h"
#include "device/messages.h"
#include "volume/fsck/checker.h"

std::string CheckJson(const CheckResult& r) {
    std::string out = "{\"complete\": " + std::string(r.complete ? "true" : "false") +
                      ", \"folders\": " + std::to_string(r.folders) + ", \"files\": " + std::to_string(r.files) +
                      ", \"lostClusters\": " + std::to_string(r.lostClusters) +
                      ", \"lostChains\": " + std::to_string(r.lostChains) + ", \"counts\": {";
    bool first = true;
    for (std::size_t k = 0; k < kCheckKinds; ++k) {
        if (r.counts[k] == 0) continue;
        out += std::string(first ? "" : ", ") + JsonString(CheckKindName(CheckKind(k))) + ": " +
               std::to_string(r.counts[k]);
        first = false;
    }
    // Scripts read the kinds and the English texts, whatever the language.
    out += "}, \"findings\": [";
    for (std::size_t k = 0; k < r.findings.size(); ++k)
        out += std::string(k ? ",\n  " : "\n  ") + "{\"kind\": " + JsonString(CheckKindName(r.findings[k].kind)) +
               ", \"text\": " + JsonString(FindingText(r.findings[k], Language::English)) + "}";
    out += std::string(r.findings.empty() ? "" : "\n") + "]}";
    return out;
}

int CmdCheck(CliContext& c) {
    constexpr int kCouldNotCheck = 2;
    auto image = OpenCliVolume(c.options, c.ui, nullptr);
    // Nothing is written, whatever the image allows.
    if (!image || !image->Device() || !image->Device()->MakeReadOnly()) {
        ShowMessage(1240);
        return kCouldNotCheck;
    }
    CheckResult r = CheckVolume(*image);
    std::size_t total = 0;
    for (uint32_t n : r.counts) total += n;
    if (c.options.json) {
        std::string out = CheckJson(r) + "\n";
        std::fwrite(out.data(), 1, out.size(), stdout);
    } else {
        std::string report = r.Report();
        std::fwrite(report.data(), 1, report.size(), stdout);
        if (total > r.findings.size()) std::printf("%s\n", MessageString(1711, total - r.findings.size()).c_str());
        std::string summary = MessageString(1709, r.folders, r.files, total, r.lostClusters);
        if (!r.complete) summary = MessageString(1710, summary);
        std::printf("%s\n", summary.c_str());
    }
    if (!r.complete) {
        ShowMessage(1240);
        return kCouldNotCheck;
    }
    return total == 0 ? kExitOk : kExitFailure;
}
