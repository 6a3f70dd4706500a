#include "volume/deleter.h"

#include <algorithm>
#include <set>
#include <unordered_set>

#include "device/messages.h"
#include "device/userinterface.h"
#include "volume/didir.h"
#include "volume/diskimage.h"

// ---- who owns which cluster -------------------------------------------------

bool ClusterUse::Build() {
    owner_.assign(image_.ClusterLimit(), 0);
    further_.clear();
    owners_.assign(1, {0, ""});
    places_.clear();
    const uint32_t root = image_.FATType == kFAT32 ? image_.RootDir : 0;
    if (root != 0) {
        owners_.push_back({0, ""});
        Claim(1, root);
    }
    struct Pending {
        uint32_t cluster;
        uint32_t owner;  // of the folder's entry; 0 for the root
    };
    std::vector<Pending> stack{{0, 0}};
    std::unordered_set<uint32_t> entered;
    bool first = true;
    while (!stack.empty()) {
        Pending f = stack.back();
        stack.pop_back();
        DIDir dir(&image_, f.cluster);
        if (!dir.Load(true)) {
            if (first) return false;
            continue;  // its entries stay unknown
        }
        first = false;
        for (uint32_t k = 0; k < dir.GetCount(); ++k) {
            int i = int(k);
            if (dir.IsFree(i) || dir.IsDotEntry(i)) continue;
            uint8_t attr = dir.GetAttr(i);
            if ((attr & kAttrVolume) && !(attr & kAttrDirectory)) continue;  // labels and long-name slots
            int64_t start = dir.GetStartCluster(i);
            uint32_t c = start < 2 ? 0 : uint32_t(start);
            uint32_t id = uint32_t(owners_.size());
            owners_.push_back({f.owner, dir.GetNameUtf8(i)});
            places_[Place(f.cluster, i)] = id;
            if (c == 0) continue;
            Claim(id, c);
            if ((attr & kAttrDirectory) && c != root && entered.insert(c).second) stack.push_back({c, id});
        }
    }
    return true;
}

void ClusterUse::Claim(uint32_t id, uint32_t first) {
    // Every cluster is met at most once by one owner: a chain that comes
    // back to itself ends there.
    for (uint32_t c = first, steps = 0; c >= 2 && c < owner_.size() && steps < owner_.size(); ++steps) {
        if (owner_[c] == 0) {
            owner_[c] = id;
        } else {
            if (owner_[c] == id) return;
            auto& more = further_[c];
            if (std::find(more.begin(), more.end(), id) != more.end()) return;
            more.push_back(id);
        }
        uint32_t next = image_.GetFATEntry(c);
        if (next == EndOfChain || next == BadEntry || next == 0) return;
        c = next;
    }
}

uint32_t ClusterUse::OwnerAt(uint32_t folder, int index) const {
    auto it = places_.find(Place(folder, index));
    return it == places_.end() ? 0 : it->second;
}

void ClusterUse::ForgetPlace(uint32_t folder, int index) { places_.erase(Place(folder, index)); }

void ClusterUse::TakeOff(uint32_t id, uint32_t first, std::vector<uint32_t>& walked) {
    std::unordered_set<uint32_t> met;
    for (uint32_t c = first; c >= 2 && c < image_.ClusterLimit() && met.insert(c).second;) {
        walked.push_back(c);
        if (id != 0 && c < owner_.size()) {
            auto more = further_.find(c);
            if (owner_[c] == id) {
                if (more == further_.end()) {
                    owner_[c] = 0;
                } else {
                    owner_[c] = more->second.back();
                    more->second.pop_back();
                }
            } else if (more != further_.end()) {
                auto& list = more->second;
                list.erase(std::remove(list.begin(), list.end(), id), list.end());
            }
            if (more != further_.end() && more->second.empty()) further_.erase(more);
        }
        uint32_t next = image_.GetFATEntry(c);
        if (next == EndOfChain || next == BadEntry || next == 0) return;
        c = next;
    }
}

bool ClusterUse::ReachedBeyond(uint32_t c, const std::unordered_set<uint32_t>& owners) const {
    if (c >= owner_.size() || owner_[c] == 0) return false;
    if (!owners.count(owner_[c])) return true;
    auto more = further_.find(c);
    if (more == further_.end()) return false;
    for (uint32_t id : more->second)
        if (!owners.count(id)) return true;
    return false;
}

std::string ClusterUse::OwnerPath(uint32_t c) const {
    if (c >= owner_.size() || owner_[c] == 0) return "";
    return PathOf(owner_[c]);
}

