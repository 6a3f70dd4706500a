#pragma once
// The mounted volume: owns the device, holds the first FAT copy in memory
// (on FAT32, whose table may reach a gigabyte, reads its parts when a chain
// needs them, through a small cache), keeps the free-cluster count, and
// offers cluster chains, cluster data and directory storage to the layers
// above. Every FAT change is written to all FAT copies on the device at once.
//
// The order of writes. Every change to a volume is made so that a stop
// after any single device write (a power loss, a killed process, a failed
// write) leaves at worst clusters that are allocated and reached by no
// entry; a barrier (Flush) before every directory write, and after the
// write that must come first, keeps the host from reordering the steps.
//   - New file or folder: its data clusters are written first (a folder's
//     cluster with its "." and ".."), then the FAT entries that make them a
//     chain (every copy), then the directory entry that points at them.
//   - A folder that grows: the new cluster is zeroed on the device and ended
//     in the FAT before the last cluster is linked to it.
//   - Delete: the entry (with its long-name slots) is marked deleted and the
//     directory written first; only then are the chains freed.
//   - Replace: the new data goes into fresh clusters, the entry is switched
//     to them and written, and only then is the old chain freed.
//   - Move: the entry is written into the target folder first, a moved
//     folder's ".." is pointed at the target next, and the source entry is
//     removed last: a stop leaves it in both folders, never in neither.
// Directories are written where they changed: the changed sectors of each
// run of changed clusters, in one write per run.

#include <cstdint>
#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "device/deviceio.h"
#include "volume/fatkind.h"
#include "volume/volumeparams.h"

constexpr uint32_t BadEntry = 0x0FFFFFF7;
constexpr uint32_t EndOfChain = 0x0FFFFFFF;

// The clusters of one chain in chain order.
using ChainList = std::vector<uint32_t>;

// Directories hold at most this many entries (2 MiB of storage); a chain
// longer than that is not a directory.
constexpr uint32_t kMaxDirEntries = 65536;

// Calls fn(index, first, count) for each run of clusters of `chain` that
// follow one another on the disk, at most `maxClusters` a run; `index` is
// the run's position in the chain. Stops at the first false.
template <class F>
bool ForEachClusterRun(const ChainList& chain, std::size_t maxClusters, F fn) {
    std::size_t i = 0;
    while (i < chain.size()) {
        std::size_t j = i + 1;
        while (j < chain.size() && j - i < maxClusters && chain[j] == chain[j - 1] + 1) ++j;
        if (!fn(i, chain[i], static_cast<uint32_t>(j - i))) return false;
        i = j;
    }
    return true;
}

class InUseMark;
class ClusterUse;

class DiskImage : public VolumeLayout {
public:
    DiskImage();
    ~DiskImage();
    DiskImage(const DiskImage&) = delete;
    DiskImage& operator=(const DiskImage&) = delete;

    // Takes over the device in `params` (even when mounting fails, the
    // device then goes with this object). FAT32 volumes become read-only.
    [[nodiscard]] bool Mount(const VolumeParams& params);

    DeviceIOIF* Device() const { return device_; }
    bool IsReadOnly() const { return !device_ || broken_ || device_->IsReadOnly(); }
    // Makes the writes so far durable (see the order above).
    [[nodiscard]] bool Flush();
    const VolumeLayout& Layout() const { return *this; }

    int64_t ClusterToOffset(uint32_t cluster);
    uint32_t GetFATEntry(uint32_t cluster);
    [[nodiscard]] bool SetFATEntry(uint32_t cluster, uint32_t value);
    // The first FAT copy as held in memory; empty on FAT32, whose table is
    // read in parts (ReadFATCopy reads a whole copy).
    const std::vector<uint8_t>& FATTable() const { return fatTable_; }
    [[nodiscard]] bool ReadFATCopy(uint32_t copy, std::vector<uint8_t>& out);
    // The free clusters: on FAT32 the figure its information sector keeps
    // when it is plausible, else counted in one pass over the table the
    // first time it is asked for.
    uint32_t FreeCount();

    // Chains. ReadChain gives nothing for a broken or looping chain (812).
    [[nodiscard]] std::optional<ChainList> ReadChain(uint32_t first);
    [[nodiscard]] std::optional<ChainList> AllocateChain(uint32_t size);
    // The two halves of AllocateChain, for callers that write the clusters
    // before the FAT: PickClusters chooses free clusters (next-fit from
    // NextFree) and changes nothing; LinkChain makes them one chain in the
    // FAT. Nothing else may allocate between the two.
    [[nodiscard]] std::optional<ChainList> PickClusters(uint32_t size);
    [[nodiscard]] bool LinkChain(const ChainList& chain);
    // Grows the chain that ends at `last` by `fresh`, clusters picked with
    // PickClusters whose data are already written: the new chain and the
    // link from `last` to it go to each FAT copy in one write, so that a
    // copy holds both or neither and never a chain that runs into free
    // entries. With `last` 0 this is LinkChain.
    [[nodiscard]] bool ExtendChain(uint32_t last, const ChainList& fresh);
    [[nodiscard]] bool FreeChain(uint32_t first);
    [[nodiscard]] std::optional<ChainList> ResizeChain(uint32_t first, uint32_t size);
    uint32_t FindFreeCluster();

    [[nodiscard]] bool ReadCluster(uint32_t cluster, void* buffer);
    [[nodiscard]] bool WriteCluster(uint32_t cluster, const void* buffer);
    // Reads `count` clusters that follow one another on the disk in one
    // device read. Same checks as ReadCluster for every cluster of the run.
    [[nodiscard]] bool ReadClusterRun(uint32_t first, uint32_t count, void* buffer);
    [[nodiscard]] bool WriteClusterRun(uint32_t first, uint32_t count, const void* buffer);
    // Where `length` bytes from byte `skip` of the run that starts at
    // `cluster` lie in the image file, when the device can say (see
    // DeviceIOIF::FileSpan); false sends the caller to ReadClusterRun.
    bool ClusterBytesSpan(uint32_t cluster, uint32_t skip, uint32_t length, int& fd, int64_t& fileOffset);

