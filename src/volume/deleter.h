#pragma once
// Deleting many entries at once, and never freeing what another entry
// still uses.
//
// A volume left by a stopped move holds one entry in two folders, both
// pointing at the same chain; a damaged one may have chains that meet. A
// delete frees only the clusters that no entry left standing reaches: the
// owners of every cluster are known from one walk of all folders
// (ClusterUse), made before the first cluster of a command is freed and
// kept while nothing but deletes and replaces change the volume.
//
// The order of a batch: every changed directory cluster is written once,
// then one flush; then the chains are freed with every FAT part written
// once, then one flush. A stop at any write leaves the deleted entries
// gone or still there, and at worst clusters that no entry reaches.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class DiskImage;
class DIDir;

// Which entries reach each cluster of a volume.
class ClusterUse {
public:
    explicit ClusterUse(DiskImage& image) : image_(image) {}

    // Walks every folder from the root, each folder once. False when the
    // root folder cannot be read.
    bool Build();

    // The owner number of the entry at index `index` of the folder whose
    // first cluster is `folder` (0: the root), or 0 when it is not known.
    uint32_t OwnerAt(uint32_t folder, int index) const;
    // Forgets the place of the entry there (it was deleted or released).
    void ForgetPlace(uint32_t folder, int index);
    // Takes owner `id` off the clusters of the chain from `first`; each
    // cluster of the chain is added to `walked`.
    void TakeOff(uint32_t id, uint32_t first, std::vector<uint32_t>& walked);
    // True when no known entry reaches cluster c.
    bool Unowned(uint32_t c) const { return c >= owner_.size() || owner_[c] == 0; }
    // The path of an entry that reaches cluster c ("" when none does).
    std::string OwnerPath(uint32_t c) const;
    // The path of owner `id` (a very deep one keeps its last part).
    std::string PathOf(uint32_t id) const;
    // True when an owner of cluster c is not among `owners`.
    bool ReachedBeyond(uint32_t c, const std::unordered_set<uint32_t>& owners) const;

private:
    struct Owner {
        uint32_t parent;   // the owner of the folder that holds the entry (0: the root)
        std::string name;  // UTF-8; the path is built when a message needs it
    };
    void Claim(uint32_t id, uint32_t first);
    static uint64_t Place(uint32_t folder, int index) { return uint64_t(folder) << 32 | uint32_t(index); }

    DiskImage& image_;
    std::vector<uint32_t> owner_;                                  // by cluster: an owner, 0 for none
    std::unordered_map<uint32_t, std::vector<uint32_t>> further_;  // clusters of more than one owner
    std::vector<Owner> owners_;                                    // by owner number; 0 is nobody
    std::unordered_map<uint64_t, uint32_t> places_;                // folder and index -> owner
};

// One entry to delete: its folder (loaded; written by the batch) and index,
// and its path as messages show it.
struct DeleteTarget {
    DIDir* dir;
    int index;
    std::string path;
};

// Deletes the entries (folders with everything below them) in one batch,
// or with `release` only unlinks them and leaves their clusters
// allocated. Labels and "." / ".." are passed over. A folder whose tree
// meets a folder twice stops the batch with 128 before anything changes;
// an entry that cannot be deleted stops it with 111. Clusters still
// reached by another entry stay allocated: 1460 names both. Progress goes
// to the status panels (1461). True when every entry was deleted; else
// `stop`, when given, receives why the batch stopped.
enum class DeleteStop {
    kNone,
    kReadOnly,     // the volume takes no changes (nothing is told)
    kLoop,         // a folder's tree meets a folder twice (128)
    kUnreadable,   // the folders could not be read (111)
    kFolderWrite,  // a folder without the entries could not be written (111)
    kFlush,        // the written entries or FAT could not be made durable (1213)
    kFatWrite,     // the freed chains could not be written to the FAT (111)
};
[[nodiscard]] bool DeleteBatch(DiskImage& image, const std::vector<DeleteTarget>& targets, bool release = false,
                               DeleteStop* stop = nullptr);

// Frees the chain from `first` that the entry at `index` of `folder` (its
// path `path`) no longer uses, as a replace does with the old data: only
// clusters that no other entry reaches are freed (1460 for the rest). The
// caller flushes.
[[nodiscard]] bool FreeReplacedChain(DiskImage& image, uint32_t folder, int index, uint32_t first,
                                     const std::string& path);
