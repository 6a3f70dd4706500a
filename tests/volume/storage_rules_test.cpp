// Layouts refused at mount, cluster numbers a FAT kind cannot hold, and the
// rules of directory storage: the end marker, "..", long-name slots.

#include <gtest/gtest.h>

#include <cstring>

#include "support/memvolume.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"
#include "volume/longnames.h"

namespace {

const char* const kBadBoot = "[Εσφαλμένη boot εγγραφή]\nΕσφαλμένη boot εγγραφή\nΚάποιες παράμετροι ίσως δεν ταιριάζουν";

class LayoutTest : public ::testing::Test, public UITest {};

TEST_F(LayoutTest, OverlappingRegionsAreRefused) {
    {
        MemVolume v(kFAT12);
        v.params.FAT = 0;  // no reserved sector: the FAT over the boot record
        EXPECT_FALSE(v.Mount());
    }
    {
        MemVolume v(kFAT16);
        v.params.RootDir = uint32_t(v.params.FAT + v.params.FATSize);  // the root over the second FAT copy
        EXPECT_FALSE(v.Mount());
    }
    {
        MemVolume v(kFAT16);
        v.params.UserArea = int32_t(v.params.RootDir) - 32;  // clusters before the root region ends
        EXPECT_FALSE(v.Mount());
    }
    EXPECT_EQ(ui.Texts(), std::vector<std::string>(3, kBadBoot));
}

TEST_F(LayoutTest, AFatLargerThanTheDeviceIsRefusedBeforeAnythingIsAllocated) {
    // 16 MiB of FAT claimed on a device of a few KiB.
    MemVolume v(kFAT16, 0, 100, 1 << 24);
    v.dev->data.resize(4096);
    EXPECT_FALSE(v.Mount());
    EXPECT_TRUE(v.image.FATTable().empty()) << "no table was allocated";
    EXPECT_EQ(ui.Texts().back(), kBadBoot);
}

TEST_F(LayoutTest, ClusterNumbersStopBeforeTheReservedValues) {
    // A FAT12 label that claims 5000 clusters: only 2 .. 0xFF6 can be numbered.
    MemVolume v(kFAT12, 0, 5000, 8192);
    ASSERT_TRUE(v.Mount());
    EXPECT_TRUE(v.image.ClustersLimited());
    EXPECT_EQ(v.image.ClusterLimit(), 0xFF7u);
    EXPECT_EQ(v.image.FreeClusters, 0xFF5u);
    auto all = v.image.AllocateChain(0xFF5u * 512);
    ASSERT_TRUE(all);
    EXPECT_EQ(*std::max_element(all->begin(), all->end()), 0xFF6u);
    EXPECT_FALSE(v.image.AllocateChain(1)) << "nothing is left below 0xFF7";
    auto read = v.image.ReadChain(all->front());
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, *all) << "every cluster handed out reads back as its chain";

    MemVolume h(kFAT16, 0, 70000, 140100);
    ASSERT_TRUE(h.Mount());
    EXPECT_EQ(h.image.ClusterLimit(), 0xFFF7u);
    MemVolume fine(kFAT16, 0, 100);
    ASSERT_TRUE(fine.Mount());
    EXPECT_FALSE(fine.image.ClustersLimited());
}

// A root region of 16 entries written byte by byte.
class StorageTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override { ASSERT_TRUE(v.Mount()); }
    uint8_t* Slot(int i) { return v.dev->data.data() + v.params.RootDir + i * 32; }
    void Put(int i, const char* name11, uint8_t attr, uint16_t cluster = 0, uint32_t size = 0) {
        uint8_t* e = Slot(i);
        std::memset(e, 0, 32);
        std::memcpy(e, name11, 11);
        e[11] = attr;
        e[26] = uint8_t(cluster);
        e[27] = uint8_t(cluster >> 8);
        std::memcpy(e + 28, &size, 4);
    }
    // A long-name slot for the 8.3 name `owner`.
    void PutSlot(int i, const char* owner, uint8_t order) {
        uint8_t* e = Slot(i);
        std::memset(e, 0xFF, 32);
        e[0] = order;
        e[11] = kAttrLongName;
        e[12] = 0;
        e[13] = LongNameChecksum(reinterpret_cast<const uint8_t*>(owner));
        e[26] = e[27] = 0;
    }
    DIDir Root() {
        DIDir d(&v.image, 0);
        EXPECT_TRUE(d.Load());
        return d;
    }
    MemVolume v{kFAT16};
};

