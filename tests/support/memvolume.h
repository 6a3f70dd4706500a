#pragma once

#include "support/images.h"
#include "volume/diskimage.h"

// A small volume in memory: boot sector, two FAT copies, a root region of
// 16 entries, then the data area.
struct MemVolume {
    MemVolume(uint32_t fatType, uint32_t fileSystem = 0, uint32_t clusters = 100, int32_t fatSize = 512) {
        VolumeParams p;
        p.FileSystem = fileSystem;
        p.FATType = fatType;
        p.FAT = 512;
        p.FATSize = fatSize;
        p.FATCount = 2;
        p.RootDir = uint32_t(512 + 2 * fatSize);
        p.UserArea = int32_t(p.RootDir + 16 * 32);
        p.ClusterSize = 512;
        p.ClustersCount = clusters;
        dev = new MemoryDevice(std::vector<uint8_t>(p.UserArea + (clusters + 2) * 512, 0));
        p.Device = dev;
        params = p;
    }
    ~MemVolume() {
        if (!image.Device()) dev->Destroy();  // never handed over
    }
    bool Mount() { return image.Mount(params); }
    uint8_t* FatCopy(int i) { return dev->data.data() + 512 + i * params.FATSize; }

    VolumeParams params;
    MemoryDevice* dev;
    DiskImage image;
};

