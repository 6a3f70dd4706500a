#include <gtest/gtest.h>

#include "explorer/ops/folderops.h"
#include "explorer/ops/properties.h"
#include "explorer/ops/volumepath.h"
#include "device/deviceio_file.h"
#include "opening/convert.h"
#include "opening/newdisk.h"
#include "support/containers.h"
#include "support/images.h"
#include "support/root_fixture.h"
#include "support/scripted_ui.h"
#include "volume/didir.h"

namespace {

// Records the tree notifications.
struct TreeUI : ScriptedUI {
    void FolderAdded(uint32_t parent, uint32_t cluster, const std::string& name) override {
        added.push_back({parent, cluster});
        addedNames.push_back(name);
    }
    void FolderRenamed(uint32_t cluster, const std::string& name) override { renamed.push_back({cluster, name}); }
    void FolderRemoved(uint32_t cluster) override { removed.push_back(cluster); }
    std::vector<std::pair<uint32_t, uint32_t>> added;
    std::vector<std::string> addedNames;
    std::vector<std::pair<uint32_t, std::string>> renamed;
    std::vector<uint32_t> removed;
};

class FolderOpsTest : public RootFixture {
protected:
    FolderOpsTest() : scope(&ui) {}
    void SetUp() override {
        image = dir / "v.img";
        MakeFatImage(image, 1440, 12, "-n LABEL");
        Mount();
    }
    TreeUI ui;
    ScopedUserInterface scope;
};

TEST_F(FolderOpsTest, DefaultNamesTakeTheFirstFreeNumber) {
    EXPECT_GE(CreateFolder(*root, "NEWDIR.1"), 0);
    int a = MakeDefaultFolder(*root);
    EXPECT_EQ(root->GetDisplayName(a), "NEWDIR.0");
    int b = MakeDefaultFolder(*root);
    EXPECT_EQ(root->GetDisplayName(b), "NEWDIR.2");
    ASSERT_EQ(ui.added.size(), 3u);
    EXPECT_EQ(ui.added[1].first, 0u);
    EXPECT_EQ(ui.added[1].second, uint32_t(root->GetStartCluster(a)));
    EXPECT_EQ(ui.addedNames[1], "NEWDIR.0");
    ExpectSound();
    EXPECT_GE(root->Find("NEWDIR.2"), 0) << "CreateFolder writes the folder";
}

TEST_F(FolderOpsTest, AllThousandNamesTaken) {
    int sub = CreateFolder(*root, "MANY");
    DIDir many(m.image.get(), uint32_t(root->GetStartCluster(sub)));
    ASSERT_TRUE(many.Load());
    for (int n = 0; n <= 999; ++n) ASSERT_GE(many.AddEntry("NEWDIR." + std::to_string(n)), 0);
    EXPECT_EQ(MakeDefaultFolder(many), -1);
    EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Σφάλμα κατά την ονομασία του νέου φακέλου"});
}

TEST_F(FolderOpsTest, CreateFolderRefusals) {
    root->SetSize(root->AddEntry("FILE.TXT"), 0);
    EXPECT_EQ(CreateFolder(*root, "file.txt"), -1);
    EXPECT_EQ(ui.Texts().back(), "Υπάρχει ήδη αρχείο με όνομα\nFILE.TXT") << "the entry in the way, named as it stands";
    // No free cluster: 113 with the first free default name, nothing changes.
    auto chain = m->AllocateChain(m->FreeClusters * 512);
    ASSERT_TRUE(chain);
    auto fat = m->FATTable();
    EXPECT_EQ(MakeDefaultFolder(*root), -1);
    EXPECT_EQ(ui.Texts().back(), "Δεν υπάρχει αρκετός χώρος για το αρχείο\nNEWDIR.0");
    EXPECT_EQ(m->FATTable(), fat);
    EXPECT_TRUE(ui.added.empty());
}

TEST_F(FolderOpsTest, RenameRules) {
    longNames = false;
    Mount();
    int r = root->AddEntry("README.TXT");
    root->SetSize(r, 0);
    int s = root->AddEntry("SIBLING.TXT");
    root->SetSize(s, 0);
    EXPECT_TRUE(root->Write());
    EXPECT_EQ(RenameEntry(*root, r, "ReadMe.TXT"), "README.TXT");
    EXPECT_TRUE(ui.boxes.empty()) << "a change of case only ends silently";
    EXPECT_EQ(RenameEntry(*root, r, "sibling.txt"), "README.TXT");
    EXPECT_EQ(ui.Texts().back(), "Υπάρχει ήδη αρχείο με όνομα\nSIBLING.TXT");
    EXPECT_EQ(RenameEntry(*root, r, ""), "README.TXT");
    EXPECT_EQ(RenameEntry(*root, r, "a*b.txt"), "A_B.TXT");
    int f = CreateFolder(*root, "DIR");
    EXPECT_EQ(RenameEntry(*root, f, "renamed"), "RENAMED");
    ASSERT_EQ(ui.renamed.size(), 1u);
    EXPECT_EQ(ui.renamed[0].first, uint32_t(root->GetStartCluster(f)));
    DIDir sub(m.image.get(), uint32_t(root->GetStartCluster(f)));
    ASSERT_TRUE(sub.Load());
    int up = 1;
    EXPECT_EQ(RenameEntry(sub, up, "UP"), "..") << "dot entries keep their names";
    ExpectSound();
    EXPECT_GE(root->Find("A_B.TXT"), 0);
    EXPECT_GE(root->Find("RENAMED"), 0);
}

TEST_F(FolderOpsTest, DeletePassesOverDotsAndLabels) {
    int a = CreateFolder(*root, "A");
    DIDir da(m.image.get(), uint32_t(root->GetStartCluster(a)));
    ASSERT_TRUE(da.Load());
    int inner = CreateFolder(da, "INNER");
    int file = da.AddEntry("F.TXT");
    auto chain = m->AllocateChain(2000);
    da.SetStartCluster(file, chain->front());
    da.SetSize(file, 2000);
    EXPECT_TRUE(da.Write());
    uint32_t innerCluster = uint32_t(da.GetStartCluster(inner));
    uint32_t freeBefore = m->FreeClusters;
    int label = -1;
    for (uint32_t i = 0; i < root->GetCount(); ++i)
        if (root->GetAttr(int(i)) == kAttrVolume) label = int(i);
    ASSERT_GE(label, 0);
    ui.boxAnswers = {kIdYes};
    ASSERT_TRUE(ConfirmDelete({"F.TXT"}, {".", ".."}));
    EXPECT_EQ(ui.boxes.back().style, kBoxYesNoQuestion);
    // Nothing but what stays: said, not asked.
    EXPECT_FALSE(ConfirmDelete({}, {"LABEL"}));
    EXPECT_EQ(ui.boxes.back().style, kBoxOk);
    ASSERT_TRUE(DeleteEntries(da, {0, 1, file}).Ok());
    EXPECT_FALSE(da.IsFree(0));
    EXPECT_FALSE(da.IsFree(1));
    EXPECT_TRUE(da.IsFree(file));
    ASSERT_TRUE(DeleteEntries(*root, {label, a}).Ok());
    EXPECT_FALSE(root->IsFree(label));
    EXPECT_EQ(m->FreeClusters, freeBefore + 4 + 1 + 1) << "the file's four clusters, INNER's and A's";
    EXPECT_EQ(ui.removed, std::vector<uint32_t>{uint32_t(root->GetStartCluster(a))});
    (void)innerCluster;
    ExpectSound();
}

TEST_F(FolderOpsTest, ReleaseLeavesTheClustersAllocated) {
    int a = CreateFolder(*root, "A");
    uint32_t freeBefore = m->FreeClusters;
    ui.boxAnswers = {kIdNo};
    EXPECT_FALSE(ConfirmRelease());
    EXPECT_EQ(ui.boxes.back().style, kBoxYesNoWarning);
    ASSERT_TRUE(ReleaseEntries(*root, {a}).Ok());
    EXPECT_EQ(m->FreeClusters, freeBefore);
    EXPECT_TRUE(ui.removed.empty()) << "a release does not touch the tree";
    root.reset();
    m.image.reset();
    std::string report;
    EXPECT_FALSE(FsckClean(image));
    EXPECT_TRUE(FsckCleanButLost(image, &report)) << report;
}

TEST_F(FolderOpsTest, DeleteAndReleaseOnAReadOnlyVolumeSaySo) {
    int a = CreateFolder(*root, "A");
    ASSERT_TRUE(m->Device()->MakeReadOnly());
    EXPECT_EQ(DeleteEntries(*root, {a}).status, OpStatus::kReadOnly);
    EXPECT_EQ(ReleaseEntries(*root, {a}).status, OpStatus::kReadOnly);
    EXPECT_FALSE(root->IsFree(a));
}

TEST_F(FolderOpsTest, PropertiesFormChangesAttributesAndTheLabel) {
    int file = root->AddEntry("F.TXT");
    ASSERT_GE(file, 0);
    ASSERT_TRUE(root->Write());
    ui.propertiesAction = [](EntryProperties& p) {
        p.attributes = kAttrReadOnly | kAttrHidden;
        return true;
    };
    ASSERT_TRUE(RunProperties(*root, file));
    EXPECT_EQ(ui.shownProperties.back().name, "F.TXT");
    ui.propertiesAction = [](EntryProperties& p) {
        EXPECT_TRUE(p.root);
        EXPECT_EQ(p.label, "LABEL");
        p.label = "Renamed";
        return true;
    };
    ASSERT_TRUE(RunProperties(*root, -1));
    ui.propertiesAction = [](EntryProperties& p) {
        p.label = "";
        return false;  // Cancel changes nothing
    };
    EXPECT_FALSE(RunProperties(*root, -1));
    Unmount();
    std::string out;
    RunShell("MTOOLS_SKIP_CHECK=1 mattrib -i " + Quote(image) + " ::F.TXT; mlabel -s -i " + Quote(image) + " ::", &out);
    EXPECT_NE(out.find("HR     ::/F.TXT"), std::string::npos) << out;
    EXPECT_NE(out.find("is RENAMED"), std::string::npos) << out;
}

TEST_F(FolderOpsTest, NewImageFormAsksAgainUntilItsAnswersMakeAnImage) {
    const std::string path = dir / "new disk.hdi";
    ui.newImageAnswers = {{"pc98-hd", "", "", path, ""}, {"pc98-hd", "lots", "", path, ""}, {"pc98-hd", "10M", "", path, ""}};
    auto made = RunNewImage();
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, path);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_NE(ui.boxes[0].text.find("pc98-hd"), std::string::npos);
    EXPECT_NE(ui.boxes[1].text.find("lots"), std::string::npos);
    EXPECT_EQ(ReadHostFile(path).size(), 4096u + 150 * 8 * 17 * 512);
    // An existing image is kept when the user says No.
    ui.newImageAnswers = {{"2hd", "", "", path, ""}};
    ui.boxAnswers = {kIdNo};
    EXPECT_FALSE(RunNewImage());
    EXPECT_EQ(ReadHostFile(path).size(), 4096u + 150 * 8 * 17 * 512);
}

