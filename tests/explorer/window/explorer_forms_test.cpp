// The explorer's own forms: overwrite question, settings, progress window,
// message boxes and the help window at every context.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>

#include "device/language.h"
#include "opening/settings/config.h"
#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/newimage_dialogs.h"
#include "support/forms.h"
#include "support/images.h"

namespace {

SystemTime Time(int y, int mo, int d, int h, int mi, int s) {
    SystemTime t;
    t.wYear = uint16_t(y);
    t.wMonth = uint16_t(mo);
    t.wDay = uint16_t(d);
    t.wHour = uint16_t(h);
    t.wMinute = uint16_t(mi);
    t.wSecond = uint16_t(s);
    return t;
}

class HomeTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("VOLDEX_HOME", home.path().c_str()); }
    void TearDown() override { qunsetenv("VOLDEX_HOME"); }
    void Settings(const std::string& text) {
        WriteHostFile(home / "kestrel.ini", std::vector<uint8_t>(text.begin(), text.end()));
    }
    TempDir home;
};

// The heading the help shows at the top for a context, by its anchor.
QString HelpHeadingShown(QDialog* help) {
    auto* browser = Child<QTextBrowser>(help, "HelpBrowser");
    QTest::qWait(20);
    QTextCursor top = browser->cursorForPosition(QPoint(4, 4));
    return top.block().text();
}

TEST(NewImageFormsTest, SizeOnlyForHardDisksAndTheBoxesGiveTheAttributes) {
    TNewImageForm form(nullptr, {"x68k-hd", "40M", "", "/tmp/a.hds", ""});
    EXPECT_EQ(form.cbFormat->currentData().toString(), "x68k-hd");
    EXPECT_TRUE(form.editSize->isEnabled());
    form.cbFormat->setCurrentIndex(0);  // a floppy: no size
    EXPECT_FALSE(form.editSize->isEnabled());
    NewImageAnswers a = form.Answers();
    EXPECT_EQ(a.format, "2hd");
    EXPECT_EQ(a.size, "");
    EXPECT_EQ(a.path, "/tmp/a.hds");
    EXPECT_TRUE(Child<QLabel>(&form, "lblContainers")->text().contains(".dim"));
    // NFD r1 is offered for a floppy named .nfd, and only there.
    EXPECT_FALSE(form.cbNfdR1->isEnabled());
    form.editFilename->setText("/tmp/a.NFD");
    ASSERT_TRUE(form.cbNfdR1->isEnabled());
    form.cbNfdR1->setChecked(true);
    EXPECT_EQ(form.Answers().container, "nfd-r1");
    form.editFilename->setText("/tmp/a.d88");
    EXPECT_EQ(form.Answers().container, "");

    EntryProperties p;
    p.name = "A.TXT";
    p.attributes = 0x20;
    TPropertiesForm props(nullptr, p);
    EXPECT_TRUE(props.cbAttr[3]->isChecked());
    props.cbAttr[0]->setChecked(true);
    props.cbAttr[3]->setChecked(false);
    EXPECT_EQ(props.Result().attributes, 0x01);
    EXPECT_EQ(props.editLabel, nullptr);
    p.root = true;
    p.label = "OLD";
    TPropertiesForm root(nullptr, p);
    root.editLabel->setText("NEW");
    EXPECT_EQ(root.Result().label, "NEW");
    EXPECT_EQ(root.cbAttr[0], nullptr);
}

}  // namespace