std::string ClusterUse::PathOf(uint32_t id) const {
    if (id == 0 || id >= owners_.size()) return "";
    constexpr std::size_t kLongest = 1024;
    std::string path;
    for (uint32_t k = id; k != 0; k = owners_[k].parent) {
        if (path.size() > kLongest) return "..." + path;
        path = "/" + owners_[k].name + path;
    }
    return path.empty() ? "/" : path;
}

// ---- freeing -----------------------------------------------------------------

namespace {

// A chain given up by an entry: its owner number (0: not known to the
// map, as for entries made since it was walked) and where it starts.
struct GivenUp {
    uint32_t id;
    uint32_t first;
    const std::string* path;  // for the message when clusters are kept and the map does not know the entry
};

// Frees, in one FAT batch, the clusters of the given-up chains that no
// entry reaches any more; names the kept ones (1460). False when the FAT
// could not be written.
bool FreeGivenUp(DiskImage& image, ClusterUse& use, const std::vector<GivenUp>& chains) {
    std::vector<std::vector<uint32_t>> walked(chains.size());
    for (std::size_t k = 0; k < chains.size(); ++k) use.TakeOff(chains[k].id, chains[k].first, walked[k]);
    std::set<uint32_t> free;
    std::set<std::string> told;
    for (std::size_t k = 0; k < chains.size(); ++k) {
        std::string other;
        for (uint32_t c : walked[k]) {
            if (use.Unowned(c)) free.insert(c);
            else if (other.empty()) other = use.OwnerPath(c);
        }
        if (other.empty()) continue;
        std::string mine = chains[k].id ? use.PathOf(chains[k].id) : *chains[k].path;
        if (told.insert(mine).second) ShowMessage(1460, mine, other);
    }
    if (free.empty()) return true;
    DiskImage::FATBatch batch(image);
    for (uint32_t c : free) {
        if (image.GetFATEntry(c) == 0) continue;  // already free (a chain that ran into a free entry)
        if (!image.SetFATEntry(c, 0)) return false;
        ++image.FreeClusters;
    }
    image.NextFree = std::min(image.NextFree, *free.begin());
    return batch.Commit();
}

// An entry that goes, found before anything changes.
struct Item {
    uint32_t folder;
    int index;
    uint32_t id, first;
    bool isDir, freeable;
    int parent;  // the folder item that holds it, -1 for a target
    std::string path;
};

void ShowProgress(std::size_t total, std::size_t done, const std::string& name) {
    UI().SetStatusText(1, ResourceString().LoadMessage(1462, name));
    if (done % 64 == 0 || done == total)
        UI().SetStatusText(0, ResourceString().LoadMessage(1461, int(total), int(done)));
}

}  // namespace

