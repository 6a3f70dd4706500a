#include "explorer/explorer_dialogs.h"

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "explorer/config.h"

namespace {
QString U(const char* s) { return QString::fromUtf8(s); }
}  // namespace

QString TOverWriteForm::DateText(const SystemTime& t) {
    return QString::asprintf("%d/%d/%d %d:%d:%d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

TOverWriteForm::TOverWriteForm(QWidget* parent, const std::string& existingName, const SystemTime& existingTime,
                               const std::string& incomingName, const SystemTime& incomingTime)
    : QDialog(parent) {
    setObjectName("TOverWriteForm");
    setWindowTitle(U("Επιβεβαίωση αντικατάστασης"));
    auto* layout = new QVBoxLayout(this);
    QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    auto item = [&](const std::string& name, const SystemTime& t, const char* nameId, const char* dateId) {
        auto* row = new QHBoxLayout;
        auto* pic = new QLabel(this);
        pic->setPixmap(fileIcon.pixmap(32, 32));
        row->addWidget(pic);
        auto* col = new QVBoxLayout;
        auto* n = new QLabel(QString::fromStdString(name), this);
        n->setObjectName(nameId);
        auto* d = new QLabel(DateText(t), this);
        d->setObjectName(dateId);
        col->addWidget(n);
        col->addWidget(d);
        row->addLayout(col, 1);
        layout->addLayout(row);
    };
    layout->addWidget(new QLabel(U("Υπάρχει ήδη ένα αρχείο με αυτό το όνομα!"), this));
    item(existingName, existingTime, "lblOriginalFileName", "lblOriginalDate");
    layout->addWidget(new QLabel(U("Θέλετε να το αντικαταστήσετε με το παρακάτω αρχείο;"), this));
    item(incomingName, incomingTime, "lblNewFileName", "lblNewDate");
    auto button = [&](const char* text, const char* id, OverwriteAnswer a) {
        auto* b = new QPushButton(U(text), this);
        b->setObjectName(id);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, a] {
            answer_ = a;
            accept();
        });
        return b;
    };
    auto* top = new QHBoxLayout;
    top->addWidget(button("Ναι", "btnYes", owYes));
    top->addWidget(button("Ναι σε όλα", "btnAllYes", owYesToAll));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(button("Όχι", "btnNo", owNo));
    bottom->addWidget(button("Όχι σε όλα", "btnAllNo", owNoToAll));
    bottom->addWidget(button("Άκυρο", "btnCancel", owCancel));
    layout->addLayout(top);
    layout->addLayout(bottom);
}

const char* const TConfigForm::kKeys[9] = {"SkipTypeSelect", "AutoHDDSingle", "AutoHDDFirst",
                                           "NotifyExtract",  "MovingDialog",  "ImportDialog",
                                           "DnDMode",        "ExitOnCancel",  "ShowExtendingTree"};

TConfigForm::TConfigForm(QWidget* parent) : QDialog(parent) {
    setObjectName("TConfigForm");
    setWindowTitle(U("Ρυθμίσεις"));
    static const char* const captions[9] = {
        "Παράλειψη επιλογής προφίλ",
        "Επιλογή πρώτου partition όταν ο σκληρός δίσκος έχει μόνο ένα",
        "Επιλογή πρώτου partition",
        "Ειδοποίηση ολοκλήρωσης εξαγωγής",
        "Επιβεβαίωση εξαγωγής αρχείου",
        "Επιβεβαίωση εισαγωγής αρχείου",
        "Η επιλεγμένη λειτουργία D&&D είναι εσωτερική",
        "Έξοδος με το πρώτο Άκυρο",
        "Εμφάνιση καταλόγων και δενδροειδούς μορφής"};
    static const char* const names[9] = {"CBSkipTypeSelect", "CBAutoHDDSingle", "CBAutoHDDFirst",
                                         "CBNotifyExtract",  "CBMovingDialog",  "CBImportDialog",
                                         "CBDnDMode",        "CBExitOnCancel",  "CBShowExtending"};
    auto* layout = new QVBoxLayout(this);
    std::vector<QCheckBox*> boxes;
    for (int k = 0; k < 9; ++k) {
        auto* box = new QCheckBox(U(captions[k]), this);
        box->setObjectName(names[k]);
        box->setChecked(Setting(kKeys[k]) != 0);
        boxes.push_back(box);
        if (k < 8) layout->addWidget(box);
    }
    auto* group = new QGroupBox(U("Γενικές ρυθμίσεις"), this);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(boxes[8]);
    layout->addWidget(group);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("Button1");
    ok->setDefault(true);
    auto* cancel = new QPushButton(U("Άκυρο"), this);
    cancel->setObjectName("Button2");
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this, boxes] {
        for (int k = 0; k < 9; ++k) WriteSettingInt(kSettingsSection, kKeys[k], boxes[std::size_t(k)]->isChecked() ? 1 : 0);
        accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

TMsgForm::TMsgForm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName("TMsgForm");
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label1->setFixedWidth(377);
    layout->addWidget(Label1);
    setFixedSize(406, 44 + 20);
}

void TMsgForm::SetTitle(const QString& text) {
    setWindowTitle(text);
    repaint();
}

void TMsgForm::SetLine(const QString& text) {
    Label1->setText(text);
    Label1->repaint();
}

void ShowHelp(QWidget* parent, int context) {
    auto* window = new QDialog(parent);
    window->setObjectName("HelpWindow");
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowTitle(U("Βοήθεια - Voldex"));
    auto* layout = new QVBoxLayout(window);
    auto* browser = new QTextBrowser(window);
    browser->setObjectName("HelpBrowser");
    QFile help(":/help/voldex-help.html");
    if (help.open(QIODevice::ReadOnly)) browser->setHtml(QString::fromUtf8(help.readAll()));
    browser->scrollToAnchor(QString("ctx%1").arg(context));
    layout->addWidget(browser);
    window->resize(560, 480);
    window->show();
    browser->scrollToAnchor(QString("ctx%1").arg(context));
}
