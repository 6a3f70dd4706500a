// Conversion between containers and what an image really is: convert, identify.

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cli_progress.h"
#include "cli/commands.h"
#include "device/messages.h"
#include "opening/convert.h"
#include "opening/detect.h"
#include "opening/identify.h"

namespace {

// Ctrl-C stops a conversion between two tracks or chunks, so that the
// partial file is removed rather than left behind.
volatile std::sig_atomic_t stopAsked = 0;
extern "C" void AskStop(int) { stopAsked = 1; }

// Images from this size on show a progress line on a terminal.
constexpr uint64_t kProgressFrom = 8u << 20;

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string BaseName(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// One conversion, told on the terminal; false when refused or failed.
bool ConvertOne(const std::string& source, const std::string& target, const CliOptions& o) {
    ConvertRequest q;
    q.target = target;
    if (o.partition) q.disk = std::size_t(*o.partition);
    q.lossy = o.lossy;
    q.replace = o.yes;
    q.container = o.container;
    const uint64_t size = ImageFileSize(source);
    ProgressLine progress(isatty(2) && size >= kProgressFrom);
    uint64_t shown = 0;
    ConvertResult r = ConvertImageFile(source, q, [&](uint64_t done, uint64_t) {
        if (done > shown) progress.AddBytes(done - shown);
        shown = done;
        return !stopAsked;
    });
    progress.Finish();
    switch (r.status) {
    case ConvertStatus::kDone:
        for (const std::string& line : r.reasons) std::fprintf(stderr, "%s\n", MessageString(1970, line).c_str());
        std::printf("%s\n", MessageString(1968, source, r.sourceKind, r.targetKind, target, r.geometry).c_str());
        return true;
    case ConvertStatus::kRefused:
        for (const std::string& line : r.reasons) std::fprintf(stderr, "%s\n", line.c_str());
        if (r.losses) std::fprintf(stderr, "%s\n", MessageString(1969, source, r.targetKind).c_str());
        return false;
    case ConvertStatus::kFailed:
    case ConvertStatus::kKept:
        return false;
    }
    return false;
}

}  // namespace

int CmdConvert(CliContext& c) {
    const CliOptions& o = c.options;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, AskStop);
    const std::vector<std::string>& ops = o.operands;
    if (!o.to) {
        if (ops.size() != 2)
            return UsageError(MessageString(1692, "convert"),
                              "usage: voldex-cli convert SOURCE TARGET [--partition N] [--lossy] [--container KIND] [--yes]\n"
                              "       voldex-cli convert --to EXT SOURCE... FOLDER");
        return ConvertOne(ops[0], ops[1], o) ? kExitOk : kExitFailure;
    }
    const std::string& folder = ops.back();
    if (ops.size() < 2)
        return UsageError(MessageString(1692, "convert"), "usage: voldex-cli convert --to EXT SOURCE... FOLDER");
    if (!IsFolder(folder)) {
        // The images go into a folder that is there: a missing one is named.
        ShowMessage(1293, folder);
        return kExitFailure;
    }
    std::string ext = *o.to;
    if (!ext.empty() && ext[0] != '.') ext = "." + ext;
    int rc = kExitOk;
    for (std::size_t k = 0; k + 1 < ops.size() && !stopAsked; ++k) {
        std::string target = folder + (folder.back() == '/' ? "" : "/") + BaseName(ops[k]) + ext;
        if (!ConvertOne(ops[k], target, o)) rc = kExitFailure;
    }
    return rc;
}

int CmdIdentify(CliContext& c) {
    int rc = kExitOk;
    for (const std::string& path : c.options.operands) {
        IdentifyReport r = IdentifyImage(path);
        if (!r.isImage) {
            rc = kExitFailure;
            if (!c.options.json) std::fprintf(stderr, "%s\n", MessageString(1966, path).c_str());
        }
        std::fputs((c.options.json ? IdentifyJson(r) + "\n" : IdentifyText(r)).c_str(), stdout);
    }
    return rc;
}
