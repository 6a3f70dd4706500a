#include "cli/cli_args.h"

#include <cerrno>
#include <cstdlib>
#include <algorithm>

#include "cli/cmd_check.h"
#include "cli/commands.h"
#include "cli/mount.h"
#include "device/messages.h"

#ifndef VOLDEX_VERSION
#define VOLDEX_VERSION "0.1"
#endif

const char* const kCliVersion = VOLDEX_VERSION;

namespace {

// Notes at the end of the help of the commands they concern.
const char* const kPathNote =
    "Image paths use \"/\" (or \"\\\") between folders and match names without regard to case;\n"
    "they may be written with a \"::\" prefix (::/GAMES/A.TXT). Where a command mixes host and\n"
    "image paths (put, get), the \"::\" prefix is what marks the image side of put.\n";
const char* const kNameNote =
    "On FAT volumes names are long names (or their 8.3 aliases) while the setting LongNames is 1,\n"
    "the default; --short-names (or LongNames=0) keeps to 8.3 names. A name given for the image\n"
    "(ren, mkdir, mv, the \"::\" name of put) that the volume cannot hold as given is refused;\n"
    "host names met by put may be stored changed (\"a\"b.txt stored as a_b.txt\" on standard\n"
    "error), or refused with --strict-names.\n";

}  // namespace

