#include "volume/diskimage.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "device/messages.h"
#include "volume/deleter.h"

namespace {

// Largest FAT copy of any volume: FAT32 holds at most 2^28 entries.
constexpr int64_t kMaxFATBytes = int64_t(1) << 30;
// Bytes before the FAT that the boot record needs at least (the smallest
// sector in use).
constexpr int32_t kMinBootRecord = 256;
// Largest single device transfer made for a run of clusters.
constexpr uint64_t kMaxRunBytes = 16u << 20;

}  // namespace

// The clean-shutdown bit (FAT16: bit 15 of FAT[1], byte 3 of each copy),
// kept by a device in front of the volume's own: it sees every write and
// flush the engine and the folders make, and whether one failed.
class InUseMark : public DeviceIOIF {
public:
    InUseMark(DeviceIOIF* inner, DiskImage& image)
        : inner_(inner), image_(image), at_(image.Kind().closedAt), bit_(image.Kind().closedMask) {}
    const char* GetName() override { return inner_->GetName(); }
    const char* GetPath() override { return inner_->GetPath(); }
    bool IsReadOnly() override { return inner_->IsReadOnly(); }
    bool Read(int64_t offset, void* buffer, uint32_t length) override { return inner_->Read(offset, buffer, length); }
    bool Write(int64_t offset, const void* buffer, uint32_t length) override {
        if (!started_) {
            started_ = true;
            if (image_.fatTable_.size() > at_ && (image_.fatTable_[at_] & bit_)) {
                held_ = true;
                if (!Put(uint8_t(image_.fatTable_[at_] & ~bit_)) || !inner_->Flush()) failed_ = true;
            }
            if (failed_) return false;
        }
        bool ok = inner_->Write(offset, buffer, length);
        failed_ = failed_ || !ok;
        return ok;
    }
    bool MakeReadOnly() override { return inner_->MakeReadOnly(); }
    bool FileSpan(int64_t offset, uint32_t length, int& fd, int64_t& fileOffset) override {
        return inner_->FileSpan(offset, length, fd, fileOffset);
    }
    bool Flush() override {
        bool ok = inner_->Flush();
        failed_ = failed_ || !ok;
        return ok;
    }
    void Destroy() override {
        inner_->Destroy();
        delete this;
    }
    bool Held() const { return held_ && !released_; }
    // Sets the bit again after a session whose every write went well.
    // False when the bit was due and could not be written.
    bool Release() {
        if (!Held() || failed_) return true;
        if (!inner_->Flush()) return false;
        if (image_.fatTable_[at_] & bit_) return true;  // set again by a repair
        released_ = Put(uint8_t(image_.fatTable_[at_] | bit_)) && inner_->Flush();
        if (!released_) failed_ = true;
        return released_;
    }

private:
    // The bit's byte in every copy; the table follows the first copy.
    bool Put(uint8_t b) {
        for (uint32_t i = 0; i < image_.FATCount; ++i) {
            if (!inner_->Write(int64_t(image_.DiskStart) + image_.FAT + int64_t(i) * image_.FATSize + at_, &b, 1))
                return false;
            if (i == 0) image_.fatTable_[at_] = b;
        }
        return true;
    }
    DeviceIOIF* inner_;
    DiskImage& image_;
    const uint32_t at_;
    const uint8_t bit_;
    bool started_ = false, held_ = false, released_ = false, failed_ = false;
};

DiskImage::~DiskImage() {
    if (mark_) static_cast<void>(mark_->Release());
    owners_.reset();
    if (device_) device_->Destroy();
}

bool DiskImage::MarkedInUseHere() const { return mark_ && mark_->Held(); }
bool DiskImage::MarkClosed() { return !mark_ || mark_->Release(); }
DiskImage::DiskImage() = default;


ClusterUse* DiskImage::Owners() {
    if (!owners_) {
        auto use = std::make_unique<ClusterUse>(*this);
        if (!use->Build()) return nullptr;
        owners_ = std::move(use);
    }
    return owners_.get();
}

void DiskImage::ForgetOwners() { owners_.reset(); }

