#include "volume/fsck/repairer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <unordered_set>

#include "device/byteorder.h"
#include "device/messages.h"
#include "device/sjis.h"
#include "volume/didir.h"
#include "volume/longnames.h"

namespace {

constexpr int kMaxRounds = 64;
constexpr uint32_t kPiece = 65535;  // the most the device takes in one write
constexpr unsigned kFindingAndWhat = 2292;  // "finding: what was done"

std::string Text(unsigned id, const MsgArgs& args = {}) {
    return FormatCatalogueMessage(id, args).value_or("?");
}

bool IsChainKind(CheckKind k) {
    return k == CheckKind::ChainLoop || k == CheckKind::ChainFree || k == CheckKind::ChainBad ||
           k == CheckKind::ChainReserved || k == CheckKind::ChainBeyond;
}

// Lost clusters found by comparing the FAT copies, which the copying of
// the FAT mends, and not by the walk.
bool IsCopyLoss(const CheckFinding& f) {
    return f.kind == CheckKind::LostClusters && f.fromCopies;
}

// The folder cluster of a crossing at the first cluster: an entry for a
// folder that is already reached (a loop, or a ladder of folders).
bool IsFolderLoop(const CheckFinding& f) {
    return f.kind == CheckKind::CrossLink && f.isFolder && f.cluster == 0;
}

unsigned PlanFor(const CheckFinding& f, const RepairOptions& o) {
    switch (f.kind) {
        case CheckKind::FatCopies:
        case CheckKind::FatCopyBehind: return 1490;
        case CheckKind::ChainLoop:
        case CheckKind::ChainFree:
        case CheckKind::ChainBad:
        case CheckKind::ChainReserved:
        case CheckKind::ChainBeyond:
            // Without a first cluster of its own a folder holds nothing; a
            // file keeps its name.
            if (f.cluster < 2 && f.slot != kNoSlot) return f.isFolder ? 1846 : 1847;
            return 1491;
        case CheckKind::CrossLink: return IsFolderLoop(f) ? 1505 : 1492;
        case CheckKind::InTwoFolders: return f.isFolder ? 1494 : 1493;
        case CheckKind::SizeMismatch: return 1495;
        case CheckKind::DotEntries: return 1496;
        case CheckKind::DuplicateName:
        case CheckKind::InvalidName: return 1497;
        case CheckKind::OrphanLongName: return 1498;
        case CheckKind::LostClusters: return IsCopyLoss(f) ? 1490 : o.save ? 1500 : 1499;
        case CheckKind::Unreadable: return 1501;
        case CheckKind::Truncated: return 1502;
        case CheckKind::MediaByte: return 1503;
        case CheckKind::NotClosed: return 1504;
        case CheckKind::LabelsDiffer: return 1842;
        case CheckKind::LabelEntry: return 1843;
        case CheckKind::LongNameSlot: return 1844;
        case CheckKind::AfterEnd: return 1845;
    }
    return 1501;
}

class Repairer {
public:
    Repairer(DiskImage& image, const RepairOptions& options, RepairOutcome& out)
        : img_(image), opt_(options), out_(out) {}

    void Run() {
        std::string last;
        for (int round = 0; round < kMaxRounds; ++round) {
            CheckResult r = CheckVolume(img_);
            if (round == 0) out_.before = r;
            out_.after = r;
            if (!r.complete || r.Clean() || out_.writeFailed) break;
            // A round that changed nothing ends the repair with what remains.
            std::string now = r.Report();
            if (round > 0 && now == last) break;
            last = std::move(now);
            if (!Round(r)) break;
            if (out_.writeFailed) {
                out_.after = CheckVolume(img_);
                break;
            }
        }
    }

private:
    // ---- one round -----------------------------------------------------