const std::vector<CliCommand>& CliCommands() {
    static const std::vector<CliCommand> commands = {
        {"info", 1, 1, kCmdOpensVolume | kCmdJson, "info IMAGE [--json]",
         "Prints the volume's layout (one \"Key: value\" line each), its capacity, used and free space.\n"
         "--json: one object {\"DiskStart\", \"FileSystem\", \"FATType\", ..., \"FreeClusters\",\n"
         "\"ClusterBytes\", \"TotalBytes\", \"UsedBytes\", \"FreeBytes\", \"Writable\", \"ReadOnly\"} with numbers\n"
         "as numbers; Writable: the file can be written, the volume is not FAT32, the disk is not\n"
         "write-protected.\n",
         CmdInfo},
        {"parts", 1, 1, kCmdJson, "parts IMAGE [--json]",
         "Prints the partition table: name, first and last unit (both counted in), size (MiB to the\n"
         "nearest), byte offset (tab-separated). The disk's\n"
         "geometry comes from the image header, else from a boot sector found near the start.\n"
         "Exit 1 and nothing printed when no valid table is found (entries outside the image or\n"
         "overlapping one another are not a table); with --json, {\"partitions\": []} then.\n"
         "--json: {\"partitions\": [{\"number\", \"name\" (as shown), \"plainName\" (untranslated),\n"
         "\"type\" (the type byte, null without one), \"start\", \"end\" (numbers, the last counted in),\n"
         "\"unit\" (\"sector\", \"cylinder\", \"record\" or \"byte\"), \"size\", \"offset\",\n"
         "\"logicalOffset\", \"bytes\"}]}; offset is the byte offset in the file (what --offset takes;\n"
         "null for a disk of a D88 file), logicalOffset the disk's place as read, bytes its length.\n",
         CmdParts},
        {"ls", 1, -1, kCmdOpensVolume | kCmdJson | kCmdRecursive | kCmdImagePaths, "ls IMAGE [::PATH...] [-R] [--json]",
         "Lists a folder (default: the root), one entry, or the entries a wildcard matches (* and ?\n"
         "in any component), as tab-separated lines: name, size, attributes, date/time, first\n"
         "cluster. -R lists every folder below too, with the path from the listed folder as name.\n"
         "Control characters, tab, line feed and backslash in names are written \\xHH, \\t, \\n, \\\\.\n"
         "--json: {\"entries\": [{\"path\", \"name\", \"type\" (\"file\", \"folder\" or \"label\"),\n"
         "\"size\", \"attributes\" (the number), \"attributeText\", \"time\" (YYYY-MM-DDTHH:MM:SS, null\n"
         "when the stored fields are no valid date), \"storedDate\", \"storedTime\", \"cluster\"}]};\n"
         "names are UTF-8 strings.\n",
         CmdLs},
        {"tree", 1, 2, kCmdOpensVolume | kCmdImagePaths, "tree IMAGE [::PATH]",
         "Prints the folders and files below PATH (default: the root), indented two spaces a level;\n"
         "folders end with \"/\".\n",
         CmdTree},
        {"cat", 2, -1, kCmdOpensVolume | kCmdImagePaths, "cat IMAGE ::PATH...",
         "Writes the files' data to standard output, one after another.\n", CmdCat},
        {"get", 3, -1, kCmdOpensVolume | kCmdProgress | kCmdImagePaths, "get IMAGE ::PATH... HOSTDEST",
         "Exports files and folders with their data, timestamps and read-only mark. The last operand\n"
         "is always a host path: an existing folder receives the entries; otherwise one source is\n"
         "written under that name (get IMG ::A.TXT out/b.txt); \"-\" writes the files to standard\n"
         "output. * and ? match in any component (get IMG '::/D*/*.TXT' out).\n"
         "An existing host file is replaced with --yes, kept with --no; otherwise the command asks\n"
         "on a terminal, and elsewhere skips it with a line saying so and goes on (exit 1). A name\n"
         "the host cannot hold is written under its 8.3 alias, with a line that says so.\n",
         CmdGet, CheckGetOperands},
        {"put", 2, -1, kCmdOpensVolume | kCmdChanges | kCmdProgress | kCmdImagePaths | kCmdImageNames, "put IMAGE HOSTPATH... [::DEST]",
         "Imports host files and folders. Every operand is a host path except a last one written\n"
         "with \"::\": an existing folder of the image receives the sources, another name renames\n"
         "the one source (put IMG a.txt ::/DOC/B.TXT). Without a \"::\" operand they go into the\n"
         "root. \"-\" reads standard input into the \"::\" name given. Sources go in in the order\n"
         "given; each file's size is checked against the free space before its data is written,\n"
         "and the first that does not fit ends the command (exit 1): what went in before it\n"
         "stays. An existing entry is replaced with --yes, kept with --no, asked about on a\n"
         "terminal, and otherwise skipped with a line saying so while the rest goes in (exit 1);\n"
         "a host folder whose name is taken is not merged into: put stops there. A source given as\n"
         "/, . or .., or an old-style last operand that names a folder of the image without\n"
         "\"::\", is refused (exit 2).\n",
         CmdPut, CheckPutOperands},
        {"mkdir", 2, 2, kCmdOpensVolume | kCmdChanges | kCmdImagePaths | kCmdImageNames, "mkdir IMAGE ::PATH [--default-name]",
         "Makes a folder; with --default-name, the next free NEWDIR.n inside PATH.\n", CmdMkdir},
        {"rm", 2, -1, kCmdOpensVolume | kCmdChanges | kCmdImagePaths, "rm IMAGE ::PATH...",
         "Deletes files and folders with everything in them. * and ? match in any component.\n", CmdRm},
        {"release", 2, -1, kCmdOpensVolume | kCmdChanges | kCmdImagePaths, "release IMAGE ::PATH...",
         "Unlinks damaged entries and leaves their clusters allocated (fsck.fat reports them as\n"
         "lost). * and ? match in any component.\n",
         CmdRelease},
        {"ren", 3, 3, kCmdOpensVolume | kCmdChanges | kCmdImagePaths | kCmdImageNames, "ren IMAGE ::PATH NEWNAME",
         "Renames an entry in its folder. NEWNAME is a name, not a path (exit 2; mv moves entries).\n", CmdRen,
         CheckRenOperands},
        {"mv", 3, -1, kCmdOpensVolume | kCmdChanges | kCmdImagePaths | kCmdImageNames, "mv IMAGE ::PATH... ::DEST",
         "Moves entries into another folder of the volume (never into themselves). With one source\n"
         "and a DEST that does not exist, the entry is moved and renamed (mv IMG ::A.TXT ::B.TXT).\n"
         "* and ? match in any component of the sources. A DEST that is an existing file is\n"
         "replaced with --yes, kept with --no, otherwise asked for on a terminal or refused.\n",
         CmdMv},
        {"check", 1, 1, kCmdJson, "check IMAGE [--json]",
         "Checks the volume (FAT12/16/32 or Human68k) without writing to it: FAT copies, chains\n"
         "(loops, free, bad or reserved values, beyond the volume, clusters shared), sizes, \".\" and\n"
         "\"..\", duplicate and invalid names, orphan long-name slots, lost clusters, an entry left in\n"
         "two folders by an interrupted move, FAT copies a step apart. One \"kind: details\" line per\n"
         "finding, then a summary line. Exit 0 clean, 1 findings, 2 the volume could not be checked.\n"
         "--json: {\"complete\", \"folders\", \"files\", \"lostClusters\", \"lostChains\", \"counts\" (by\n"
         "kind), \"findings\": [{\"kind\", \"text\"}]}.\n",
         CmdCheck},
        {"repair", 1, 1, kCmdChanges | kCmdJson, "repair IMAGE [--dry-run] [--save] [--yes] [--json]",
         "Repairs a FAT12, FAT16 or Human68k volume from what check finds, crash-safely: one line per\n"
         "finding and what is done about it, then (on a terminal, after asking; --yes acts without\n"
         "asking) the repair. Lost clusters are freed (--save: each lost chain becomes FILEnnnn.CHK\n"
         "in the root); FAT copies are made equal to the one that describes a sound volume; an entry\n"
         "left in two folders keeps a folder where its \"..\" points and gives a file its own copy;\n"
         "shared clusters are copied; chains are ended or cut to their size and sizes set to their\n"
         "chains; \".\" and \"..\" are rewritten; bad and duplicate names get valid, unique ones;\n"
         "orphan long-name slots are cleared; the FAT's media byte and, on FAT16, the clean-shutdown\n"
         "bit are set. Nothing a file or folder still reaches is freed. --dry-run shows the plan only.\n"
         "Exit 0 clean afterwards, 1 findings remain (each named), 2 the volume cannot be repaired\n"
         "(FAT32, a read-only image, a volume beyond the end of its image).\n"
         "--json: {\"before\" and \"after\" (as check --json), \"plan\": [{\"kind\", \"text\",\n"
         "\"action\"}], \"repaired\", \"done\", \"unmended\", \"clean\"}.\n",
         CmdRepair},
        {"mkfdd", 2, 2, 0, "mkfdd SOURCE OUTPUT --size 1440|1232|720|640",
         "Reads a floppy (or any file) track by track into a plain image. OUTPUT is written only\n"
         "when the read succeeds; an existing file is replaced only with --yes, and never when it\n"
         "is the source itself.\n",
         CmdMkfdd},
        {"new", 2, 2, 0, "new IMAGE FORMAT [--size SIZE] [--label TEXT] [--container KIND] [--yes]",
         "Makes a blank image. FORMAT names the disk, IMAGE's extension the container:\n"
         "  2hd       PC-9801 1.23 MB floppy (77 x 2 x 8 x 1024), FAT12\n"
         "  1.44m     1.44 MB floppy (80 x 2 x 18 x 512), FAT12\n"
         "  2dd       720 KB floppy (80 x 2 x 9 x 512), FAT12\n"
         "  640k      PC-9801 640 KB floppy (80 x 2 x 8 x 512), FAT12\n"
         "  x68k-2hd  X68000 1.23 MB floppy, Human68k\n"
         "            floppies in .fdi .d88 .d77 .d68 .d98 .88d .nfd (NFD r0; r1 with --container\n"
         "            nfd-r1) .dim (2HD only), ImageDisk .imd, Virtual98 .fdd, Disk Copy Pro\n"
         "            .dcp .dcu, HxC .hfe (MFM tracks) or plain .hdm .xdf .tfd .img .ima\n"
         "  pc98-hd   PC-9801 hard disk, one FAT16 partition (5M to 2G): .hdi .nhd .thd .hdd\n"
         "            (Virtual98) .slh (SL9821) .img\n"
         "  at-hd     AT hard disk, one FAT16 partition from 1 MiB (8M to 2G): .img .hdi\n"
         "  x68k-hd   X68000 SCSI disk, one Human68k partition (10M to 2G): .hds .hda .img;\n"
         "            SASI in .hdf: 10M, 20M or 40M\n"
         "Hard disks need --size (K, M, G: binary multiples). --label sets the volume label.\n"
         "No boot program is written. An existing IMAGE is replaced only with --yes; the image is\n"
         "written under a temporary name beside it and renamed when complete. A FORMAT that does\n"
         "not fit the container, or a size out of range, is a usage error (exit 2).\n",
         CmdNew},
        {"convert", 2, -1, 0, "convert SOURCE TARGET [--partition N] [--lossy] [--container KIND] [--yes]",
         "Converts an image into another container, named by TARGET's extension (" "the extensions of\n"
         "new, and .dup .2hd .flp .dsk); SOURCE is known by its content. A floppy goes over track\n"
         "by track with every sector's ID, mark and status where the target keeps them, and the\n"
         "header fields it has (name, media, write-protect); a hard disk with its partition table\n"
         "and every partition under the target's header. --partition N takes disk N of a D88 file\n"
         "of several. What the target cannot hold (a sector of another size, a deleted-data mark,\n"
         "duplicate or missing IDs, an error status, a shape it cannot describe) is refused, one\n"
         "line each, exit 1 and nothing written; --lossy converts anyway and lists what was dropped.\n"
         "convert --to EXT SOURCE... FOLDER converts each source into FOLDER under its own name,\n"
         "going on after a refusal. The target is written under a temporary name and renamed when\n"
         "complete; an existing one is replaced only with --yes. --container nfd-r1 writes a .nfd\n"
         "target as NFD r1 (every sector with its ID and status) instead of NFD r0.\n",
         CmdConvert},
        {"identify", 1, -1, kCmdJson, "identify IMAGE... [--json]",
         "Tells what each image is: the container by content (and what its name suggests when that\n"
         "differs), header fields that disagree with the file's size, the geometry; for floppies\n"
         "every disk of the file with its sector sizes and anomalies (mixed sizes, deleted marks,\n"
         "error statuses, missing, duplicate or foreign IDs); for hard disks the partition table\n"
         "and each partition's file system and label. --json: one object a line per image\n"
         "{\"path\", \"image\", \"container\", \"nameSuggests\", \"fileBytes\", \"headerDisagrees\",\n"
         "\"geometry\", \"disks\", \"table\", \"partitions\"}. Exit 1 when any is not a disk image.\n",
         CmdIdentify},
        {"label", 1, 2, kCmdOpensVolume | kCmdChangesWhenTold, "label IMAGE [TEXT | --clear]",
         "Shows the volume label (the root folder's label entry; nothing when there is none), sets\n"
         "it to TEXT (11 bytes at most, upper case on FAT, Shift-JIS allowed) or removes it with\n"
         "--clear. On FAT the boot sector's label field is set too.\n",
         CmdLabel},
        {"attrib", 2, -1, kCmdOpensVolume | kCmdChangesWhenTold | kCmdRecursive | kCmdImagePaths,
         "attrib IMAGE [+r|-r|+h|-h|+s|-s|+a|-a]... ::PATH... [-R]",
         "Sets (+) and clears (-) the read-only, hidden, system and archive bits; without flags\n"
         "prints them (\"RHSA\" letters, \"-\" for a bit not set, a tab, the path). * and ? match in\n"
         "any component; -R goes into folders and everything below them. Folders keep their\n"
         "folder bit; the volume label is not changed this way.\n",
         CmdAttrib, CheckAttribOperands},
        {"mount", 2, 2, kCmdOpensVolume | kCmdChanges | kCmdServesReadOnly, "mount IMAGE MOUNTPOINT [-o OPTIONS] [-f]",
         "Shows the volume as a folder (FUSE) until fusermount3 -u MOUNTPOINT. Files can be made,\n"
         "written at any offset, grown, shrunk, renamed and removed, folders made and removed; the\n"
         "time and the read-only mark (the owner's write permission) are kept. A name the volume\n"
         "cannot hold as given is refused. The image is locked against other writers; data reach\n"
         "the disk on fsync, when a written file is closed and at unmount. -o ro mounts read-only,\n"
         "as FAT32 volumes and read-only images always are; other -o options go to FUSE. Without\n"
         "-f the command returns once the folder is mounted and serves it in the background.\n",
         CmdMount},
    };
    return commands;
}

