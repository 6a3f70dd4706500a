#include "volume/fsck/checker.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "device/byteorder.h"
#include "device/catalogue.h"
#include "device/sjis.h"
#include "volume/didir.h"
#include "volume/longnames.h"

namespace {

constexpr std::size_t kMaxKeptFindings = 5000;
constexpr uint32_t kNoFolder = UINT32_MAX;

const char* const kKindNames[kCheckKinds] = {
    "fat-copies", "fat-copy-behind",  "chain-loop",   "chain-free",     "chain-bad",      "chain-reserved",
    "chain-beyond", "cross-link",  "in-two-folders", "size",           "dot-entries",
    "duplicate-name", "invalid-name", "orphan-long-name", "lost-clusters", "unreadable",
    "truncated", "media-byte", "not-closed", "labels", "label-entry", "long-name-slot", "after-end",
};

// What one FAT entry holds.
enum class Link { Free, Next, End, Bad, Reserved, Beyond };

// An entry that owns a chain: its folder (index into the folder list) and
// its name as shown; the root folder of FAT32 owns its chain with no name.
struct Owner {
    uint32_t folder;
    std::string name;  // as stored
    uint32_t first;
    uint32_t slot = kNoSlot;
    bool isFolder = false;
};

// A folder reached by the walk.
struct Folder {
    uint32_t cluster;       // first cluster; 0 for a root region
    uint32_t clusters;      // sound length of its chain (0 for a root region)
    std::string name;       // as stored; "" for the root
    uint32_t dotdot;        // the cluster its ".." entry names
    bool hasDotdot = false;
    std::vector<uint32_t> parents;  // first clusters of the folders that hold an entry for it
    uint32_t parent = kNoFolder;    // the folder it was reached through
};

std::string Hex(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%X", v);
    return b;
}

// Text fit for one line: control bytes shown as \xNN.
std::string Printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F) {
            char b[8];
            std::snprintf(b, sizeof b, "\\x%02X", c);
            out += b;
        } else {
            out += char(c);
        }
    }
    return out;
}

class Checker {
public:
    // `table` is the FAT the chains are followed in: the first copy as the
    // image holds it, unless another copy is given; `compare` compares the
    // further copies with it.
    Checker(DiskImage& image, const std::vector<uint8_t>* table = nullptr, bool compare = true)
        : img_(image), fat_(image.Kind()), table_(table ? table : &image.FATTable()), compare_(compare) {}

    CheckResult Run() {
        // A table the image reads in parts is read whole for the check.
        if (img_.Device() && table_->empty() && img_.ReadFATCopy(0, ownTable_)) table_ = &ownTable_;
        if (!img_.Device() || table_->empty()) {
            result_.complete = false;
            return std::move(result_);
        }
        SetUpLimits();
        if (compare_) CheckHead();
        owner_.assign(limit_, 0);
        alsoLost_.assign(limit_, false);
        owners_.push_back({kNoFolder, "", 0});  // id 0: nobody
        WalkFolders();
        if (compare_) CheckLabels();
        if (compare_) CompareFatCopies();
        CheckDotdots();
        CountLost();
        return std::move(result_);
    }

private:
    void SetUpLimits() {
        // Cluster numbers at or above the first reserved value can never be
        // linked, whatever the layout claims.
        limit_ = std::min<uint64_t>(img_.ClusterLimit(), fat_.reserved);
    }

    uint32_t Raw(uint32_t c) const { return fat_.Get(table_->data(), c); }

    Link Classify(uint32_t v) const {
        if (v == 0) return Link::Free;
        if (fat_.IsEnd(v)) return Link::End;
        if (fat_.IsBad(v)) return Link::Bad;
        if (v >= fat_.reserved || v == 1) return Link::Reserved;
        if (v >= limit_) return Link::Beyond;
        return Link::Next;
    }

    void Add(CheckKind kind, unsigned message, MsgArgs inserts, CheckFinding where = {}) {
        ++result_.counts[std::size_t(kind)];
        if (result_.findings.size() >= kMaxKeptFindings) return;
        where.kind = kind;
        where.message = message;
        for (MsgArg& a : inserts)
            if (a.IsText()) a = MsgArg(Printable(a.Text()));
        where.inserts = std::move(inserts);
        where.text = FindingText(where, CurrentLanguage());
        result_.findings.push_back(std::move(where));
    }

    // The place of owner id's entry, for a finding.
    CheckFinding At(uint32_t id, uint32_t cluster = 0, uint32_t at = 0) const {
        CheckFinding w{};
        const Owner& o = owners_[id];
        w.folder = o.folder == kNoFolder ? 0 : folders_[o.folder].cluster;
        w.slot = o.slot;
        w.isFolder = o.isFolder;
        w.cluster = cluster;
        w.at = at;
        return w;
    }

