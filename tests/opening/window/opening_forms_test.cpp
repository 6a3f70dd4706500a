// The forms of disk opening built on their core objects: disk type,
// partitions, manual parameters, boot-sector search, drive path, disk
// information. Controls are checked against what the core object holds,
// and OK and Cancel are mapped back.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include "device/deviceio_file.h"
#include "device/language.h"
#include "device/windowtexts.h"
#include "explorer/window/explorer_dialogs.h"
#include "opening/diskinfo.h"
#include "opening/diskopen.h"
#include "opening/window/opening_dialogs.h"
#include "support/disks.h"
#include "support/forms.h"
#include "support/images.h"
#include "support/scripted_ui.h"

namespace {

class FormsTest : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("VOLDEX_HOME", home.path().c_str());
        scope = std::make_unique<ScopedUserInterface>(&ui);
    }
    void TearDown() override {
        scope.reset();
        if (device) device->Destroy();
        qunsetenv("VOLDEX_HOME");
    }
    DeviceIOIF* Open(const std::string& path) {
        auto* d = new DeviceIO_File;
        EXPECT_TRUE(d->Open(path));
        device = d;
        return d;
    }
    TempDir home, dir;
    ScriptedUI ui;
    std::unique_ptr<ScopedUserInterface> scope;
    DeviceIOIF* device = nullptr;
};

}  // namespace

TEST_F(FormsTest, DiskTypeFormListsTheItemsAndGivesTheChoice) {
    TDiskOpener opener(std::vector<DISKPROFILE>{});
    TDiskOpenerForm form(nullptr, "/tmp/x y/PC98/Saves/a.hdi", opener.Items, 2);
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Άνοιγμα δίσκου"));
    EXPECT_EQ(Child<QLabel>(&form, "FileNameLabel")->text(), "/tmp/x y/PC98/Saves/a.hdi");
    auto* combo = Child<QComboBox>(&form, "ComboBox1");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QString::fromUtf8("Δισκέτα ειδικής μορφής ..."));
    EXPECT_EQ(combo->itemText(1), QString::fromUtf8("Σκληρός δίσκος ειδικής μορφής ..."));
    EXPECT_EQ(combo->itemText(2), QString::fromUtf8("Απλή εικόνα δίσκου"));
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_FALSE(combo->isEditable());
    EXPECT_TRUE(FixedSize(&form));
    EXPECT_EQ(form.property("helpContext").toInt(), kHelpDiskType);
    combo->setCurrentIndex(0);
    form.show();
    Child<QPushButton>(&form, "Button1")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Selected(), 0);
    // Enter is OK.
    TDiskOpenerForm again(nullptr, "x", opener.Items, 1);
    again.show();
    QTest::keyClick(Child<QComboBox>(&again, "ComboBox1"), Qt::Key_Return);
    EXPECT_EQ(again.result(), QDialog::Accepted);
    TDiskOpenerForm cancelled(nullptr, "x", opener.Items, 1);
    cancelled.show();
    EXPECT_EQ(Shown(Child<QPushButton>(&cancelled, "Button2")->text()), QString::fromUtf8("Άκυρο"));
    Child<QPushButton>(&cancelled, "Button2")->click();
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
}

