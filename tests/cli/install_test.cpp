// `cmake --install` into a fresh prefix: the tree, the desktop entry, the
// MIME types, and where the installed program keeps settings, log and
// profiles.

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "support/disks.h"
#include "support/images.h"

namespace {

bool IsFile(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Shell(const std::string& cmd) {
    std::string out;
    RunShell(cmd, &out);
    return out;
}

std::string Text(const std::string& p) {
    auto b = ReadHostFile(p);
    return std::string(b.begin(), b.end());
}

class InstallTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new TempDir;
        std::string out;
        installed = RunShell("DESTDIR=" + Quote(dir->path() + "/dest") + " cmake --install " + Quote(VOLDEX_BUILD_DIR) +
                                 " --prefix /usr",
                             &out) == 0;
        log = out;
    }
    static void TearDownTestSuite() {
        delete dir;
        dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(installed) << log; }
    static std::string Usr(const std::string& rest) { return dir->path() + "/dest/usr/" + rest; }
    // The troff source of an installed (compressed) manual page.
    static std::string Manual(const std::string& page) {
        std::string text;
        RunShell("gzip -dc " + Quote(Usr("share/man/man1/" + page)), &text);
        return text;
    }
    // Runs the installed voldex-cli as a user whose home is `home`, with no
    // VOLDEX_HOME and no XDG variables.
    static int Installed(const std::string& home, const std::string& args, std::string* out = nullptr) {
        return RunShell("env -u VOLDEX_HOME -u XDG_CONFIG_HOME -u XDG_STATE_HOME HOME=" + Quote(home) + " " +
                            Quote(Usr("bin/voldex-cli")) + " " + args,
                        out);
    }

    static TempDir* dir;
    static bool installed;
    static std::string log;
};
TempDir* InstallTest::dir = nullptr;
bool InstallTest::installed = false;
std::string InstallTest::log;

TEST_F(InstallTest, TheTreeHoldsEveryPiece) {
    for (const char* f : {"bin/voldex-cli", "share/voldex/voldex-profiles.ini", "share/applications/voldex.desktop",
                          "share/mime/packages/voldex.xml", "share/icons/hicolor/scalable/apps/voldex.svg",
                          "share/icons/hicolor/16x16/apps/voldex.png", "share/icons/hicolor/32x32/apps/voldex.png",
                          "share/icons/hicolor/48x48/apps/voldex.png", "share/icons/hicolor/128x128/apps/voldex.png",
                          "share/man/man1/voldex.1.gz", "share/man/man1/voldex-cli.1.gz",
                          "share/doc/voldex/copyright", "share/doc/voldex/changelog.gz",
                          "share/doc/voldex-dev/copyright", "share/doc/voldex-dev/changelog.gz",
                          "share/bash-completion/completions/voldex-cli", "include/voldex/plugin.h",
                          "share/pkgconfig/voldex-plugin.pc"})
        EXPECT_TRUE(IsFile(Usr(f))) << f;
#ifdef VOLDEX_GUI
    EXPECT_TRUE(IsFile(Usr("bin/voldex")));
#endif
    std::string out;
    // The pkg-config file leads to the installed header.
    ASSERT_EQ(RunShell("PKG_CONFIG_PATH=" + Quote(Usr("share/pkgconfig")) + " pkg-config --variable=includedir voldex-plugin", &out), 0);
    EXPECT_TRUE(IsFile(dir->path() + "/dest" + out.substr(0, out.find('\n')) + "/voldex/plugin.h")) << out;
    ASSERT_EQ(RunShell(Quote(Usr("bin/voldex-cli")) + " --version", &out), 0) << out;
    EXPECT_EQ(out.rfind("voldex-cli 1.", 0), 0u) << out;
    EXPECT_EQ(RunShell("bash -n " + Quote(Usr("share/bash-completion/completions/voldex-cli")), &out), 0) << out;
    for (const char* page : {"voldex-cli.1.gz", "voldex.1.gz"}) {
        // In a group: RunShell's own 2>&1 would otherwise send the warnings to /dev/null too.
        EXPECT_EQ(RunShell("{ LC_ALL=C man -l --warnings " + Quote(Usr("share/man/man1/") + page) + " 2>&1 >/dev/null; }", &out), 0);
        EXPECT_EQ(out, "") << page << " has troff warnings";
    }
}

