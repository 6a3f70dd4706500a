// The explorer window driven as a user would, with the dialogs' answers
// scripted and the image checked by fsck.fat and mtools afterwards.

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeView>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QSplitter>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QtTest>

#include <deque>
#include <set>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include "opening/settings/config.h"
#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/tvoldex.h"
#include "opening/diskopen.h"
#include "support/disks.h"
#include "support/forms.h"
#include "support/images.h"

namespace {

class ScriptedWindow : public TVoldex {
public:
    int ShowBox(const std::string& text, const std::string&, int style) override {
        boxes.push_back(text);
        treePaintedUnderBoxes = treePaintedUnderBoxes && Tree()->updatesEnabled();
        if (style == kBoxYesNoQuestion || style == kBoxYesNoWarning) return yes ? kIdYes : kIdNo;
        return kIdOk;
    }
    OverwriteAnswer AskOverwrite(const std::string& existing, const SystemTime&, const std::string&,
                                 const SystemTime&) override {
        questions.push_back(existing);
        if (answers.empty()) return owCancel;
        OverwriteAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    bool ShowDiskTypeDialog(const std::string&, const std::vector<std::string>&, int&) override {
        ++typeDialogs;
        return typeAnswer;
    }
    bool OfferRepair(const std::vector<std::string>& lines, bool repairable) override {
        findings = lines;
        return repairable && repair;
    }
    bool ShowProperties(EntryProperties& p) override {
        properties.push_back(p.root ? "label " + p.label : p.name);
        if (p.root) p.label = "NEWLABEL";
        else p.attributes |= 0x01;
        return true;
    }
    // The user presses Cancel in the progress window once `cancelAt` files are done.
    void CountProgress(std::size_t done, std::size_t total) override {
        TVoldex::CountProgress(done, total);
        counts.push_back(done);
        if (done == cancelAt && ProgressWindow())
            if (auto* cancel = ProgressWindow()->findChild<QPushButton*>("CancelButton")) {
                barAtCancel = ProgressWindow()->findChild<QProgressBar*>("ProgressBar");
                if (barAtCancel) barText = QString::number(barAtCancel->value()) + "/" + QString::number(barAtCancel->maximum());
                countText = ProgressWindow()->findChild<QLabel*>("CountLabel")->text();
                cancel->click();
            }
    }
    std::optional<std::string> ChooseImageFile() override { return std::nullopt; }
    std::optional<std::string> ChooseExportFolder() override { return exportFolder; }
    std::vector<std::string> ChooseImportFiles() override { return importFiles; }

    std::vector<std::string> boxes, questions, findings, properties;
    std::vector<std::size_t> counts;
    std::size_t cancelAt = std::size_t(-1);
    QProgressBar* barAtCancel = nullptr;
    QString barText, countText;
    bool repair = true;
    std::deque<OverwriteAnswer> answers;
    bool yes = true;
    int typeDialogs = 0;
    bool typeAnswer = true;
    bool treePaintedUnderBoxes = true;
    std::optional<std::string> exportFolder;
    std::vector<std::string> importFiles;
};

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<TempDir> home_;
    std::string image_;
    std::unique_ptr<ScriptedWindow> w_;

