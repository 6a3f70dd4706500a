// The volume checker over arbitrary bytes, as a FAT and as a Human68k
// volume: it must end, stay within its memory and never write.
#include "fuzz_support.h"
#include "volume/checker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QuietInterface ui;
    ScopedUserInterface scope(&ui);
    for (uint32_t fs : {kFileSystemDOS, kFileSystemHuman68k}) {
        VolumeParams p;
        p.Device = new BytesDevice(data, size);
        p.FileSystem = fs;
        if (DecodeBootRecord(p) != BootOk || uint64_t(p.ClustersCount) > (1u << 20) || p.ClusterSize > (1u << 16)) {
            p.Device->Destroy();
            continue;
        }
        DiskImage image;
        if (!image.Mount(p) || !image.Device()->MakeReadOnly()) continue;
        CheckResult r = CheckVolume(image);
        if (r.findings.size() > 5000) __builtin_trap();
    }
    return 0;
}