TEST_F(FormsTest, PartitionFormShowsEveryRowWholeAndChoosesOne) {
    std::string img = dir / "pc98.hdd";
    PC98Geometry g;
    auto offsets = MakePC98Disk(img, PC98Header::None, g, {{1, 150, "MS-DOS 5.00"}, {151, 300, "Human68k"}});
    THDDPartDialog dialog;
    dialog.Device = Open(img);
    HDDGeometry geometry;
    geometry.SecLen = int32_t(g.secLen);
    geometry.Sectors = int32_t(g.sectors);
    geometry.Heads = int32_t(g.heads);
    geometry.Cylinders = int32_t(g.cylinders);
    dialog.SetGeometry(geometry);
    ASSERT_TRUE(dialog.Fill());
    THDDPartForm form(nullptr, dialog, false);
    form.show();
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("pc98.hdd - δίσκος"));
    auto* list = Child<QTreeWidget>(&form, "PartList");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    QStringList headers;
    for (int c = 0; c < 5; ++c) headers << list->headerItem()->text(c);
    // Distinct captions, the unit in the caption and the numbers alone in the cells.
    EXPECT_EQ(headers, (QStringList{QString::fromUtf8("Όνομα"), QString::fromUtf8("Αρχή (κύλινδρος)"),
                                    QString::fromUtf8("Τέλος (κύλινδρος)"), QString::fromUtf8("Χωρητικότητα"),
                                    QString::fromUtf8("Μετατόπιση (bytes)")}));
    EXPECT_EQ(list->topLevelItem(0)->text(0), "MS-DOS 5.00");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "1");
    EXPECT_EQ(list->topLevelItem(0)->text(2), "150");
    EXPECT_EQ(list->topLevelItem(0)->text(4), QString::number(offsets[0]));
    // Every text fits its column, header captions included.
    QFontMetrics fm(list->font()), hm(list->header()->font());
    for (int c = 0; c < 5; ++c) {
        EXPECT_GE(list->columnWidth(c), hm.horizontalAdvance(headers[c])) << "header " << c;
        for (int r = 0; r < 2; ++r)
            EXPECT_GE(list->columnWidth(c), fm.horizontalAdvance(list->topLevelItem(r)->text(c))) << "row " << r;
    }
    // Collapsed: the details are hidden; the details button shows them.
    auto* details = Child<QGroupBox>(&form, "GroupBox1");
    EXPECT_TRUE(details->isHidden());
    Child<QPushButton>(&form, "btnDetail")->click();
    EXPECT_FALSE(details->isHidden());
    EXPECT_EQ(Child<QLineEdit>(&form, "SectorEdit")->text(), QString::number(g.sectors));
    EXPECT_EQ(Child<QComboBox>(&form, "cbType")->currentText(), "98");
    // A search finds a boot sector; the list stays.
    Child<QPushButton>(&form, "btnSearch")->click();
    EXPECT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(list->topLevelItem(1)->text(0), "Human68k");
    EXPECT_TRUE(FixedSize(&form));
    EXPECT_EQ(form.property("helpContext").toInt(), kHelpPartitions);
    // OK with nothing selected: 501, and the dialog stays.
    Child<QPushButton>(&form, "OKBtn")->click();
    EXPECT_EQ(ui.Texts().back(), "Επιλέξτε διαμέρισμα");
    EXPECT_TRUE(form.isVisible());
    list->setCurrentItem(list->topLevelItem(1));
    Child<QPushButton>(&form, "OKBtn")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Chosen(), 1);
    // A disk of one partition has it chosen already: OK takes it.
    std::string one = dir / "one.hdd";
    MakePC98Disk(one, PC98Header::None, g, {{1, 150, "MS-DOS 5.00"}});
    THDDPartDialog single;
    single.Device = Open(one);
    single.SetGeometry(geometry);
    ASSERT_TRUE(single.Fill());
    THDDPartForm sole(nullptr, single, false);
    sole.show();
    ASSERT_EQ(Child<QTreeWidget>(&sole, "PartList")->topLevelItemCount(), 1);
    Child<QPushButton>(&sole, "OKBtn")->click();
    EXPECT_EQ(sole.result(), QDialog::Accepted);
    EXPECT_EQ(sole.Chosen(), 0);
}