    int Row(const QString& name) {
        auto* model = w_->DetailsView()->model();
        for (int r = 0; r < model->rowCount(); ++r)
            if (model->index(r, 0).data().toString() == name) return r;
        return -1;
    }
    int Entry(const QString& name) {
        int r = Row(name);
        if (r < 0) return -1;
        return w_->DetailsView()->model()->index(r, 0).data(Qt::UserRole + 1).toInt();
    }
    QStringList Names() {
        QStringList names;
        auto* model = w_->DetailsView()->model();
        for (int r = 0; r < model->rowCount(); ++r) names << model->index(r, 0).data().toString();
        return names;
    }
    void Select(std::initializer_list<const char*> names) {
        std::vector<int> entries;
        for (const char* n : names) entries.push_back(Entry(QString::fromUtf8(n)));
        w_->SelectEntries(entries);
    }
    void ExpectSound() {
        w_->CloseVolume();
        std::string report;
        QVERIFY2(FsckClean(image_, &report), report.c_str());
        QVERIFY(w_->OpenImage(image_));
    }
    std::string Mdir(const std::string& where) {
        std::string out;
        RunShell("mdir -b -i " + Quote(image_) + " " + Quote(where), &out);
        return out;
    }

private slots:
    void init() {
        home_ = std::make_unique<TempDir>();
        qputenv("VOLDEX_HOME", home_->path().c_str());
        // The default profiles would not matter here; skip the type question.
        // These tests follow 8.3 names; longNamesInListAndTree turns long names on.
        const std::string ini = "[ProgramSettings]\nLongNames=0\n";
        WriteHostFile(home_->path() + "/kestrel.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
        dir_ = std::make_unique<TempDir>();
        image_ = *dir_ / "v.img";
        MakeFatImage(image_, 1440, 12);
        std::string src = *dir_ / "src";
        RunShell("mkdir -p " + Quote(src + "/SUB/DEEP"));
        WriteHostFile(src + "/A.TXT", RandomBytes(100, 1));
        WriteHostFile(src + "/B.BIN", RandomBytes(3000, 2));
        WriteHostFile(src + "/SUB/C.TXT", RandomBytes(10, 3));
        RunShell("mcopy -s -i " + Quote(image_) + " " + Quote(src + "/A.TXT") + " " + Quote(src + "/B.BIN") + " " +
                 Quote(src + "/SUB") + " ::");
        PendingOpeningOptions() = {std::nullopt, true};
        w_ = std::make_unique<ScriptedWindow>();
        w_->SetStartPath(image_);
        w_->FirstShow();
    }
    void cleanup() {
        w_.reset();
        PendingOpeningOptions() = {};
        qunsetenv("VOLDEX_HOME");
    }

    void opensFromTheCommandLine() {
        QVERIFY(w_->HasVolume());
        QCOMPARE(w_->typeDialogs, 0);
        QTreeWidget* tree = w_->Tree();
        QCOMPARE(tree->topLevelItemCount(), 1);
        QTreeWidgetItem* root = tree->topLevelItem(0);
        QCOMPARE(root->text(0), QString("v.img"));
        QCOMPARE(root->childCount(), 1);
        QCOMPARE(root->child(0)->text(0), QString("SUB"));
        QCOMPARE(root->child(0)->child(0)->text(0), QString("DEEP"));
        QCOMPARE(Names(), (QStringList{"SUB", "A.TXT", "B.BIN"}));
        QCOMPARE(w_->StatusPanel(2), QString::fromUtf8("1,452,544 bytes (2,837 clusters) ελεύθερα"));
        // The first row is current, so that the keys start there, but not
        // selected: no command acts on a row the user did not pick.
        QVERIFY(w_->SelectedEntries().empty());
        QCOMPARE(w_->DetailsView()->currentIndex().row(), 0);
        QCOMPARE(w_->StatusPanel(0), QString::fromUtf8("3 αρχεία"));
        QCOMPARE(w_->windowTitle(), QString::fromUtf8("Voldex  -  v.img"));
        QVERIFY(!w_->Action("MNUpDir")->isEnabled());
        QVERIFY(!w_->Action("MNDelete")->isEnabled());
        QVERIFY(w_->Action("MNMakeDir")->isEnabled());
    }

    void browsesTheTreeAndTheList() {
        QTreeWidgetItem* sub = w_->Tree()->topLevelItem(0)->child(0);
        w_->Tree()->setCurrentItem(sub);
        QCOMPARE(Names(), (QStringList{"DEEP", "C.TXT"}));
        QVERIFY(w_->Action("MNUpDir")->isEnabled());
        w_->ToggleParentDir();
        QCOMPARE(Names(), (QStringList{"..", "DEEP", "C.TXT"}));
        w_->ToggleParentDir();
        w_->UpDir();
        QCOMPARE(w_->CurrentCluster(), 0u);
        QCOMPARE(w_->Tree()->currentItem(), w_->Tree()->topLevelItem(0));
        Select({"A.TXT", "B.BIN"});
        QCOMPARE(w_->StatusPanel(0), QString::fromUtf8("2 επιλεγμένα στοιχεία"));
        QCOMPARE(w_->StatusPanel(1), QString::fromUtf8("3,100 bytes (7 clusters)"));
        QVERIFY(w_->Action("MNDelete")->isEnabled());
        w_->InvertSelection();
        QCOMPARE(w_->SelectedEntries(), std::vector<int>{Entry("SUB")});
        w_->SelectAll();
        QCOMPARE(w_->SelectedEntries().size(), std::size_t(3));
        w_->SetViewMode(0);
        QCOMPARE(w_->IconView()->viewMode(), QListView::IconMode);
        QVERIFY(w_->Action("MNVIcon")->isChecked());
        QCOMPARE(w_->IconView()->selectionModel(), w_->DetailsView()->selectionModel());
        w_->SetViewMode(3);
    }

    void sortsByColumnClicks() {
        QCOMPARE(w_->ColumnCaption(1), QString::fromUtf8("+Όνομα"));
        w_->ColumnClick(1);
        QCOMPARE(w_->ColumnCaption(1), QString::fromUtf8("-Όνομα"));
        QCOMPARE(Names(), (QStringList{"SUB", "B.BIN", "A.TXT"}));  // "folders first whatever the direction"
        w_->ColumnClick(1);
        QCOMPARE(w_->ColumnCaption(1), QString::fromUtf8("Όνομα"));
        w_->ColumnClick(2);
        QCOMPARE(w_->ColumnCaption(2), QString::fromUtf8("+Μέγεθος"));
        QCOMPARE(Names(), (QStringList{"SUB", "A.TXT", "B.BIN"}));
        w_->ColumnClick(2);
        QCOMPARE(Names(), (QStringList{"SUB", "B.BIN", "A.TXT"}));
    }

    void makesRenamesAndDeletes() {
        w_->MakeDir();
        QVERIFY(Row("NEWDIR.0") >= 0);
        QTreeWidgetItem* root = w_->Tree()->topLevelItem(0);
        QCOMPARE(root->childCount(), 2);
        // In-place rename through the list's own editing.
        auto* model = w_->DetailsView()->model();
        QVERIFY(model->flags(model->index(Row("NEWDIR.0"), 0)) & Qt::ItemIsEditable);
        QVERIFY(!(model->flags(model->index(Row("NEWDIR.0"), 1)) & Qt::ItemIsEditable));
        model->setData(model->index(Row("NEWDIR.0"), 0), "games", Qt::EditRole);
        QVERIFY(Row("GAMES") >= 0);
        QCOMPARE(w_->FindTreeNode(w_->CurrentDir()->GetStartCluster(Entry("GAMES")))->text(0), QString("GAMES"));
        QVERIFY(!w_->RenameEntry(Entry("A.TXT"), "b.bin"));
        QCOMPARE(QString::fromStdString(w_->boxes.back()), QString::fromUtf8("Υπάρχει ήδη αρχείο με όνομα\nB.BIN"));
        // A name stored changed is said, once; a change of case alone is not.
        const std::size_t told = w_->boxes.size();
        QVERIFY(w_->RenameEntry(Entry("A.TXT"), "a*b.txt"));
        QVERIFY(Row("A_B.TXT") >= 0);
        QCOMPARE(w_->boxes.size(), told + 1);
        QCOMPARE(QString::fromStdString(w_->boxes.back()), QString::fromUtf8("Το a*b.txt αποθηκεύτηκε ως A_B.TXT"));
        QVERIFY(!w_->RenameEntry(Entry("B.BIN"), "b.bin"));
        QCOMPARE(w_->boxes.size(), told + 1);
        Select({"SUB", "B.BIN"});
        w_->yes = false;
        w_->DeleteSelected();
        QVERIFY(Row("SUB") >= 0);  // "No keeps everything"
        w_->yes = true;
        w_->DeleteSelected();
        QCOMPARE(Names(), (QStringList{"GAMES", "A_B.TXT"}));
        QCOMPARE(root->childCount(), 1);  // "the deleted folder's node is gone"
        ExpectSound();
        std::string listing = Mdir("::");
        QVERIFY(listing.find("A_B.TXT") != std::string::npos);
        QVERIFY(listing.find("GAMES") != std::string::npos);
        QVERIFY(listing.find("SUB") == std::string::npos);
    }

    // Extras, Check and repair: released entries leave lost clusters; the
    // findings are offered, No writes nothing, Repair leaves a sound volume
    // and the folder tree read again.
    void checkAndRepairMendsTheVolume() {
        Select({"SUB", "B.BIN"});
        w_->ReleaseSelected(false);
        w_->repair = false;
        w_->Action("MNCheckRepair")->trigger();
        QCOMPARE(int(w_->findings.size()), 1);
        QVERIFY(w_->findings[0].rfind("lost-clusters: ", 0) == 0);
        std::string report;
        w_->CloseVolume();
        QVERIFY(!FsckClean(image_, &report));
        QVERIFY(w_->OpenImage(image_));
        w_->repair = true;
        w_->findings.clear();
        w_->Action("MNCheckRepair")->trigger();
        QCOMPARE(int(w_->findings.size()), 1);
        QCOMPARE(QString::fromStdString(w_->boxes.back()), QString::fromUtf8("Ο τόμος επισκευάστηκε και είναι καθαρός"));
        QCOMPARE(Names(), (QStringList{"A.TXT"}));
        QCOMPARE(w_->Tree()->topLevelItem(0)->childCount(), 0);
        ExpectSound();
        w_->Action("MNCheckRepair")->trigger();
        QCOMPARE(QString::fromStdString(w_->boxes.back()), QString::fromUtf8("Ο τόμος είναι καθαρός"));
    }

    void importsAndExportsThroughTheWindow() {
        TempDir host;
        WriteHostFile(host / "new.dat", RandomBytes(5000, 7));
        WriteHostFile(host / "a.txt", RandomBytes(20, 8));
        RunShell("mkdir -p " + Quote(host / "folder") + " && echo hi > " + Quote(host / "folder/x.txt"));
        w_->importFiles = {host / "new.dat", host / "a.txt", host / "folder"};
        w_->answers = {owYes};
        w_->WriteFiles();
        QCOMPARE(w_->questions, std::vector<std::string>{"A.TXT"});
        QVERIFY(Row("NEW.DAT") >= 0);
        QVERIFY(Row("FOLDER") >= 0);
        QVERIFY(w_->FindTreeNode(w_->CurrentDir()->GetStartCluster(Entry("FOLDER"))) != nullptr);
        ExpectSound();
        std::string out;
        RunShell("mtype -i " + Quote(image_) + " ::A.TXT | cmp - " + Quote(host / "a.txt") + " && echo same", &out);
        QCOMPARE(QString::fromStdString(out).trimmed(), QString("same"));

        TempDir target;
        w_->exportFolder = target.path();
        Select({"NEW.DAT", "FOLDER", "SUB"});
        w_->SaveFiles();
        QCOMPARE(ReadHostFile(target / "NEW.DAT"), RandomBytes(5000, 7));
        QCOMPARE(ReadHostFile(target / "SUB/C.TXT"), RandomBytes(10, 3));
        QVERIFY(QFileInfo::exists(QString::fromStdString(target / "FOLDER/X.TXT")));
        // Again: the existing files are asked about; Cancel stops with 131.
        w_->answers = {owCancel};
        w_->SaveFiles();
        QCOMPARE(QString::fromStdString(w_->boxes.back()), QString::fromUtf8("Η εξαγωγή αρχείων διακόπηκε"));
    }

    void movesEntriesOntoFolders() {
        Select({"A.TXT", "B.BIN"});
        w_->DropEntriesOnListItem(Entry("SUB"));
        QCOMPARE(Names(), (QStringList{"SUB"}));
        QTreeWidgetItem* sub = w_->Tree()->topLevelItem(0)->child(0);
        QTreeWidgetItem* deep = sub->child(0);
        // The folder onto its own subfolder: refused.
        w_->Tree()->setCurrentItem(sub);
        w_->DropTreeNodeOnTreeNode(deep);
        QCOMPARE(QString::fromStdString(w_->boxes.back()), QString::fromUtf8("Ο πάνω φάκελος δεν μπορεί να μετακινηθεί στον κάτω"));
        // DEEP up into the root through the tree.
        w_->Tree()->setCurrentItem(deep);
        w_->DropTreeNodeOnTreeNode(w_->Tree()->topLevelItem(0));
        QCOMPARE(w_->Tree()->topLevelItem(0)->childCount(), 2);
        ExpectSound();
        QVERIFY(Mdir("::SUB").find("A.TXT") != std::string::npos);
        QVERIFY(Mdir("::").find("DEEP") != std::string::npos);
    }

    // Files dropped from another program are copied in, and the source is
    // told so even when it proposes a move (it would delete its originals).
    void dropsFromOutsideAreAnsweredAsCopies() {
        const std::string host = *dir_ / "outside.txt";
        WriteHostFile(host, RandomBytes(20, 8));
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(QString::fromStdString(host))});
        int round = 0;
        for (QWidget* target : {w_->DetailsView()->viewport(), w_->Tree()->viewport()}) {
            const QPointF at(5, 5);
            const auto actions = Qt::CopyAction | Qt::MoveAction;
            QDragEnterEvent enter(at.toPoint(), actions, &data, Qt::LeftButton, Qt::ShiftModifier);
            QCOMPARE(enter.proposedAction(), Qt::MoveAction);
            QApplication::sendEvent(target, &enter);
            QVERIFY(enter.isAccepted());
            QCOMPARE(enter.dropAction(), Qt::CopyAction);
            QDropEvent drop(at, actions, &data, Qt::LeftButton, Qt::ShiftModifier);
            QCOMPARE(drop.proposedAction(), Qt::MoveAction);
            w_->answers = {owYes};
            QApplication::sendEvent(target, &drop);
            QVERIFY(drop.isAccepted());
            QCOMPARE(drop.dropAction(), Qt::CopyAction);
            QCOMPARE(w_->questions.size(), std::size_t(round++));  // the second drop asks about the first's copy
            QVERIFY(Names().contains("OUTSIDE.TXT"));
        }
        QVERIFY(QFileInfo::exists(QString::fromStdString(host)));
    }

