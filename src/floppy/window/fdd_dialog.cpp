#include "floppy/window/fdd_dialog.h"

#include <QApplication>
#include <algorithm>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/text_qt.h"
#include "floppy/makefdd.h"

TMakeFDDForm::TMakeFDDForm(QWidget* parent) : QDialog(parent) {
    setObjectName("TMakeFDDForm");
    setWindowTitle(U("Δημιουργία εικόνας από δίσκο"));
    auto* grid = new QGridLayout(this);
    auto* warning = new QLabel(U("Ο δίσκος προέλευσης πρέπει να έχει προστασία εγγραφής."), this);
    warning->setObjectName("Label1");
    warning->setStyleSheet("color: red");
    grid->addWidget(warning, 0, 0, 1, 3);
    grid->addWidget(new QLabel(U("Αποθήκευση σε"), this), 1, 0);
    editFilename = new QLineEdit(this);
    editFilename->setObjectName("editFilename");
    grid->addWidget(editFilename, 1, 1);
    auto* ref = new QPushButton(U("&Επιλογή ..."), this);
    ref->setObjectName("btnRef");
    grid->addWidget(ref, 1, 2);
    grid->addWidget(new QLabel(U("Δίσκος προέλευσης"), this), 2, 0);
    // The floppy and removable drives found; any path can be typed.
    cbDrive = new QComboBox(this);
    cbDrive->setObjectName("cbDrive");
    cbDrive->setEditable(true);
    for (const auto& d : ListFloppyDrives()) cbDrive->addItem(QString::fromStdString(d));
    cbDrive->setCurrentIndex(-1);
    grid->addWidget(cbDrive, 2, 1, 1, 2);
    grid->addWidget(new QLabel(U("Μέγεθος"), this), 3, 0);
    cbSize = new QComboBox(this);
    cbSize->setObjectName("cbSize");
    for (const auto& f : FloppyFormats()) cbSize->addItem(QString::number(f.ShownSize()));
    // 1.44 MB, the size every floppy drive of today reads.
    cbSize->setCurrentIndex(std::max(0, FloppyFormatBySize(1440)));
    grid->addWidget(cbSize, 3, 1);
    grid->addWidget(new QLabel(QStringLiteral("KB"), this), 3, 2);
    grid->addWidget(new QLabel(U("Πρόοδος"), this), 4, 0);
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName("pbProgress");
    pbProgress->setValue(0);
    grid->addWidget(pbProgress, 4, 1, 1, 2);
    auto* run = new QPushButton(U("Ε&κτέλεση"), this);
    run->setObjectName("btnExecute");
    auto* close = new QPushButton(U("Κ&λείσιμο"), this);
    close->setObjectName("btnExit");
    grid->addWidget(run, 5, 1);
    grid->addWidget(close, 5, 2);
    connect(ref, &QPushButton::clicked, this, [this] {
        QString f = ChooseSaveFile(this, U("Δημιουργία εικόνας από δίσκο"), editFilename->text(),
                                   U("Όλα τα αρχεία") + " (*)");
        if (!f.isEmpty()) editFilename->setText(f);
    });
    connect(run, &QPushButton::clicked, this, &TMakeFDDForm::Execute);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    run->setDefault(true);
    PrepareDialog(this, kHelpFloppy);
}

void TMakeFDDForm::Execute() {
    std::string name = editFilename->text().toStdString();
    if (!name.empty()) {
        name = ImageFileName(name);
        editFilename->setText(QString::fromStdString(name));
    }
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    MakeFloppyImage(cbDrive->currentText().toStdString(), name, cbSize->currentIndex(), [this](uint32_t k, uint32_t n) {
        pbProgress->setMaximum(int(n));
        pbProgress->setValue(int(k));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    pbProgress->setValue(0);
}
