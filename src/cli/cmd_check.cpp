#include "cli/cmd_check.h"

#include <cstdio>

#include "cli/commands.h"
#include "device/messages.h"
#include "volume/checker.h"

int CmdCheck(CliContext& c) {
    constexpr int kCouldNotCheck = 2;
    auto image = OpenCliVolume(c.options, c.ui, nullptr);
    // Nothing is written, whatever the image allows.
    if (!image || !image->Device() || !image->Device()->MakeReadOnly()) {
        ShowMessage(1240);
        return kCouldNotCheck;
    }
    CheckResult r = CheckVolume(*image);
    std::string report = r.Report();
    std::fwrite(report.data(), 1, report.size(), stdout);
    std::size_t total = 0;
    for (uint32_t n : r.counts) total += n;
    if (total > r.findings.size()) std::printf("... %zu more findings not shown\n", total - r.findings.size());
    std::printf("%u folders, %u files, %zu findings, %u lost clusters%s\n", r.folders, r.files, total, r.lostClusters,
                r.complete ? "" : "; the check could not be completed");
    if (!r.complete) {
        ShowMessage(1240);
        return kCouldNotCheck;
    }
    return total == 0 ? kExitOk : kExitFailure;
}
