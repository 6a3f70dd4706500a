// The settings and profile readers over arbitrary file contents.
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "opening/settings/inifile.h"
#include "fuzz_support.h"
#include "opening/profiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QuietInterface ui;
    ScopedUserInterface scope(&ui);
    static const std::string folder = "/tmp/voldex-fuzz-ini-" + std::to_string(getpid());
    mkdir(folder.c_str(), 0755);
    const std::string path = folder + "/p.ini";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    // Half of the inputs are profile files.
    if (size && data[0] & 1) std::fputs(";VoldexProfiles\n", f);
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    IniFile ini(path);
    for (const auto& s : ini.SectionNames()) {
        ini.GetInt(s, "ProfileType");
        ini.GetString(s, "Extension");
    }
    LoadProfiles(folder);
    int v;
    ParseProfileInt(std::string(reinterpret_cast<const char*>(data), size), v);
    ini.Set("ProgramSettings", "LastOpenDir", std::string(reinterpret_cast<const char*>(data), size > 64 ? 64 : size));
    return 0;
}