bool DiskImage::Mount(const VolumeParams& params) {
    device_ = params.Device;
    static_cast<VolumeLayout&>(*this) = params;
    kind_ = &FATKindOf(*this);
    if (!device_) return false;
    if (FATType == kFAT32 && !device_->MakeReadOnly()) return false;

    // Refuse layouts the engine cannot work on safely: a FAT that does not
    // hold an entry for every cluster, clusters that are not whole entries,
    // regions that overlap (the FAT over the boot record, the root region
    // over the FAT, the user area before the root region ends), FAT copies
    // that the device does not hold.
    const int64_t fatEnd = int64_t(FAT) + int64_t(FATCount) * FATSize;
    bool sound = FATType <= kFAT32 && FileSystem <= kFileSystemHuman68k && FATCount > 0 && FATCount <= 16 &&
                 FATSize > 0 && FATSize <= kMaxFATBytes && FAT >= kMinBootRecord && ClusterSize > 0 &&
                 ClusterSize % 32 == 0 && ClustersCount > 0 && ClustersCount < 0x0FFFFFF0u &&
                 kind_->End(ClusterLimit() - 1) <= uint64_t(FATSize) && UserArea >= 0 &&
                 (FATType == kFAT32 ? fatEnd <= UserArea : fatEnd <= int64_t(RootDir) && uint32_t(UserArea) >= RootDir);
    uint8_t probe;
    if (sound && !device_->Read(int64_t(DiskStart) + fatEnd - 1, &probe, 1)) sound = false;
    if (!sound) {
        ShowMessage(304);
        return false;
    }
    NextFree = 2;
    if (FATType == kFAT32) {
        // Read-only: the table is read in parts as chains need them, and
        // the free count comes from the information sector when it can.
        onDemand_ = true;
        blocks_.assign(kFATBlocks, FATBlock());
        freeKnown_ = false;
        uint8_t boot[512], info[512];
        if (device_->Read(int64_t(DiskStart), boot, sizeof boot)) {
            uint32_t sector = uint32_t(boot[11] | boot[12] << 8), at = uint32_t(boot[48] | boot[49] << 8);
            auto le32 = [](const uint8_t* p) { return uint32_t(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24); };
            if (sector >= 256 && at != 0 && at != 0xFFFF && int64_t(at) * sector < FAT &&
                device_->Read(int64_t(DiskStart) + int64_t(at) * sector, info, sizeof info) &&
                le32(info) == 0x41615252 && le32(info + 484) == 0x61417272 && le32(info + 488) != 0xFFFFFFFF &&
                le32(info + 488) <= ClusterLimit() - 2) {
                FreeClusters = le32(info + 488);
                freeKnown_ = true;
            }
        }
        return true;
    }
    try {
        fatTable_.assign(static_cast<std::size_t>(FATSize), 0);
    } catch (const std::bad_alloc&) {
        ShowMessage(304);
        return false;
    }
    if (!device_->Read(int64_t(DiskStart) + FAT, fatTable_.data(), static_cast<uint32_t>(FATSize))) return false;

    FreeClusters = 0;
    for (uint32_t c = 2; c < ClusterLimit(); ++c)
        if (RawFATEntry(c) == 0) ++FreeClusters;
    NextFree = 2;
    if (kind_->closedMask != 0 && !device_->IsReadOnly()) {
        mark_ = new InUseMark(device_, *this);
        device_ = mark_;
    }
    return true;
}

const uint8_t* DiskImage::FATBytes(uint64_t at, uint32_t n) const {
    if (!onDemand_) return fatTable_.data() + at;
    // Entries never straddle two parts: every kind's entry size divides
    // the part size, except FAT12, which is never read in parts.
    uint64_t index = at / kFATBlock;
    FATBlock* slot = &blocks_[0];
    for (FATBlock& b : blocks_) {
        if (b.index == index) {
            b.used = ++uses_;
            return b.bytes.data() + (at - index * kFATBlock);
        }
        if (b.used < slot->used) slot = &b;
    }
    uint64_t from = index * kFATBlock;
    uint32_t size = uint32_t(std::min<uint64_t>(kFATBlock, uint64_t(FATSize) - from));
    slot->bytes.resize(kFATBlock);
    slot->index = UINT64_MAX;
    if (at + n > from + size || !device_->Read(int64_t(DiskStart) + FAT + int64_t(from), slot->bytes.data(), size))
        return nullptr;
    slot->index = index;
    slot->used = ++uses_;
    return slot->bytes.data() + (at - from);
}