    // Paths are kept as stored (Shift-JIS) and shown in UTF-8; they are
    // built from the folder records only when a finding needs one. A path
    // deeper than a line can sensibly show keeps its last part.
    std::string StoredPath(uint32_t f, const std::string& leaf) const {
        constexpr std::size_t kLongest = 1024;
        std::string path = leaf.empty() ? "" : "/" + leaf;
        for (uint32_t k = f; k != 0 && k != kNoFolder; k = folders_[k].parent) {
            if (path.size() > kLongest) return "..." + path;
            path = "/" + folders_[k].name + path;
        }
        return path.empty() ? "/" : path;
    }

    std::string PathOf(uint32_t id) const {
        const Owner& o = owners_[id];
        if (o.folder == kNoFolder) return "/";
        return SjisToUtf8(StoredPath(o.folder, o.name));
    }

    std::string FolderPath(uint32_t f) const { return SjisToUtf8(StoredPath(f, "")); }

    // ---- the volume's own marks ----------------------------------------

    // The first two FAT entries (the media byte, then end marks; on FAT16
    // the clean-shutdown bit), and whether the device holds the whole
    // volume.
    void CheckHead() {
        const uint64_t end = uint64_t(img_.UserArea) + uint64_t(img_.ClustersCount) * img_.ClusterSize;
        uint8_t probe;
        if (!img_.Device()->Read(int64_t(img_.DiskStart + end - 1), &probe, 1))
            Add(CheckKind::Truncated, 2250, {end});
        const uint8_t* t = table_->data();
        const std::size_t head = fat_.headBytes;
        if (table_->size() < head) return;
        int media = BootMediaByte();
        // X68000 tools mark SCSI partitions 0xF7.
        bool good = media >= 0 ? t[0] == media : KnownMedia(t[0]) || (Human68k() && t[0] == 0xF7);
        uint8_t want[4];
        fat_.Head(t[0], t, want);
        good = good && std::equal(t + 1, t + head, want + 1);
        if (!good) {
            std::string bytes;
            for (std::size_t k = 0; k < head; ++k) bytes += (k ? " " : "") + Hex(t[k]);
            if (media >= 0) Add(CheckKind::MediaByte, 2251, {bytes, Hex(uint32_t(media))});
            else Add(CheckKind::MediaByte, 2252, {bytes});
        }
        // The clean-shutdown bit: bit 15 of the second entry on FAT16, bit 27
        // on FAT32.
        const bool closed = fat_.closedMask == 0 || table_->size() <= fat_.closedAt ||
                            (t[fat_.closedAt] & fat_.closedMask) != 0;
        if (!closed && !img_.MarkedInUseHere())
            Add(CheckKind::NotClosed, 2253, {});
    }

    // The label of the root folder and the copy in the boot sector's
    // extended parameter block, where it has one, say the same ("NO NAME"
    // in the boot sector when the root holds none).
    void CheckLabels() {
        if (Human68k() || !result_.complete) return;
        uint8_t boot[512];
        const uint32_t at = fat_.bootLabelAt;
        if (!img_.Device()->Read(int64_t(img_.DiskStart), boot, sizeof boot) || boot[at - 5] != 0x29) return;
        const std::string inBoot(reinterpret_cast<const char*>(boot + at), 11);
        const std::string inRoot = rootLabel_.empty() ? std::string(kNoLabel) : rootLabel_;
        if (inBoot == inRoot) return;
        auto shown = [](std::string l) {
            l.erase(l.find_last_not_of(' ') + 1);
            return SjisToUtf8(l);
        };
        if (rootLabel_.empty()) Add(CheckKind::LabelsDiffer, 2255, {shown(inBoot)});
        else Add(CheckKind::LabelsDiffer, 2254, {shown(rootLabel_), shown(inBoot)});
    }

    int BootMediaByte() const { return VolumeMediaByte(img_); }
    // Media bytes DOS knows.
    static bool KnownMedia(uint8_t b) { return b == 0xF0 || b >= 0xF8; }

    // ---- FAT copies ----------------------------------------------------

    // The decoded entry of cluster c from FAT bytes that begin at byte
    // `base` of the FAT.
    uint32_t EntryIn(const uint8_t* bytes, uint64_t base, uint32_t c) const {
        return fat_.Value(bytes + (fat_.Offset(c) - base), c);
    }

