#include "device/floppyopen.h"

#include "device/floppycontainers.h"

DeviceIO_FloppyImage* OpenFloppyImage(DeviceIOIF* file, uint64_t size) {
    struct Reader {
        const char* kind;
        std::optional<StoredDisk> (*read)(DeviceIOIF*, uint64_t);
    };
    static const Reader kReaders[] = {
        {kNFD1Kind, ReadNFD1}, {kIMDKind, ReadIMD}, {kFDDKind, ReadFDD}, {kDCPKind, ReadDCP},
    };
    if (DeviceIO_FloppyImage* hfe = OpenHFEDevice(file, size)) return hfe;
    for (const Reader& r : kReaders) {
        std::optional<StoredDisk> disk = r.read(file, size);
        if (!disk || LayoutStoredDisk(*disk).geometry.SectorCount() == 0) continue;
        return new DeviceIO_FloppyImage(file, r.kind, std::move(*disk));
    }
    return nullptr;
}
