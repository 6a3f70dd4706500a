#include <gtest/gtest.h>

#include <cerrno>

#include "explorer/ops/folderops.h"
#include "explorer/ops/mover.h"
#include "support/images.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"

namespace {

class MoveTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 1440, 12);
        m = MountImageFile(image);
        ASSERT_TRUE(m);
        root = std::make_unique<DIDir>(m.image.get(), 0);
        ASSERT_TRUE(root->Load());
        // /A/B/C and /D, files F1 and F2 in the root.
        a = Folder(*root, "A");
        DIDir da(m.image.get(), a);
        EXPECT_TRUE(da.Load());
        b = Folder(da, "B");
        DIDir db(m.image.get(), b);
        EXPECT_TRUE(db.Load());
        c = Folder(db, "C");
        d = Folder(*root, "D");
        for (const char* n : {"F1", "F2"}) {
            int i = root->AddEntry(n);
            root->SetSize(i, 0);
        }
        EXPECT_TRUE(root->Write());
        EXPECT_TRUE(root->Load());
    }
    uint32_t Folder(DIDir& in, const std::string& name) { return uint32_t(in.GetStartCluster(CreateFolder(in, name))); }
    void ExpectSound() {
        root.reset();
        m.image.reset();
        std::string report;
        EXPECT_TRUE(FsckClean(image, &report)) << report;
    }
    int64_t DotDot(uint32_t folder) {
        DIDir x(m.image.get(), folder);
        EXPECT_TRUE(x.Load());
        return x.GetStartCluster(1);
    }
    TempDir dir;
    std::string image;
    Mounted m;
    std::unique_ptr<DIDir> root;
    uint32_t a = 0, b = 0, c = 0, d = 0;
};

TEST_F(MoveTest, AtOrBelow) {
    EXPECT_TRUE(IsAtOrBelow(*m.image, c, a));
    EXPECT_TRUE(IsAtOrBelow(*m.image, a, a));
    EXPECT_TRUE(IsAtOrBelow(*m.image, b, 0)) << "everything lies below the root";
    EXPECT_FALSE(IsAtOrBelow(*m.image, d, a));
    EXPECT_FALSE(IsAtOrBelow(*m.image, a, c));
}

TEST_F(MoveTest, FolderNeverMovesIntoItselfOrBelow) {
    int ia = root->Find("A");
    EXPECT_EQ(MoveEntries(*root, {ia}, c, "C", false), 0);
    EXPECT_EQ(ui.Texts().back(), "Ο πάνω φάκελος δεν μπορεί να μετακινηθεί στον κάτω");
    EXPECT_EQ(MoveEntries(*root, {ia}, a, "A", false), 0);
    EXPECT_EQ(ui.Texts().back(), "Τα επιλεγμένα δεν μετακινούνται στα επιλεγμένα");
    EXPECT_FALSE(MoveFolder(*m.image, a, b, c, "B", "C", false));
    EXPECT_EQ(ui.Texts().back(), "Ο πάνω φάκελος δεν μπορεί να μετακινηθεί στον κάτω");
    EXPECT_FALSE(MoveFolder(*m.image, 0, 0, d, "", "D", false)) << "the root never moves";
    EXPECT_FALSE(MoveFolder(*m.image, 0, a, a, "A", "A", false));
    ExpectSound();
}

TEST_F(MoveTest, ListItemsMoveAndFoldersFollow) {
    struct Moves : ScriptedUI {
        void FolderMoved(uint32_t cluster, uint32_t parent) override { moved.push_back({cluster, parent}); }
        std::vector<std::pair<uint32_t, uint32_t>> moved;
    } moves;
    ScopedUserInterface scope(&moves);
    EXPECT_EQ(MoveEntries(*root, {root->Find("F1"), root->Find("A")}, d, "D", false), 2);
    EXPECT_EQ(DotDot(a), int64_t(d));
    EXPECT_EQ(moves.moved, (std::vector<std::pair<uint32_t, uint32_t>>{{a, d}}));
    // Back up through D's ".." item: into the root, ".." becomes 0.
    DIDir dd(m.image.get(), d);
    ASSERT_TRUE(dd.Load());
    EXPECT_EQ(MoveEntries(dd, {dd.Find("A")}, 0, "..", false), 1);
    EXPECT_EQ(DotDot(a), 0);
    ExpectSound();
    std::string out;
    RunShell("mdir -b -i " + Quote(image) + " ::D", &out);
    EXPECT_NE(out.find("F1"), std::string::npos) << out;
}

TEST_F(MoveTest, PerItemRefusals) {
    DIDir da(m.image.get(), a);
    ASSERT_TRUE(da.Load());
    int f = da.AddEntry("F2");
    da.SetSize(f, 0);
    EXPECT_TRUE(da.Write());
    // A name that exists in the target is refused.
    EXPECT_EQ(MoveEntries(*root, {root->Find("F2")}, a, "A", false), 0);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Υπάρχει ήδη αρχείο με όνομα\nF2"});
    // ".." with two files: the files move, ".." is refused.
    int other = da.AddEntry("OTHER");
    da.SetSize(other, 0);
    EXPECT_EQ(MoveEntries(da, {1, other, f}, d, "D", false), 2);
    EXPECT_EQ(ui.Texts().back(), "Σφάλμα κατά την μετακίνηση του φακέλου προέλευσης\n..");
    // Onto the "." of the folder itself: every name exists there.
    EXPECT_EQ(MoveEntries(*root, {root->Find("F1")}, 0, ".", false), 0);
    EXPECT_EQ(ui.Texts().back(), "Υπάρχει ήδη αρχείο με όνομα\nF1");
    ExpectSound();
}