const CliCommand* FindCliCommand(const std::string& name) {
    for (const CliCommand& c : CliCommands())
        if (name == c.name) return &c;
    return nullptr;
}

namespace {

// "-y, --yes", "--offset BYTES".
std::string OptionShown(const CliOption& option) {
    std::string text = option.alias ? std::string(option.alias) + ", " + option.name : std::string(option.name);
    if (option.value) text += std::string(" ") + option.value;
    return text;
}

std::string OptionLine(const CliOption& option, const std::string& note = "") {
    std::string shown = "  " + OptionShown(option);
    if (shown.size() < 22) shown.resize(22, ' ');
    else shown += "  ";
    return shown + option.help + note + "\n";
}

}  // namespace

bool TakesOption(const CliCommand& command, const CliOption& option) {
    if (option.General()) return true;
    if (option.takenByFlag & command.flags) return true;
    if (!option.takenBy) return false;
    const std::string list = std::string(" ") + option.takenBy + " ";
    return list.find(std::string(" ") + command.name + " ") != std::string::npos;
}

std::vector<const CliOption*> CommandOptions(const CliCommand& command) {
    std::size_t count = 0;
    const CliOption* table = CliOptionTable(count);
    std::vector<const CliOption*> own;
    for (std::size_t k = 0; k < count; ++k)
        if (!table[k].General() && TakesOption(command, table[k])) own.push_back(&table[k]);
    return own;
}