bool DiskImage::ReadFATCopy(uint32_t copy, std::vector<uint8_t>& out) {
    if (copy >= FATCount) return false;
    try {
        out.assign(static_cast<std::size_t>(FATSize), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    int64_t base = int64_t(DiskStart) + FAT + int64_t(copy) * FATSize;
    for (uint64_t at = 0; at < uint64_t(FATSize);) {
        uint32_t n = uint32_t(std::min<uint64_t>(uint64_t(FATSize) - at, 16u << 20));
        if (!device_->Read(base + int64_t(at), out.data() + at, n)) return false;
        at += n;
    }
    return true;
}

uint32_t DiskImage::FreeCount() {
    if (freeKnown_) return FreeClusters;
    // One pass over the first copy, a part at a time (only tables read in
    // parts come here, and their entries are whole bytes).
    std::vector<uint8_t> part(1u << 20);
    const FATKindRow& kind = *kind_;
    const uint32_t limit = ClusterLimit(), step = kind.bits / 8;
    uint32_t free = 0;
    for (uint32_t c = 0; c < limit;) {
        uint64_t from = kind.Offset(c);
        uint32_t n = uint32_t(std::min<uint64_t>(part.size(), kind.Offset(limit) - from));
        if (!device_->Read(int64_t(DiskStart) + FAT + int64_t(from), part.data(), n)) {
            ShowMessage(1464);
            return 0;
        }
        for (uint32_t k = 0; k < n; k += step, ++c)
            if (c >= 2 && kind.Value(part.data() + k, c) == 0) ++free;
    }
    FreeClusters = free;
    freeKnown_ = true;
    return free;
}

bool DiskImage::Flush() { return device_ && device_->Flush(); }

int64_t DiskImage::ClusterToOffset(uint32_t c) {
    if (c < 2) {
        LogMessage(801);
        return 0;
    }
    if (c >= ClusterLimit()) {
        LogMessage(802);
        return 0;
    }
    return int64_t(DiskStart) + int64_t(UserArea) + int64_t(c - 2) * int64_t(int32_t(ClusterSize));
}

// Decoded entry of a cluster known to be in range: the kind's bad and end
// marks become BadEntry and EndOfChain, and so does a FAT32 entry with any
// of its reserved top bits set.
uint32_t DiskImage::RawFATEntry(uint32_t c) const {
    const FATKindRow& kind = *kind_;
    uint32_t v;
    if (!onDemand_) {
        v = kind.StoredIn(fatTable_.data(), c);
    } else {
        const uint8_t* at = FATBytes(kind.Offset(c), 4);
        if (!at) return BadEntry;  // a part of the table that cannot be read ends the chain
        v = kind.Stored(at, c);
    }
    return kind.IsEnd(v) ? EndOfChain : kind.IsBad(v) ? BadEntry : v;
}

uint32_t DiskImage::GetFATEntry(uint32_t c) {
    if (c < 2) {
        LogMessage(803);
        return BadEntry;
    }
    if (c >= ClusterLimit()) {
        LogMessage(804);
        return BadEntry;
    }
    return RawFATEntry(c);
}

void DiskImage::StoreFATBytes(uint32_t e, const uint8_t* bytes, uint32_t n) {
    std::memcpy(fatTable_.data() + e, bytes, n);
    dirtyFrom_ = std::min<std::size_t>(dirtyFrom_, e);
    dirtyTo_ = std::max<std::size_t>(dirtyTo_, std::size_t(e) + n);
}

bool DiskImage::CloseBatch() {
    if (batchDepth_ == 0) return !batchFailed_;
    if (--batchDepth_ > 0) return true;
    bool ok = !batchFailed_;
    batchFailed_ = false;
    if (dirtyFrom_ < dirtyTo_) {
        // The changed part of the table, in pieces the device takes in one call.
        for (uint32_t i = 0; i < FATCount && ok; ++i) {
            for (std::size_t at = dirtyFrom_; at < dirtyTo_ && ok;) {
                uint32_t n = uint32_t(std::min<std::size_t>(dirtyTo_ - at, 65535));
                ok = device_->Write(int64_t(DiskStart) + FAT + int64_t(i) * FATSize + int64_t(at), fatTable_.data() + at, n);
                at += n;
            }
        }
        if (!ok) {
            // The device did not take the FAT: the table goes back to what
            // the device holds, so that the two never disagree.
            if (!device_->Read(int64_t(DiskStart) + FAT, fatTable_.data(), uint32_t(FATSize))) broken_ = true;
            FreeClusters = 0;
            for (uint32_t c = 2; c < ClusterLimit(); ++c)
                if (RawFATEntry(c) == 0) ++FreeClusters;
        }
    }
    dirtyFrom_ = SIZE_MAX;
    dirtyTo_ = 0;
    return ok;
}

// Writes n bytes at byte e of the FAT to every copy, then to the table; in
// a batch, to the table only, for the batch's end.
bool DiskImage::WriteFATBytes(uint32_t e, const uint8_t* bytes, uint32_t n) {
    if (onDemand_) return false;  // a table read in parts belongs to a read-only volume
    if (batchDepth_ > 0) {
        StoreFATBytes(e, bytes, n);
        return true;
    }
    // The table follows the first copy, which every system reads: once the
    // first copy has taken the bytes, so does the table, even when a later
    // copy then fails.
    for (uint32_t i = 0; i < FATCount; ++i) {
        int64_t at = int64_t(DiskStart) + FAT + int64_t(i) * FATSize + e;
        if (!device_->Write(at, bytes, n)) return false;
        if (i == 0) std::memcpy(fatTable_.data() + e, bytes, n);
    }
    return true;
}

bool DiskImage::SetFATEntry(uint32_t c, uint32_t value) {
    if (c < 2) {
        LogMessage(805);
        return false;
    }
    if (c >= ClusterLimit()) {
        LogMessage(806);
        return false;
    }
    if (IsReadOnly() || onDemand_) return false;  // a table read in parts belongs to a read-only volume
    const FATKindRow& kind = *kind_;
    const uint32_t e = uint32_t(kind.Offset(c)), n = uint32_t(kind.End(c) - e);
    uint8_t b[4] = {};
    // Bits of the entry's bytes that are not its own (a FAT12 neighbour's
    // half-byte) are taken from the device as it stands.
    if (kind.SharesBytes()) {
        if (batchDepth_ > 0) std::memcpy(b, fatTable_.data() + e, n);  // the table equals the first copy
        else if (!device_->Read(int64_t(DiskStart) + FAT + e, b, n)) return false;
    }
    kind.Put(b, c, value == EndOfChain ? kind.EndMark() : value == BadEntry ? kind.bad : value);
    return WriteFATBytes(e, b, n);
}

std::optional<ChainList> DiskImage::ReadChain(uint32_t first) {
    ChainList list{first};
    // Loops are found with Brent's method: `tortoise` waits at the cluster
    // reached after each power of two steps; meeting it again means the
    // chain has come back to one of its own clusters.
    uint32_t tortoise = first;
    std::size_t power = 1, steps = 0;
    uint32_t last = first;
    for (;;) {
        uint32_t next = GetFATEntry(last);
        if (next == EndOfChain) return list;
        // 0 is a free entry inside a chain; BadEntry a bad cluster or a
        // number out of range (GetFATEntry has logged that already).
        bool broken = next == 0 || next == BadEntry || next == tortoise;
        if (!broken && (next < 2 || next >= ClusterLimit())) {
            GetFATEntry(next);  // logs the out-of-range successor
            broken = true;
        }
        if (broken) {
            LogMessage(812);
            return std::nullopt;
        }
        list.push_back(next);
        last = next;
        if (++steps == power) {
            tortoise = next;
            power *= 2;
            steps = 0;
        }
    }
}

uint32_t DiskImage::FindFreeCluster() {
    uint32_t start = std::clamp<uint32_t>(NextFree, 2, ClusterLimit());
    for (uint32_t c = start; c < ClusterLimit(); ++c)
        if (RawFATEntry(c) == 0) {
            NextFree = c + 1;
            return c;
        }
    for (uint32_t c = 2; c < start; ++c)
        if (RawFATEntry(c) == 0) {
            NextFree = c + 1;
            return c;
        }
    return 0;
}

std::optional<ChainList> DiskImage::PickClusters(uint32_t size) {
    if (IsReadOnly()) return std::nullopt;
    if (size == 0) {
        LogMessage(813);
        return std::nullopt;
    }
    uint32_t n = static_cast<uint32_t>((uint64_t(size) + ClusterSize - 1) / ClusterSize);
    if (n > FreeClusters) return std::nullopt;
    // Next-fit from NextFree, wrapping once.
    ChainList list;
    list.reserve(n);
    uint32_t start = std::clamp<uint32_t>(NextFree, 2, ClusterLimit());
    for (uint32_t c = start; c < ClusterLimit() && list.size() < n; ++c)
        if (RawFATEntry(c) == 0) list.push_back(c);
    for (uint32_t c = 2; c < start && list.size() < n; ++c)
        if (RawFATEntry(c) == 0) list.push_back(c);
    if (list.size() < n) return std::nullopt;
    return list;
}

bool DiskImage::LinkChain(const ChainList& list) {
    if (IsReadOnly() || list.empty()) return false;
    for (uint32_t c : list)
        if (c < 2 || c >= ClusterLimit() || RawFATEntry(c) != 0) return false;
    // One write per FAT copy: nothing points at these clusters yet, so the
    // chain may reach the device in any order.
    uint32_t savedNext = NextFree;
    FATBatch batch(*this);
    for (std::size_t k = 0; k < list.size(); ++k)
        if (!SetFATEntry(list[k], k + 1 < list.size() ? list[k + 1] : EndOfChain)) return false;
    NextFree = list.back() + 1;
    FreeClusters -= uint32_t(list.size());
    if (!batch.Commit()) {
        NextFree = savedNext;
        return false;
    }
    return true;
}

bool DiskImage::ExtendChain(uint32_t last, const ChainList& fresh) {
    if (last == 0) return LinkChain(fresh);
    if (last < 2 || last >= ClusterLimit() || fresh.empty()) return false;
    // The run and the link to it in one write per copy: a copy holds both
    // or neither. A failed write leaves the table as the first copy stands.
    FATBatch batch(*this);
    if (!LinkChain(fresh) || !SetFATEntry(last, fresh.front())) return false;
    return batch.Commit();
}

std::optional<ChainList> DiskImage::AllocateChain(uint32_t size) {
    auto list = PickClusters(size);
    if (!list || !LinkChain(*list)) return std::nullopt;
    return list;
}

bool DiskImage::FreeChain(uint32_t first) {
    if (IsReadOnly()) return false;
    ForgetOwners();
    if (first < 2) {
        LogMessage(809);
        return false;
    }
    if (first >= ClusterLimit()) {
        LogMessage(810);
        return false;
    }
    if (first < NextFree) NextFree = first;
    auto list = ReadChain(first);
    if (!list) {
        LogMessage(811);
        return false;
    }
    // Only entries that really became free are counted.
    FATBatch batch(*this);
    for (uint32_t c : *list)
        if (SetFATEntry(c, 0)) ++FreeClusters;
    return batch.Commit();
}

std::optional<ChainList> DiskImage::ResizeChain(uint32_t first, uint32_t size) {
    if (IsReadOnly()) return std::nullopt;
    if (first < 2) {
        LogMessage(814);
        return std::nullopt;
    }
    if (size == 0) {
        LogMessage(815);
        return std::nullopt;
    }
    auto list = ReadChain(first);
    if (!list) {
        LogMessage(816);
        return std::nullopt;
    }
    uint64_t n = (uint64_t(size) + ClusterSize - 1) / ClusterSize;
    uint64_t len = list->size();
    if (len == n) return list;
    FATBatch batch(*this);
    if (len < n) {
        auto more = AllocateChain(static_cast<uint32_t>((n - len) * ClusterSize));
        if (!more) return std::nullopt;
        if (!SetFATEntry(list->back(), more->front())) {
            // Not linked: a failure to free them leaves lost clusters only.
            static_cast<void>(FreeChain(more->front()));
            return std::nullopt;
        }
        if (!batch.Commit()) return std::nullopt;
        return ReadChain(first);
    }
    if (!SetFATEntry((*list)[n - 1], EndOfChain)) return std::nullopt;
    bool freed = FreeChain((*list)[n]);
    if (!batch.Commit() || !freed) return std::nullopt;
    return ReadChain(first);
}

bool DiskImage::ReadCluster(uint32_t c, void* buffer) {
    if (c < 2) {
        LogMessage(817);
        return false;
    }
    if (c >= ClusterLimit()) {
        LogMessage(818);
        return false;
    }
    return device_->Read(ClusterToOffset(c), buffer, ClusterSize);
}

bool DiskImage::WriteCluster(uint32_t c, const void* buffer) {
    if (IsReadOnly()) return false;
    if (c < 2) {
        LogMessage(819);
        return false;
    }
    if (c >= ClusterLimit()) {
        LogMessage(820);
        return false;
    }
    return device_->Write(ClusterToOffset(c), buffer, ClusterSize);
}

bool DiskImage::ClusterBytesSpan(uint32_t cluster, uint32_t skip, uint32_t length, int& fd, int64_t& fileOffset) {
    const uint64_t clusters = (uint64_t(skip) + length + ClusterSize - 1) / ClusterSize;
    if (!device_ || cluster < 2 || cluster + clusters > ClusterLimit()) return false;
    return device_->FileSpan(ClusterToOffset(cluster) + skip, length, fd, fileOffset);
}

bool DiskImage::ReadClusterRun(uint32_t first, uint32_t count, void* buffer) {
    if (count == 0) return true;
    if (first < 2) {
        LogMessage(817);
        return false;
    }
    if (uint64_t(first) + count > ClusterLimit()) {
        LogMessage(818);
        return false;
    }
    auto* p = static_cast<uint8_t*>(buffer);
    const uint32_t perRead = static_cast<uint32_t>(std::max<uint64_t>(1, kMaxRunBytes / ClusterSize));
    while (count > 0) {
        uint32_t k = std::min(count, perRead);
        if (!device_->Read(ClusterToOffset(first), p, k * ClusterSize)) return false;
        first += k;
        count -= k;
        p += std::size_t(k) * ClusterSize;
    }
    return true;
}

bool DiskImage::WriteClusterRun(uint32_t first, uint32_t count, const void* buffer) {
    if (IsReadOnly()) return false;
    if (count == 0) return true;
    if (first < 2) {
        LogMessage(819);
        return false;
    }
    if (uint64_t(first) + count > ClusterLimit()) {
        LogMessage(820);
        return false;
    }
    // The clusters of a run lie one after another on the device: they go
    // in writes of up to 65535 bytes, the most the device takes in one call
    // (it splits longer ones into small pieces).
    const auto* p = static_cast<const uint8_t*>(buffer);
    int64_t at = ClusterToOffset(first);
    uint64_t left = uint64_t(count) * ClusterSize;
    while (left > 0) {
        uint32_t n = uint32_t(std::min<uint64_t>(left, 65535));
        if (!device_->Write(at, p, n)) return false;
        at += n;
        p += n;
        left -= n;
    }
    return true;
}

std::optional<std::vector<uint8_t>> DiskImage::ReadDirEntries(uint32_t first, uint32_t& count, bool quiet) {
    count = 0;
    std::vector<uint8_t> entries;
    if (IsRootRegion(first)) {
        entries.assign(uint32_t(UserArea) - RootDir, 0);
        if (!entries.empty() && !device_->Read(int64_t(DiskStart) + RootDir, entries.data(),
                                               static_cast<uint32_t>(entries.size())))
            return std::nullopt;
    } else {
        uint32_t c = first == 0 ? RootDir : first;
        auto chain = ReadChain(c);
        if (!chain) return std::nullopt;
        uint64_t bytes = uint64_t(chain->size()) * ClusterSize;
        if (bytes > uint64_t(kMaxDirEntries) * 32) return std::nullopt;
        entries.assign(static_cast<std::size_t>(bytes), 0);
        bool ok = ForEachClusterRun(*chain, SIZE_MAX, [&](std::size_t index, uint32_t run, uint32_t n) {
            return ReadClusterRun(run, n, entries.data() + index * ClusterSize);
        });
        if (!ok) return std::nullopt;
    }
    uint32_t slots = static_cast<uint32_t>(entries.size() / 32);
    while (count < slots && entries[std::size_t(count) * 32] != 0) ++count;
    if (first != 0 && !quiet && (entries.empty() || entries[0] != '.')) ShowMessage(807);
    return entries;
}

bool DiskImage::WriteDirEntries(const std::vector<uint8_t>& entries, uint32_t first,
                                const std::vector<uint8_t>* onDisk) {
    if (IsReadOnly()) return false;
    // True when bytes [at, at + n) of the array differ from the device.
    auto changed = [&](std::size_t at, std::size_t n) {
        return !onDisk || onDisk->size() < at + n || std::memcmp(entries.data() + at, onDisk->data() + at, n) != 0;
    };
    if (IsRootRegion(first)) {
        std::size_t n = std::min<std::size_t>(entries.size(), uint32_t(UserArea) - RootDir);
        // The changed sectors, from the first to the last, in one write.
        constexpr std::size_t kSector = 512;
        std::size_t from = 0, to = 0;
        for (std::size_t at = 0; at < n; at += kSector) {
            std::size_t k = std::min(kSector, n - at);
            if (!changed(at, k)) continue;
            if (to == 0) from = at;
            to = at + k;
        }
        // A root region of no bytes, or no change, has nothing to write.
        if (to == 0) return true;
        return device_->Write(int64_t(DiskStart) + RootDir + int64_t(from), entries.data() + from,
                              static_cast<uint32_t>(to - from));
    }
    auto chain = ReadChain(first == 0 ? RootDir : first);
    if (!chain) return false;
    if (uint64_t(chain->size()) * ClusterSize > entries.size()) return false;
    // Runs of changed clusters that follow one another on the disk, each
    // from its first changed sector to its last in one write: a new entry
    // costs a sector, not its whole cluster.
    constexpr std::size_t kSector = 512;
    const std::size_t cs = ClusterSize;
    const bool bySector = cs % kSector == 0;
    for (std::size_t k = 0; k < chain->size();) {
        if (!changed(k * cs, cs)) {
            ++k;
            continue;
        }
        std::size_t j = k + 1;
        while (j < chain->size() && (*chain)[j] == (*chain)[j - 1] + 1 && changed(j * cs, cs)) ++j;
        std::size_t from = k * cs, to = j * cs;
        if (bySector) {
            while (!changed(from, kSector)) from += kSector;
            while (!changed(to - kSector, kSector)) to -= kSector;
        }
        if (from == k * cs && to == j * cs) {
            if (!WriteClusterRun((*chain)[k], uint32_t(j - k), entries.data() + from)) return false;
        } else {
            // Inside clusters the run holds, in the pieces WriteClusterRun uses.
            int64_t at = ClusterToOffset((*chain)[k]) + int64_t(from - k * cs);
            for (std::size_t n; from < to; from += n, at += int64_t(n)) {
                n = std::min<std::size_t>(to - from, 65535);
                if (!device_->Write(at, entries.data() + from, uint32_t(n))) return false;
            }
        }
        k = j;
    }
    return true;
}

bool DiskImage::GrowDirEntries(std::vector<uint8_t>& entries, uint32_t first, uint32_t count, uint32_t newCount) {
    if (IsReadOnly()) return false;
    if (IsRootRegion(first)) {
        if (uint64_t(uint32_t(UserArea) - RootDir) < uint64_t(newCount) * 32) {
            ShowMessage(808);
            return false;
        }
        return true;
    }
    if (newCount > kMaxDirEntries) {
        ShowMessage(808);
        return false;
    }
    uint32_t per = ClusterSize / 32;
    uint32_t need = (newCount + per - 1) / per;
    if (entries.size() >= std::size_t(need) * ClusterSize) return true;
    auto chain = ReadChain(first == 0 ? RootDir : first);
    if (!chain) return false;
    std::vector<uint8_t> grown(std::size_t(need) * ClusterSize, 0);
    std::memcpy(grown.data(), entries.data(), std::min(entries.size(), std::size_t(count) * 32));
    // One cluster at a time: zeroed on the device, ended in the FAT, then
    // linked to the end of the chain.
    std::vector<uint8_t> zero(ClusterSize, 0);
    while (chain->size() < need) {
        auto fresh = PickClusters(1);
        if (!fresh || !WriteCluster(fresh->front(), zero.data()) || !LinkChain(*fresh) || !Flush()) return false;
        if (!SetFATEntry(chain->back(), fresh->front())) {
            // Linked in the first FAT copy or not at all: only an unlinked
            // cluster is given back.
            if (GetFATEntry(chain->back()) != fresh->front()) static_cast<void>(FreeChain(fresh->front()));
            return false;
        }
        chain->push_back(fresh->front());
    }
    entries.swap(grown);
    return true;
}