TEST(OverwriteForm, ShowsBothItemsAndEachButtonAnswers) {
    const std::pair<const char*, OverwriteAnswer> buttons[] = {
        {"btnYes", owYes}, {"btnAllYes", owYesToAll}, {"btnNo", owNo}, {"btnAllNo", owNoToAll}, {"btnCancel", owCancel}};
    const char* captions[] = {"Ναι", "Ναι σε όλα", "Όχι", "Όχι σε όλα", "Άκυρο"};
    QSet<QChar> keys;
    for (int k = 0; k < 5; ++k) {
        TOverWriteForm form(nullptr, "/home/me/A.TXT", Time(2002, 3, 7, 9, 5, 0), "A.TXT", Time(1980, 1, 1, 0, 0, 0));
        EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Επιβεβαίωση αντικατάστασης"));
        EXPECT_EQ(Child<QLabel>(&form, "lblOriginalFileName")->text(), "/home/me/A.TXT");
        EXPECT_EQ(Child<QLabel>(&form, "lblOriginalDate")->text(), "2002/3/7 9:5:0");
        EXPECT_EQ(Child<QLabel>(&form, "lblNewFileName")->text(), "A.TXT");
        EXPECT_EQ(Child<QLabel>(&form, "lblNewDate")->text(), "1980/1/1 0:0:0");
        auto* b = Child<QPushButton>(&form, buttons[k].first);
        EXPECT_EQ(Shown(b->text()), QString::fromUtf8(captions[k]));
        EXPECT_FALSE(b->isDefault()) << "no button is bound to Enter";
        keys.insert(Mnemonic(b->text()));
        EXPECT_TRUE(FixedSize(&form));
        form.show();
        b->click();
        EXPECT_EQ(form.Answer(), buttons[k].second);
        EXPECT_EQ(form.result(), QDialog::Accepted);
    }
    EXPECT_EQ(keys.size(), 5) << "five buttons, five different keys";
    // Closed by its frame: Cancel.
    TOverWriteForm form(nullptr, "a", Time(2000, 1, 1, 0, 0, 0), "b", Time(2000, 1, 1, 0, 0, 0));
    form.show();
    form.reject();
    EXPECT_EQ(form.Answer(), owCancel);
}

TEST_F(HomeTest, ConfigFormShowsTheFileAndGivesItsBoxesBack) {
    Settings("[ProgramSettings]\nSkipTypeSelect=1\nDnDMode=2\nShowExtendingTree=1\nShowThisDir=1\n");
    TConfigForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Ρυθμίσεις"));
    const char* names[9] = {"CBSkipTypeSelect", "CBAutoHDDSingle", "CBAutoHDDFirst", "CBNotifyExtract", "CBMovingDialog",
                            "CBImportDialog",   "CBDnDMode",       "CBExitOnCancel", "CBShowExtending"};
    const bool checked[9] = {true, false, false, false, false, false, true, false, true};
    for (int k = 0; k < 9; ++k) EXPECT_EQ(Child<QCheckBox>(&form, names[k])->isChecked(), checked[k]) << names[k];
    EXPECT_EQ(Child<QCheckBox>(&form, "CBDnDMode")->text(), QString::fromUtf8("Η επιλεγμένη λειτουργία D&&D είναι εσωτερική"));
    EXPECT_EQ(Shown(Child<QCheckBox>(&form, "CBDnDMode")->text()),
              QString::fromUtf8("Η επιλεγμένη λειτουργία D&D είναι εσωτερική"));
    // The tree box stands in the group box, the others in the column.
    auto* group = form.findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), QString::fromUtf8("Γενικές ρυθμίσεις"));
    EXPECT_EQ(Child<QCheckBox>(&form, "CBShowExtending")->parentWidget(), group);
    EXPECT_NE(Child<QCheckBox>(&form, "CBExitOnCancel")->parentWidget(), group);
    EXPECT_TRUE(Child<QPushButton>(&form, "Button1")->isDefault());
    EXPECT_EQ(Shown(Child<QPushButton>(&form, "Button2")->text()), QString::fromUtf8("Άκυρο"));
    EXPECT_TRUE(FixedSize(&form));
    EXPECT_EQ(form.property("helpContext").toInt(), kHelpSettings);
    // Show.Dot is not in the dialog: only the View menu changes it.
    for (const auto& [key, value] : form.Values()) EXPECT_NE(key, "ShowThisDir");

    Child<QCheckBox>(&form, "CBNotifyExtract")->setChecked(true);
    Child<QCheckBox>(&form, "CBSkipTypeSelect")->setChecked(false);
    std::vector<std::pair<std::string, int>> v = form.Values();
    ASSERT_EQ(v.size(), 10u);
    EXPECT_EQ(v[9], (std::pair<std::string, int>{"LongNames", 1})) << "on while the file does not say otherwise";
    EXPECT_EQ(Child<QCheckBox>(&form, "CBLongNames")->parentWidget(), group);
    EXPECT_EQ(v[0], (std::pair<std::string, int>{"SkipTypeSelect", 0}));
    EXPECT_EQ(v[3], (std::pair<std::string, int>{"NotifyExtract", 1}));
    EXPECT_EQ(v[6], (std::pair<std::string, int>{"DnDMode", 1}));
    // OK closes with the OK result, Cancel with Cancel; neither writes the file.
    form.show();
    Child<QPushButton>(&form, "Button2")->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(Setting("NotifyExtract"), 0);
    form.SetValues({{"ExitOnCancel", 1}, {"NotifyExtract", 0}});
    EXPECT_TRUE(Child<QCheckBox>(&form, "CBExitOnCancel")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(&form, "CBNotifyExtract")->isChecked());
    form.show();
    Child<QPushButton>(&form, "Button1")->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
}