    // Mends the findings of the most basic kind present; false when it
    // could mend none.
    bool Round(const CheckResult& r) {
        auto any = [&](auto pred) {
            return std::any_of(r.findings.begin(), r.findings.end(), pred);
        };
        auto each = [&](auto pred, auto fix) {
            bool acted = false;
            for (const CheckFinding& f : r.findings) {
                if (!pred(f) || out_.writeFailed) continue;
                acted = fix(f) || acted;
            }
            return acted;
        };
        auto kind = [](CheckKind k) { return [k](const CheckFinding& f) { return f.kind == k; }; };
        out_.unmended.clear();
        out_.unmendedEnglish.clear();

        if (r.Count(CheckKind::FatCopies) || r.Count(CheckKind::FatCopyBehind) || any(IsCopyLoss))
            return SameCopies();
        if (r.Count(CheckKind::MediaByte)) return MendHead();
        if (any([](const CheckFinding& f) { return IsChainKind(f.kind); }))
            return each([](const CheckFinding& f) { return IsChainKind(f.kind); },
                        [&](const CheckFinding& f) { return EndChain(f); });
        if (r.Count(CheckKind::InTwoFolders) || r.Count(CheckKind::CrossLink)) {
            bool acted = each(kind(CheckKind::InTwoFolders), [&](const CheckFinding& f) { return InTwo(f); });
            if (!acted)
                acted = each(kind(CheckKind::CrossLink), [&](const CheckFinding& f) { return Uncross(f); });
            if (acted) return true;
            // What could not be copied stays as it is: nothing else that
            // frees clusters may run beside it.
        }
        bool shared = r.Count(CheckKind::InTwoFolders) || r.Count(CheckKind::CrossLink);
        if (r.Count(CheckKind::AfterEnd))
            if (each(kind(CheckKind::AfterEnd), [&](const CheckFinding& f) { return TakeInAfterEnd(f); }))
                return true;
        if (r.Count(CheckKind::LabelEntry))
            if (each(kind(CheckKind::LabelEntry), [&](const CheckFinding& f) { return MendLabelEntry(f); }))
                return true;
        if (r.Count(CheckKind::DotEntries))
            if (each(kind(CheckKind::DotEntries), [&](const CheckFinding& f) { return MendDots(f); }))
                return true;
        if (r.Count(CheckKind::LongNameSlot))
            if (each(kind(CheckKind::LongNameSlot), [&](const CheckFinding& f) { return MendSlotFields(f); }))
                return true;
        if (r.Count(CheckKind::OrphanLongName))
            if (each(kind(CheckKind::OrphanLongName), [&](const CheckFinding& f) { return ClearOrphans(f); }))
                return true;
        if (r.Count(CheckKind::InvalidName) || r.Count(CheckKind::DuplicateName)) {
            // One name a folder a round: a new name is chosen against the
            // folder as it then stands.
            std::set<uint32_t> folders;
            bool acted = each(
                [](const CheckFinding& f) {
                    return f.kind == CheckKind::InvalidName || f.kind == CheckKind::DuplicateName;
                },
                [&](const CheckFinding& f) { return folders.insert(f.folder).second && Rename(f); });
            if (acted) return true;
        }
        if (!shared && r.Count(CheckKind::SizeMismatch))
            if (each(kind(CheckKind::SizeMismatch), [&](const CheckFinding& f) { return MendSize(f); }))
                return true;
        // A folder too long to be read whole hides entries whose clusters
        // would look lost.
        if (!shared && r.Count(CheckKind::LostClusters) && !r.Count(CheckKind::Unreadable) &&
            !r.Count(CheckKind::SizeMismatch) && !r.lost.empty())
            if (MendLost(r)) return true;
        if (r.Count(CheckKind::LabelsDiffer) && CopyLabelToBoot()) return true;
        // The clean-shutdown bit last, once nothing else is left.
        if (r.Count(CheckKind::NotClosed) && r.OnlyKinds({CheckKind::NotClosed, CheckKind::LabelsDiffer}))
            return MarkClosed();
        return false;
    }

    // What was mended or left, as the user reads it and in English for
    // scripts: the finding's text, then the catalogue message.
    void Say(std::vector<std::string>& shown, std::vector<std::string>& english, const CheckFinding* f, unsigned id,
             const MsgArgs& args) {
        std::string what = Text(id, args), whatEn = MessageIn(Language::English, id, args);
        if (f) {
            what = Text(kFindingAndWhat, {f->text, what});
            whatEn = MessageIn(Language::English, kFindingAndWhat, {FindingText(*f, Language::English), whatEn});
        }
        shown.push_back(std::move(what));
        english.push_back(std::move(whatEn));
    }
    void Done(const CheckFinding& f, unsigned id, const MsgArgs& args = {}) {
        Say(out_.done, out_.doneEnglish, &f, id, args);
    }
    void Done(unsigned id, const MsgArgs& args = {}) { Say(out_.done, out_.doneEnglish, nullptr, id, args); }
    void Left(const CheckFinding& f, unsigned id) { Say(out_.unmended, out_.unmendedEnglish, &f, id, {}); }
    void Left(unsigned id) { Say(out_.unmended, out_.unmendedEnglish, nullptr, id, {}); }
    bool Failed() {
        out_.writeFailed = true;
        return false;
    }
    bool Flush() { return img_.Flush() || Failed(); }

    // ---- folders as bytes ----------------------------------------------

    struct Dir {
        uint32_t first = 0;
        std::vector<uint8_t> bytes, onDisk;
        uint32_t Slots() const { return uint32_t(bytes.size() / 32); }
        uint8_t* Slot(uint32_t i) { return bytes.data() + std::size_t(i) * 32; }
    };

    bool Load(uint32_t first, Dir& d) {
        d.first = first;
        d.bytes.clear();
        if (img_.IsRootRegion(first)) {
            d.bytes.assign(uint32_t(img_.UserArea) - img_.RootDir, 0);
            if (!d.bytes.empty() &&
                !img_.Device()->Read(int64_t(img_.DiskStart) + img_.RootDir, d.bytes.data(), uint32_t(d.bytes.size())))
                return false;
        } else {
            auto chain = img_.ReadChain(first);
            if (!chain || uint64_t(chain->size()) * img_.ClusterSize > uint64_t(kMaxDirEntries) * 32) return false;
            d.bytes.assign(chain->size() * img_.ClusterSize, 0);
            bool ok = ForEachClusterRun(*chain, SIZE_MAX, [&](std::size_t index, uint32_t run, uint32_t n) {
                return img_.ReadClusterRun(run, n, d.bytes.data() + index * img_.ClusterSize);
            });
            if (!ok) return false;
        }
        d.onDisk = d.bytes;
        return true;
    }

