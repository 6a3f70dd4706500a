#include "explorer/window/newimage_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/text_qt.h"
#include "opening/newdisk.h"

namespace {

const uint8_t kAttrBits[4] = {0x01, 0x02, 0x04, 0x20};
const char* const kAttrCaptions[4] = {"&Μόνο για ανάγνωση", "&Κρυφό", "&Συστήματος", "&Αρχειοθέτηση"};
const char* const kAttrNames[4] = {"cbReadOnly", "cbHidden", "cbSystem", "cbArchive"};

QDialogButtonBox* OkCancel(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("OKBtn");
    ok->setDefault(true);
    buttons->addButton(U("Άκυρο"), QDialogButtonBox::RejectRole)->setObjectName("CancelBtn");
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

}  // namespace

TNewImageForm::TNewImageForm(QWidget* parent, const NewImageAnswers& a) : QDialog(parent) {
    setObjectName("TNewImageForm");
    setWindowTitle(U("Νέα εικόνα δίσκου"));
    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(U("Μορφή"), this), 0, 0);
    cbFormat = new QComboBox(this);
    cbFormat->setObjectName("cbFormat");
    for (const NewDiskFormat& f : NewDiskFormats()) {
        cbFormat->addItem(Q(f.name) + " - " + U(f.description), Q(f.name));
        if (a.format == f.name) cbFormat->setCurrentIndex(cbFormat->count() - 1);
    }
    grid->addWidget(cbFormat, 0, 1, 1, 2);
    grid->addWidget(new QLabel(U("Μέγεθος"), this), 1, 0);
    editSize = new QLineEdit(Q(a.size), this);
    editSize->setObjectName("editSize");
    editSize->setPlaceholderText("40M");
    grid->addWidget(editSize, 1, 1, 1, 2);
    grid->addWidget(new QLabel(U("Ετικέτα τόμου"), this), 2, 0);
    editLabel = new QLineEdit(Q(a.label), this);
    editLabel->setObjectName("editLabel");
    grid->addWidget(editLabel, 2, 1, 1, 2);
    grid->addWidget(new QLabel(U("Αποθήκευση ως"), this), 3, 0);
    editFilename = new QLineEdit(Q(a.path), this);
    editFilename->setObjectName("editFilename");
    editFilename->setMinimumWidth(280);
    grid->addWidget(editFilename, 3, 1);
    auto* ref = new QPushButton(U("&Επιλογή ..."), this);
    ref->setObjectName("btnRef");
    grid->addWidget(ref, 3, 2);
    cbNfdR1 = new QCheckBox(U("NFD r1 για .nfd"), this);
    cbNfdR1->setObjectName("cbNfdR1");
    cbNfdR1->setChecked(a.container == "nfd-r1");
    grid->addWidget(cbNfdR1, 4, 1, 1, 2);
    auto* hint = new QLabel(this);
    hint->setObjectName("lblContainers");
    hint->setWordWrap(true);
    grid->addWidget(hint, 5, 0, 1, 3);
    grid->addWidget(OkCancel(this), 6, 0, 1, 3);
    connect(ref, &QPushButton::clicked, this, [this] {
        QString f = ChooseSaveFile(this, U("Νέα εικόνα δίσκου"), editFilename->text(), U("Όλα τα αρχεία") + " (*)");
        if (!f.isEmpty()) editFilename->setText(f);
    });
    connect(cbFormat, qOverload<int>(&QComboBox::currentIndexChanged), this, &TNewImageForm::FormatChanged);
    connect(editFilename, &QLineEdit::textChanged, this, &TNewImageForm::NameChanged);
    FormatChanged();
    PrepareDialog(this, kHelpMain);
}

void TNewImageForm::FormatChanged() {
    const std::string format = cbFormat->currentData().toString().toStdString();
    bool hardDisk = false;
    for (const NewDiskFormat& f : NewDiskFormats())
        if (format == f.name) hardDisk = f.hardDisk;
    editSize->setEnabled(hardDisk);
    if (auto* hint = findChild<QLabel*>("lblContainers"))
        hint->setText(U("Επεκτάσεις:") + " " + Q(ExtensionsFor(format)));
    NameChanged();
}

void TNewImageForm::NameChanged() {
    // A floppy is the format without a size (FormatChanged decides that).
    const bool floppy = !editSize->isEnabled();
    cbNfdR1->setEnabled(floppy && editFilename->text().trimmed().endsWith(".nfd", Qt::CaseInsensitive));
}

NewImageAnswers TNewImageForm::Answers() const {
    NewImageAnswers a;
    a.format = cbFormat->currentData().toString().toStdString();
    if (editSize->isEnabled()) a.size = editSize->text().trimmed().toStdString();
    a.label = editLabel->text().toStdString();
    a.path = editFilename->text().toStdString();
    if (cbNfdR1->isEnabled() && cbNfdR1->isChecked()) a.container = "nfd-r1";
    return a;
}

TPropertiesForm::TPropertiesForm(QWidget* parent, const EntryProperties& p) : QDialog(parent), properties_(p) {
    setObjectName("TPropertiesForm");
    setWindowTitle(U("Ιδιότητες στοιχείου"));
    auto* grid = new QGridLayout(this);
    auto* name = new QLabel(Q(p.root ? "/" : p.name), this);
    name->setObjectName("lblName");
    grid->addWidget(name, 0, 0, 1, 2);
    if (p.root) {
        grid->addWidget(new QLabel(U("Ετικέτα τόμου"), this), 1, 0);
        editLabel = new QLineEdit(Q(p.label), this);
        editLabel->setObjectName("editLabel");
        editLabel->setMaxLength(11);
        editLabel->setReadOnly(p.readOnly);
        grid->addWidget(editLabel, 1, 1);
    } else {
        for (int k = 0; k < 4; ++k) {
            cbAttr[k] = new QCheckBox(U(kAttrCaptions[k]), this);
            cbAttr[k]->setObjectName(kAttrNames[k]);
            cbAttr[k]->setChecked(p.attributes & kAttrBits[k]);
            cbAttr[k]->setEnabled(!p.readOnly);
            grid->addWidget(cbAttr[k], 1 + k, 0, 1, 2);
        }
    }
    grid->addWidget(OkCancel(this), 5, 0, 1, 2);
    PrepareDialog(this, kHelpMain);
}

EntryProperties TPropertiesForm::Result() const {
    EntryProperties p = properties_;
    if (editLabel) p.label = editLabel->text().toStdString();
    uint8_t attr = 0;
    for (int k = 0; k < 4; ++k)
        if (cbAttr[k] && cbAttr[k]->isChecked()) attr |= kAttrBits[k];
    if (!p.root) p.attributes = attr;
    return p;
}