    // Compares every further FAT copy with the first, entry by entry. Where
    // they differ only on clusters no entry reaches (an allocation or a
    // freeing stopped between the copies), the difference is one of lost
    // clusters; where a reachable chain differs, the copies disagree.
    void CompareFatCopies() {
        const std::vector<uint8_t>& first = *table_;
        // Pieces of whole entries of every kind: 65532 bytes are whole
        // 3-byte FAT12 pairs, so a piece begins at an even entry.
        constexpr uint32_t kPiece = 65532;
        const uint32_t perPiece = kPiece * 8 / fat_.bits;
        const uint32_t entries = uint32_t(std::min<uint64_t>(img_.ClusterLimit(), limit_));
        std::vector<uint8_t> piece(kPiece);
        for (uint32_t copy = 1; copy < img_.FATCount; ++copy) {
            uint64_t live = 0, unreached = 0;
            uint32_t firstLive = 0, firstUnreached = 0;
            bool readable = true, marksOnly = false;
            for (uint32_t from = 0; from < entries && readable; from += perPiece) {
                uint32_t to = std::min<uint64_t>(uint64_t(from) + perPiece, entries);
                uint64_t at = fat_.Offset(from);
                uint64_t end = std::min<uint64_t>(to == entries ? fat_.End(to - 1) : fat_.Offset(to), first.size());
                int64_t where = int64_t(img_.DiskStart) + img_.FAT + int64_t(copy) * img_.FATSize + int64_t(at);
                readable = img_.Device()->Read(where, piece.data(), uint32_t(end - at));
                if (!readable) break;
                for (uint32_t c = from; c < to; ++c) {
                    uint32_t mine = EntryIn(first.data(), 0, c), theirs = EntryIn(piece.data(), at, c);
                    if (mine == theirs) continue;
                    // The clean-shutdown and hard-error bits of the second
                    // entry are set in one copy after the other.
                    if (c == 1 && fat_.markBits != 0) {
                        const uint32_t marks = fat_.markBits;
                        if ((mine | marks) == (theirs | marks)) {
                            marksOnly = true;
                            continue;
                        }
                    }
                    if (c >= 2 && owner_[c] == 0) {
                        if (unreached++ == 0) firstUnreached = c;
                        if (theirs != 0 && Classify(theirs) != Link::Bad) alsoLost_[c] = true;
                    } else if (live++ == 0) {
                        firstLive = c;
                    }
                }
            }
            const uint32_t which = copy + 1;
            if (!readable) {
                Add(CheckKind::Unreadable, 2256, {which});
                continue;
            }
            if (live > 0) {
                if (CopyAloneIsSound(copy))
                    Add(CheckKind::FatCopyBehind, 2257, {which, live, firstLive});
                else
                    Add(CheckKind::FatCopies, 2258, {which, live, firstLive});
            }
            if (live == 0 && marksOnly)
                Add(CheckKind::FatCopyBehind, 2259, {which});
            if (unreached > 0) {
                CheckFinding w{};
                w.fromCopies = true;
                Add(CheckKind::LostClusters, 2260, {which, unreached, firstUnreached}, w);
            }
        }
    }

    // True when the volume read through FAT copy `copy` has no fault but
    // lost clusters: the copies then stand at two moments of one write that
    // was stopped between them.
    bool CopyAloneIsSound(uint32_t copy) {
        std::vector<uint8_t> other(table_->size());
        int64_t where = int64_t(img_.DiskStart) + img_.FAT + int64_t(copy) * img_.FATSize;
        if (!img_.Device()->Read(where, other.data(), uint32_t(other.size()))) return false;
        if (!OnlyLostOrLong(result_, longChains_)) return false;
        Checker alone(img_, &other, false);
        CheckResult r = alone.Run();
        return OnlyLostOrLong(r, alone.longChains_);
    }

    // Nothing found but lost clusters, chains longer than their files'
    // sizes (a stop between a chain's growth and its entry's new size) and
    // the mark of a FAT16 volume not cleanly closed, which every stop leaves.
    static bool OnlyLostOrLong(const CheckResult& r, uint32_t longChains) {
        return r.OnlyKinds({CheckKind::LostClusters, CheckKind::SizeMismatch, CheckKind::NotClosed}) &&
               r.counts[std::size_t(CheckKind::SizeMismatch)] == longChains;
    }

    // True when `cluster` is the first cluster of folder f or of a folder
    // above it: an entry naming it makes a loop, never a second place.
    bool IsOnPath(uint32_t f, uint32_t cluster) const {
        for (uint32_t k = f; k != kNoFolder; k = folders_[k].parent)
            if (folders_[k].cluster == cluster && k != 0) return true;
        return false;
    }

    // ---- chains --------------------------------------------------------