TEST_F(FolderOpsTest, ConvertImageShowsWhatTheTargetCannotHoldAndDropsItOnlyWhenTold) {
    const auto volume = MakeFloppyVolume({});
    D88Tracks tracks = TracksOfVolume(volume, 8, 1024);
    tracks[0][0].deleted = 0x10;
    WriteD88Tracks(dir / "marked.d88", "MARKED", 0x20, false, tracks);
    auto* file = new DeviceIO_File;
    std::unique_ptr<DeviceIOIF, DeviceDestroyer> owner(file);
    ASSERT_TRUE(file->Open(dir / "marked.d88"));
    const std::string copy = dir / "copy.hdm";
    ui.convertTargets = {dir / "copy.xyz", copy, copy};
    ui.lossAnswers = {false, true};
    auto made = RunConvertImage(file, ReadHostFile(dir / "marked.d88").size(), std::nullopt);
    ASSERT_TRUE(made);
    EXPECT_EQ(*made, copy);
    ASSERT_EQ(ui.shownLosses.size(), 3u);
    EXPECT_NE(ui.shownLosses[0].front().find(".xyz"), std::string::npos);
    EXPECT_NE(ui.shownLosses[1].front().find("sector 1"), std::string::npos) << ui.shownLosses[1].front();
    EXPECT_EQ(ui.shownLosses[1], ui.shownLosses[2]);
    EXPECT_EQ(ReadHostFile(copy), volume);
    EXPECT_NE(ui.Texts().back().find(copy), std::string::npos);
}

}  // namespace