// A finding with its plan is wider than the dialog: it wraps in the list,
// which never scrolls sideways.
TEST(RepairFindings, LongLinesWrapInsideTheList) {
    std::string line = "size: /GAMES/SAVE/A LONG FOLDER NAME/ANOTHER ONE/FILE.DAT: size 40000 bytes needs 20 clusters, "
                       "the chain has 3 => the chain is cut to the size and its tail freed, or the size set to what "
                       "the chain holds";
    bool looked = false;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!form) return;
        auto* list = Child<QListWidget>(form, "FindingList");
        QTest::qWait(20);
        const int lineHeight = list->fontMetrics().height();
        EXPECT_GT(list->visualItemRect(list->item(0)).height(), lineHeight * 3 / 2);
        EXPECT_LT(list->visualItemRect(list->item(1)).height(), lineHeight * 2);
        EXPECT_LE(list->visualItemRect(list->item(0)).right(), list->viewport()->width());
        EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
        looked = true;
        form->reject();
    });
    EXPECT_FALSE(ShowRepairFindings(nullptr, {line, "not-closed: short"}, true));
    EXPECT_TRUE(looked);
}

TEST(ProgressForm, CaptionAndLineWithoutButtonsAndAFixedSize) {
    QWidget owner;
    owner.resize(800, 600);
    owner.move(100, 100);
    owner.show();
    TMsgForm form(&owner);
    form.SetTitle(QString::fromUtf8("Ανάγνωση δομής φακέλων..."));
    form.SetLine("\\");
    form.show();
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Ανάγνωση δομής φακέλων..."));
    EXPECT_EQ(form.Line(), "\\");
    EXPECT_TRUE(form.findChildren<QAbstractButton*>().isEmpty());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.isModal());
    QSize before = form.size();
    form.SetLine(QString(300, 'W'));
    QApplication::processEvents();
    EXPECT_EQ(form.size(), before) << "a long name is clipped, the window keeps its size";
    // Centred over its owner.
    QPoint centre = form.frameGeometry().center(), ownerCentre = owner.frameGeometry().center();
    EXPECT_LE(std::abs(centre.x() - ownerCentre.x()), 2);
    EXPECT_LE(std::abs(centre.y() - ownerCentre.y()), 2);
}

// An import's progress: the count above a bar, and Cancel (or Escape)
// asks the operation to stop; while it runs, only this window takes input.
TEST(ProgressForm, CountBarAndCancel) {
    TMsgForm form(nullptr);
    form.SetTitle("Import");
    form.AllowCancel();
    form.ShowCount(2, 5, "5 files (2 done)");
    form.show();
    auto* bar = Child<QProgressBar>(&form, "ProgressBar");
    EXPECT_EQ(bar->value(), 2);
    EXPECT_EQ(bar->maximum(), 5);
    EXPECT_EQ(Child<QLabel>(&form, "CountLabel")->text(), "5 files (2 done)");
    EXPECT_EQ(form.windowModality(), Qt::ApplicationModal);
    EXPECT_FALSE(form.CancelAsked());
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.CancelAsked());
    EXPECT_TRUE(form.isVisible()) << "Escape stops the operation, the operation closes the window";
    EXPECT_FALSE(Child<QPushButton>(&form, "CancelButton")->isEnabled());
}

// Every dialog is wide enough for its title beside the window manager's
// buttons, in each language.
TEST(Titles, DialogsAreAsWideAsTheirTitles) {
    for (Language language : {Language::Greek, Language::English, Language::Japanese}) {
        SetLanguage(language);
        EntryProperties p;
        p.name = "A";
        TPropertiesForm props(nullptr, p);
        TMsgForm progress(nullptr);
        progress.SetTitle(QString::fromUtf8("Ανάγνωση δομής φακέλων και πολλών ακόμη πραγμάτων σε πολύ μακρύ τίτλο"));
        for (QDialog* d : {static_cast<QDialog*>(&props), static_cast<QDialog*>(&progress)}) {
            d->show();
            QApplication::processEvents();
            QFont bold = d->font();
            bold.setBold(true);
            EXPECT_GE(d->width(), TitleWidth(QFontMetrics(bold), d->windowTitle())) << d->windowTitle().toStdString();
            EXPECT_TRUE(FixedSize(d)) << d->windowTitle().toStdString();
            d->hide();
        }
    }
    SetLanguage(Language::Greek);
}

