#include "opening/diskinfo.h"

#include "device/messages.h"
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