std::string CliUsage() {
    std::string text =
        "usage: voldex-cli [OPTIONS] COMMAND IMAGE ...\n"
        "       voldex-cli COMMAND --help | --help | --version\n"
        "Commands:\n";
    for (const CliCommand& c : CliCommands()) text += std::string("  ") + c.synopsis + "\n";
    std::size_t count = 0;
    const CliOption* table = CliOptionTable(count);
    text += "Options:\n";
    for (std::size_t k = 0; k < count; ++k)
        if (table[k].General()) text += OptionLine(table[k]);
    text += "Options of single commands:\n";
    for (std::size_t k = 0; k < count; ++k) {
        if (table[k].General()) continue;
        std::string takers;
        for (const CliCommand& c : CliCommands())
            if (TakesOption(c, table[k])) takers += (takers.empty() ? "" : ", ") + std::string(c.name);
        text += OptionLine(table[k], " (" + takers + ")");
    }
    text += kPathNote;
    text += kNameNote;
    text += "Exit status: 0 success, 1 failure, 2 bad usage.\n";
    return text;
}

std::string CliCommandHelp(const CliCommand& c) {
    std::string text = std::string("usage: voldex-cli [OPTIONS] ") + c.synopsis + "\n" + c.help;
    const std::vector<const CliOption*> own = CommandOptions(c);
    if (!own.empty()) {
        text += std::string("Options of ") + c.name + ":\n";
        for (const CliOption* option : own) text += OptionLine(*option);
    }
    text += "The general options (voldex-cli --help) apply too.\n";
    if (c.flags & kCmdImagePaths) text += kPathNote;
    if (c.flags & kCmdImageNames) text += kNameNote;
    return text;
}

