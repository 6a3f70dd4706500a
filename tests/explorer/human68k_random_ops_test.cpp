#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <random>
#include <sys/stat.h>

#include "support/images.h"
#include "support/random_ops.h"
#include "volume/fsck/checker.h"
#include "volume/didir.h"

namespace {

// The folders of the volume, walked without recursion; a folder met twice
// is not entered again.
std::vector<uint32_t> Folders(DiskImage& image) {
    std::vector<uint32_t> out{0}, stack{0};
    while (!stack.empty()) {
        uint32_t c = stack.back();
        stack.pop_back();
        DIDir d(&image, c);
        if (!d.Load()) continue;
        for (uint32_t i = 0; i < d.GetCount(); ++i) {
            int k = int(i);
            if (!IsOrdinary(d, k) || !(d.GetAttr(k) & kAttrDirectory)) continue;
            uint32_t sub = uint32_t(d.GetStartCluster(k));
            if (std::find(out.begin(), out.end(), sub) != out.end()) continue;
            out.push_back(sub);
            stack.push_back(sub);
        }
    }
    return out;
}

// Every file of the volume read back through its chain must be, byte for
// byte, one of the host files it can have come from. Returns the number of
// files compared.
int CrossCheckContents(DiskImage& image, const std::multimap<std::size_t, std::vector<uint8_t>>& sources,
                       const std::string& when) {
    int compared = 0;
    std::vector<uint8_t> buffer;
    for (uint32_t folder : Folders(image)) {
        DIDir d(&image, folder);
        EXPECT_TRUE(d.Load()) << when;
        for (int k : LiveEntries(d)) {
            if (d.GetAttr(k) & kAttrDirectory) continue;
            uint32_t size = d.GetSize(k);
            buffer.clear();
            if (size > 0) {
                auto chain = image.ReadChain(uint32_t(d.GetStartCluster(k)));
                if (!chain) {
                    ADD_FAILURE() << when << ": " << d.GetDisplayName(k) << " has no chain";
                    continue;
                }
                buffer.resize(chain->size() * image.ClusterSize);
                for (std::size_t c = 0; c < chain->size(); ++c)
                    EXPECT_TRUE(image.ReadCluster((*chain)[c], buffer.data() + c * image.ClusterSize));
                buffer.resize(size);
            }
            bool found = false;
            auto range = sources.equal_range(size);
            for (auto it = range.first; it != range.second && !found; ++it) found = it->second == buffer;
            EXPECT_TRUE(found) << when << ": " << d.GetDisplayName(k) << " (" << size
                               << " bytes) matches no host file";
            ++compared;
        }
    }
    return compared;
}

struct SoakCase {
    const char* name;
    Human68kLayout layout;
};
void PrintTo(const SoakCase& c, std::ostream* os) { *os << c.name; }

class Human68kRandomOpsTest : public ::testing::TestWithParam<SoakCase> {};

// Thousands of random imports, folder creations, deletions, moves, renames
// and releases on Human68k volumes; the checker looks at the volume after
// every operation (nothing but the clusters that releases leave may show),
// and every file is read back now and then and compared with its source.
TEST_P(Human68kRandomOpsTest, ThousandsOfOperationsKeepTheVolumeSound) {
    const SoakCase& sc = GetParam();
    RandomUI ui{uint32_t(sc.layout.totalSectors)};
    ScopedUserInterface scope(&ui);
    TempDir dir;
    std::string image = dir / "v.hds";
    WriteHostFile(image, BuildHuman68kImage(sc.layout));
    std::mt19937 rng(sc.layout.totalSectors * 31u);

    // Host files with names only Human68k keeps whole: lower case, up to 18
    // characters before the extension, Shift-JIS.
    std::vector<std::string> pool;
    std::multimap<std::size_t, std::vector<uint8_t>> sources;
    std::string host = dir / "host";
    mkdir(host.c_str(), 0755);
    const char* names[] = {"file%d.txt", "a_rather_long_name_%d.bin", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E%d.doc",
                           "Mixed.Case.%d.c"};
    for (int k = 0; k < 12; ++k) {
        char name[64];
        std::snprintf(name, sizeof name, names[k % 4], k);
        std::string p = host + "/" + name;
        std::size_t size = k == 0 ? 0 : (rng() % 6 == 0 ? 30000 : rng() % 5000);
        auto bytes = RandomBytes(size, uint32_t(k) + 100);
        WriteHostFile(p, bytes);
        sources.emplace(size, bytes);
        pool.push_back(p);
    }
    std::string tree = host + "/tree";
    mkdir(tree.c_str(), 0755);
    mkdir((tree + "/leaf_folder_long").c_str(), 0755);
    auto leaf = RandomBytes(3000, 99);
    WriteHostFile(tree + "/leaf_folder_long/x.dat", leaf);
    sources.emplace(leaf.size(), leaf);
    pool.push_back(tree);

    const int kOps = 3000, kCompareEvery = 50;
    int checks = 0, compared = 0, releases = 0;
    uint32_t lost = 0;
    for (int step = 1; step <= kOps; ++step) {
        int op = int(rng() % 10);
        bool released = false;
        {  // the operation, on a mount of its own
            Mounted m = MountImageFile(image, 0, kFileSystemHuman68k);
            ASSERT_TRUE(m) << step;
            std::vector<uint32_t> folders = Folders(*m.image);
            uint32_t here = folders[rng() % folders.size()];
            DIDir d(m.image.get(), here);
            ASSERT_TRUE(d.Load()) << step;
            if (RunRandomOperation(d, op, rng, pool, folders, {"folder_", "renamed_entry_", ".x"})) {
                released = true;
                ++releases;
            }
        }
        // The volume as the device holds it, mounted afresh. Only a release
        // may leave clusters that no entry reaches; every other operation
        // keeps their number as it was.
        Mounted m = MountImageFile(image, 0, kFileSystemHuman68k);
        ASSERT_TRUE(m) << step;
        ++checks;
        CheckResult r = CheckVolume(*m.image);
        ASSERT_TRUE(r.OnlyLostClusters()) << "after step " << step << " (operation " << op << "):\n" << r.Report();
        if (released) EXPECT_GE(r.lostClusters, lost) << step;
        else ASSERT_EQ(r.lostClusters, lost) << "after step " << step << " (operation " << op << ")";
        lost = r.lostClusters;
        if (step % kCompareEvery == 0 || step == kOps)
            compared += CrossCheckContents(*m.image, sources, "after step " + std::to_string(step));
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(checks, kOps);
    EXPECT_GT(releases, 0);
    EXPECT_GT(compared, kOps / kCompareEvery) << "the volume never held files";
    for (const auto& b : ui.boxes) {
        EXPECT_EQ(b.text.find("Μη έγκυρη αλυσίδα"), std::string::npos);
        EXPECT_EQ(b.text.find("FAT"), std::string::npos) << b.text;
    }
    std::cout << sc.name << ": " << kOps << " operations, " << checks << " checks, " << compared
              << " file comparisons, " << releases << " releases leaving " << lost << " lost clusters\n";
}

Human68kLayout Floppy2HD() {
    Human68kLayout l;
    l.rootEntries = 192;
    l.sectorsPerFAT = 2;
    l.totalSectors = 1232;
    return l;
}

INSTANTIATE_TEST_SUITE_P(Layouts, Human68kRandomOpsTest,
                         ::testing::Values(SoakCase{"FAT16 hard disk", Human68kLayout()},
                                           SoakCase{"FAT12 2HD floppy", Floppy2HD()}),
                         [](const auto& info) { return info.index == 0 ? "HardDisk" : "Floppy"; });

}  // namespace