TEST_F(FormsTest, ManualFormStartsAtZeroReadsTheBootRecordAndEnterConfirms) {
    std::string img = dir / "fd.img";
    MakeFatImage(img, 1440, 12);
    TManualDiskDialog dialog;
    dialog.Record.Device = Open(img);
    TManualDiskForm form(nullptr, dialog);
    form.show();
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Δισκέτα ειδικής μορφής"));
    for (const char* e : {"editVolumeStart", "editFAT", "editFATCount", "editFATSize", "editRoot", "editUser",
                          "editClusterSize", "editClusters"})
        EXPECT_EQ(Child<QLineEdit>(&form, e)->text(), "0") << e;
    EXPECT_EQ(Child<QComboBox>(&form, "cbFileSystem")->currentText(), "DOS");
    EXPECT_EQ(Child<QComboBox>(&form, "cbFATType")->currentIndex(), -1);
    Child<QPushButton>(&form, "btnReadIPL")->click();
    EXPECT_EQ(Child<QComboBox>(&form, "cbFATType")->currentText(), "FAT12");
    EXPECT_EQ(Child<QLineEdit>(&form, "editFAT")->text(), "512");
    EXPECT_EQ(Child<QLineEdit>(&form, "editFATCount")->text(), "2");
    EXPECT_TRUE(FixedSize(&form));
    EXPECT_EQ(form.property("helpContext").toInt(), kHelpManual);
    // Enter in a field confirms, as OK does (not the search).
    QTest::keyClick(Child<QLineEdit>(&form, "editRoot"), Qt::Key_Return);
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.Record.FATType, kFAT12);
    EXPECT_EQ(dialog.Record.FAT, 512u);
    EXPECT_TRUE(ui.boxes.empty()) << "no search was started";
    // Cancel leaves the form's fields out of the record.
    TManualDiskDialog other;
    other.Record.Device = dialog.Record.Device;
    TManualDiskForm cancelled(nullptr, other);
    cancelled.show();
    Child<QLineEdit>(&cancelled, "editFAT")->setText("99");
    Child<QPushButton>(&cancelled, "btnCancel")->click();
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
    EXPECT_EQ(other.editFAT, "0");
}

