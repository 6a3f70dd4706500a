// Disk-type selection with the Anex86 and T98-Next headers, detection by
// content and the container devices, the partition
// choice and the boot record, over an arbitrary image file.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "fuzz_support.h"
#include "opening/diskopen.h"
#include "volume/diskimage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/voldex-fuzz-" + std::to_string(getpid()) + ".hdi";
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    for (int32_t type : {kProfileAnex86, kProfileT98Next, kProfileBootRecord, kProfileDetect}) {
        QuietInterface ui;
        ScopedUserInterface scope(&ui);
        DISKPROFILE p;
        p.Name = "fuzz";
        p.ProfileType = type;
        TDiskOpener opener({p});
        VolumeParams params;
        if (DetectAndSelect(opener, path, params)) {
            DiskImage image;
            if (!image.Mount(params)) return 0;
        }
    }
    return 0;
}