    void dragAndClipboardHandOutRealFiles() {
        Select({"A.TXT", "SUB"});
        std::unique_ptr<QMimeData> drag(w_->MakeDragData());
        QVERIFY(drag->hasUrls());
        QList<QUrl> urls = drag->urls();
        QCOMPARE(urls.size(), 2);
        // In list order: the folder first.
        QCOMPARE(urls[0].toLocalFile(), QString::fromStdString(w_->TempFolder() + "/SUB"));
        QCOMPARE(urls[1].toLocalFile(), QString::fromStdString(w_->TempFolder() + "/A.TXT"));
        QCOMPARE(ReadHostFile(urls[1].toLocalFile().toStdString()), RandomBytes(100, 1));
        QVERIFY(QFileInfo::exists(QString::fromStdString(w_->TempFolder() + "/SUB/C.TXT")));
        // The copies made, the status bar shows the selection again.
        QCOMPARE(w_->StatusPanel(1), QString::fromUtf8("100 bytes (1 cluster)"));
        // Copy, list another folder, paste there: the copy travels through host files.
        Select({"B.BIN"});
        w_->CopySelected();
        const QMimeData* clip = QApplication::clipboard()->mimeData();
        QVERIFY(clip && clip->hasFormat("text/uri-list"));
        QVERIFY(clip->text().startsWith("Filename\tSize\tAttributes\tDate/Time\tStart\r\nB.BIN\t3000\tA\t"));
        QVERIFY(w_->CanPaste());
        w_->Tree()->setCurrentItem(w_->Tree()->topLevelItem(0)->child(0));
        w_->Paste();
        QVERIFY(Row("B.BIN") >= 0);
        // A delete gives the clipboard up.
        Select({"B.BIN"});
        w_->DeleteSelected();
        QVERIFY(!w_->CanPaste());
        ExpectSound();
    }