    // What the entries point at reaches the disk before them.
    bool Save(Dir& d) {
        if (!Flush()) return false;
        if (!img_.WriteDirEntries(d.bytes, d.first, &d.onDisk)) return Failed();
        d.onDisk = d.bytes;
        return Flush();
    }

    bool Human68k() const { return img_.FileSystem == kFileSystemHuman68k; }
    static uint32_t First(const uint8_t* e) { return LE16(e + 26); }
    static void SetFirst(uint8_t* e, uint32_t c) { PutLE16(e + 26, uint16_t(c)); }

    // The entry a finding names, when it still stands where the check saw it.
    uint8_t* EntryOf(Dir& d, uint32_t folder, uint32_t slot) {
        if (slot == kNoSlot || !Load(folder, d) || slot >= d.Slots()) return nullptr;
        uint8_t* e = d.Slot(slot);
        if (e[0] == 0 || e[0] == kDeletedMark || (e[11] & 0x3F) == kAttrLongName) return nullptr;
        return e;
    }

    // Marks an entry and the long-name slots that go with it deleted.
    void Delete(Dir& d, uint32_t slot) {
        uint32_t from = Human68k() ? slot : OwnSlotsStart(d.bytes.data(), slot);
        for (uint32_t k = from; k <= slot; ++k) d.Slot(k)[0] = kDeletedMark;
    }

    // ---- the FAT -------------------------------------------------------

    std::vector<uint8_t> ReadCopy(uint32_t copy) {
        std::vector<uint8_t> t(std::size_t(img_.FATSize));
        int64_t at = int64_t(img_.DiskStart) + img_.FAT + int64_t(copy) * img_.FATSize;
        for (std::size_t k = 0; k < t.size(); k += kPiece)
            if (!img_.Device()->Read(at + int64_t(k), t.data() + k, uint32_t(std::min<std::size_t>(kPiece, t.size() - k))))
                return {};
        return t;
    }

    // A copy describes a sound volume when the walk through it meets no
    // chain fault, no shared cluster and no chain longer or shorter than
    // its size.
    bool Sound(const std::vector<uint8_t>& table) {
        CheckResult r = CheckVolumeWithFat(img_, table);
        for (CheckKind k : {CheckKind::ChainLoop, CheckKind::ChainFree, CheckKind::ChainBad, CheckKind::ChainReserved,
                            CheckKind::ChainBeyond, CheckKind::CrossLink, CheckKind::SizeMismatch})
            if (r.Count(k)) return false;
        return r.complete;
    }

    void Recount() {
        img_.FreeClusters = 0;
        for (uint32_t c = 2; c < img_.ClusterLimit(); ++c)
            if (img_.GetFATEntry(c) == 0) ++img_.FreeClusters;
        img_.NextFree = 2;
    }

    // Every copy made equal to the one that describes a sound volume: the
    // first where it does (or where none does), else the first sound one.
    bool SameCopies() {
        std::vector<uint8_t> chosen = img_.FATTable();
        uint32_t from = 0;
        if (!Sound(chosen)) {
            for (uint32_t k = 1; k < img_.FATCount; ++k) {
                std::vector<uint8_t> t = ReadCopy(k);
                if (!t.empty() && Sound(t)) {
                    chosen.swap(t);
                    from = k;
                    break;
                }
            }
        }
        for (std::size_t k = 0; k < chosen.size(); k += kPiece)
            if (!img_.WriteFATBytes(uint32_t(k), chosen.data() + k, uint32_t(std::min<std::size_t>(kPiece, chosen.size() - k))))
                return Failed();
        Recount();
        Done(1530, {from + 1});
        return Flush();
    }

    // The media byte and the end marks of the first two entries.
    bool MendHead() {
        const std::vector<uint8_t>& t = img_.FATTable();
        int media = VolumeMediaByte(img_);
        const bool known = t[0] == 0xF0 || t[0] >= 0xF8 || (Human68k() && t[0] == 0xF7);
        uint8_t m = media >= 0 ? uint8_t(media) : known ? t[0] : 0xF8;
        uint8_t head[4];
        img_.Kind().Head(m, t.data(), head);
        if (!img_.WriteFATBytes(0, head, img_.Kind().headBytes)) return Failed();
        char b[16];
        std::snprintf(b, sizeof b, "0x%02X", m);
        Done(1531, {std::string(b)});
        return Flush();
    }