    // Follows the chain from `first` for owner `id`, claiming its clusters.
    // Returns the number of clusters claimed; `sound` tells whether the
    // chain ended with an end-of-chain mark and met nobody else's cluster.
    uint32_t Claim(uint32_t id, uint32_t first, bool& sound) {
        sound = false;
        if (first < 2 || first >= limit_) {
            Add(CheckKind::ChainBeyond, 2261, {PathOf(id), first}, At(id, 0, first));
            return 0;
        }
        uint32_t c = first, n = 0, prev = 0;
        for (;;) {
            uint32_t other = owner_[c];
            if (other == id) {
                Add(CheckKind::ChainLoop, 2262, {PathOf(id), c}, At(id, prev, c));
                return n;
            }
            if (other != 0) {
                const Owner& o = owners_[other];
                const Owner& me = owners_[id];
                if (c == first && o.first == first && o.folder != kNoFolder && me.folder != kNoFolder &&
                    folders_[o.folder].cluster != folders_[me.folder].cluster && !IsOnPath(me.folder, first)) {
                    CheckFinding w = At(id, prev, c);
                    CheckFinding o2 = At(other);
                    w.folder2 = o2.folder;
                    w.slot2 = o2.slot;
                    Add(CheckKind::InTwoFolders, 2263, {PathOf(other), PathOf(id), first}, w);
                    inTwo_ = other;
                } else {
                    CheckFinding w = At(id, prev, c);
                    CheckFinding o2 = At(other);
                    w.folder2 = o2.folder;
                    w.slot2 = o2.slot;
                    Add(CheckKind::CrossLink, 2264, {PathOf(id), c, PathOf(other)}, w);
                }
                return n;
            }
            owner_[c] = id;
            ++n;
            uint32_t v = Raw(c);
            // The repair ends a chain at `cluster`: a cluster marked bad is
            // left out of a file (the chain ends before it), one whose entry
            // is free, reserved or out of range is kept as the chain's last.
            switch (Classify(v)) {
                case Link::End: sound = true; return n;
                case Link::Next:
                    prev = c;
                    c = v;
                    break;
                case Link::Free:
                    Add(CheckKind::ChainFree, 2265, {PathOf(id), c}, At(id, c, c));
                    return n;
                case Link::Bad:
                    // A folder keeps the cluster: the entries in it are read.
                    Add(CheckKind::ChainBad, 2266, {PathOf(id), c}, At(id, owners_[id].isFolder ? c : prev, c));
                    return n;
                case Link::Reserved:
                    Add(CheckKind::ChainReserved, 2267, {PathOf(id), c, Hex(v)}, At(id, c, c));
                    return n;
                case Link::Beyond:
                    Add(CheckKind::ChainBeyond, 2268, {PathOf(id), c, v}, At(id, c, c));
                    return n;
            }
        }
    }

    // ---- folders -------------------------------------------------------

    // The entries of folder f, up to the first end marker. False when
    // nothing could be read.
    bool ReadFolder(uint32_t f, std::vector<uint8_t>& bytes) {
        const Folder& folder = folders_[f];
        bytes.clear();
        if (img_.IsRootRegion(folder.cluster) && f == 0) {
            uint64_t n = uint64_t(uint32_t(img_.UserArea) - img_.RootDir);
            n = std::min<uint64_t>(n, uint64_t(kMaxDirEntries) * 32);
            bytes.assign(std::size_t(n), 0);
            return n == 0 || img_.Device()->Read(int64_t(img_.DiskStart) + img_.RootDir, bytes.data(), uint32_t(n));
        }
        // The chain was claimed already: its first `clusters` clusters link
        // one to the next.
        ChainList chain;
        uint32_t c = folder.cluster;
        for (uint32_t k = 0; k < folder.clusters; ++k) {
            chain.push_back(c);
            c = Raw(c);
        }
        bytes.assign(std::size_t(chain.size()) * img_.ClusterSize, 0);
        std::size_t good = 0;
        bool ok = ForEachClusterRun(chain, SIZE_MAX, [&](std::size_t index, uint32_t run, uint32_t n) {
            if (!img_.Device()->Read(img_.ClusterToOffset(run), bytes.data() + index * img_.ClusterSize,
                                     n * img_.ClusterSize)) {
                Add(CheckKind::Unreadable, 2269, {FolderPath(f), run});
                return false;
            }
            good = index + n;
            return true;
        });
        if (!ok) bytes.resize(good * img_.ClusterSize);
        return ok || good > 0;
    }

    static bool IsDotName(const uint8_t* e, int dots) {
        for (int k = 0; k < 11; ++k)
            if (e[k] != (k < dots ? '.' : ' ')) return false;
        return true;
    }

    uint32_t FirstCluster(const uint8_t* e) const {
        uint32_t c = LE16(e + 26);
        if (img_.FATType == kFAT32) c |= uint32_t(LE16(e + 20)) << 16;
        return c;
    }

    bool Human68k() const { return img_.FileSystem == kFileSystemHuman68k; }

    std::string StoredName(const uint8_t* e) const { return EntryStoredName(e, Human68k()); }
    std::string NameKey(const uint8_t* e) const { return EntryNameKey(e, Human68k()); }