    void longNamesInListAndTree() {
        // The settings say nothing of LongNames: they are on.
        const std::string ini = "[ProgramSettings]\n";
        WriteHostFile(home_->path() + "/kestrel.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
        w_->CloseVolume();
        TempDir host;
        RunShell("mkdir -p " + Quote(host / "Program Files") + " && echo x > " + Quote(host / "Program Files/Café Ωmega.doc") +
                 " && echo y > " + Quote(host / "apple pie.txt"));
        RunShell("cd " + Quote(host.path()) + " && LC_ALL=C.UTF-8 mcopy -s -i " + Quote(image_) + " * ::");
        QVERIFY(w_->OpenImage(image_));
        QCOMPARE(Names(), (QStringList{"Program Files", "SUB", "A.TXT", "apple pie.txt", "B.BIN"}));  // "case-blind"
        QTreeWidgetItem* root = w_->Tree()->topLevelItem(0);
        QStringList nodes;
        for (int k = 0; k < root->childCount(); ++k) nodes << root->child(k)->text(0);
        QVERIFY(nodes.contains("Program Files"));
        // A rename in the list writes slots; the entry keeps its row.
        auto* model = w_->DetailsView()->model();
        model->setData(model->index(Row("A.TXT"), 0), "A name that needs three slots, at least.txt", Qt::EditRole);
        QVERIFY(Row("A name that needs three slots, at least.txt") >= 0);
        QCOMPARE(QString::fromStdString(w_->CurrentDir()->GetNameUtf8(Entry("A name that needs three slots, at least.txt"))),
                 QString("A name that needs three slots, at least.txt"));
        w_->ListDirectory(w_->CurrentCluster());
        QVERIFY(Row("A name that needs three slots, at least.txt") >= 0);
        ExpectSound();
        std::string listing;
        RunShell("LC_ALL=C.UTF-8 mdir -i " + Quote(image_) + " ::", &listing);
        QVERIFY(listing.find("A name that needs three slots, at least.txt") != std::string::npos);
        // The settings dialog shows the setting, on by default.
        TConfigForm form(w_.get());
        auto* box = form.findChild<QCheckBox*>("CBLongNames");
        QVERIFY(box && box->isChecked());
        // Turned off in the dialog: the tree shows the 8.3 names at once, as
        // the list does; turned on again, the long names come back.
        auto TreeNames = [&] {
            QStringList names;
            QTreeWidgetItem* top = w_->Tree()->topLevelItem(0);
            for (int k = 0; k < top->childCount(); ++k) names << top->child(k)->text(0);
            return names;
        };
        QVERIFY(w_->ApplyConfig({{"LongNames", 0}}));
        QVERIFY(TreeNames().contains("PROGRA~1"));
        QVERIFY(!TreeNames().contains("Program Files"));
        QVERIFY(Row("PROGRA~1") >= 0);
        QVERIFY(w_->ApplyConfig({{"LongNames", 1}}));
        QVERIFY(TreeNames().contains("Program Files"));
    }

    void closingForgetsTheVolume() {
        std::string temp = w_->TempFolder();
        QVERIFY(QFileInfo(QString::fromStdString(temp)).isDir());
        QVERIFY(QString::fromStdString(temp).startsWith(QDir::tempPath() + "/VX_"));
        w_->CloseVolume();
        QVERIFY(!w_->HasVolume());
        QCOMPARE(w_->StatusPanel(0), QString::fromUtf8("Δεν υπάρχει δίσκος"));
        QVERIFY(!w_->Action("MNMakeDir")->isEnabled());
        w_.reset();
        QVERIFY(!QFileInfo::exists(QString::fromStdString(temp)));  // "the temporary folder goes with the window"
    }

    // The real program, started as a file manager starts it: an absolute
    // path with spaces, through folders whose names hold "P" and "S" after
    // a slash, and the options as whole arguments in both forms.
    void startsFromAnAbsolutePathUnderXvfb() {
        if (QStandardPaths::findExecutable("xvfb-run").isEmpty()) QSKIP("xvfb-run is not installed");
        std::string folder = *dir_ / "x y/PC98/Saves";
        RunShell("mkdir -p " + Quote(folder));
        std::string hdi = folder + "/a.hdi";
        MakeAnex86Floppy(hdi);
        std::string profiles = ";VoldexProfiles\n[Anex86 (.HDI)]\nExtension=.HDI\nProfileType=4\n";
        WriteHostFile(home_->path() + "/voldex-profiles.ini", std::vector<uint8_t>(profiles.begin(), profiles.end()));
        const QStringList variants[] = {{QString::fromStdString(hdi), "/S"},
                                        {"--skip-type-dialog", QString::fromStdString(hdi)},
                                        {"--lang", "en", QString::fromStdString(hdi), "/S"}};
        for (const QStringList& args : variants) {
            QString shot = QString::fromStdString(*dir_ / "shot.png");
            QFile::remove(shot);
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("VOLDEX_SCREENSHOT", shot);
            env.remove("QT_QPA_PLATFORM");
            p.setProcessEnvironment(env);
            p.start("xvfb-run", QStringList{"-a", "-s", "-screen 0 1024x768x24", VOLDEX_GUI} + args);
            QVERIFY(p.waitForFinished(60000));
            QString out = QString::fromUtf8(p.readAllStandardOutput());
            QVERIFY2(out.contains(QString::fromUtf8("title: Voldex  -  a.hdi\n")), qPrintable(out + p.readAllStandardError()));
            QVERIFY2(out.contains("row: FLOPPY.TXT\n"), qPrintable(out));
            // No box stands in front of the window (a message would be modal).
            QVERIFY2(out.contains("modal: none\n"), qPrintable(out));
            QVERIFY2(out.contains(args.contains("en") ? "menu: &File\n" : "menu: &Αρχείο\n"), qPrintable(out));
            // The picture holds the window as drawn: its list shows the file's name.
            QImage picture(shot);
            QVERIFY(!picture.isNull());
            std::set<QRgb> colours;
            for (int y = 0; y < picture.height(); y += 4)
                for (int x = 0; x < picture.width(); x += 4) colours.insert(picture.pixel(x, y));
            QVERIFY2(colours.size() > 8, "the picture is blank");
        }
    }

    // SIGTERM takes the temporary folder with it.
    void terminatedWindowRemovesItsTemporaryFolder() {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.start(VOLDEX_GUI, {QString::fromStdString(image_), "/S"});
        QVERIFY(p.waitForStarted());
        QString folder;
        for (int k = 0; k < 200 && folder.isEmpty(); ++k) {
            QTest::qWait(50);
            QStringList found = QDir(QDir::tempPath()).entryList({QString("VX_%1_*").arg(p.processId())}, QDir::Dirs);
            if (!found.isEmpty()) folder = QDir(QDir::tempPath()).filePath(found.front());
        }
        QVERIFY2(!folder.isEmpty(), "the program made no temporary folder");
        QTest::qWait(300);
        ::kill(pid_t(p.processId()), SIGTERM);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QVERIFY2(!QFileInfo::exists(folder), qPrintable(folder));
    }

    // Folders of processes that are gone are removed at start; others stay.
    void staleTemporaryFoldersAreCleaned() {
        QProcess dead;
        dead.start("sleep", {"0.1"});
        QVERIFY(dead.waitForStarted());
        qint64 deadPid = dead.processId();
        QVERIFY(dead.waitForFinished());
        QString stale = QDir(QDir::tempPath()).filePath(QString("VX_%1_test01").arg(deadPid));
        QString live = QDir(QDir::tempPath()).filePath(QString("VX_%1_test02").arg(getppid()));
        QVERIFY(QDir().mkpath(stale + "/SUB"));
        WriteHostFile((stale + "/SUB/A.TXT").toStdString(), {1, 2, 3});
        ::chmod((stale + "/SUB/A.TXT").toLocal8Bit().constData(), 0444);
        QVERIFY(QDir().mkpath(live));
        auto w = std::make_unique<ScriptedWindow>();
        QVERIFY(!QFileInfo::exists(stale));
        QVERIFY(QFileInfo::exists(live));
        QDir(live).removeRecursively();
    }

    // Ctrl+V right after start, without any menu opened, imports what the
    // clipboard holds; Ctrl+A and Ctrl+C work the same way.
    void shortcutsWorkWithoutOpeningAMenu() {
        TempDir host;
        WriteHostFile(host / "pasted.bin", RandomBytes(700, 9));
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(QString::fromStdString(host / "pasted.bin"))});
        QApplication::clipboard()->setMimeData(data);
        QVERIFY(w_->Action("MNPaste")->isEnabled());
        w_->show();
        QApplication::setActiveWindow(w_.get());
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        w_->DetailsView()->setFocus();
        QTest::keyClick(w_->DetailsView(), Qt::Key_V, Qt::ControlModifier);
        QVERIFY(Row("PASTED.BIN") >= 0);
        QTest::keyClick(w_->DetailsView(), Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(w_->SelectedEntries().size(), std::size_t(4));
        QVERIFY(w_->Action("MNDelete")->isEnabled());
        QApplication::clipboard()->setText("just text");
        QVERIFY(!w_->Action("MNPaste")->isEnabled());
        ExpectSound();
    }