bool DeleteBatch(DiskImage& image, const std::vector<DeleteTarget>& targets, bool release, DeleteStop* stop) {
    DeleteStop none = DeleteStop::kNone;
    DeleteStop& why = stop ? *stop : none;
    why = DeleteStop::kNone;
    auto stopped = [&why](DeleteStop s) {
        why = s;
        return false;
    };
    if (image.IsReadOnly()) return stopped(DeleteStop::kReadOnly);
    // The entries that really go, each once, in the order given.
    std::vector<DeleteTarget> work;
    std::set<std::pair<DIDir*, int>> seen;
    for (const DeleteTarget& t : targets) {
        DIDir& d = *t.dir;
        if (!d.IsValidIndex(t.index) || d.IsFree(t.index) || d.IsDotEntry(t.index)) continue;
        if ((d.GetAttr(t.index) & kAttrVolume)) continue;
        if (seen.insert({t.dir, t.index}).second) work.push_back(t);
    }
    if (work.empty()) return true;

    ClusterUse* use = nullptr;
    std::vector<GivenUp> chains;
    std::vector<Item> itemsKeep;  // what `chains` points into
    if (!release) {
        use = image.Owners();
        if (!use) {
            ShowMessage(111, work.front().path);
            return stopped(DeleteStop::kUnreadable);
        }
        // Everything below the folders, read before anything changes.
        std::vector<std::vector<DIDir::TreeEntry>> trees(work.size());
        for (std::size_t k = 0; k < work.size(); ++k) {
            // Reading the trees is the long part: the progress follows it.
            ShowProgress(work.size(), k + 1, work[k].path);
            DIDir& d = *work[k].dir;
            if (!(d.GetAttr(work[k].index) & kAttrDirectory)) continue;
            int64_t start = d.GetStartCluster(work[k].index);
            bool loop = start < 2;
            if (loop) ShowMessage(128);
            if (loop || !d.CollectTree(uint32_t(start), trees[k], &loop)) {
                // A loop says enough; a folder that cannot be read is named.
                if (!loop) ShowMessage(111, work[k].path);
                return stopped(loop ? DeleteStop::kLoop : DeleteStop::kUnreadable);
            }
        }
        // Every entry that goes: the targets and everything below them,
        // parents before children.
        std::vector<Item> items;
        for (std::size_t k = 0; k < work.size(); ++k) {
            DIDir& d = *work[k].dir;
            const int i = work[k].index;
            int64_t start = d.GetStartCluster(i);
            bool isDir = d.GetAttr(i) & kAttrDirectory;
            uint32_t first = start < 2 ? 0 : uint32_t(start);
            // Files of no size keep whatever their entry points at, except
            // on Human68k, where some formatters give an empty file one
            // cluster of its own.
            const bool human = image.FileSystem == kFileSystemHuman68k;
            items.push_back({d.GetCluster(), i, use->OwnerAt(d.GetCluster(), i), first, isDir,
                             isDir || human || d.GetSize(i) != 0, -1, work[k].path});
            const int base = int(items.size()) - 1;
            for (const auto& t : trees[k]) {
                uint32_t id = use->OwnerAt(t.folder, t.index);
                items.push_back({t.folder, t.index, id, t.first, t.isDir, t.isDir || human || t.size != 0,
                                 base + 1 + t.parent, work[k].path});
            }
        }
        // A folder that an entry outside the batch still reaches (a folder
        // in two places) keeps everything in it.
        std::unordered_set<uint32_t> going;
        for (const Item& it : items)
            if (it.id) going.insert(it.id);
        std::vector<char> kept(items.size(), 0);
        for (bool changed = true; changed;) {
            changed = false;
            for (std::size_t n = 0; n < items.size(); ++n) {
                int p = items[n].parent;
                if (kept[n] || p < 0) continue;
                if (kept[std::size_t(p)] || use->ReachedBeyond(items[std::size_t(p)].first, going)) {
                    kept[n] = 1;
                    going.erase(items[n].id);
                    changed = true;
                }
            }
        }
        for (std::size_t n = 0; n < items.size(); ++n) {
            if (kept[n]) continue;
            use->ForgetPlace(items[n].folder, items[n].index);
            if (items[n].first >= 2 && items[n].freeable)
                chains.push_back({items[n].id, items[n].first, &items[n].path});
        }
        itemsKeep.swap(items);
    } else {
        // Released clusters are reached by nothing: a later walk finds them
        // so, where the one made so far would still count their owners.
        image.ForgetOwners();
    }

    // The entries first, every changed directory cluster once.
    std::vector<DIDir*> dirs;
    std::size_t done = 0;
    for (const DeleteTarget& t : work) {
        if (release) ShowProgress(work.size(), ++done, t.path);
        t.dir->Release(t.index);
        if (std::find(dirs.begin(), dirs.end(), t.dir) == dirs.end()) dirs.push_back(t.dir);
    }
    for (DIDir* d : dirs) {
        if (!d->Write()) {
            // What the device holds is what the folder is.
            static_cast<void>(d->Load());
            image.ForgetOwners();
            ShowMessage(111, work.front().path);
            return stopped(DeleteStop::kFolderWrite);
        }
    }
    if (!image.Flush()) {
        image.ForgetOwners();
        ShowMessage(1213, image.Device()->GetPath());
        return stopped(DeleteStop::kFlush);
    }
    // A released folder stays in the tree shown: its clusters are still there.
    if (release) return true;
    for (const DeleteTarget& t : work)
        if (t.dir->GetAttr(t.index) & kAttrDirectory) UI().FolderRemoved(uint32_t(t.dir->GetStartCluster(t.index)));

    // Then the chains, with the FAT written once.
    if (!FreeGivenUp(image, *use, chains)) {
        image.ForgetOwners();
        ShowMessage(111, work.front().path);
        return stopped(DeleteStop::kFatWrite);
    }
    if (!image.Flush()) {
        ShowMessage(1213, image.Device()->GetPath());
        return stopped(DeleteStop::kFlush);
    }
    UI().FreeSpaceChanged();
    return true;
}

bool FreeReplacedChain(DiskImage& image, uint32_t folder, int index, uint32_t first, const std::string& path) {
    ClusterUse* use = image.Owners();
    if (!use) return false;
    std::vector<GivenUp> chains{{use->OwnerAt(folder, index), first, &path}};
    if (!FreeGivenUp(image, *use, chains)) {
        image.ForgetOwners();
        return false;
    }
    return true;
}