    // Ends a chain at the finding's cluster (0: the entry loses its chain).
    bool EndChain(const CheckFinding& f) {
        if (f.cluster >= 2) {
            if (!img_.SetFATEntry(f.cluster, EndOfChain)) return Failed();
            Done(f, 1519, {f.cluster});
            return Flush();
        }
        Dir d;
        uint8_t* e = EntryOf(d, f.folder, f.slot);
        if (!e || First(e) != f.at) return false;
        if (f.isFolder) {
            Delete(d, f.slot);  // a folder with no cluster of its own holds nothing
            if (!Save(d)) return false;
            Done(f, 1517);
            return true;
        }
        SetFirst(e, 0);
        PutLE32(e + 28, 0);
        if (!Save(d)) return false;
        Done(f, 1520, {0u});
        return true;
    }

    // The clusters from `c` on, as far as the chain runs soundly.
    ChainList Tail(uint32_t c) {
        ChainList list;
        std::unordered_set<uint32_t> seen;
        while (c >= 2 && c < img_.ClusterLimit() && seen.insert(c).second) {
            list.push_back(c);
            uint32_t v = img_.GetFATEntry(c);
            if (v == EndOfChain || v == 0 || v == BadEntry) break;
            c = v;
        }
        return list;
    }

    // Copies `src` into fresh clusters linked as one chain: the data first,
    // then the FAT. 0 when there is no room (`noRoom`) or a step failed.
    uint32_t Copy(const ChainList& src, bool& noRoom) {
        noRoom = false;
        uint64_t bytes = uint64_t(src.size()) * img_.ClusterSize;
        std::optional<ChainList> fresh;
        if (bytes <= UINT32_MAX && src.size() <= img_.FreeClusters) fresh = img_.PickClusters(uint32_t(bytes));
        if (!fresh) {
            noRoom = true;
            return 0;
        }
        std::vector<uint8_t> buf(img_.ClusterSize);
        for (std::size_t k = 0; k < src.size(); ++k) {
            if (!img_.ReadCluster(src[k], buf.data())) std::fill(buf.begin(), buf.end(), 0);
            if (!img_.WriteCluster((*fresh)[k], buf.data())) return Failed(), 0;
        }
        if (!Flush() || !img_.LinkChain(*fresh)) return Failed(), 0;
        if (!Flush()) return 0;
        return fresh->front();
    }

    // An entry in two folders (a stopped move). A folder stays where its
    // ".." points and the other entry goes; a file stays in both, the
    // second with its own copy of the data.
    bool InTwo(const CheckFinding& f) {
        if (f.isFolder) {
            Dir folder;
            uint32_t dotdot = UINT32_MAX;
            if (Load(f.at, folder) && folder.Slots() > 1 && folder.Slot(1)[0] == '.') dotdot = First(folder.Slot(1));
            // The second entry goes unless ".." names its folder.
            bool dropFirst = dotdot == f.folder && f.folder != f.folder2;
            uint32_t inFolder = dropFirst ? f.folder2 : f.folder, slot = dropFirst ? f.slot2 : f.slot;
            Dir d;
            uint8_t* e = EntryOf(d, inFolder, slot);
            if (!e || First(e) != f.at) return false;
            Delete(d, slot);
            if (!Save(d)) return false;
            Done(f, 1517);
            return true;
        }
        return CopyFor(f);
    }

    // Gives the finding's entry its own copy of the clusters it shares,
    // from `at` on: the copy is linked from `cluster` (0: from the entry).
    bool CopyFor(const CheckFinding& f) {
        Dir d;
        uint8_t* e = EntryOf(d, f.folder, f.slot);
        if (!e) return false;
        if (f.cluster >= 2 ? img_.GetFATEntry(f.cluster) != f.at : First(e) != f.at) return false;
        ChainList tail = Tail(f.at);
        bool noRoom = false;
        uint32_t copy = Copy(tail, noRoom);
        if (copy == 0) {
            if (noRoom) Left(f, 1508);
            return false;
        }
        if (f.cluster >= 2) {
            if (!img_.SetFATEntry(f.cluster, copy)) return Failed();
            if (!Flush()) return false;
        } else {
            SetFirst(e, copy);
            if (!Save(d)) return false;
        }
        Done(f, 1507, {uint32_t(tail.size())});
        return true;
    }

    bool Uncross(const CheckFinding& f) {
        if (!IsFolderLoop(f)) return CopyFor(f);
        // An entry for a folder reached already: it closes a loop or adds
        // a second way to the same folder. It goes; the folder stays. A
        // folder whose first cluster a file's chain runs into was never
        // read: removing its entry would lose what it holds.
        Dir other;
        uint8_t* e2 = EntryOf(other, f.folder2, f.slot2);
        if (!(f.slot2 == kNoSlot && f.at == img_.RootDir) &&
            (!e2 || !(e2[11] & kAttrDirectory) || First(e2) != f.at)) {
            Left(f, 1534);
            return false;
        }
        Dir d;
        uint8_t* e = EntryOf(d, f.folder, f.slot);
        if (!e || First(e) != f.at) return false;
        Delete(d, f.slot);
        if (!Save(d)) return false;
        Done(f, 1517);
        return true;
    }