    // F1 in the main window opens the help at its first page.
    void f1ShowsTheHelp() {
        w_->show();
        QApplication::setActiveWindow(w_.get());
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        QTest::keyClick(w_.get(), Qt::Key_F1);
        auto* help = w_->findChild<QDialog*>("HelpWindow");
        QVERIFY(help);
        auto* browser = help->findChild<QTextBrowser*>("HelpBrowser");
        QVERIFY(browser->toPlainText().contains(QString::fromUtf8("Γραμμή εντολών")));
        help->close();
    }

    // Every menu caption and item has a key of its own in its menu.
    void mnemonicsAreSetAndDistinct() {
        QStringList titles;
        QSet<QChar> barKeys;
        QList<QMenu*> menus{w_->findChild<QMenu*>("FileViewPopup")};
        for (QAction* a : w_->menuBar()->actions()) {
            QChar key = Mnemonic(a->text());
            QVERIFY2(!key.isNull(), qPrintable(a->text()));
            QVERIFY2(!barKeys.contains(key), qPrintable(a->text()));
            barKeys.insert(key);
            menus << a->menu();
        }
        QCOMPARE(barKeys.size(), 5);
        for (QMenu* m : menus) {
            QSet<QChar> keys;
            for (QAction* a : m->actions()) {
                if (a->isSeparator()) continue;
                QChar key = Mnemonic(a->text());
                QVERIFY2(!key.isNull(), qPrintable(a->text()));
                QVERIFY2(!keys.contains(key), qPrintable(m->objectName() + ": " + a->text()));
                keys.insert(key);
            }
        }
        QCOMPARE(Shown(w_->Action("MNPaste")->text()), QString::fromUtf8("Επικόλληση"));
        QCOMPARE(w_->Action("MNHelp")->shortcut(), QKeySequence(QKeySequence::HelpContents));
    }

    // The dialog's values act at once; a settings file that cannot be
    // written is reported, and the values still hold for this run.
    void settingsTakeEffectAndAFailedWriteIsReported() {
        std::vector<std::pair<std::string, int>> values;
        for (const auto& b : TConfigForm::Boxes()) values.emplace_back(b.key, 0);
        for (auto& [key, value] : values)
            if (key == "ShowExtendingTree" || key == "NotifyExtract" || key == "ExitOnCancel") value = 1;
        QVERIFY(w_->ApplyConfig(values));
        QCOMPARE(w_->LiveSetting("ShowExtendingTree"), 1);
        QCOMPARE(w_->LiveSetting("NotifyExtract"), 1);
        QCOMPARE(Setting("ExitOnCancel"), 1);
        // Now the settings file's folder cannot be made: a file stands in its path.
        WriteHostFile(home_->path() + "/afile", {1});
        qputenv("VOLDEX_HOME", (home_->path() + "/afile/folder").c_str());
        for (auto& [key, value] : values) value = key == "DnDMode" || key == "AutoHDDFirst";
        QVERIFY(!w_->ApplyConfig(values));
        QVERIFY2(QString::fromStdString(w_->boxes.back()).startsWith(QString::fromUtf8("Οι ρυθμίσεις δεν αποθηκεύτηκαν")),
                 w_->boxes.back().c_str());
        QCOMPARE(w_->LiveSetting("DnDMode"), 1);
        QCOMPARE(w_->LiveSetting("ShowExtendingTree"), 0);
        QCOMPARE(Setting("AutoHDDFirst"), 1);
        QCOMPARE(Setting("ExitOnCancel"), 0);
        qputenv("VOLDEX_HOME", home_->path().c_str());
    }

    // Size, place, tree width, view and column widths come back at the next start.
    void layoutIsRemembered() {
        w_->show();
        w_->resize(1000, 640);
        w_->move(40, 30);
        w_->Splitter()->setSizes({260, 700});
        w_->SetViewMode(2);
        w_->DetailsView()->setColumnWidth(0, 333);
        QApplication::processEvents();
        int tree = w_->Splitter()->sizes()[0];
        w_->close();
        auto again = std::make_unique<ScriptedWindow>();
        again->show();
        QApplication::processEvents();
        QCOMPARE(again->size(), QSize(1000, 640));
        QCOMPARE(again->Splitter()->sizes()[0], tree);
        QCOMPARE(again->ViewMode(), 2);
        QVERIFY(again->Action("MNVList")->isChecked());
        QCOMPARE(again->DetailsView()->columnWidth(0), 333);
        QCOMPARE(SettingText("ColumnWidths").substr(0, 4), std::string("333,"));
        // Left maximized, it keeps its normal geometry, cycle after cycle.
        const QRect normal = again->geometry();
        for (int cycle = 0; cycle < 3; ++cycle) {
            again->showMaximized();
            QApplication::processEvents();
            again->close();
            again = std::make_unique<ScriptedWindow>();
            again->show();
            QApplication::processEvents();
            QVERIFY(again->isMaximized());
            again->showNormal();
            QApplication::processEvents();
            QCOMPARE(again->geometry(), normal);
        }
    }

