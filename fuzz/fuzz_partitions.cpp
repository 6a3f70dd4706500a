// The three partition tables over arbitrary disk bytes and geometries.
#include "fuzz_support.h"
#include "opening/hddpart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QuietInterface ui;
    ScopedUserInterface scope(&ui);
    if (size < 8) return 0;
    auto* dev = new BytesDevice(data, size);
    THDDPartDialog d;
    d.Device = dev;
    HDDGeometry g;
    g.HDDType = data[0] % 4;
    g.SecLen = int32_t(data[1] | data[2] << 8) & 0x7FFF;
    g.Sectors = data[3];
    g.Heads = data[4];
    g.DiskStart = data[5] * 512;
    d.SetGeometry(g);
    d.Fill();
    for (int t = 0; t < 3; ++t) d.SetType(t, true);
    d.Search();
    VolumeParams p;
    p.Device = dev;
    RunPartitionDialog(d, p, g, false);
    dev->Destroy();
    return 0;
}
