#include "cli/cli_args.h"

#include <cerrno>
#include <cstdlib>

const char* const kCliUsage =
    "usage: voldex-cli [--profile NAME] [--partition N] [--offset BYTES] [--human68k] [--yes|--no]\n"
    "                  COMMAND IMAGE ...\n"
    "  info IMAGE                 the volume's layout figures\n"
    "  parts IMAGE                the partitions of a hard-disk image\n"
    "  ls IMAGE [PATH]            list a folder (default: the root)\n"
    "  get IMAGE PATH... DESTDIR  export files and folders to a host folder\n"
    "  put IMAGE SRC... [PATH]    import host files and folders (into PATH, default the root;\n"
    "                             the last operand is PATH when no host file has that name)\n"
    "  mkdir IMAGE PATH           make a folder (--default-name: NEWDIR.n inside PATH)\n"
    "  rm IMAGE PATH...           delete files and folders with everything inside\n"
    "  release IMAGE PATH...      unlink damaged entries, leaving their clusters allocated\n"
    "  ren IMAGE PATH NEWNAME     rename an entry\n"
    "  mv IMAGE PATH... DESTDIR   move entries into another folder of the volume\n"
    "  mkfdd SOURCE OUTPUT --size 1440|1232|720|640\n"
    "                             read a floppy (or any file) track by track into an image\n";

namespace {

bool ParseOffset(const std::string& text, int64_t& value) {
    if (text.empty() || text[0] == '-') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != 0 || v > 0x7FFFFFFFull) return false;
    value = static_cast<int64_t>(v);
    return true;
}

}  // namespace

std::optional<CliOptions> ParseCliArgs(const std::vector<std::string>& args, std::string& error) {
    CliOptions o;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (a == "--offset" || a.rfind("--offset=", 0) == 0)) {
            std::string value;
            if (a == "--offset") {
                if (i + 1 >= args.size()) {
                    error = "--offset needs a value";
                    return std::nullopt;
                }
                value = args[++i];
            } else {
                value = a.substr(9);
            }
            int64_t v;
            if (!ParseOffset(value, v)) {
                error = "bad --offset value: " + value;
                return std::nullopt;
            }
            o.offset = v;
        } else if (!optionsEnded && a == "--size") {
            int64_t n;
            if (i + 1 >= args.size() || !ParseOffset(args[i + 1], n)) {
                error = "--size needs 1440, 1232, 720 or 640";
                return std::nullopt;
            }
            o.size = static_cast<int>(n);
            ++i;
        } else if (!optionsEnded && (a == "--profile" || a == "--partition")) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            if (a == "--profile") {
                o.profile = value;
            } else {
                int64_t n;
                if (!ParseOffset(value, n) || n < 1) {
                    error = "bad --partition value: " + value;
                    return std::nullopt;
                }
                o.partition = static_cast<int>(n);
            }
        } else if (!optionsEnded && a == "--default-name") {
            o.defaultName = true;
        } else if (!optionsEnded && a == "--human68k") {
            o.human68k = true;
        } else if (!optionsEnded && (a == "--yes" || a == "-y")) {
            o.yes = true;
        } else if (!optionsEnded && (a == "--no" || a == "-n")) {
            o.no = true;
        } else if (!optionsEnded && a.size() > 1 && a[0] == '-') {
            error = "unknown option: " + a;
            return std::nullopt;
        } else if (o.command.empty()) {
            o.command = a;
        } else {
            o.operands.push_back(a);
        }
    }
    if (o.yes && o.no) {
        error = "--yes and --no exclude each other";
        return std::nullopt;
    }
    if (o.command.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    if (!CheckOperandCount(o, error)) return std::nullopt;
    return o;
}

bool CheckOperandCount(const CliOptions& o, std::string& error) {
    struct Shape {
        const char* name;
        int min, max;
    };
    static const Shape shapes[] = {{"info", 1, 1},  {"parts", 1, 1},   {"ls", 1, 2},  {"get", 3, -1},
                                   {"put", 2, -1},  {"mkdir", 2, 2},   {"rm", 2, -1}, {"release", 2, -1},
                                   {"ren", 3, 3},   {"mv", 3, -1},     {"mkfdd", 2, 2}};
    for (const Shape& s : shapes) {
        if (o.command != s.name) continue;
        int n = static_cast<int>(o.operands.size());
        if (n < s.min || (s.max >= 0 && n > s.max)) {
            error = "wrong number of operands for " + o.command;
            return false;
        }
        return true;
    }
    error = "unknown command: " + o.command;
    return false;
}
