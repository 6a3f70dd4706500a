// The volume checker over arbitrary bytes, as a FAT and as a Human68k
// volume: it must end, stay within its memory and never write.
#include "fuzz_support.h"
#include "volume/fsck/checker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QuietInterface ui;
    ScopedUserInterface scope(&ui);
    for (uint32_t fs : {kFileSystemDOS, kFileSystemHuman68k}) {
        DiskImage image;
        if (!MountBytes(data, size, fs, image) || !image.Device()->MakeReadOnly()) continue;
        CheckResult r = CheckVolume(image);
        if (r.findings.size() > 5000) __builtin_trap();
    }
    return 0;
}