namespace {

TEST_F(FolderOpsTest, PathsNameTheExactEntryOrNone) {
    DIDir sub(m.image.get(), uint32_t(root->GetStartCluster(CreateFolder(*root, "Sub"))));
    ASSERT_TRUE(sub.Load());
    int upper = sub.AddNamed("ABC LONG.txt"), lower = sub.AddNamed("abc long.txt");
    ASSERT_TRUE(WriteAndFlush(sub, "Sub"));
    auto loc = ResolveEntry(*m.image, "sub/abc long.txt");
    ASSERT_TRUE(loc);
    EXPECT_EQ(loc->index, lower);
    bool ambiguous = false;
    EXPECT_FALSE(ResolveEntry(*m.image, "SUB/Abc Long.txt", &ambiguous));
    EXPECT_TRUE(ambiguous);
    EXPECT_NE(ui.Texts().back().find("/SUB/Abc Long.txt"), std::string::npos) << ui.Texts().back();
    // rm "::Sub/ABC LONG.txt" takes that entry and leaves the other.
    loc = ResolveEntry(*m.image, "Sub/ABC LONG.txt");
    ASSERT_TRUE(loc);
    EXPECT_EQ(loc->index, upper);
    EXPECT_TRUE(DeleteEntries(sub, {loc->index}).Ok());
    EXPECT_EQ(sub.FindName("Abc Long.txt"), lower);
}

}  // namespace