    // Long-name slots waiting for their entry.
    struct LongRun {
        uint32_t start = 0, slots = 0;
        int next = 0;  // sequence number the next slot must carry
        uint8_t sum = 0;
        bool broken = false;
    };

    void FlushOrphans(uint32_t f, LongRun& run) {
        if (run.slots > 0) {
            CheckFinding w{};
            w.folder = folders_[f].cluster;
            w.slot = run.start;
            w.at = run.slots;
            Add(CheckKind::OrphanLongName, 2270, {FolderPath(f), run.slots, run.start}, w);
        }
        run = LongRun();
    }

    void CheckFolder(uint32_t f, std::vector<uint32_t>& stack) {
        std::vector<uint8_t> bytes;
        if (!ReadFolder(f, bytes)) {
            if (f == 0) result_.complete = false;
            return;
        }
        ++result_.folders;
        const bool root = f == 0;
        const uint32_t here = folders_[f].cluster;
        const uint32_t slots = uint32_t(bytes.size() / 32);
        uint32_t count = 0;
        while (count < slots && bytes[std::size_t(count) * 32] != 0) ++count;

        if (!root) {
            const uint8_t* e0 = count > 0 ? bytes.data() : nullptr;
            bool dotOk = e0 && IsDotName(e0, 1) && (e0[11] & kAttrDirectory) && FirstCluster(e0) == here;
            if (!dotOk) {
                CheckFinding w{};
                w.folder = here;
                w.slot = 0;
                w.cluster = here;
                w.isFolder = true;
                Add(CheckKind::DotEntries, 2271, {FolderPath(f)}, w);
            }
            const uint8_t* e1 = count > 1 ? bytes.data() + 32 : nullptr;
            if (e1 && IsDotName(e1, 2) && (e1[11] & kAttrDirectory)) {
                folders_[f].hasDotdot = true;
                folders_[f].dotdot = FirstCluster(e1);
            }
        }

        std::unordered_set<std::string> names;
        std::vector<Named> named;
        LongRun run;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = bytes.data() + std::size_t(i) * 32;
            if (e[0] == kDeletedMark) {
                FlushOrphans(f, run);
                continue;
            }
            const uint8_t attr = e[11];
            if ((attr & 0x3F) == kAttrLongName) {
                if (!Human68k() && (e[12] != 0 || LE16(e + 26) != 0)) {
                    CheckFinding w{};
                    w.folder = here;
                    w.slot = i;
                    Add(CheckKind::LongNameSlot, 2272, {FolderPath(f), i, Hex(e[12]), unsigned(LE16(e + 26))}, w);
                }
                uint8_t seq = e[0];
                if (seq & kLongNameLastFlag) {
                    FlushOrphans(f, run);
                    run.start = i;
                    run.slots = 1;
                    run.next = (seq & 0x1F) - 1;
                    run.sum = e[13];
                    run.broken = (seq & 0x1F) == 0 || (seq & 0x1F) > 20;
                } else {
                    if (run.slots == 0) run.start = i;
                    if (run.slots == 0 || seq != run.next || e[13] != run.sum) run.broken = true;
                    ++run.slots;
                    --run.next;
                }
                continue;
            }
            if (run.slots > 0) {
                if (!run.broken && run.next == 0 && LongNameChecksum(e) == run.sum) run = LongRun();
                else FlushOrphans(f, run);
            }
            if (!root && i < 2 && e[0] == '.') continue;  // checked above
            if (!root && (IsDotName(e, 1) || IsDotName(e, 2))) {
                // "." or ".." beyond the first two slots names nothing.
                CheckFinding w{};
                w.folder = here;
                w.slot = i;
                w.isFolder = true;
                Add(CheckKind::DotEntries, 2273, {FolderPath(f), e[1] == '.' ? ".." : ".", i}, w);
                continue;
            }
            // The label: the first entry of the root with the volume bit and
            // neither size nor chain. Any other entry with that bit is a file
            // (or a stray entry) whose data is kept.
            unsigned strayLabel = 0;
            if ((attr & kAttrVolume) && !(attr & kAttrDirectory)) {
                if (root && rootLabel_.empty() && FirstCluster(e) == 0 && LE32(e + 28) == 0) {
                    rootLabel_.assign(reinterpret_cast<const char*>(e), 11);
                    continue;
                }
                strayLabel = !root                                        ? 2274
                             : FirstCluster(e) != 0 || LE32(e + 28) != 0 ? 2275
                                                                          : 2276;
            }

            std::string name = StoredName(e);
            uint32_t id = uint32_t(owners_.size());
            owners_.push_back({f, name, FirstCluster(e), i, (attr & kAttrDirectory) != 0});
            if (strayLabel) Add(CheckKind::LabelEntry, strayLabel, {PathOf(id)}, At(id));
            std::string byte;
            if (unsigned fault = EntryNameFault(e, Human68k(), &byte))
                Add(CheckKind::InvalidName, fault, {PathOf(id), byte}, At(id));
            if (!names.insert(NameKey(e)).second)
                Add(CheckKind::DuplicateName, 2280, {FolderPath(f), SjisToUtf8(name)}, At(id));
            if (!Human68k()) {
                Named n{id, FoldCase(Utf8ToUtf16(SjisToUtf8(name))), {}, {}};
                if (auto lfn = FindLongNameRun(bytes.data(), count, i)) {
                    n.longName = lfn->name;
                    n.folded = FoldCase(lfn->name);
                }
                named.push_back(std::move(n));
            }

            const uint32_t first = FirstCluster(e);
            const uint32_t size = LE32(e + 28);
            if (attr & kAttrDirectory) {
                if (size != 0)
                    Add(CheckKind::SizeMismatch, 2281, {PathOf(id), size}, At(id));
                bool sound;
                inTwo_ = 0;
                uint32_t n = Claim(id, first, sound);
                if (inTwo_ != 0) {
                    // Reached before through another folder: that folder
                    // holds it too.
                    auto it = folderAt_.find(first);
                    if (it != folderAt_.end()) folders_[it->second].parents.push_back(here);
                }
                if (n == 0) continue;
                if (uint64_t(n) * img_.ClusterSize > uint64_t(kMaxDirEntries) * 32) {
                    Add(CheckKind::SizeMismatch, 2282, {PathOf(id), n}, At(id));
                    n = uint32_t(uint64_t(kMaxDirEntries) * 32 / img_.ClusterSize);
                }
                Folder sub;
                sub.cluster = first;
                sub.clusters = n;
                sub.name = name;
                sub.dotdot = 0;
                sub.parents.push_back(here);
                sub.parent = f;
                folderAt_.emplace(first, uint32_t(folders_.size()));
                stack.push_back(uint32_t(folders_.size()));
                folders_.push_back(std::move(sub));
            } else {
                ++result_.files;
                if (first == 0) {
                    if (size != 0)
                        Add(CheckKind::SizeMismatch, 2283, {PathOf(id), size}, At(id));
                    continue;
                }
                bool sound;
                uint32_t n = Claim(id, first, sound);
                if (!sound) continue;  // the chain's own finding says enough
                uint64_t want = (uint64_t(size) + img_.ClusterSize - 1) / img_.ClusterSize;
                // X68000 formatters that give an empty file one cluster
                // leave a file Human68k reads as empty: nothing to mend.
                if (Human68k() && size == 0 && n == 1) continue;
                if (n > want) ++longChains_;
                if (n != want)
                    Add(CheckKind::SizeMismatch, 2284, {PathOf(id), size, want, n}, At(id));
            }
        }
        FlushOrphans(f, run);
        CheckLongNames(named);
        CheckAfterEnd(f, bytes, count);
    }

    // Entries after the end mark: DOS reads no further, other tools do.
    void CheckAfterEnd(uint32_t f, const std::vector<uint8_t>& bytes, uint32_t end) {
        const uint32_t slots = uint32_t(bytes.size() / 32);
        uint32_t live = 0;
        for (uint32_t i = end + 1; i < slots; ++i) {
            uint8_t b = bytes[std::size_t(i) * 32];
            if (b != 0 && b != kDeletedMark) ++live;
        }
        if (live == 0) return;
        CheckFinding w{};
        w.folder = folders_[f].cluster;
        w.slot = end;
        w.at = live;
        Add(CheckKind::AfterEnd, 2285, {FolderPath(f), live, end}, w);
    }

    // An 8.3 entry of a FAT folder with its names folded for comparing.
    struct Named {
        uint32_t id;
        std::u16string shortFolded, longName, folded;  // the last two empty without a long name
    };

    // Long names that cannot stand: "/" or "\" in them, "." or "..", or
    // one that another entry's long or 8.3 name equals ignoring case.
    void CheckLongNames(const std::vector<Named>& named) {
        std::unordered_map<std::u16string, uint32_t> shorts, longs;
        for (const Named& n : named) shorts.emplace(n.shortFolded, n.id);
        for (const Named& n : named) {
            if (n.longName.empty()) continue;
            CheckFinding w = At(n.id);
            w.longName = true;
            const std::string shown = Utf16ToUtf8(n.longName);
            const bool control = std::any_of(n.longName.begin(), n.longName.end(),
                                             [](char16_t ch) { return ch < 0x20 || ch == 0x7F; });
            if (control)
                Add(CheckKind::InvalidName, 2286, {PathOf(n.id), shown}, w);
            else if (n.longName == u"." || n.longName == u".." || n.longName.find_first_of(u"/\\") != std::u16string::npos)
                Add(CheckKind::InvalidName, 2287, {PathOf(n.id), shown}, w);
            auto s = shorts.find(n.folded);
            if (s != shorts.end() && s->second != n.id)
                Add(CheckKind::DuplicateName, 2288, {PathOf(n.id), shown, PathOf(s->second)}, w);
            else if (!longs.emplace(n.folded, n.id).second)
                Add(CheckKind::DuplicateName, 2289, {PathOf(n.id), shown}, w);
        }
    }

    void WalkFolders() {
        Folder root;
        root.cluster = 0;
        root.clusters = 0;
        root.dotdot = 0;
        if (img_.FATType == kFAT32) {
            // The root folder of FAT32 is a chain of its own.
            root.cluster = img_.RootDir;
            folders_.push_back(root);
            bool sound;
            uint32_t id = uint32_t(owners_.size());
            owners_.push_back({kNoFolder, "", img_.RootDir});
            folders_[0].clusters = Claim(id, img_.RootDir, sound);
            if (folders_[0].clusters == 0) {
                result_.complete = false;
                return;
            }
        } else {
            folders_.push_back(root);
        }
        std::vector<uint32_t> stack{0};
        while (!stack.empty()) {
            uint32_t f = stack.back();
            stack.pop_back();
            CheckFolder(f, stack);
        }
    }

    // A folder's ".." names the folder that holds it (0 for the root, which
    // FAT32 may also give as its first cluster). A folder found in two
    // folders may name either.
    void CheckDotdots() {
        for (std::size_t f = 1; f < folders_.size(); ++f) {
            const Folder& d = folders_[f];
            bool ok = false;
            if (d.hasDotdot)
                for (uint32_t p : d.parents) {
                    uint32_t want = p == folders_[0].cluster ? 0 : p;
                    if (d.dotdot == want || (img_.FATType == kFAT32 && want == 0 && d.dotdot == img_.RootDir))
                        ok = true;
                }
            if (!ok) {
                CheckFinding w{};
                w.folder = d.cluster;
                w.slot = 1;
                w.isFolder = true;
                uint32_t parent = d.parent == kNoFolder ? 0 : folders_[d.parent].cluster;
                w.cluster = d.parent == 0 ? 0 : parent;
                Add(CheckKind::DotEntries, 2290, {FolderPath(uint32_t(f))}, w);
            }
        }
    }

    void CountLost() {
        // Two passes over the table, with one bit a cluster: which lost
        // clusters another lost cluster links to (those head no chain).
        auto isLost = [&](uint32_t c, uint32_t v) {
            Link l = Classify(v);
            return owner_[c] == 0 && (alsoLost_[c] || (l != Link::Free && l != Link::Bad));
        };
        std::vector<bool> linked(limit_, false);
        uint32_t lost = 0, first = 0;
        for (uint32_t c = 2; c < limit_; ++c) {
            uint32_t v = Raw(c);
            if (!isLost(c, v)) continue;
            if (lost++ == 0) first = c;
            result_.lost.push_back(c);
            if (Classify(v) == Link::Next) linked[v] = true;
        }
        if (lost == 0) return;
        uint32_t heads = 0;
        for (uint32_t c = first; c < limit_; ++c)
            if (!linked[c] && isLost(c, Raw(c))) ++heads;
        result_.lostClusters = lost;
        result_.lostChains = std::max<uint32_t>(heads, 1);
        Add(CheckKind::LostClusters, 2291, {lost, result_.lostChains, first});
    }

    DiskImage& img_;
    const FATKindRow& fat_;
    const std::vector<uint8_t>* table_;
    std::vector<uint8_t> ownTable_;
    const bool compare_;
    CheckResult result_;
    uint32_t longChains_ = 0;  // files whose chain is longer than their size
    uint32_t limit_ = 0;
    std::vector<uint32_t> owner_;
    std::vector<bool> alsoLost_;  // free in the first FAT copy, taken in another
    std::vector<Owner> owners_;
    std::vector<Folder> folders_;
    std::unordered_map<uint32_t, uint32_t> folderAt_;
    uint32_t inTwo_ = 0;
    std::string rootLabel_;  // the root folder's label entry, 11 bytes; "" without one
    static constexpr const char* kNoLabel = "NO NAME    ";
};

}  // namespace

