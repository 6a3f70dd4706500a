// A whole volume over arbitrary bytes: mount, list every folder, follow
// every chain, read the clusters, and change it (a folder, a file, a
// delete) the way the commands do.
#include <vector>

#include "fuzz_support.h"
#include "shell/listing.h"
#include "volume/didir.h"

namespace {

void Walk(DiskImage& image, uint32_t cluster, int depth, std::vector<uint32_t>& open) {
    if (depth > 8) return;
    DIDir d(&image, cluster);
    if (!d.Load()) return;
    MakeListingText(d, ListedEntries(d));
    std::vector<uint8_t> buffer(image.ClusterSize);
    for (uint32_t i = 0; i < d.GetCount(); ++i) {
        int k = int(i);
        if (d.IsFree(k) || d.GetDisplayName(k)[0] == '.') continue;
        d.FindName(d.GetNameUtf8(k));
        int64_t start = d.GetStartCluster(k);
        if (start >= 2) {
            if (auto chain = image.ReadChain(uint32_t(start)))
                for (std::size_t c = 0; c < chain->size() && c < 64; ++c)
                    if (!image.ReadCluster((*chain)[c], buffer.data())) break;
        }
        if ((d.GetAttr(k) & kAttrDirectory) && start >= 2) {
            bool seen = false;
            for (uint32_t o : open) seen |= o == uint32_t(start);
            if (seen) continue;
            open.push_back(uint32_t(start));
            Walk(image, uint32_t(start), depth + 1, open);
            open.pop_back();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QuietInterface ui;
    ScopedUserInterface scope(&ui);
    DiskImage image;
    if (!MountBytes(data, size, kFileSystemDOS, image)) return 0;
    std::vector<uint32_t> open{0};
    Walk(image, 0, 0, open);
    DIDir root(&image, 0);
    if (root.Load()) {
        int j = root.MakeDir("FUZZDIR");
        int f = root.AddEntry("fuzz.txt");
        if (f >= 0) {
            if (auto c = image.AllocateChain(3000)) {
                root.SetStartCluster(f, c->front());
                root.SetSize(f, 3000);
            }
        }
        int l = root.AddNamed("A long name, fuzzed.txt");
        // Each change stops the run at its first failure, as the program does.
        if (l >= 0 && !root.Rename(l, "x")) return 0;
        if (root.GetCount() > 0 && !root.Rename(0, "Another long name that needs two slots.bin")) return 0;
        if (j >= 0 && !root.Delete(j)) return 0;
        for (uint32_t i = 0; i < root.GetCount() && i < 4; ++i)
            if (!root.Delete(int(i))) return 0;
        if (!root.Write()) return 0;
    }
    return 0;
}