TEST_F(MoveTest, TreeMoveOfAFolder) {
    ASSERT_TRUE(MoveFolder(*m.image, a, b, d, "B", "D", false));
    EXPECT_EQ(DotDot(b), int64_t(d));
    EXPECT_EQ(DotDot(c), int64_t(b)) << "the moved folder's own children stay";
    EXPECT_FALSE(MoveFolder(*m.image, a, b, 0, "B", "", false)) << "B is no longer in A";
    EXPECT_EQ(ui.Texts().back(), "Δεν βρέθηκε το αρχείο ή ο φάκελος");
    DIDir dd(m.image.get(), d);
    ASSERT_TRUE(dd.Load());
    CreateFolder(*root, "B");
    EXPECT_FALSE(MoveFolder(*m.image, d, b, 0, "B", "", false));
    EXPECT_EQ(ui.Texts().back(), "Υπάρχει ήδη φάκελος με το όνομα\nB");
    ExpectSound();
}

// The one move, quiet: why it refuses, as the mount's errno, and what a
// replace and a move under a new name leave.
TEST_F(MoveTest, TheOneMoveTellsWhy) {
    DIDir da(m.image.get(), a);
    ASSERT_TRUE(da.Load());
    int f3 = da.AddEntry("F3");
    da.SetSize(f3, 0);
    ASSERT_TRUE(da.Write());
    struct Case {
        const char* what;
        DIDir* from;
        const char* entry;
        DIDir* to;
        std::string newName;
        const char* onto;
        OpStatus status;
        int err;
    };
    const Case cases[] = {
        {"'..'", &da, "..", root.get(), "", nullptr, OpStatus::kRefused, EBUSY},
        {"a name taken", root.get(), "F1", root.get(), "", nullptr, OpStatus::kExists, EEXIST},
        {"a new name taken", &da, "F3", root.get(), "F2", nullptr, OpStatus::kExists, EEXIST},
        {"a name that keeps nothing", &da, "F3", root.get(), "..", nullptr, OpStatus::kBadName, EINVAL},
        {"a folder below itself", root.get(), "A", &da, "", nullptr, OpStatus::kLoop, EINVAL},
        {"a file onto a folder", root.get(), "F1", root.get(), "", "D", OpStatus::kIsFolder, EISDIR},
        {"a folder onto a file", root.get(), "D", root.get(), "", "F1", OpStatus::kNotFolder, ENOTDIR},
        {"a folder onto one that holds B", root.get(), "D", root.get(), "", "A", OpStatus::kNotEmpty, ENOTEMPTY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpResult r = MoveEntry(*c.from, c.from->Find(c.entry), *c.to, c.newName, c.onto ? c.to->Find(c.onto) : -1);
        EXPECT_EQ(int(r.status), int(c.status));
        EXPECT_EQ(ErrnoOf(r), c.err);
    }
    EXPECT_TRUE(ui.Texts().empty()) << "the quiet move told something";

    // Under a new name into another folder: one entry, the name asked for.
    OpResult r = MoveEntry(da, f3, *root, "NEW3");
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(root->GetDisplayName(r.index), "NEW3");
    EXPECT_EQ(da.Find("F3"), -1);
    EXPECT_EQ(root->Find("F3"), -1);
    // Onto a file with data: the target keeps its name and takes the moved
    // entry's data; its old clusters are free again.
    int f1 = root->Find("F1");
    auto fresh = m.image->PickClusters(600);
    ASSERT_TRUE(fresh && m.image->ExtendChain(0, *fresh));
    ASSERT_TRUE(root->SetStartCluster(f1, fresh->front()) && root->SetSize(f1, 600) && root->Write());
    const uint32_t free = m.image->FreeCount();
    r = MoveEntry(*root, root->Find("NEW3"), *root, {}, f1);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.index, f1);
    EXPECT_EQ(root->GetDisplayName(f1), "F1");
    EXPECT_EQ(root->GetSize(f1), 0u);
    EXPECT_EQ(root->Find("NEW3"), -1);
    EXPECT_EQ(m.image->FreeCount(), free + 2) << "the replaced file's two clusters";
    ExpectSound();
}

TEST_F(MoveTest, ConfirmationNoMovesNothing) {
    struct Refuse : ScriptedUI {
        bool ConfirmMove(const std::vector<std::string>& names, const std::string& target) override {
            seen = names;
            where = target;
            return false;
        }
        std::vector<std::string> seen;
        std::string where;
    } refuse;
    ScopedUserInterface scope(&refuse);
    EXPECT_EQ(MoveEntries(*root, {root->Find("F1"), root->Find("F2")}, d, "D", true), 0);
    EXPECT_EQ(refuse.seen, (std::vector<std::string>{"F1", "F2"}));
    EXPECT_EQ(refuse.where, "D");
    EXPECT_FALSE(MoveFolder(*m.image, 0, a, d, "A", "D", true));
    EXPECT_EQ(refuse.seen, std::vector<std::string>{"A"});
    EXPECT_EQ(DotDot(a), 0);
}

}  // namespace