    static bool IsDot(const uint8_t* e, int dots) {
        for (int k = 0; k < 11; ++k)
            if (e[k] != (k < dots ? '.' : ' ')) return false;
        return true;
    }

    bool MendDots(const CheckFinding& f) {
        if (f.slot > 1) return DropStrayDot(f);
        Dir d;
        if ( !Load(f.folder, d) || d.Slots() < 2) return false;
        uint8_t* e = d.Slot(f.slot);
        const int dots = int(f.slot) + 1;
        if (IsDot(e, dots)) {
            e[11] |= kAttrDirectory;
        } else if (e[0] == 0 || e[0] == kDeletedMark) {
            if (f.slot == 0 && e[0] == 0 && d.Slot(1)[0] != 0) return false;
            std::memset(e, 0, 32);
            std::memset(e, ' ', 11);
            std::memset(e, '.', std::size_t(dots));
            e[11] = kAttrDirectory;
        } else if (!MoveOutOfDotSlots(d, f.slot)) {
            Left(f, 1532);
            return false;
        } else {
            // The slot is free now: the dot entry is written there.
            e = d.Slot(f.slot);
            std::memset(e, 0, 32);
            std::memset(e, ' ', 11);
            std::memset(e, '.', std::size_t(dots));
            e[11] = kAttrDirectory;
        }
        SetFirst(e, f.cluster);
        if (!Save(d)) return false;
        Done(f, 1521);
        return true;
    }

    // The entries that stand in the first two slots, with the long-name
    // slots before them, move to free slots further on, in their order;
    // the two slots are left free. False when the folder has no room.
    bool MoveOutOfDotSlots(Dir& d, uint32_t slot) {
        uint32_t from = slot, to = slot;
        auto isLong = [&](uint32_t k) { return (d.Slot(k)[11] & 0x3F) == kAttrLongName; };
        auto standing = [&](uint32_t k) {
            const uint8_t* e = d.Slot(k);
            return e[0] != 0 && e[0] != kDeletedMark && !IsDot(e, int(k) + 1);
        };
        if (slot == 0 && isLong(0) && standing(1) && !isLong(1)) to = 1;        // slot 0 holds slot 1's long name
        if (slot == 1 && isLong(0) && standing(0) && !isLong(1)) from = 0;      // the entry at 1 takes its long name
        const uint32_t n = to - from + 1;
        // A lone long-name slot belongs to no entry: it goes.
        if (n == 1 && isLong(from)) {
            d.Slot(from)[0] = kDeletedMark;
            return true;
        }
        uint32_t end = 2;
        while (end < d.Slots() && d.Slot(end)[0] != 0) ++end;
        uint32_t at = kNoSlot, run = 0;
        for (uint32_t k = 2; k < d.Slots() && at == kNoSlot; ++k) {
            const uint8_t b = d.Slot(k)[0];
            run = (k >= end || b == kDeletedMark) ? run + 1 : 0;
            if (run == n) at = k + 1 - n;
        }
        if (at == kNoSlot) return false;
        const bool pastEnd = at + n > end;
        std::memcpy(d.Slot(at), d.Slot(from), std::size_t(n) * 32);
        // The end mark moves behind the moved entries.
        if (pastEnd && at + n < d.Slots()) std::memset(d.Slot(at + n), 0, 32);
        for (uint32_t k = from; k <= to; ++k) d.Slot(k)[0] = kDeletedMark;
        return true;
    }

    // "." or ".." beyond the first two slots goes.
    bool DropStrayDot(const CheckFinding& f) {
        Dir d;
        if (!Load(f.folder, d) || f.slot >= d.Slots()) return false;
        uint8_t* e = d.Slot(f.slot);
        if (!IsDot(e, 1) && !IsDot(e, 2)) return false;
        e[0] = kDeletedMark;
        if (!Save(d)) return false;
        Done(f, 1517);
        return true;
    }

    // Entries after the end mark are taken into the folder: the end marks
    // before them become free slots, and what follows the last of them
    // stays behind a new end mark.
    bool TakeInAfterEnd(const CheckFinding& f) {
        Dir d;
        if (!Load(f.folder, d) || f.slot >= d.Slots()) return false;
        uint32_t last = f.slot;
        for (uint32_t k = f.slot; k < d.Slots(); ++k) {
            const uint8_t b = d.Slot(k)[0];
            if (b != 0 && b != kDeletedMark) last = k;
        }
        if (last == f.slot) return false;
        for (uint32_t k = f.slot; k < last; ++k)
            if (d.Slot(k)[0] == 0) d.Slot(k)[0] = kDeletedMark;
        if (!Save(d)) return false;
        Done(f, 1845);
        return true;
    }

    // An entry with the volume bit that is no label: one with data becomes
    // a file that keeps it, one without goes.
    bool MendLabelEntry(const CheckFinding& f) {
        Dir d;
        uint8_t* e = EntryOf(d, f.folder, f.slot);
        if (!e || !(e[11] & kAttrVolume)) return false;
        const bool data = First(e) != 0 || LE32(e + 28) != 0;
        if (data) e[11] = uint8_t((e[11] & ~kAttrVolume) | kAttrArchive);
        else Delete(d, f.slot);
        if (!Save(d)) return false;
        Done(f, data ? 1848 : 1517);
        return true;
    }