namespace {

bool ParseNumber(const std::string& text, int64_t& value) {
    if (text.empty() || text[0] == '-') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || *end != 0 || v > 0x7FFFFFFFFFFFFFFFull) return false;
    value = static_cast<int64_t>(v);
    return true;
}

const CliOption kOptions[] = {
    // Read before the rest (cli_lang.cpp): here for the usage and the parse of what is left.
    {"--lang", nullptr, true, "el|en|ja", nullptr, 0, "the language of the messages",
     [](CliOptions&, const std::string&, std::string&) { return true; }},
    {"--offset", nullptr, true, "BYTES", nullptr, 0, "the volume's boot record is at this byte offset",
     [](CliOptions& o, const std::string& v, std::string& e) {
         int64_t n;
         if (!ParseNumber(v, n)) {
             e = MessageString(1681, v);
             return false;
         }
         o.offset = n;
         return true;
     }},
    {"--size", nullptr, true, "SIZE", "mkfdd new", 0, "the floppy in KB (1440, 1232, 720, 640), or the new disk (40M, 2G)",
     [](CliOptions& o, const std::string& v, std::string& e) {
         int64_t n;
         o.sizeText = v;
         if (ParseNumber(v, n) && n <= 0xFFFFFF) o.size = static_cast<int>(n);
         else if (v.empty() || v[0] < '0' || v[0] > '9') {
             e = MessageString(1683, v);
             return false;
         }
         return true;
     }},
    {"--label", nullptr, true, "TEXT", "new", 0, "the volume label of the new image",
     [](CliOptions& o, const std::string& v, std::string&) {
         o.label = v;
         return true;
     }},
    {"--clear", nullptr, false, nullptr, "label", 0, "remove the volume label",
     [](CliOptions& o, const std::string&, std::string&) { return o.clear = true; }},
    {"--profile", nullptr, true, "NAME", nullptr, 0, "open the image with this disk profile",
     [](CliOptions& o, const std::string& v, std::string&) {
         o.profile = v;
         return true;
     }},
    {"--partition", nullptr, true, "N", nullptr, 0, "open the N-th partition that parts lists",
     [](CliOptions& o, const std::string& v, std::string& e) {
         int64_t n;
         if (!ParseNumber(v, n) || n < 1 || n > 0xFFFF) {
             e = MessageString(1682, v);
             return false;
         }
         o.partition = static_cast<int>(n);
         return true;
     }},
    {"--default-name", nullptr, false, nullptr, "mkdir", 0, "make the next free NEWDIR.n",
     [](CliOptions& o, const std::string&, std::string&) { return o.defaultName = true; }},
    {"--human68k", nullptr, false, nullptr, nullptr, 0, "the volume is a Human68k volume",
     [](CliOptions& o, const std::string&, std::string&) { return o.human68k = true; }},
    {"--short-names", nullptr, false, nullptr, nullptr, 0, "8.3 names only on FAT volumes",
     [](CliOptions& o, const std::string&, std::string&) { return o.shortNames = true; }},
    {"--strict-names", nullptr, false, nullptr, nullptr, 0, "refuse host names the volume would store changed",
     [](CliOptions& o, const std::string&, std::string&) { return o.strictNames = true; }},
    {"--yes", "-y", false, nullptr, nullptr, 0, "replace entries and files that already exist",
     [](CliOptions& o, const std::string&, std::string&) { return o.yes = true; }},
    {"--no", "-n", false, nullptr, nullptr, 0, "keep entries and files that already exist",
     [](CliOptions& o, const std::string&, std::string&) { return o.no = true; }},
    {"--json", nullptr, false, nullptr, nullptr, kCmdJson, "one JSON object for scripts",
     [](CliOptions& o, const std::string&, std::string&) { return o.json = true; }},
    {"--recursive", "-R", false, nullptr, nullptr, kCmdRecursive, "go into every folder below",
     [](CliOptions& o, const std::string&, std::string&) { return o.recursive = true; }},
    {"--version", "-V", false, nullptr, nullptr, 0, "the version",
     [](CliOptions& o, const std::string&, std::string&) { return o.version = true; }},
    {"--help", "-h", false, nullptr, nullptr, 0, "the usage, or with a command its own help",
     [](CliOptions& o, const std::string&, std::string&) { return o.help = true; }},
    {"-o", nullptr, true, "OPTIONS", "mount", 0, "FUSE mount options, comma-separated (ro: read-only)",
     [](CliOptions& o, const std::string& v, std::string&) {
         o.mountOptions.push_back(v);
         return true;
     }},
    {"-f", nullptr, false, nullptr, "mount", 0, "stay in the foreground until unmounted",
     [](CliOptions& o, const std::string&, std::string&) { return o.foreground = true; }},
    {"--dry-run", nullptr, false, nullptr, "repair", 0, "show the plan only; write nothing",
     [](CliOptions& o, const std::string&, std::string&) { return o.dryRun = true; }},
    {"--save", nullptr, false, nullptr, "repair", 0, "keep each lost chain as FILEnnnn.CHK",
     [](CliOptions& o, const std::string&, std::string&) { return o.save = true; }},
    {"--lossy", nullptr, false, nullptr, "convert", 0, "convert anyway and list what was dropped",
     [](CliOptions& o, const std::string&, std::string&) { return o.lossy = true; }},
    {"--to", nullptr, true, "EXT", "convert", 0, "convert each source into FOLDER with this extension",
     [](CliOptions& o, const std::string& v, std::string&) {
         o.to = v;
         return true;
     }},
    {"--container", nullptr, true, "KIND", "new convert", 0, "the container, where the extension has several (nfd-r1)",
     [](CliOptions& o, const std::string& v, std::string&) {
         o.container = v;
         return true;
     }},
};

}  // namespace