// The stored name bytes of an entry: base (with the Human68k extension),
// then "." and the extension when there is one.
std::string EntryStoredName(const uint8_t* e, bool human68k) {
    std::string base(reinterpret_cast<const char*>(e), 8);
    if (human68k && e[7] != ' ') {
        for (int k = 12; k < 22 && e[k] != 0; ++k) base += char(e[k]);
        base.erase(std::max<std::size_t>(8, base.find_last_not_of(' ') + 1));
    } else {
        base.erase(base.find_last_not_of(' ') + 1);
    }
    if (!base.empty() && uint8_t(base[0]) == kStoredE5) base[0] = char(kDeletedMark);
    std::string ext(reinterpret_cast<const char*>(e + 8), 3);
    ext.erase(ext.find_last_not_of(' ') + 1);
    return ext.empty() ? base : base + "." + ext;
}

// The name as two entries are compared: ASCII letters folded, the
// second byte of a double-byte character left as it is.
std::string EntryNameKey(const uint8_t* e, bool human68k) {
    std::string s = EntryStoredName(e, human68k);
    for (std::size_t k = 0; k < s.size(); ++k) {
        uint8_t b = uint8_t(s[k]);
        if (IsSjisLeadByte(b)) {
            ++k;
            continue;
        }
        if (b >= 'a' && b <= 'z') s[k] = char(b - 32);
    }
    return s;
}