// The options a usage text names: "--json", "-R", "[--yes|--no]".
std::set<std::string> OptionsOf(const std::string& help) {
    std::set<std::string> found;
    static const std::regex option(R"((?:^|[\s\[|])(--?[A-Za-z][A-Za-z0-9-]*))");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), option); it != std::sregex_iterator(); ++it)
        found.insert((*it)[1].str());
    return found;
}

// "--short-names" as a manual page writes it.
std::string Troff(const std::string& word) { return std::regex_replace(word, std::regex("-"), "\\-"); }

TEST_F(InstallTest, ManualPagesAndCompletionCoverEveryCommandAndOption) {
    std::string help;
    ASSERT_EQ(RunShell(Quote(Usr("bin/voldex-cli")) + " --help", &help), 0);
    std::set<std::string> commands;
    static const std::regex commandLine(R"(\n  ([a-z][a-z0-9]*) )");
    for (auto it = std::sregex_iterator(help.begin(), help.end(), commandLine); it != std::sregex_iterator(); ++it)
        commands.insert((*it)[1].str());
    std::set<std::string> options = OptionsOf(help);
    ASSERT_GE(commands.size(), 15u) << help;
    ASSERT_TRUE(options.count("--lang") && options.count("--json") && options.count("-R")) << help;

    std::string page = Manual("voldex-cli.1.gz");
    std::string completion = Text(Usr("share/bash-completion/completions/voldex-cli"));
    std::smatch listed;
    ASSERT_TRUE(std::regex_search(completion, listed, std::regex(R"re(commands="([^"]*)")re")));
    std::set<std::string> completed;
    std::istringstream words(listed[1].str() + " " + std::regex_replace(completion, std::regex(R"([^A-Za-z0-9-]+)"), " "));
    for (std::string w; words >> w;) completed.insert(w);
    for (const std::string& c : commands) {
        EXPECT_TRUE(std::regex_search(page, std::regex("\n\\.BI? " + c + "[ \n]"))) << "voldex-cli(1) lacks " << c;
        EXPECT_NE((" " + listed[1].str() + " ").find(" " + c + " "), std::string::npos) << "completion lacks " << c;
    }
    for (const std::string& o : options) {
        EXPECT_NE(page.find(Troff(o)), std::string::npos) << "voldex-cli(1) lacks " << o;
        EXPECT_TRUE(completed.count(o)) << "completion lacks " << o;
    }
    // The value after --lang is the language, not the command.
    std::string stubs = "_init_completion() { words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD; cur=${words[cword]}; "
                        "prev=${words[cword-1]}; }; _filedir() { COMPREPLY=(FILE); }; source " +
                        Quote(Usr("share/bash-completion/completions/voldex-cli")) + "; ";
    auto complete = [&](const std::string& line) {
        std::string out;
        RunShell("bash -c " + Quote(stubs + "COMP_WORDS=(" + line + "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); "
                                            "_voldex_cli; echo \"${COMPREPLY[*]}\""),
                 &out);
        return out;
    };
    EXPECT_EQ(complete("voldex-cli --lang ''"), "el en ja\n");
    EXPECT_NE(complete("voldex-cli --lang en ch").find("check"), std::string::npos);
    EXPECT_EQ(complete("voldex-cli --lang en ls ''"), "FILE\n");

#ifdef VOLDEX_GUI
    std::string windowHelp;
    ASSERT_EQ(RunShell(Quote(Usr("bin/voldex")) + " --help", &windowHelp), 0);
    std::string windowPage = Manual("voldex.1.gz");
    for (const std::string& o : OptionsOf(windowHelp))
        EXPECT_NE(windowPage.find(Troff(o)), std::string::npos) << "voldex(1) lacks " << o;
#endif
}

TEST_F(InstallTest, TheDesktopEntryValidatesAndOpensAFile) {
    std::string out;
    std::string desktop = Usr("share/applications/voldex.desktop");
    EXPECT_EQ(RunShell("desktop-file-validate " + Quote(desktop), &out), 0) << out;
    EXPECT_EQ(out, "");
    std::string text = Text(desktop);
    EXPECT_NE(text.find("\nExec=voldex %f\n"), std::string::npos);
    EXPECT_NE(text.find("\nIcon=voldex\n"), std::string::npos);
    for (const char* key : {"GenericName[el]=", "GenericName[ja]=", "Comment[el]=", "Comment[ja]="})
        EXPECT_NE(text.find(std::string("\n") + key), std::string::npos) << key;
}

TEST_F(InstallTest, ImageFilesGetTheProgramsTypes) {
    std::string out;
    ASSERT_EQ(RunShell("update-mime-database " + Quote(Usr("share/mime")), &out), 0) << out;
    std::string samples = dir->path() + "/samples";
    RunShell("mkdir -p " + Quote(samples));
    auto put = [&](const std::string& name, std::size_t at, const std::string& magic) {
        std::vector<uint8_t> bytes(4096, 0);
        std::copy(magic.begin(), magic.end(), bytes.begin() + long(at));
        WriteHostFile(samples + "/" + name, bytes);
    };
    struct Case {
        const char* file;
        std::size_t at;
        const char* magic;
        const char* type;
    };
    const Case cases[] = {
        {"game.hdi", 0, "", "application/x-voldex-anex86-hdi"},
        {"GAME.FDI", 0, "", "application/x-voldex-anex86-fdi"},
        {"disk.nhd", 0, "T98HDDIMAGE.R0", "application/x-voldex-t98next-nhd"},
        {"nhd-without-extension", 0, "T98HDDIMAGE.R0", "application/x-voldex-t98next-nhd"},
        {"nfd-without-extension", 0, "T98FDDIMAGE.R1", "application/x-voldex-t98next-nfd"},
        {"disk.d77", 0, "", "application/x-voldex-d88"},
        {"disk.88d", 0, "", "application/x-voldex-d88"},
        {"dim-without-extension", 171, "DIFC HEADER", "application/x-voldex-dim"},
        {"scsi-without-extension", 0, "X68SCSI1", "application/x-voldex-x68k-hds"},
        {"disk.xdf", 0, "", "application/x-voldex-x68k-xdf"},
        {"disk.hdf", 0, "", "application/x-voldex-x68k-hdf"},
        {"disk.thd", 0, "", "application/x-voldex-thd"},
        {"disk.hdm", 0, "", "application/x-voldex-pc98-plain"},
        {"disk.tfd", 0, "", "application/x-voldex-pc98-plain"},
        {"disk.fdd", 0, "", "application/x-voldex-pc98-plain"},
        // Virtual98's own .fdd and .hdd only by their signatures; the other kept ones by name or signature.
        {"v98.fdd", 0, "VFD1.00", "application/x-voldex-virtual98-fdd"},
        {"v98.hdd", 0, "VHD1.00", "application/x-voldex-virtual98-hdd"},
        {"other.hdd", 0, "", "application/octet-stream"},
        {"imd-without-extension", 0, "IMD 1.18: ", "application/x-voldex-imd"},
        {"hfe-without-extension", 0, "HXCPICFE", "application/x-voldex-hfe"},
        {"DISK.DCU", 0, "", "application/x-voldex-dcp"},
        {"disk.slh", 0, "", "application/x-voldex-sl9821-slh"},
        {"slh-without-extension", 0, "HDIM", "application/x-voldex-sl9821-slh"},
        // A shared generic type is left to the system's own database.
        {"disk.img", 0, "", "application/octet-stream"},
    };
    for (const Case& c : cases) {
        put(c.file, c.at, c.magic);
        std::string type;
        RunShell("env -u LC_MESSAGES XDG_DATA_DIRS=" + Quote(Usr("share")) + " XDG_DATA_HOME=" + Quote(dir->path() + "/nohome") +
                     " xdg-mime query filetype " + Quote(samples + "/" + c.file),
                 &type);
        while (!type.empty() && (type.back() == '\n' || type.back() == ' ')) type.pop_back();
        EXPECT_EQ(type, c.type) << c.file;
    }
    // The file defines Voldex's own types and no other.
    std::string defined = Text(Usr("share/mime/packages/voldex.xml"));
    static const std::regex definition(R"re(<mime-type type="([^"]+)")re");
    int own = 0;
    for (auto it = std::sregex_iterator(defined.begin(), defined.end(), definition); it != std::sregex_iterator(); ++it, ++own)
        EXPECT_EQ((*it)[1].str().rfind("application/x-voldex-", 0), 0u) << (*it)[1].str();
    EXPECT_GE(own, 17);
    // Every type the desktop entry claims is known to the database.
    std::string text = Text(Usr("share/applications/voldex.desktop"));
    std::size_t at = text.find("\nMimeType=");
    ASSERT_NE(at, std::string::npos);
    std::istringstream types(text.substr(at + 10, text.find('\n', at + 1) - at - 10));
    std::string type;
    int n = 0;
    while (std::getline(types, type, ';')) {
        if (type.empty()) continue;
        ++n;
        // The shared raw-disk type is the system's, not redefined here.
        const std::string database = type.rfind("application/x-voldex-", 0) == 0 ? Usr("share/mime/") : "/usr/share/mime/";
        EXPECT_TRUE(IsFile(database + type + ".xml")) << type;
    }
    EXPECT_GE(n, 11);
}

TEST_F(InstallTest, TheInstalledProgramUsesTheXdgPlaces) {
    std::string home = dir->path() + "/home";
    RunShell("mkdir -p " + Quote(home));
    // The shipped profiles come from share/voldex: an Anex86 disk opens.
    std::string hdi = dir->path() + "/disk.hdi";
    MakePC98Disk(hdi, PC98Header::Anex86, PC98Geometry{}, {{1, 150, "DOS"}});
    std::string out;
    ASSERT_EQ(Installed(home, "ls " + Quote(hdi), &out), 0) << out;
    EXPECT_NE(out.find("PART1.TXT"), std::string::npos) << out;
    EXPECT_EQ(Shell("find " + Quote(home) + " -mindepth 1"), "") << "a command that reads makes nothing in the home folder";

    // A profile of the user's own, in ~/.config/voldex.
    std::string img = dir->path() + "/plain.dsk";
    MakeFatImage(img, 1440, 12);
    EXPECT_EQ(Installed(home, "--profile Mine info " + Quote(img), &out), 1) << out;
    std::string mine = ";VoldexProfiles\n[Mine]\nExtension=.DSK\nProfileType=1\nDiskStart=0\nFileSystem=0\n";
    RunShell("mkdir -p " + Quote(home + "/.config/voldex"));
    WriteHostFile(home + "/.config/voldex/mine.ini", std::vector<uint8_t>(mine.begin(), mine.end()));
    EXPECT_EQ(Installed(home, "--profile Mine info " + Quote(img), &out), 0) << out;

    // Engine errors are logged in ~/.local/state/voldex/kestrel.log.
    // F.BIN takes clusters 2, 3, 4; entry 3 is made free inside its chain.
    std::string bad = dir->path() + "/bad.img";
    MakeFatImage(bad, 1440, 12);
    WriteHostFile(dir->path() + "/F.BIN", RandomBytes(1400, 1));
    ASSERT_EQ(RunShell("mcopy -i " + Quote(bad) + " " + Quote(dir->path() + "/F.BIN") + " ::F.BIN", &out), 0) << out;
    auto bytes = ReadHostFile(bad);
    for (std::size_t fat : {512u, 512u + 9 * 512u}) {
        bytes[fat + 4] &= 0x0F;
        bytes[fat + 5] = 0;
    }
    WriteHostFile(bad, bytes);
    RunShell("mkdir -p " + Quote(dir->path() + "/out"));
    EXPECT_EQ(Installed(home, "get " + Quote(bad) + " F.BIN " + Quote(dir->path() + "/out"), &out), 1) << out;
    std::string line = Text(home + "/.local/state/voldex/kestrel.log");
    EXPECT_EQ(line.substr(std::min(line.size(), std::size_t(20))), bad + ": Μη έγκυρη αλυσίδα\n") << "time image: message";
    EXPECT_FALSE(IsFile(Usr("bin/kestrel.log"))) << "nothing is written beside the installed program";

    // A portable copy (a settings or profile file beside the program)
    // keeps everything in its own folder.
    std::string portable = dir->path() + "/portable";
    RunShell("mkdir -p " + Quote(portable) + " " + Quote(dir->path() + "/out2") + " && cp " +
             Quote(Usr("bin/voldex-cli")) + " " + Quote(portable) + " && touch " + Quote(portable + "/kestrel.ini"));
    RunShell("env -u VOLDEX_HOME HOME=" + Quote(home) + " " + Quote(portable + "/voldex-cli") + " get " + Quote(bad) +
             " F.BIN " + Quote(dir->path() + "/out2"));
    EXPECT_NE(Text(portable + "/kestrel.log").find(bad + ": Μη έγκυρη αλυσίδα\n"), std::string::npos);
}

}  // namespace