const CliOption* CliOptionTable(std::size_t& count) {
    count = sizeof kOptions / sizeof kOptions[0];
    return kOptions;
}

std::optional<CliOptions> ParseCliArgs(const std::vector<std::string>& args, std::string& error, std::string* command) {
    CliOptions o;
    struct Named {
        const CliOptions& o;
        std::string* out;
        ~Named() {
            if (out) *out = o.command;
        }
    } named{o, command};
    bool optionsEnded = false;
    std::vector<const CliOption*> given;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (!optionsEnded && a == "--") {
            optionsEnded = true;
            continue;
        }
        // "-" alone is an operand (standard input for put); so are the
        // flags of attrib.
        if (optionsEnded || a.size() < 2 || a[0] != '-' || (o.command == "attrib" && IsAttribFlag(a))) {
            if (o.command.empty()) o.command = a;
            else o.operands.push_back(a);
            continue;
        }
        std::string name = a, value;
        bool inlineValue = false;
        if (std::size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
            inlineValue = true;
        }
        const CliOption* option = nullptr;
        for (const CliOption& c : kOptions)
            if (name == c.name || (c.alias && name == c.alias)) option = &c;
        if (option) given.push_back(option);
        if (!option || (inlineValue && !option->takesValue)) {
            error = MessageString(1684, a);
            return std::nullopt;
        }
        if (option->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = MessageString(1685, option->name);
                return std::nullopt;
            }
            value = args[++i];
        }
        if (!option->apply(o, value, error)) return std::nullopt;
    }
    if (o.yes && o.no) {
        error = MessageString(1686);
        return std::nullopt;
    }
    // --offset and --human68k name the volume outright: a disk type or a
    // partition beside them would be passed over without a word.
    if ((o.offset || o.human68k) && (o.profile || o.partition)) {
        error = MessageString(1687);
        return std::nullopt;
    }
    if (o.command.empty()) {
        error = MessageString(1688);
        return std::nullopt;
    }
    if (o.help) {
        if (!FindCliCommand(o.command)) {
            error = MessageString(1689, o.command);
            return std::nullopt;
        }
        return o;
    }
    if (!CheckOperandCount(o, error)) return std::nullopt;
    const CliCommand* c = FindCliCommand(o.command);
    // An option only some commands take is refused by the others rather
    // than passed over.
    for (const CliOption* option : given)
        if (!TakesOption(*c, *option)) {
            error = MessageString(2341, o.command, option->name);
            return std::nullopt;
        }
    return o;
}