// Why an entry's name cannot stand (a message), or 0 when it can.
unsigned EntryNameFault(const uint8_t* e, bool human68k, std::string* byte) {
    if (e[0] == ' ') return 2277;
    // Bytes DOS refuses in a name. "+", "=", "[" and "]" pass: the
    // import keeps them as they stand, and DOS systems read them.
    static const char kNeverDOS[] = "\"*,./:;<>?\\|";
    static const char kNeverHuman[] = "\"*/:<>?\\|.";
    const char* never = human68k ? kNeverHuman : kNeverDOS;
    auto field = [&](const uint8_t* p, int n, bool isBase) -> unsigned {
        for (int k = 0; k < n; ++k) {
            uint8_t b = p[k];
            if (isBase && k == 0 && b == kStoredE5) continue;
            if (IsSjisLeadByte(b) && k + 1 < n) {
                ++k;  // the second byte of the character may be anything
                continue;
            }
            if (b < 0x20 || b == 0x7F || (b != 0 && std::strchr(never, b))) {
                if (byte) *byte = Hex(b);
                return 2278u;
            }
            if (!human68k && b >= 'a' && b <= 'z') return 2279u;
        }
        return 0u;
    };
    unsigned f = field(e, 8, true);
    if (!f) f = field(e + 8, 3, false);
    if (!f && human68k && e[7] != ' ') {
        int n = 0;
        while (n < 10 && e[12 + n] != 0) ++n;
        while (n > 0 && e[12 + n - 1] == ' ') --n;
        f = field(e + 12, n, false);
    }
    return f;
}