    // A long-name slot's type byte and first cluster are 0.
    bool MendSlotFields(const CheckFinding& f) {
        Dir d;
        if (!Load(f.folder, d) || f.slot >= d.Slots()) return false;
        uint8_t* e = d.Slot(f.slot);
        if ((e[11] & 0x3F) != kAttrLongName) return false;
        e[12] = 0;
        PutLE16(e + 26, 0);
        if (d.bytes == d.onDisk || !Save(d)) return false;
        Done(f, 1521);
        return true;
    }

    // The boot sector's copy of the label follows the root folder's entry
    // ("NO NAME" when it holds none), as DOS shows it.
    bool CopyLabelToBoot() {
        if (Human68k()) return false;
        Dir root;
        if (!Load(0, root)) return false;
        std::string label = "NO NAME    ";
        for (uint32_t i = 0; i < root.Slots() && root.Slot(i)[0] != 0; ++i) {
            const uint8_t* e = root.Slot(i);
            if (e[0] == kDeletedMark || (e[11] & 0x3F) == kAttrLongName) continue;
            if ((e[11] & kAttrVolume) && !(e[11] & kAttrDirectory) && First(e) == 0 && LE32(e + 28) == 0) {
                label.assign(reinterpret_cast<const char*>(e), 11);
                break;
            }
        }
        const uint32_t at = img_.Kind().bootLabelAt;
        if (!Flush()) return false;
        if (!img_.Device()->Write(int64_t(img_.DiskStart) + at, label.data(), 11)) return Failed();
        if (!Flush()) return false;
        std::string shown = label;
        shown.erase(shown.find_last_not_of(' ') + 1);
        Done(1849, {SjisToUtf8(shown)});
        return true;
    }

    bool ClearOrphans(const CheckFinding& f) {
        Dir d;
        if (f.slot == kNoSlot || !Load(f.folder, d)) return false;
        bool any = false;
        for (uint32_t k = f.slot; k < f.slot + f.at && k < d.Slots(); ++k) {
            uint8_t* e = d.Slot(k);
            if ((e[11] & 0x3F) != kAttrLongName || e[0] == 0 || e[0] == kDeletedMark) continue;
            e[0] = kDeletedMark;
            any = true;
        }
        if (!any || !Save(d)) return false;
        Done(f, 1850);
        return true;
    }

    // ---- names ---------------------------------------------------------

    std::u16string Folded(const std::string& sjis) { return FoldCase(Utf8ToUtf16(SjisToUtf8(sjis))); }

    // Every name of the folder but the entry at `skip`'s, folded.
    std::set<std::u16string> NamesBeside(Dir& d, uint32_t skip) {
        std::set<std::u16string> names;
        uint32_t count = 0;
        while (count < d.Slots() && d.Slot(count)[0] != 0) ++count;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* e = d.Slot(i);
            if (i == skip || e[0] == kDeletedMark || (e[11] & 0x3F) == kAttrLongName) continue;
            if ((e[11] & kAttrVolume) && !(e[11] & kAttrDirectory)) continue;
            names.insert(Folded(EntryStoredName(e, Human68k())));
            if (!Human68k())
                if (auto lfn = FindLongNameRun(d.bytes.data(), count, i)) names.insert(FoldCase(lfn->name));
        }
        return names;
    }

    // Bytes a name cannot hold become "_", lower case becomes upper on FAT.
    void CleanField(uint8_t* p, int n, bool isBase) {
        static const char kNeverDOS[] = "\"*,./:;<>?\\|";
        static const char kNeverHuman[] = "\"*/:<>?\\|.";
        const char* never = Human68k() ? kNeverHuman : kNeverDOS;
        for (int k = 0; k < n; ++k) {
            uint8_t b = p[k];
            if (isBase && k == 0 && b == kStoredE5) continue;
            if (IsSjisLeadByte(b) && k + 1 < n) {
                ++k;
                continue;
            }
            if (b < 0x20 || b == 0x7F || std::strchr(never, b)) p[k] = '_';
            else if (!Human68k() && b >= 'a' && b <= 'z') p[k] = uint8_t(b - 32);
        }
    }

