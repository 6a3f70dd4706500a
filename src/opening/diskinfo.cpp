#include "opening/diskinfo.h"

#include "device/byteorder.h"
#include "device/messages.h"
#include "opening/detect.h"
#include "volume/diskimage.h"

std::string GroupDigits(uint64_t value) {
    std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

namespace {

std::string BytesAndClusters(uint64_t clusters, uint32_t clusterSize) {
    return ResourceString().LoadMessage(144, GroupDigits(clusters * clusterSize), GroupDigits(clusters));
}

}  // namespace

DiskInfoTexts MakeDiskInfo(DiskImage& image) {
    DiskInfoTexts t;
    CResourceString& rs = ResourceString();
    t.FileName = image.Device() ? image.Device()->GetPath() : "";
    t.DeviceVersion = image.Device() ? image.Device()->GetName() : "";
    t.FileSystem = rs.LoadMessage(image.FileSystem == 0 ? 1101 : image.FileSystem == 1 ? 1102 : 1103);
    t.FATType = rs.LoadMessage(image.FATType <= 2 ? 1104 + image.FATType : 1107);
    t.ClusterSize = rs.LoadMessage(1108, GroupDigits(image.ClusterSize));
    uint64_t used = uint64_t(image.ClustersCount) - image.FreeCount();
    t.TotalSize = BytesAndClusters(image.ClustersCount, image.ClusterSize);
    t.UsedSize = BytesAndClusters(used, image.ClusterSize);
    t.FreeSize = BytesAndClusters(image.FreeCount(), image.ClusterSize);
    if (image.FATType == kFAT32)
        t.MaxEntries = rs.LoadMessage(1109);
    else
        t.MaxEntries = rs.LoadMessage(1110, GroupDigits((uint32_t(image.UserArea) - image.RootDir) / 32));
    return t;
}

DiskInfoTexts MakeDiskInfo(DiskImage& image, const OpenedFormat& format) {
    DiskInfoTexts t = MakeDiskInfo(image);
    t.Container = format.container;
    t.Geometry = format.geometry;
    if (!t.Geometry.empty() || !image.Device()) return t;
    // Bytes per sector, sectors per track, heads and the sector count of a
    // FAT parameter block (X68000 floppies of Human68k 3.x carry one too);
    // other Human68k volumes give records of 1024 bytes.
    uint8_t s[512];
    if (!image.Device()->Read(image.DiskStart, s, sizeof s)) return t;
    const uint32_t bps = LE16(s + 11), spt = LE16(s + 24), heads = LE16(s + 26);
    const uint32_t sectors = LE16(s + 19) ? LE16(s + 19) : LE32(s + 32);
    const bool dosBlock = image.FileSystem == 0 || HasLittleEndianBPB(s);
    if (dosBlock && bps && spt && heads && sectors)
        t.Geometry = ChsText(sectors / (spt * heads), heads, spt, bps);
    else if (image.FileSystem == 1)
        t.Geometry = std::to_string(uint64_t(image.ClustersCount) * image.ClusterSize / 1024) + "/1024";
    return t;
}