    // Directory storage: the fixed root region (first cluster 0 on FAT12/16)
    // or the directory's cluster chain. Entries are 32 bytes each.
    // `quiet`: a folder that does not begin with "." is read without 807.
    [[nodiscard]] std::optional<std::vector<uint8_t>> ReadDirEntries(uint32_t first, uint32_t& count,
                                                                     bool quiet = false);
    // With `onDisk` (what the device holds now), only the clusters (or, in
    // the root region, the sectors) that differ from it are written.
    [[nodiscard]] bool WriteDirEntries(const std::vector<uint8_t>& entries, uint32_t first,
                                       const std::vector<uint8_t>* onDisk = nullptr);
    // Makes room for newCount entries. A new cluster is zeroed on the device
    // and ended in the FAT before the chain is linked to it, so that the
    // array and the device agree on it at once.
    [[nodiscard]] bool GrowDirEntries(std::vector<uint8_t>& entries, uint32_t first, uint32_t count,
                                      uint32_t newCount);

    // Writes n bytes at byte e of the FAT to every copy and to the table
    // (for the FAT's own head and whole copies, which SetFATEntry never
    // touches). Inside a batch, to the table only, for the batch's end.
    [[nodiscard]] bool WriteFATBytes(uint32_t e, const uint8_t* bytes, uint32_t n);

    // On FAT16, bit 15 of the second FAT entry says the volume was closed
    // cleanly. The first write of this session clears it (flushed before
    // the write goes on) and closing the volume sets it again once all is
    // flushed, unless a write or a flush failed. True while this session
    // holds the bit cleared.
    bool MarkedInUseHere() const;
    // Sets the bit again at the end of a session whose every write went
    // well (the destructor does it too, silently). False when writing the
    // bit failed: the changes before it stand, written and flushed, and the
    // volume stays marked not cleanly closed.
    [[nodiscard]] bool MarkClosed();
    // Which entries reach each cluster, walked on first use (nullptr when
    // the root folder cannot be read) and kept while only deletes and
    // replaces change the volume: anything else that frees clusters or
    // moves entries forgets it.
    ClusterUse* Owners();
    void ForgetOwners();

    uint32_t FreeClusters = 0;
    uint32_t NextFree = 0;
    // FAT folders show, find and write long names (slots of attribute 0x0F);
    // off, names are 8.3 only. Human68k volumes never use them.
    bool LongNames = true;

    // FAT writes of one operation are gathered while a batch is open and
    // reach every FAT copy, as one write each, when the outermost batch
    // closes: the device holds the same bytes at the end of the operation
    // as with a write per entry, with far fewer writes.
    class FATBatch {
    public:
        explicit FATBatch(DiskImage& image) : image_(image) { ++image_.batchDepth_; }
        ~FATBatch() {
            if (!closed_) static_cast<void>(image_.CloseBatch());
        }
        // Closes the batch now (once: a nested batch leaves the writing to
        // the outermost one); false when the FAT could not be written.
        [[nodiscard]] bool Commit() {
            if (closed_) return true;
            closed_ = true;
            return image_.CloseBatch();
        }

    private:
        DiskImage& image_;
        bool closed_ = false;
    };

    // How this volume's FAT stores its entries (set by Mount).
    const FATKindRow& Kind() const { return *kind_; }
    // The last valid cluster number plus one. A label may claim more
    // clusters than its FAT kind can number: numbers from the bad-cluster
    // mark (0xFF7, 0xFFF7, 0x0FFFFFF7) on are never used.
    uint32_t ClusterLimit() const { return std::min<uint32_t>(ClustersCount + 2, kind_->bad); }
    // True when the label claims clusters beyond what the FAT kind numbers.
    bool ClustersLimited() const { return ClusterLimit() - 2 < ClustersCount; }
    bool IsRootRegion(uint32_t first) const { return first == 0 && FATType != kFAT32; }

private:
    friend class InUseMark;
    uint32_t RawFATEntry(uint32_t cluster) const;

    bool CloseBatch();
    void StoreFATBytes(uint32_t e, const uint8_t* bytes, uint32_t n);

    // A part of the FAT read from the first copy.
    struct FATBlock {
        uint64_t index = UINT64_MAX;  // the part's number (its bytes / kFATBlock)
        uint64_t used = 0;            // when last used, for the least recently used to go
        std::vector<uint8_t> bytes;
    };
    static constexpr uint32_t kFATBlock = 64u << 10;
    static constexpr std::size_t kFATBlocks = 16;
    const uint8_t* FATBytes(uint64_t at, uint32_t n) const;

    const FATKindRow* kind_ = &FATKindOf(kFAT12, kFileSystemDOS);
    DeviceIOIF* device_ = nullptr;
    InUseMark* mark_ = nullptr;  // in front of the device on writable FAT16 volumes
    std::vector<uint8_t> fatTable_;
    bool onDemand_ = false;  // the FAT is read in parts
    bool freeKnown_ = true;
    mutable std::vector<FATBlock> blocks_;
    mutable uint64_t uses_ = 0;
    bool broken_ = false;  // the FAT in memory could not be brought back in step with the device
    int batchDepth_ = 0;
    bool batchFailed_ = false;
    std::size_t dirtyFrom_ = SIZE_MAX, dirtyTo_ = 0;
    std::unique_ptr<ClusterUse> owners_;
};