    // A name for the entry that DOS or Human68k can hold and that no other
    // entry of the folder has: bad bytes replaced, "~n" added where taken.
    bool NewShortName(Dir& d, uint32_t slot) {
        uint8_t* e = d.Slot(slot);
        CleanField(e, 8, true);
        CleanField(e + 8, 3, false);
        if (Human68k() && e[7] != ' ') {
            int n = 0;
            while (n < 10 && e[12 + n] != 0) ++n;
            CleanField(e + 12, n, false);
        }
        if (e[0] == ' ') e[0] = '_';
        std::set<std::u16string> taken = NamesBeside(d, slot);
        uint8_t base[8];
        std::memcpy(base, e, 8);
        int len = 8;
        while (len > 0 && base[len - 1] == ' ') --len;
        for (uint32_t k = 1; taken.count(Folded(EntryStoredName(e, Human68k()))); ++k) {
            if (k > 999999) return false;
            const std::string tail = "~" + std::to_string(k);
            // The base as far as it fits, never cutting a double-byte character.
            const int room = std::min(len, 8 - int(tail.size()));
            int at = 0;
            while (at < room) {
                int w = IsSjisLeadByte(base[at]) ? 2 : 1;
                if (at + w > room) break;
                at += w;
            }
            std::memcpy(e, base, std::size_t(at));
            std::memcpy(e + at, tail.data(), tail.size());
            for (int i = at + int(tail.size()); i < 8; ++i) e[i] = ' ';
            if (Human68k()) std::memset(e + 12, 0, 10);
        }
        return true;
    }

    bool Rename(const CheckFinding& f) {
        Dir d;
        uint8_t* e = EntryOf(d, f.folder, f.slot);
        if (!e) return false;
        const std::string old = SjisToUtf8(EntryStoredName(e, Human68k()));
        if (f.longName) return RenameLong(f, d);
        uint32_t slotsFrom = Human68k() ? f.slot : OwnSlotsStart(d.bytes.data(), f.slot);
        if (!NewShortName(d, f.slot)) return false;
        e = d.Slot(f.slot);
        if (d.bytes == d.onDisk) return false;  // no better name to give
        // Its long-name slots follow the new 8.3 name.
        for (uint32_t k = slotsFrom; k < f.slot; ++k) d.Slot(k)[13] = LongNameChecksum(e);
        if (!Save(d)) return false;
        Done(f, 1506, {old, SjisToUtf8(EntryStoredName(e, Human68k()))});
        return true;
    }

    // A long name with "/" or "\" in it, or "." or "..", has those
    // characters replaced; one that another name of the folder equals
    // goes, and the entry is left with its 8.3 name.
    bool RenameLong(const CheckFinding& f, Dir& d) {
        uint32_t count = 0;
        while (count < d.Slots() && d.Slot(count)[0] != 0) ++count;
        auto run = FindLongNameRun(d.bytes.data(), count, f.slot);
        if (!run) return false;
        const std::string old = Utf16ToUtf8(run->name);
        const bool dots = run->name == u"." || run->name == u"..";
        std::u16string now = run->name;
        for (char16_t& ch : now)
            if (ch == u'/' || ch == u'\\' || ch < 0x20 || ch == 0x7F || (dots && ch == u'.')) ch = u'_';
        if (f.kind == CheckKind::InvalidName && !NamesBeside(d, f.slot).count(FoldCase(now)) &&
            LongNameSlotCount(now) == f.slot - run->first) {
            // The same number of slots, written afresh for the new name.
            std::vector<uint8_t> slots(std::size_t(f.slot - run->first) * 32);
            BuildLongNameSlots(now, d.Slot(f.slot), slots.data());
            std::memcpy(d.Slot(run->first), slots.data(), slots.size());
            if (!Save(d)) return false;
            Done(f, 1506, {old, Utf16ToUtf8(now)});
            return true;
        }
        for (uint32_t k = run->first; k < f.slot; ++k) d.Slot(k)[0] = kDeletedMark;
        if (!Save(d)) return false;
        Done(f, 1506, {old, SjisToUtf8(EntryStoredName(d.Slot(f.slot), Human68k()))});
        return true;
    }

    // ---- sizes and lost clusters ---------------------------------------

    bool MendSize(const CheckFinding& f) {
        Dir d;
        uint8_t* e = EntryOf(d, f.folder, f.slot);
        if (!e) return false;
        const uint32_t size = LE32(e + 28), first = First(e);
        if (e[11] & kAttrDirectory) {
            if (size == 0) return false;  // a folder too long for a folder stays as it is
            PutLE32(e + 28, 0);
            if (!Save(d)) return false;
            Done(f, 1520, {0u});
            return true;
        }
        if (first == 0) {
            PutLE32(e + 28, 0);
            if (!Save(d)) return false;
            Done(f, 1520, {0u});
            return true;
        }
        auto chain = img_.ReadChain(first);
        if (!chain) return false;
        const uint64_t want = (uint64_t(size) + img_.ClusterSize - 1) / img_.ClusterSize;
        if (chain->size() < want) {
            // The size shrinks to what the chain holds.
            uint64_t held = uint64_t(chain->size()) * img_.ClusterSize;
            PutLE32(e + 28, uint32_t(std::min<uint64_t>(held, UINT32_MAX)));
            if (!Save(d)) return false;
            Done(f, 1520, {uint32_t(LE32(e + 28))});
            return true;
        }
        if (chain->size() == want) return false;
        if (want == 0) {
            // The entry lets go of the chain first, then the chain is freed.
            SetFirst(e, 0);
            if (!Save(d)) return false;
            if (!img_.FreeChain(first)) return Failed();
        } else {
            DiskImage::FATBatch batch(img_);
            bool ok = img_.SetFATEntry((*chain)[want - 1], EndOfChain);
            for (std::size_t k = want; ok && k < chain->size(); ++k) ok = img_.SetFATEntry((*chain)[k], 0);
            if (!ok || !batch.Commit()) return Failed();
            Recount();
        }
        Done(f, 1518, {uint32_t(chain->size() - want)});
        return Flush();
    }