    // Long figures are shown whole at the default size: a 100 MB file and
    // the free space of an 8 GiB volume; the columns fit their texts.
    void figuresAreShownWhole() {
        std::string big = *dir_ / "big.img";
        std::string movie = *dir_ / "MOVIE.BIN";
        QCOMPARE(RunShell("truncate -s 8G " + Quote(big) + " && mkfs.fat -F 32 -s 8 " + Quote(big) + " >/dev/null && " +
                          "truncate -s 104857600 " + Quote(movie) + " && mcopy -i " + Quote(big) + " " + Quote(movie) +
                          " ::"),
                 0);
        auto w = std::make_unique<ScriptedWindow>();
        w->show();
        QVERIFY(w->OpenImage(big));
        QApplication::processEvents();
        QString free = w->StatusPanel(2);
        QVERIFY2(free.startsWith("8,4") && free.size() > 40, qPrintable(free));
        auto* panel = w->findChild<QLabel*>("Panel2");
        QVERIFY(panel->width() >= panel->fontMetrics().horizontalAdvance(free));
        for (const char* name : {"Panel0", "Panel1"}) {
            auto* p = w->findChild<QLabel*>(name);
            QVERIFY2(p->width() >= p->fontMetrics().horizontalAdvance(p->text()), name);
            QVERIFY(p->geometry().right() < panel->geometry().left());
        }
        QTreeView* view = w->DetailsView();
        auto* model = view->model();
        QCOMPARE(model->index(0, 1).data().toString(), QString("104,857,600"));
        QFontMetrics fm(view->font()), hm(view->header()->font());
        for (int c = 0; c < 5; ++c) {
            QVERIFY(view->columnWidth(c) >= hm.horizontalAdvance(model->headerData(c, Qt::Horizontal).toString()));
            for (int r = 0; r < model->rowCount(); ++r)
                QVERIFY2(view->columnWidth(c) > fm.horizontalAdvance(model->index(r, c).data().toString()),
                         qPrintable(model->index(r, c).data().toString()));
        }
        QVERIFY(w->width() <= 900);
    }

    // A folder that refers back to its parent: one message while the tree is
    // built, and the tree keeps painting under the box.
    void loopMessageLeavesTheTreePainted() {
        w_->CloseVolume();
        {
            Mounted m = MountImageFile(image_);
            QVERIFY(m);
            DIDir root(m.image.get(), 0);
            QVERIFY(root.Load());
            uint32_t sub = uint32_t(root.GetStartCluster(root.Find("SUB")));
            DIDir dir(m.image.get(), sub);
            QVERIFY(dir.Load());
            QVERIFY(dir.SetStartCluster(dir.Find("DEEP"), sub));
            QVERIFY(dir.Write());
        }
        w_->boxes.clear();
        QVERIFY(w_->OpenImage(image_));
        QCOMPARE(w_->boxes, std::vector<std::string>{"Ο φάκελος συναντήθηκε δεύτερη φορά και παρατίθεται μία μόνο "
                                                     "φορά\n/SUB/DEEP"});
        QVERIFY(w_->treePaintedUnderBoxes);
        QCOMPARE(w_->Tree()->topLevelItem(0)->child(0)->child(0)->text(0), QString("DEEP"));
    }