int VolumeMediaByte(DiskImage& image) {
    // A volume opened by a profile has no boot record of its own: the
    // record must describe this very layout.
    const bool human = image.FileSystem == kFileSystemHuman68k;
    uint8_t record[512];
    if (!image.Device() || !image.Device()->Read(image.DiskStart, record, sizeof record)) return -1;
    VolumeLayout l;
    if ((human ? DecodeHuman68kBootSector(record, l) : DecodeFATBootSector(record, l)) != BootOk) return -1;
    if (l.FAT != image.FAT || l.FATSize != image.FATSize || l.UserArea != image.UserArea) return -1;
    return record[human && !HasLittleEndianBPB(record) ? 28 : 21];
}

const char* CheckKindName(CheckKind kind) { return kKindNames[std::size_t(kind)]; }

std::string MessageIn(Language language, unsigned id, const MsgArgs& args) {
    const char* text = CatalogueTextIn(language, id);
    if (!text) text = CatalogueTextIn(Language::Greek, id);
    return text ? FormatMessageText(text, args).value_or("?") : "?";
}

std::string FindingText(const CheckFinding& finding, Language language) {
    return MessageIn(language, finding.message, finding.inserts);
}

bool CheckResult::OnlyKinds(std::initializer_list<CheckKind> kinds) const {
    if (!complete) return false;
    for (std::size_t k = 0; k < kCheckKinds; ++k) {
        if (counts[k] == 0) continue;
        if (std::find(kinds.begin(), kinds.end(), CheckKind(k)) == kinds.end()) return false;
    }
    return true;
}

std::size_t CheckResult::Count(CheckKind kind) const { return counts[std::size_t(kind)]; }

std::string CheckResult::Report() const {
    std::string out;
    for (const CheckFinding& f : findings) out += std::string(CheckKindName(f.kind)) + ": " + f.text + "\n";
    return out;
}

CheckResult CheckVolume(DiskImage& image) { return Checker(image).Run(); }

CheckResult CheckVolumeWithFat(DiskImage& image, const std::vector<uint8_t>& table) {
    return Checker(image, &table, false).Run();
}