    // Lost clusters are freed, or (with --save) each lost chain is ended
    // where it stops being lost and becomes FILEnnnn.CHK in the root.
    bool MendLost(const CheckResult& r) {
        if (!opt_.save) {
            DiskImage::FATBatch batch(img_);
            bool ok = true;
            for (uint32_t c : r.lost) ok = ok && img_.SetFATEntry(c, 0);
            if (!ok || !batch.Commit()) return Failed();
            Recount();
            Done(1518, {uint32_t(r.lost.size())});
            return Flush();
        }
        std::unordered_set<uint32_t> lost(r.lost.begin(), r.lost.end()), linked;
        for (uint32_t c : r.lost) {
            uint32_t v = img_.GetFATEntry(c);
            if (lost.count(v)) linked.insert(v);
        }
        std::vector<uint32_t> heads;
        for (uint32_t c : r.lost)
            if (!linked.count(c)) heads.push_back(c);
        if (heads.empty()) heads.push_back(r.lost.front());  // lost clusters that only form loops
        std::unordered_set<uint32_t> seen;
        uint32_t saved = 0;
        for (uint32_t head : heads) {
            // The chain as long as it runs through lost clusters.
            ChainList chain;
            uint32_t c = head;
            while (lost.count(c) && seen.insert(c).second) {
                chain.push_back(c);
                uint32_t v = img_.GetFATEntry(c);
                if (v == EndOfChain) break;
                c = v;
            }
            if (chain.empty()) continue;
            if (img_.GetFATEntry(chain.back()) != EndOfChain && !img_.SetFATEntry(chain.back(), EndOfChain))
                return Failed();
            if (!Flush()) return false;
            std::string name;
            if (!SaveChain(chain.front(), uint32_t(chain.size()), name)) {
                if (!out_.writeFailed) Left(1533);
                return saved > 0;
            }
            ++saved;
            Done(1516, {name, uint32_t(chain.size())});
        }
        return saved > 0;
    }

    // A root entry FILEnnnn.CHK for a chain.
    bool SaveChain(uint32_t first, uint32_t clusters, std::string& name) {
        Dir d;
        if (!Load(0, d)) return false;
        std::set<std::u16string> taken = NamesBeside(d, kNoSlot);
        uint32_t free = kNoSlot;
        for (uint32_t i = 0; i < d.Slots() && free == kNoSlot; ++i)
            if (d.Slot(i)[0] == 0 || d.Slot(i)[0] == kDeletedMark) free = i;
        if (free == kNoSlot) return false;
        for (uint32_t n = 0; n < 10000 && name.empty(); ++n) {
            char b[16];
            std::snprintf(b, sizeof b, "FILE%04u.CHK", n);
            if (!taken.count(Folded(b))) name = b;
        }
        if (name.empty()) return false;
        uint8_t* e = d.Slot(free);
        const bool wasEnd = e[0] == 0;
        std::memset(e, 0, 32);
        std::memcpy(e, name.data(), 8);
        std::memcpy(e + 8, "CHK", 3);
        e[11] = kAttrArchive;
        SetFirst(e, first);
        PutLE32(e + 28, uint32_t(std::min<uint64_t>(uint64_t(clusters) * img_.ClusterSize, UINT32_MAX)));
        // An end marker taken: what follows it was never read, and stays so.
        if (wasEnd && free + 1 < d.Slots()) std::memset(d.Slot(free + 1), 0, 32);
        return Save(d);
    }

    bool MarkClosed() {
        const FATKindRow& fat = img_.Kind();
        uint8_t b = uint8_t(img_.FATTable()[fat.closedAt] | fat.closedMask);
        if (!img_.WriteFATBytes(fat.closedAt, &b, 1)) return Failed();
        if (!Flush()) return false;
        Done(1504);
        return true;
    }

    DiskImage& img_;
    const RepairOptions& opt_;
    RepairOutcome& out_;
};

}  // namespace

unsigned RepairRefusal(DiskImage& image, const CheckResult& check) {
    if (image.FATType == kFAT32) return 1509;
    if (image.IsReadOnly()) return 1510;
    if (check.Count(CheckKind::Truncated)) return 1511;
    if (!check.complete) return 1522;
    return 0;
}

std::vector<RepairStep> PlanRepair(const CheckResult& check, const RepairOptions& options) {
    std::vector<RepairStep> plan;
    for (const CheckFinding& f : check.findings)
        plan.push_back({f.kind, f.text, FindingText(f, Language::English), PlanFor(f, options)});
    return plan;
}

RepairOutcome RepairVolume(DiskImage& image, const RepairOptions& options) {
    RepairOutcome out;
    Repairer(image, options, out).Run();
    out.plan = PlanRepair(out.before, options);
    return out;
}