    // Each of the four views, driven by mouse and keys: a click selects, the
    // arrows, Home and End move the selection, and F2, Ctrl+C, Delete,
    // Enter and a double click act on what is selected.
    void everyViewSelectsAndActs_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("next");  // the key to the next item
        QTest::newRow("large icons") << 0 << int(Qt::Key_Right);
        QTest::newRow("small icons") << 1 << int(Qt::Key_Right);
        QTest::newRow("list") << 2 << int(Qt::Key_Down);
        QTest::newRow("details") << 3 << int(Qt::Key_Down);
    }
    void everyViewSelectsAndActs() {
        QFETCH(int, mode);
        QFETCH(int, next);
        w_->SetViewMode(mode);
        w_->show();
        QApplication::setActiveWindow(w_.get());
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        QAbstractItemView* view = mode == 3 ? static_cast<QAbstractItemView*>(w_->DetailsView()) : w_->IconView();
        QVERIFY(view->isVisible());
        view->setFocus();
        auto* model = view->model();
        auto click = [&](const char* name, bool twice = false) {
            QPoint at = view->visualRect(model->index(Row(name), 0)).center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            if (twice) QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        };
        const QString one = QString::fromUtf8("1 επιλεγμένο στοιχείο");
        click("A.TXT");
        QCOMPARE(w_->SelectedEntries(), std::vector<int>{Entry("A.TXT")});
        QCOMPARE(w_->StatusPanel(0), one);
        QCOMPARE(w_->StatusPanel(1), QString::fromUtf8("100 bytes (1 cluster)"));
        for (const char* a : {"MNDelete", "MNRename", "MNSaveFile", "MNCopy", "MNShellMenu"}) QVERIFY2(w_->Action(a)->isEnabled(), a);
        QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
        const QMimeData* clip = QApplication::clipboard()->mimeData();
        QVERIFY(clip && clip->hasFormat("text/uri-list"));
        QVERIFY(clip->text().contains("A.TXT\t100\t"));
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(w_->SelectedEntries(), std::vector<int>{Entry("SUB")});
        QTest::keyClick(view, Qt::Key(next));
        QCOMPARE(w_->SelectedEntries(), std::vector<int>{Entry("A.TXT")});
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(w_->SelectedEntries(), std::vector<int>{Entry("B.BIN")});
        QCOMPARE(w_->StatusPanel(0), one);
        // F2 edits the name in place; Enter renames.
        QTest::keyClick(view, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        editor->setText("C.BIN");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(Row("C.BIN") >= 0);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_End);
        QTest::keyClick(view, Qt::Key_Delete);
        QCOMPARE(Names(), (QStringList{"SUB", "A.TXT"}));
        // Enter and a double click open a folder; Backspace goes back up.
        QTest::keyClick(view, Qt::Key_Home);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(Names(), (QStringList{"DEEP", "C.TXT"}));
        QTest::keyClick(view, Qt::Key_Backspace);
        click("SUB", true);
        QCOMPARE(Names(), (QStringList{"DEEP", "C.TXT"}));
        ExpectSound();
        QVERIFY(Mdir("::").find("B.BIN") == std::string::npos);
    }

    // Delete and F2 in the folder tree act on the folder of the current node.
    void treeKeysActOnTheFolder() {
        w_->show();
        QApplication::setActiveWindow(w_.get());
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        QTreeWidget* tree = w_->Tree();
        tree->setFocus();
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        QTest::keyClick(tree, Qt::Key_F2);
        auto* editor = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY(editor);
        QCOMPARE(editor->text(), QString("SUB"));
        editor->setText("GAMES");
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(tree->topLevelItem(0)->child(0)->text(0), QString("GAMES"));
        tree->setFocus();
        tree->setCurrentItem(tree->topLevelItem(0)->child(0));
        QTest::keyClick(tree, Qt::Key_Delete);
        QCOMPARE(tree->topLevelItem(0)->childCount(), 0);
        QCOMPARE(Names(), (QStringList{"A.TXT", "B.BIN"}));
        ExpectSound();
    }

    // One message per refused opening, naming the file and the cause,
    // and no disk-type question before it.
    void refusedOpeningsSayWhyOnce() {
        std::string detect = ";VoldexProfiles\n[Αναγνώριση από το περιεχόμενο]\nProfileType=7\n";
        WriteHostFile(home_->path() + "/voldex-profiles.ini", std::vector<uint8_t>(detect.begin(), detect.end()));
        const std::string missing = *dir_ / "missing.img", empty = *dir_ / "empty.img", tiny = *dir_ / "ten.txt",
                          text = *dir_ / "notes.txt", folder = *dir_ / "folder.img";
        WriteHostFile(empty, {});
        WriteHostFile(tiny, std::vector<uint8_t>(10, 'x'));
        WriteHostFile(text, std::vector<uint8_t>(40000, 'y'));
        QDir().mkpath(QString::fromStdString(folder));
        const std::pair<std::string, std::string> cases[] = {
            {missing, missing + ": δεν υπάρχει τέτοιο αρχείο"},
            {empty, "Το " + empty + " είναι κενό"},
            {tiny, tiny + ": δεν είναι εικόνα δίσκου που αναγνωρίζει το Voldex (δεν βρέθηκε κεφαλίδα, πίνακας "
                          "διαμερισμάτων ή εγγραφή εκκίνησης)"},
            {text, text + ": δεν είναι εικόνα δίσκου που αναγνωρίζει το Voldex (δεν βρέθηκε κεφαλίδα, πίνακας "
                          "διαμερισμάτων ή εγγραφή εκκίνησης)"},
            {folder, "Το " + folder + " είναι φάκελος, όχι εικόνα δίσκου"},
        };
        w_->typeAnswer = false;  // a question after the refusal is answered with Cancel
        for (const auto& [path, message] : cases) {
            w_->CloseVolume();
            w_->boxes.clear();
            w_->typeDialogs = 0;
            PendingOpeningOptions() = {std::nullopt, true};
            QVERIFY(!w_->OpenImage(path));
            QCOMPARE(w_->boxes, std::vector<std::string>{message});
            QCOMPARE(w_->typeDialogs, path == text ? 1 : 0);
        }
    }

    // An operation that runs longer than the progress delay shows the
    // progress window; a short one shows none.
    void longOperationsShowTheirProgress() {
        TempDir target;
        w_->exportFolder = target.path();
        Select({"A.TXT", "B.BIN", "SUB"});
        w_->SetProgressDelay(60000);
        w_->SaveFiles();
        QCOMPARE(w_->ProgressWindowsShown(), 0);
        RunShell("rm -rf " + Quote(target / "*"));
        w_->SetProgressDelay(0);
        w_->SaveFiles();
        QCOMPARE(w_->ProgressWindowsShown(), 1);
        QVERIFY(!w_->findChild<QDialog*>("TMsgForm") || !w_->findChild<QDialog*>("TMsgForm")->isVisible());
    }

    // The window's own options: a word it does not know is refused, never
    // opened as a file.
    void unknownOptionsAreRefused() {
        for (const QStringList& args : {QStringList{"-x", "a.img"}, QStringList{"--lang", "fr", "a.img"}, QStringList{"--frob"}}) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("QT_QPA_PLATFORM", "offscreen");
            p.setProcessEnvironment(env);
            p.start(VOLDEX_GUI, args);
            QVERIFY(p.waitForFinished(20000));
            QCOMPARE(p.exitCode(), 2);
            QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("usage: voldex [--lang el|en|ja]"));
        }
    }

    // What the user picked stays picked through the commands that list the
    // folder again; an import or a new folder selects what it made; another
    // folder starts with nothing selected.
    void selectionSurvivesOperations_data() {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QStringList>("picked");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("rename") << "rename" << QStringList{"A.TXT", "B.BIN"} << QStringList{"Z.TXT", "B.BIN"};
        QTest::newRow("properties") << "properties" << QStringList{"A.TXT", "B.BIN"} << QStringList{"A.TXT", "B.BIN"};
        QTest::newRow("import") << "import" << QStringList{"A.TXT"} << QStringList{"NEW1.TXT", "NEW2.TXT"};
        QTest::newRow("import again") << "replace" << QStringList{"SUB"} << QStringList{"A.TXT"};
        QTest::newRow("new folder") << "mkdir" << QStringList{"A.TXT"} << QStringList{"NEWDIR.0"};
        QTest::newRow("delete") << "delete" << QStringList{"A.TXT"} << QStringList{};
        QTest::newRow("into a folder") << "open" << QStringList{"A.TXT"} << QStringList{};
        QTest::newRow("up again") << "up" << QStringList{"C.TXT"} << QStringList{};
    }
    void selectionSurvivesOperations() {
        QFETCH(QString, operation);
        QFETCH(QStringList, picked);
        QFETCH(QStringList, after);
        TempDir host;
        if (operation == "up") w_->Tree()->setCurrentItem(w_->Tree()->topLevelItem(0)->child(0));
        std::vector<int> entries;
        for (const QString& n : picked) entries.push_back(Entry(n));
        w_->SelectEntries(entries);
        if (operation == "rename") {
            QVERIFY(w_->RenameEntry(Entry("A.TXT"), "z.txt"));
        } else if (operation == "properties") {
            w_->PropertiesOfSelection();
            QCOMPARE(w_->properties, std::vector<std::string>{"A.TXT"});
            QVERIFY(w_->CurrentDir()->GetAttr(Entry("A.TXT")) & 0x01);
        } else if (operation == "import" || operation == "replace") {
            for (const char* n : {"NEW1.TXT", "NEW2.TXT", "A.TXT"}) WriteHostFile(host / n, RandomBytes(50, 7));
            w_->importFiles = operation == "import" ? std::vector<std::string>{host / "NEW1.TXT", host / "NEW2.TXT"}
                                                    : std::vector<std::string>{host / "A.TXT"};
            w_->answers = {owYes};
            w_->WriteFiles();
        } else if (operation == "mkdir") {
            w_->MakeDir();
        } else if (operation == "delete") {
            w_->DeleteSelected();
        } else if (operation == "open") {
            w_->Tree()->setCurrentItem(w_->Tree()->topLevelItem(0)->child(0));
        } else {
            w_->UpDir();
        }
        QStringList selected;
        for (int r : w_->SelectedRows()) selected << w_->DetailsView()->model()->index(r, 0).data().toString();
        after.sort();
        selected.sort();
        QCOMPARE(selected, after);
        // The keys go on from what was made (or, in another folder, the first row).
        QModelIndex current = w_->DetailsView()->currentIndex();
        QVERIFY(current.isValid());
        if (operation == "import" || operation == "replace" || operation == "mkdir")
            QVERIFY(after.contains(current.data().toString()));
        if (operation == "open" || operation == "up") QCOMPARE(current.row(), 0);
    }

    // The label is the volume's name: its properties edit it, and a delete
    // leaves it (and "." and "..") in place with a word instead of a
    // question it would not act on.
    void theLabelIsEditedNotDeleted() {
        w_->CloseVolume();
        RunShell("mlabel -i " + Quote(image_) + " ::OLDLABEL");
        QVERIFY(w_->OpenImage(image_));
        Select({"OLDLABEL"});
        w_->PropertiesOfSelection();
        QCOMPARE(w_->properties, std::vector<std::string>{"label OLDLABEL"});
        QVERIFY(Row("NEWLABEL") >= 0);
        QCOMPARE(w_->SelectedEntries(), std::vector<int>{Entry("NEWLABEL")});
        w_->boxes.clear();
        w_->DeleteSelected();
        QCOMPARE(w_->boxes.size(), std::size_t(1));
        QVERIFY2(QString::fromStdString(w_->boxes[0]).startsWith(QString::fromUtf8("Τίποτα προς διαγραφή: NEWLABEL\n")),
                 w_->boxes[0].c_str());
        QVERIFY(Row("NEWLABEL") >= 0);
        // With other entries, the question counts them and names what stays.
        w_->ToggleParentDir();
        w_->Tree()->setCurrentItem(w_->Tree()->topLevelItem(0)->child(0));
        Select({"..", "DEEP", "C.TXT"});
        w_->yes = false;
        w_->DeleteSelected();
        QCOMPARE(QString::fromStdString(w_->boxes.back()),
                 QString::fromUtf8("Να διαγραφούν 2 στοιχεία;\nDEEP, C.TXT\n\n1 στοιχείο μένει: .. (η ετικέτα τόμου, το «.» και "
                                   "το «..» δεν διαγράφονται ποτέ)"));
        Select({"C.TXT"});
        w_->DeleteSelected();
        QCOMPARE(QString::fromStdString(w_->boxes.back()), QString::fromUtf8("Να διαγραφεί 1 στοιχείο;\nC.TXT"));
        w_->ToggleParentDir();
        ExpectSound();
        std::string label;
        RunShell("mlabel -s -i " + Quote(image_) + " ::", &label);
        QVERIFY2(label.find("NEWLABEL") != std::string::npos, label.c_str());
    }

    // The import's progress window counts the files done, with a bar, and
    // its Cancel stops the import after the file at hand.
    void importProgressCountsAndCancels() {
        TempDir host;
        std::vector<std::string> files;
        for (const char* n : {"P1.TXT", "P2.TXT", "P3.TXT"}) {
            WriteHostFile(host / n, RandomBytes(2000, 5));
            files.push_back(host / n);
        }
        w_->SetProgressDelay(0);
        w_->cancelAt = 1;
        w_->importFiles = files;
        w_->WriteFiles();
        QCOMPARE(w_->counts, (std::vector<std::size_t>{0, 1}));
        QVERIFY(w_->barAtCancel);
        QCOMPARE(w_->barText, QString("1/3"));
        QCOMPARE(w_->countText, QString::fromUtf8("Γράφονται 3 αρχεία (1 τελείωσαν)"));
        QCOMPARE(QString::fromStdString(w_->boxes.back()), QString::fromUtf8("Η εισαγωγή αρχείων διακόπηκε"));
        QVERIFY(Row("P1.TXT") >= 0);
        QVERIFY(Row("P2.TXT") < 0);
        QCOMPARE(w_->SelectedEntries(), std::vector<int>{Entry("P1.TXT")});
        QVERIFY(!w_->ProgressWindow());
        ExpectSound();
    }

    // A small window cuts the panels' texts (whole in their tips), never
    // lays one panel over another.
    void statusPanelsShareASmallWindow() {
        w_->show();
        w_->resize(420, 260);
        QTest::qWait(50);
        QCOMPARE(w_->width(), 420);
        QRect previous;
        for (int k = 0; k < 3; ++k) {
            auto* panel = w_->findChild<QLabel*>(QString("Panel%1").arg(k));
            QVERIFY(panel && panel->isVisible());
            QRect r = panel->geometry();
            QVERIFY2(r.right() < w_->width(), qPrintable(QString::number(r.right())));
            if (k) QVERIFY2(r.left() > previous.right(), qPrintable(QString("panel %1 at %2").arg(k).arg(r.left())));
            previous = r;
        }
        auto* free = w_->findChild<QLabel*>("Panel2");
        QCOMPARE(w_->StatusPanel(2), QString::fromUtf8("1,452,544 bytes (2,837 clusters) ελεύθερα"));
        if (free->text() != w_->StatusPanel(2)) QCOMPARE(free->toolTip(), w_->StatusPanel(2));
        w_->resize(900, 560);
        QTest::qWait(50);
        QCOMPARE(free->text(), w_->StatusPanel(2));
    }

    // Ctrl+A then a column click keeps every selected entry selected.
    void sortKeepsTheSelection() {
        Select({"A.TXT", "SUB"});
        w_->ColumnClick(2);
        w_->ColumnClick(2);
        QCOMPARE(Names(), (QStringList{"SUB", "B.BIN", "A.TXT"}));
        std::vector<int> selected = w_->SelectedEntries();
        QCOMPARE(selected, (std::vector<int>{Entry("SUB"), Entry("A.TXT")}));
        QCOMPARE(w_->StatusPanel(0), QString::fromUtf8("2 επιλεγμένα στοιχεία"));
        w_->ColumnClick(2);  // directory order
        QCOMPARE(w_->SelectedEntries().size(), std::size_t(2));
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    WindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
