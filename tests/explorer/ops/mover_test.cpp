#include <gtest/gtest.h>

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
