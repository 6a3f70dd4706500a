// The window, its dialogs, Qt's own buttons and the help in English and
// Japanese. With VOLDEX_MATERIAL_DIR set, pictures of the main window with a
// menu open and of the dialogs are saved there: material for a person to
// look at, not checks of their own.

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

#include <set>

#include "device/language.h"
#include "device/messages.h"
#include "opening/settings/config.h"
#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/language_qt.h"
#include "explorer/window/tvoldex.h"
#include "floppy/window/fdd_dialog.h"
#include "opening/diskopen.h"
#include "opening/window/opening_dialogs.h"
#include "support/forms.h"
#include "support/images.h"

namespace {

class QuietWindow : public TVoldex {
public:
    int ShowBox(const std::string& text, const std::string&, int) override {
        boxes.push_back(text);
        return kIdOk;
    }
    std::optional<std::string> ChooseImageFile() override { return std::nullopt; }
    std::vector<std::string> boxes;
};

// The mnemonic letters of a menu's items must differ.
QString CollidingMnemonics(const QList<QAction*>& actions) {
    std::set<QString> seen;
    QString twice;
    for (QAction* a : actions) {
        if (a->isSeparator() || a->text().isEmpty()) continue;
        QKeySequence key = QKeySequence::mnemonic(a->text());
        if (key.isEmpty()) continue;
        if (!seen.insert(key.toString()).second) twice += a->text() + " ";
    }
    return twice;
}

void SaveMaterial(const QPixmap& picture, const QString& name) {
    QByteArray dir = qgetenv("VOLDEX_MATERIAL_DIR");
    if (!dir.isEmpty()) QVERIFY(picture.save(QString::fromLocal8Bit(dir) + "/" + name));
}

// The access keys of a dialog's buttons, check boxes, group boxes and
// labelled fields that are used twice.
QString CollidingAccessKeys(QWidget* dialog) {
    std::map<QString, QStringList> byKey;
    auto note = [&](const QString& text) {
        QKeySequence key = QKeySequence::mnemonic(text);
        if (!key.isEmpty()) byKey[key.toString()] << text;
    };
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) note(b->text());
    for (QGroupBox* g : dialog->findChildren<QGroupBox*>()) note(g->title());
    for (QLabel* l : dialog->findChildren<QLabel*>())
        if (l->buddy()) note(l->text());
    QString twice;
    for (const auto& [key, texts] : byKey)
        if (texts.size() > 1) twice += dialog->objectName() + ": " + texts.join(" / ") + "\n";
    return twice;
}

}  // namespace

class LanguageWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> home_, dir_;
    std::string image_;

    void Speak(Language language) {
        SetLanguage(language);
        QVERIFY(InstallQtTranslation(*qApp));
    }