TEST_F(StorageTest, TheEndMarkerMovesOnSoThatStaleEntriesStayBuried) {
    Put(0, "A       TXT", kAttrArchive);
    // Slot 1 is the end marker; slot 2 holds what an old directory left.
    Put(2, "STALE   TXT", kAttrArchive, 5, 100);
    DIDir d = Root();
    ASSERT_EQ(d.GetCount(), 1u);
    int i = d.AddEntry("NEW.TXT");
    EXPECT_EQ(i, 1);
    ASSERT_TRUE(d.Write());
    EXPECT_EQ(Slot(2)[0], 0) << "the slot after the new entry ends the folder";
    DIDir again = Root();
    EXPECT_EQ(again.GetCount(), 2u);
    EXPECT_LT(again.Find("STALE.TXT"), 0);
}

TEST_F(StorageTest, DeleteRenameReleaseAndMoveTakeTheirLongNameSlots) {
    const char* names[] = {"FILE1   TXT", "FILE2   TXT", "FILE3   TXT", "FILE4   TXT"};
    // Each file has two slots; FILE4 has one slot of another name before its own.
    for (int k = 0; k < 3; ++k) {
        PutSlot(k * 3, names[k], 0x42);
        PutSlot(k * 3 + 1, names[k], 0x01);
        Put(k * 3 + 2, names[k], kAttrArchive);
    }
    PutSlot(9, "OTHER   TXT", 0x41);
    PutSlot(10, names[3], 0x41);
    Put(11, names[3], kAttrArchive);
    ASSERT_TRUE(v.image.AllocateChain(512));  // something for the folder to move into
    DIDir d = Root();
    int dest = d.MakeDir("DEST");
    ASSERT_GE(dest, 0);
    ASSERT_TRUE(d.Write());

    ASSERT_TRUE(d.Delete(d.Find("FILE1.TXT")));
    EXPECT_EQ(Slot(0)[0], kDeletedMark);
    EXPECT_EQ(Slot(1)[0], kDeletedMark);
    d.SetName(d.Find("FILE2.TXT"), "RENAMED.TXT");
    EXPECT_TRUE(d.Release(d.Find("FILE4.TXT")));
    ASSERT_TRUE(d.Write());
    EXPECT_EQ(Slot(3)[0], kDeletedMark);
    EXPECT_EQ(Slot(4)[0], kDeletedMark);
    EXPECT_EQ(Slot(10)[0], kDeletedMark);
    EXPECT_EQ(Slot(9)[0], 0x41) << "a slot of another checksum is not this entry's";

    DIDir target(&v.image, uint32_t(d.GetStartCluster(dest)));
    ASSERT_TRUE(target.Load());
    ASSERT_GE(d.MoveTo(d.Find("FILE3.TXT"), target), 0);
    EXPECT_EQ(Slot(6)[0], kDeletedMark);
    EXPECT_EQ(Slot(7)[0], kDeletedMark);
}

TEST_F(StorageTest, AnEntryMadeAfterOrphanSlotsDoesNotInheritThem) {
    // Another system deleted FILE's 8.3 entry and left its slot live.
    PutSlot(0, "FILE    TXT", 0x41);
    Put(1, "FILE    TXT", kAttrArchive);
    Slot(1)[0] = kDeletedMark;
    Put(2, "KEEP    TXT", kAttrArchive);
    DIDir d = Root();
    int i = d.AddEntry("NEW.TXT");
    EXPECT_EQ(i, 1);
    ASSERT_TRUE(d.Write());
    EXPECT_EQ(Slot(0)[0], kDeletedMark);
}

TEST_F(StorageTest, MoveToRewritesOnlyARealDotDotEntry) {
    DIDir d = Root();
    int a = d.MakeDir("A"), b = d.MakeDir("B");
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    ASSERT_TRUE(d.Write());
    // In A, index 1 is made an ordinary file entry.
    uint32_t ca = uint32_t(d.GetStartCluster(a));
    uint8_t* second = v.dev->data.data() + v.image.ClusterToOffset(ca) + 32;
    std::memcpy(second, "NOTDOTS BIN", 11);
    second[11] = kAttrArchive;
    second[26] = 77;
    DIDir target(&v.image, uint32_t(d.GetStartCluster(b)));
    ASSERT_TRUE(target.Load());
    ASSERT_GE(d.MoveTo(a, target), 0);
    EXPECT_EQ(second[26], 77) << "an entry that is not \"..\" keeps its cluster";
    EXPECT_EQ(std::memcmp(second, "NOTDOTS BIN", 11), 0);
}

}  // namespace
