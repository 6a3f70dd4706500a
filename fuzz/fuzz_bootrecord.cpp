// Boot-record decoders and the boot-sector search over arbitrary bytes.
#include "fuzz_support.h"
#include "volume/volumeparams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QuietInterface ui;
    ScopedUserInterface scope(&ui);
    uint8_t sector[512] = {};
    std::memcpy(sector, data, size < 512 ? size : 512);
    VolumeLayout a, b;
    DecodeFATBootSector(sector, a);
    DecodeHuman68kBootSector(sector, b);
    auto* dev = new BytesDevice(data, size);
    uint8_t found[512];
    uint32_t at = 0;
    FindFATBootSector(dev, 0, 256, at, found);
    VolumeParams p;
    p.Device = dev;
    p.FileSystem = size ? data[0] % 3 : 0;
    DecodeBootRecord(p);
    dev->Destroy();
    return 0;
}