private slots:
    void initTestCase() {
        home_ = std::make_unique<TempDir>();
        qputenv("VOLDEX_HOME", home_->path().c_str());
        std::string ini = "[ProgramSettings]\n";
        WriteHostFile(home_->path() + "/kestrel.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
        dir_ = std::make_unique<TempDir>();
        image_ = *dir_ / "v.img";
        MakeFatImage(image_, 1440, 12);
        std::string src = *dir_ / "src";
        RunShell("mkdir -p " + Quote(src + "/GAMES"));
        WriteHostFile(src + "/README.DOC", RandomBytes(1234, 1));
        WriteHostFile(src + "/AUTOEXEC.BAT", RandomBytes(300, 2));
        RunShell("mcopy -s -i " + Quote(image_) + " " + Quote(src + "/README.DOC") + " " + Quote(src + "/AUTOEXEC.BAT") +
                 " " + Quote(src + "/GAMES") + " ::");
    }
    void cleanup() {
        SetLanguage(Language::Greek);
        InstallQtTranslation(*qApp);
        PendingOpeningOptions() = {};
    }
    void cleanupTestCase() { qunsetenv("VOLDEX_HOME"); }

    void mainWindow_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("exportItem");
        QTest::addColumn<QString>("nameColumn");
        QTest::addColumn<QString>("freeSpace");
        QTest::newRow("en") << int(Language::English) << "&File" << "&Export Files..." << "Name"
                            << "1,455,104 bytes (2,842 clusters) free";
        QTest::newRow("ja") << int(Language::Japanese) << QString::fromUtf8("ファイル(&F)")
                            << QString::fromUtf8("ファイルの取り出し(&E)...") << QString::fromUtf8("名前")
                            << QString::fromUtf8("空き 1,455,104 バイト（2,842 クラスタ）");
    }
    void mainWindow() {
        QFETCH(int, language);
        QFETCH(QString, file);
        Speak(Language(language));
        PendingOpeningOptions() = {std::nullopt, true};
        QuietWindow w;
        w.SetStartPath(image_);
        w.resize(760, 460);
        w.show();
        w.FirstShow();
        QVERIFY(w.HasVolume());
        QList<QAction*> menus = w.menuBar()->actions();
        QVERIFY(menus.size() >= 5);
        QCOMPARE(menus[0]->text(), file);
        QFETCH(QString, exportItem);
        QCOMPARE(w.Action("MNSaveFile")->text(), exportItem);
        QFETCH(QString, nameColumn);
        // The caption follows the sort mark ("+").
        QString header = w.DetailsView()->model()->headerData(0, Qt::Horizontal).toString();
        QVERIFY2(header.endsWith(nameColumn) && header.size() <= nameColumn.size() + 1, qPrintable(header));
        QFETCH(QString, freeSpace);
        QCOMPARE(w.StatusPanel(2), freeSpace);
        // Every caption is translated (no Greek letter left) and reachable
        // by a mnemonic that no other item of its menu uses.
        QRegularExpression greek(QStringLiteral("[\\x{0370}-\\x{03FF}]"));
        QCOMPARE(CollidingMnemonics(menus), QString());
        for (QAction* m : menus) {
            QVERIFY2(!QKeySequence::mnemonic(m->text()).isEmpty(), qPrintable(m->text()));
            QVERIFY2(!greek.match(m->text()).hasMatch(), qPrintable(m->text()));
            QCOMPARE(CollidingMnemonics(m->menu()->actions()), QString());
            for (QAction* a : m->menu()->actions()) QVERIFY2(!greek.match(a->text()).hasMatch(), qPrintable(a->text()));
        }
        // The picture: the window with its File menu open below the menu bar.
        QMenu* fileMenu = menus[0]->menu();
        QPoint at = w.menuBar()->mapTo(&w, w.menuBar()->actionGeometry(menus[0]).bottomLeft());
        fileMenu->popup(w.mapToGlobal(at));
        QTest::qWait(50);
        QPixmap picture = w.grab();
        QPainter painter(&picture);
        painter.drawPixmap(at, fileMenu->grab());
        painter.end();
        fileMenu->hide();
        SaveMaterial(picture, QStringLiteral("i14-main-menu-%1.png").arg(LanguageCode(Language(language))));
    }

    void dialogs_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("yesToAll");
        QTest::addColumn<QString>("plainImage");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("detect");
        QTest::newRow("en") << int(Language::English) << "Yes to &All" << "Plain disk image" << "Confirm Replace"
                            << "Detect by content";
        QTest::newRow("ja") << int(Language::Japanese) << QString::fromUtf8("すべて上書き(&A)")
                            << QString::fromUtf8("ベタイメージ") << QString::fromUtf8("上書きの確認")
                            << QString::fromUtf8("内容から自動判別");
        QTest::newRow("el") << int(Language::Greek) << QString::fromUtf8("Ναι σε ό&λα")
                            << QString::fromUtf8("Απλή εικόνα δίσκου") << QString::fromUtf8("Επιβεβαίωση αντικατάστασης")
                            << QString::fromUtf8("Αναγνώριση από το περιεχόμενο");
    }
    void dialogs() {
        QFETCH(int, language);
        Speak(Language(language));
        const char* code = LanguageCode(Language(language));
        SystemTime old{1993, 4, 0, 1, 12, 30, 0, 0}, incoming{1996, 11, 0, 23, 9, 5, 42, 0};
        TOverWriteForm overwrite(nullptr, "README.DOC", old, "README.DOC", incoming);
        QFETCH(QString, title);
        QCOMPARE(overwrite.windowTitle(), title);
        QFETCH(QString, yesToAll);
        QCOMPARE(overwrite.findChild<QPushButton*>("btnAllYes")->text(), yesToAll);
        overwrite.show();
        SaveMaterial(overwrite.grab(), QStringLiteral("i14-overwrite-%1.png").arg(code));

        TDiskOpener opener;
        TDiskOpenerForm type(nullptr, image_, opener.Items, 2);
        QFETCH(QString, plainImage);
        QCOMPARE(type.findChild<QComboBox*>("ComboBox1")->currentText(), plainImage);
        type.show();
        SaveMaterial(type.grab(), QStringLiteral("i14-disktype-%1.png").arg(code));

        // The shipped detect-by-content profile is named in the Greek of the
        // profile file; the list shows it in the user's language.
        std::vector<std::string> withDetect = opener.Items;
        withDetect.push_back("Αναγνώριση από το περιεχόμενο");
        TDiskOpenerForm detecting(nullptr, image_, withDetect, int(withDetect.size()) - 1);
        QFETCH(QString, detect);
        QCOMPARE(detecting.findChild<QComboBox*>("ComboBox1")->currentText(), detect);
    }

    void qtButtonsFollow() {
        const std::pair<Language, const char*> cases[] = {
            {Language::English, "Cancel"}, {Language::Japanese, "キャンセル"}, {Language::Greek, "Άκυρο"}};
        for (const auto& [language, cancel] : cases) {
            Speak(language);
            QDialogButtonBox box(QDialogButtonBox::Cancel | QDialogButtonBox::Yes);
            QCOMPARE(box.button(QDialogButtonBox::Cancel)->text(), QString::fromUtf8(cancel));
        }
        // A question as the window asks it: the catalogue's text, Qt's buttons.
        Speak(Language::Japanese);
        QMessageBox question(QMessageBox::Question, "Voldex", QString::fromUtf8(ResourceString().LoadMessage(129)),
                             QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.button(QMessageBox::Yes)->text(), QString::fromUtf8("はい(&Y)"));
        question.show();
        SaveMaterial(question.grab(), "i14-question-ja.png");
        question.hide();
    }

    void settingsDialogOffersTheChoice() {
        Speak(Language::English);
        {
            TConfigForm form(nullptr);
            auto* combo = form.findChild<QComboBox*>("cbLanguage");
            QVERIFY(combo);
            QCOMPARE(combo->count(), 4);
            QCOMPARE(combo->currentIndex(), 0);  // nothing set: from the environment
            QCOMPARE(form.ChosenLanguage(), std::string());
            combo->setCurrentIndex(combo->findData("ja"));
            QCOMPARE(form.ChosenLanguage(), std::string("ja"));
            form.show();
            SaveMaterial(form.grab(), "i14-settings-en.png");
        }
        // The dialog starts from the setting.
        QVERIFY(WriteSettingString(kSettingsSection, "Language", "el"));
        {
            TConfigForm form(nullptr);
            QCOMPARE(form.findChild<QComboBox*>("cbLanguage")->currentData().toString(), QString("el"));
            QCOMPARE(form.ChosenLanguage(), std::string("el"));
        }
        QVERIFY(WriteSettingString(kSettingsSection, "Language", ""));
    }

    // No dialog uses one access key twice, in any language.
    void accessKeysDifferInEveryDialog() {
        for (Language language : {Language::Greek, Language::English, Language::Japanese}) {
            Speak(language);
            QString twice;
            SystemTime t{1996, 11, 0, 23, 9, 5, 42, 0};
            TOverWriteForm overwrite(nullptr, "A", t, "A", t);
            TConfigForm settings(nullptr);
            TDiskOpener opener(std::vector<DISKPROFILE>{});
            TDiskOpenerForm type(nullptr, image_, opener.Items, 2);
            THDDPartDialog part;
            THDDPartForm partitions(nullptr, part, true);
            TManualDiskDialog manual;
            TManualDiskForm custom(nullptr, manual);
            TDiskSearchForm search(nullptr, manual);
            TMakeFDDForm floppy(nullptr);
            for (QWidget* d : std::initializer_list<QWidget*>{&overwrite, &settings, &type, &partitions, &custom, &search, &floppy})
                twice += CollidingAccessKeys(d);
            std::string path;
            WithModal(
                [&](QDialog* d) {
                    twice += CollidingAccessKeys(d);
                    d->reject();
                },
                [&] { return ChooseDrivePath(nullptr, path); });
            QVERIFY2(twice.isEmpty(), qPrintable(QString(LanguageCode(language)) + ": " + twice));
        }
    }

    // The file choosers speak the window's language, columns included, and
    // open wide enough to show every column whole.
    void choosersShowEveryColumn_data() {
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("modified");
        QTest::newRow("el") << int(Language::Greek) << QString::fromUtf8("Όνομα")
                            << QString::fromUtf8("Ημερομηνία τροποποίησης");
        QTest::newRow("en") << int(Language::English) << "Name" << "Date Modified";
        QTest::newRow("ja") << int(Language::Japanese) << QString::fromUtf8("名前") << QString::fromUtf8("更新日");
    }
    void choosersShowEveryColumn() {
        QFETCH(int, language);
        Speak(Language(language));
        QFETCH(QString, name);
        QFETCH(QString, modified);
        WithModal(
            [&](QDialog* d) {
                // Qt's own chooser: a desktop's would speak the desktop's language.
                auto* chooser = qobject_cast<QFileDialog*>(d);
                QVERIFY(chooser && chooser->testOption(QFileDialog::DontUseNativeDialog));
                auto* list = d->findChild<QTreeView*>("treeView");
                QVERIFY(list && list->isVisible());
                QHeaderView* header = list->header();
                QCOMPARE(header->model()->headerData(0, Qt::Horizontal).toString(), name);
                QCOMPARE(header->model()->headerData(3, Qt::Horizontal).toString(), modified);
                QFontMetrics fm(header->font());
                int total = 0;
                for (int c = 0; c < header->count(); ++c) {
                    if (header->isSectionHidden(c)) continue;
                    QString caption = header->model()->headerData(c, Qt::Horizontal).toString();
                    QVERIFY2(header->sectionSize(c) >= fm.horizontalAdvance(caption), qPrintable(caption));
                    total += header->sectionSize(c);
                }
                QVERIFY2(total <= list->viewport()->width(), qPrintable(QString::number(total)));
                SaveMaterial(d->grab(), QStringLiteral("chooser-%1.png").arg(LanguageCode(Language(language))));
                d->reject();
            },
            [&] { return ChooseOpenFile(nullptr, "Voldex", QString::fromStdString(dir_->path()), "*"); });
    }

    void helpInEveryLanguage() {
        // The same help contexts in every language.
        std::map<Language, std::set<QString>> anchors;
        const std::pair<Language, const char*> cases[] = {
            {Language::Greek, "Ρυθμίσεις"}, {Language::English, "Settings"}, {Language::Japanese, "設定"}};
        for (const auto& [language, word] : cases) {
            SetLanguage(language);
            QFile file(HelpResource());
            QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(HelpResource()));
            QString html = QString::fromUtf8(file.readAll());
            QVERIFY(html.contains(QString::fromUtf8(word)));
            auto it = QRegularExpression("name=\"(ctx[0-9]+)\"").globalMatch(html);
            while (it.hasNext()) anchors[language].insert(it.next().captured(1));
            QVERIFY(anchors[language].count("ctx1"));
        }
        QCOMPARE(anchors[Language::English], anchors[Language::Greek]);
        QCOMPARE(anchors[Language::Japanese], anchors[Language::Greek]);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Q_INIT_RESOURCE(help);
    LanguageWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "language_window_test.moc"