TEST_F(FormsTest, SearchFormFindsTheBootSector) {
    std::string img = dir / "shifted.img";
    WriteHostFile(img, std::vector<uint8_t>(65536, 0));
    PutVolumeAt(img, 65536, 32768, 1);
    TManualDiskDialog dialog;
    dialog.Record.Device = Open(img);
    TDiskSearchForm form(nullptr, dialog);
    form.show();
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Εύρεση εκκίνησης"));
    EXPECT_EQ(Child<QLabel>(&form, "FileNameLabel")->text(), QString::fromStdString(img));
    EXPECT_EQ(Child<QLineEdit>(&form, "Edit1")->text(), "0");
    EXPECT_EQ(Child<QLineEdit>(&form, "Edit2")->text(), "512");
    EXPECT_EQ(form.Begin(), "0");
    EXPECT_TRUE(Child<QPushButton>(&form, "btnSearch")->isDefault());
    EXPECT_EQ(form.property("helpContext").toInt(), kHelpManual);
    Child<QPushButton>(&form, "btnSearch")->click();
    EXPECT_EQ(ui.Texts().back(), "Βρέθηκε sector τύπου IPL");
    EXPECT_EQ(form.Begin(), "65536");
    Child<QPushButton>(&form, "btnOk")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

TEST_F(FormsTest, DrivePathFormStartsWithTheLastDriveAndGivesTheTypedOne) {
    WriteHostFile(home / "kestrel.ini", {});
    std::string text = "[ProgramSettings]\nLastPhysical=/dev/sdz\n";
    WriteHostFile(home / "kestrel.ini", std::vector<uint8_t>(text.begin(), text.end()));
    std::string path;
    bool ok = WithModal(
        [](QDialog* d) {
            // Named as the menu item that opens it, not as the disk-type dialog.
            EXPECT_EQ(d->windowTitle(), QString::fromUtf8("Άνοιγμα μονάδας δίσκου"));
            SetLanguage(Language::English);
            EXPECT_EQ(QString::fromUtf8(WindowText("Άνοιγμα μονάδας δίσκου")), "Open Drive");
            SetLanguage(Language::Greek);
            auto* edit = Child<QComboBox>(d, "Edit1");
            EXPECT_EQ(edit->currentText(), "/dev/sdz");
            EXPECT_TRUE(FixedSize(d));
            EXPECT_EQ(d->property("helpContext").toInt(), kHelpDrive);
            edit->setEditText("/dev/sdq");
            Child<QPushButton>(d, "Button1")->click();
        },
        [&] { return ChooseDrivePath(nullptr, path); });
    EXPECT_TRUE(ok);
    EXPECT_EQ(path, "/dev/sdq");
    ok = WithModal([](QDialog* d) { Child<QPushButton>(d, "Button2")->click(); },
                   [&] { return ChooseDrivePath(nullptr, path); });
    EXPECT_FALSE(ok);
}

TEST_F(FormsTest, DiskInformationShowsTheVolumesFigures) {
    std::string img = dir / "fd.img";
    MakeFatImage(img, 1440, 12);
    Mounted m = MountImageFile(img);
    ASSERT_TRUE(m);
    DiskInfoTexts t = MakeDiskInfo(*m.image);
    WithModal(
        [&](QDialog* d) {
            // Every caption has its value, in two aligned columns.
            auto* form = d->findChild<QFormLayout*>();
            ASSERT_TRUE(form);
            EXPECT_EQ(form->rowCount(), 12);
            for (int r = 0; r < form->rowCount(); ++r) {
                auto* caption = qobject_cast<QLabel*>(form->itemAt(r, QFormLayout::LabelRole)->widget());
                auto* value = qobject_cast<QLabel*>(form->itemAt(r, QFormLayout::FieldRole)->widget());
                ASSERT_TRUE(caption && value) << r;
                EXPECT_FALSE(caption->text().trimmed().isEmpty()) << r;
                EXPECT_FALSE(caption->text().startsWith(' ')) << caption->text().toStdString();
                EXPECT_FALSE(value->text().isEmpty()) << caption->text().toStdString();
            }
            EXPECT_EQ(Child<QLabel>(d, "lblContainer")->text(), QString::fromUtf8("D88"));
            EXPECT_EQ(Child<QLabel>(d, "lblGeometry")->text(), "80/2/18/512");
            // What the file itself is, whatever the opening said.
            EXPECT_TRUE(Child<QLabel>(d, "lblIdentify")->text().contains("Container: Plain\n"));
            EXPECT_TRUE(Child<QLabel>(d, "lblIdentify")->text().contains("2880 x 512"));
            EXPECT_EQ(Child<QLabel>(d, "lblDeviceVersion")->text(), QString::fromUtf8("Ενσωματωμένη πρόσβαση σε αρχεία"));
            EXPECT_EQ(d->windowTitle(), QString::fromUtf8("Πληροφορίες για τον δίσκο"));
            EXPECT_EQ(Child<QLabel>(d, "lblFileName")->text(), QString::fromStdString(img));
            EXPECT_EQ(Child<QLabel>(d, "lblFileSystem")->text(), "FAT");
            EXPECT_EQ(Child<QLabel>(d, "lblFATType")->text(), "FAT12");
            EXPECT_EQ(Child<QLabel>(d, "lblClusterSize")->text(), "512 bytes");
            EXPECT_EQ(Child<QLabel>(d, "lblTotalSize")->text(), QString::fromStdString(t.TotalSize));
            EXPECT_EQ(Child<QLabel>(d, "lblMaxEntries")->text(), QString::fromUtf8("224 εγγραφές"));
            EXPECT_EQ(d->property("helpContext").toInt(), kHelpDiskInfo);
            EXPECT_TRUE(FixedSize(d));
            auto* close = Child<QPushButton>(d, "Button1");
            EXPECT_EQ(Shown(close->text()), QString::fromUtf8("Κλείσιμο"));
            close->click();
            return;
        },
        [&] {
            ShowDiskInfo(nullptr, *m.image, OpenedFormat{"D88", ""});
            return 0;
        });
}