TEST(MessageBoxes, GreekButtonsAndTheirAnswers) {
    int answer = WithModal(
        [](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->text(), QString::fromUtf8("Θέλετε να διαγράψετε τα επιλεγμένα αρχεία;"));
            QStringList captions;
            for (auto* b : box->buttons()) captions << Shown(b->text());
            captions.sort();
            QStringList expected{QString::fromUtf8("Ναι"), QString::fromUtf8("Όχι")};
            expected.sort();
            EXPECT_EQ(captions, expected);
            for (auto* b : box->buttons())
                if (Shown(b->text()) == QString::fromUtf8("Όχι")) b->click();
        },
        [] { return RunMessageBox(nullptr, QString::fromUtf8("Θέλετε να διαγράψετε τα επιλεγμένα αρχεία;"), "Voldex", kBoxYesNoQuestion); });
    EXPECT_EQ(answer, kIdNo);
    answer = WithModal([](QDialog* d) { qobject_cast<QMessageBox*>(d)->defaultButton()->click(); },
                       [] { return RunMessageBox(nullptr, "?", "Voldex", kBoxYesNoWarning); });
    EXPECT_EQ(answer, kIdYes);
    answer = WithModal(
        [](QDialog* d) {
            auto* box = qobject_cast<QMessageBox*>(d);
            ASSERT_EQ(box->buttons().size(), 1);
            EXPECT_EQ(box->buttons()[0]->text(), "OK");
            box->buttons()[0]->click();
        },
        [] { return RunMessageBox(nullptr, "x", "Voldex", kBoxStop); });
    EXPECT_EQ(answer, kIdOk);
}

TEST(Help, EveryContextOpensAtItsOwnSection) {
    // Context, then its heading in English, Greek and Japanese.
    const std::tuple<int, const char*, const char*, const char*> contexts[] = {
        {kHelpMain, "Voldex", "Voldex", "Voldex"},
        {kHelpFloppy, "Making an image from a floppy", "Δημιουργία εικόνας από δισκέτα", "フロッピーからイメージを作成"},
        {kHelpSettings, "Settings", "Ρυθμίσεις", "設定"},
        {kHelpDiskType, "Disk type", "Τύπος δίσκου", "ディスクの種類"},
        {kHelpPartitions, "Partitions", "Διαμερίσματα", "パーティション"},
        {kHelpManual, "Manual parameters and search", "Παράμετροι με το χέρι και εύρεση", "手動設定と検索"},
        {kHelpOverwrite, "Replacing a file", "Αντικατάσταση αρχείου", "ファイルの上書き"},
        {kHelpConfirmList, "Confirming dropped files and moves", "Επιβεβαίωση αρχείων που αφέθηκαν και μετακινήσεων",
         "ドロップしたファイルと移動の確認"},
        {kHelpDrive, "Opening a drive", "Άνοιγμα δίσκου", "ドライブを開く"},
        {kHelpDiskInfo, "Disk information", "Πληροφορίες για τον δίσκο", "ディスク情報"},
    };
    for (Language language : {Language::English, Language::Greek, Language::Japanese})
    for (const auto& [context, english, greek, japanese] : contexts) {
        SetLanguage(language);
        const char* heading = language == Language::English ? english : language == Language::Greek ? greek : japanese;
        QDialog* help = ShowHelp(nullptr, context);
        SetLanguage(Language::Greek);
        auto* browser = Child<QTextBrowser>(help, "HelpBrowser");
        EXPECT_GT(browser->toPlainText().size(), 1000) << "the help text is there";
        EXPECT_EQ(HelpHeadingShown(help), QString::fromUtf8(heading)) << "context " << context << " in " << LanguageCode(language);
        help->close();
    }
}

TEST(Help, F1InADialogOpensItsContext) {
    TOverWriteForm form(nullptr, "a", {}, "b", {});
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    QTest::keyClick(&form, Qt::Key_F1);
    QDialog* help = form.findChild<QDialog*>("HelpWindow");
    ASSERT_NE(help, nullptr) << "F1 opened the help";
    EXPECT_EQ(HelpHeadingShown(help), QString::fromUtf8("Αντικατάσταση αρχείου"));
}