bool IsAttribFlag(const std::string& a) {
    // "-R" stays the option that goes into folders.
    if (a.size() != 2 || (a[0] != '+' && a[0] != '-')) return false;
    return std::string("rhsa").find(a[1]) != std::string::npos ||
           (a[0] == '+' && std::string("RHSA").find(a[1]) != std::string::npos);
}

bool AsksForChange(const CliOptions& o) {
    if (o.command == "label") return o.clear || o.operands.size() > 1;
    for (std::size_t k = 1; k < o.operands.size(); ++k)
        if (IsAttribFlag(o.operands[k])) return true;
    return false;
}

bool CheckOperandCount(const CliOptions& o, std::string& error) {
    const CliCommand* c = FindCliCommand(o.command);
    if (!c) {
        error = MessageString(1689, o.command);
        return false;
    }
    int n = static_cast<int>(o.operands.size());
    if (n < c->minOperands || (c->maxOperands >= 0 && n > c->maxOperands)) {
        error = MessageString(1692, o.command);
        return false;
    }
    return true;
}

namespace {

// Letters to change, add or drop to turn one name into the other.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string NearestCommand(const std::string& name) {
    std::string best;
    std::size_t bestDistance = name.size() < 4 ? 1 : 2;  // "ls" is not near every two-letter word
    for (const CliCommand& c : CliCommands()) {
        const std::string candidate = c.name;
        if (name.size() >= 2 && candidate.rfind(name, 0) == 0) return candidate;
        std::size_t d = EditDistance(name, candidate);
        if (d <= bestDistance && (best.empty() || d < bestDistance)) {
            best = candidate;
            bestDistance = d;
        }
    }
    return best;
}

std::string UsageAfterError(const std::string& command) {
    if (const CliCommand* c = FindCliCommand(command))
        return MessageString(1693, std::string("voldex-cli ") + c->synopsis) + "\n" +
               MessageString(1694, "voldex-cli " + command + " --help") + "\n";
    if (command.empty()) return CliUsage();
    std::string text;
    if (std::string near = NearestCommand(command); !near.empty()) text += MessageString(2143, near) + "\n";
    return text + MessageString(2144, "voldex-cli") + "\n";
}
