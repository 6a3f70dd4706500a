#include "opening/window/opening_dialogs.h"

#include <algorithm>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "device/deviceio.h"
#include "explorer/window/explorer_dialogs.h"
#include "explorer/window/text_qt.h"
#include "device/messages.h"
#include "opening/diskinfo.h"
#include "opening/identify.h"
#include "volume/diskimage.h"
#include "opening/detect.h"
#include "device/containerdevice.h"
#include "opening/hddpart.h"
#include "opening/manualdisk.h"
#include "opening/physicalform.h"

namespace {

std::string S(const QString& s) { return s.toStdString(); }

QPushButton* Button(const QString& text, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

TDiskOpenerForm::TDiskOpenerForm(QWidget* parent, const std::string& path, const std::vector<std::string>& items,
                                 int selected)
    : QDialog(parent) {
    setWindowTitle(U("Άνοιγμα δίσκου"));
    setObjectName("TDiskOpener");
    auto* layout = new QVBoxLayout(this);
    auto* fileName = new QLabel(Q(path), this);
    fileName->setObjectName("FileNameLabel");
    layout->addWidget(fileName);
    layout->addWidget(new QLabel(U("Αυτός ο δίσκος είναι της μορφής:"), this));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName("ComboBox1");
    for (const auto& item : items) ComboBox1->addItem(U(item.c_str()));
    ComboBox1->setCurrentIndex(selected);
    layout->addWidget(ComboBox1);
    auto* buttons = new QHBoxLayout;
    auto* ok = Button("&OK", this);
    ok->setObjectName("Button1");
    ok->setDefault(true);
    auto* cancel = Button(U("Ά&κυρο"), this);
    cancel->setObjectName("Button2");
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    fileName->setTextFormat(Qt::PlainText);
    fileName->setMinimumWidth(360);
    PrepareDialog(this, kHelpDiskType);
}

int TDiskOpenerForm::Selected() const { return ComboBox1->currentIndex(); }

THDDPartForm::THDDPartForm(QWidget* parent, THDDPartDialog& dialog, bool expanded) : QDialog(parent), d_(dialog) {
    setObjectName("THDDPartDialog");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(U("Τα διαμερίσματα που βρέθηκαν εμφανίζονται στην παρακάτω λίστα:"), this));
    PartList = new QTreeWidget(this);
    PartList->setObjectName("PartList");
    PartList->setRootIsDecorated(false);
    PartList->setHeaderLabels({U("Όνομα"), U("Αρχή"), U("Τέλος"), U("Χωρητικότητα"), U("Μετατόπιση (bytes)")});
    PartList->setAllColumnsShowFocus(true);
    layout->addWidget(PartList);
    auto* buttons = new QHBoxLayout;
    auto* ok = Button("&OK", this);
    ok->setObjectName("OKBtn");
    ok->setDefault(true);
    auto* cancel = Button(U("Ά&κυρο"), this);
    cancel->setObjectName("CancelBtn");
    auto* detail = Button(U("&Λεπτομέρειες ..."), this);
    detail->setObjectName("btnDetail");
    buttons->addWidget(detail);
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);

    GroupBox1 = new QGroupBox(Title("Λεπτομέρειες"), this);
    GroupBox1->setObjectName("GroupBox1");
    auto* grid = new QGridLayout(GroupBox1);
    auto edit = [&](const char* name, const QString& label, int row, int col) {
        auto* e = new QLineEdit(GroupBox1);
        e->setObjectName(name);
        auto* l = new QLabel(label, GroupBox1);
        grid->addWidget(l, row, col * 2);
        grid->addWidget(e, row, col * 2 + 1);
        return std::make_pair(e, l);
    };
    DiskStartEdit = edit("DiskStartEdit", U("Έναρξη"), 0, 0).first;
    SectorEdit = edit("SectorEdit", U("Sectors"), 0, 1).first;
    CylinderEdit = edit("CylinderEdit", U("Κύλινδροι"), 1, 0).first;
    auto sectorLen = edit("SectorLenEdit", U("Μέγεθος sectors"), 1, 1);
    SectorLenEdit = sectorLen.first;
    Label6 = sectorLen.second;
    HeaderEdit = edit("HeaderEdit", U("Κεφαλές"), 2, 0).first;
    cbType = new QComboBox(GroupBox1);
    cbType->setObjectName("cbType");
    cbType->addItems({"98", "AT", "X68000"});
    grid->addWidget(new QLabel(U("Μορφή"), GroupBox1), 2, 2);
    grid->addWidget(cbType, 2, 3);
    auto* reload = Button(U("Άνοιγμα &ξανά"), GroupBox1);
    reload->setObjectName("btnReload");
    auto* search = Button(U("Εύ&ρεση"), GroupBox1);
    search->setObjectName("btnSearch");
    grid->addWidget(reload, 3, 1);
    grid->addWidget(search, 3, 3);
    layout->addWidget(GroupBox1);

    LoadFields();
    ShowRows();
    SetExpanded(expanded);

    connect(detail, &QPushButton::clicked, this, [this] { SetExpanded(GroupBox1->isHidden()); });
    connect(reload, &QPushButton::clicked, this, [this] { Refill(); });
    connect(search, &QPushButton::clicked, this, [this] {
        StoreFields();
        d_.Search();
        LoadFields();
        ShowRows();
    });
    connect(cbType, QOverload<int>::of(&QComboBox::activated), this, [this](int type) {
        StoreFields();
        d_.SetType(type, true);
        LoadFields();
        ShowRows();
    });
    connect(ok, &QPushButton::clicked, this, &THDDPartForm::Accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(PartList, &QTreeWidget::itemDoubleClicked, this, &THDDPartForm::Accept);
    PrepareDialog(this, kHelpPartitions);
}

void THDDPartForm::StoreFields() {
    d_.DiskStartEdit = S(DiskStartEdit->text());
    d_.SectorEdit = S(SectorEdit->text());
    d_.CylinderEdit = S(CylinderEdit->text());
    d_.SectorLenEdit = S(SectorLenEdit->text());
    d_.HeaderEdit = S(HeaderEdit->text());
}

void THDDPartForm::LoadFields() {
    DiskStartEdit->setText(Q(d_.DiskStartEdit));
    SectorEdit->setText(Q(d_.SectorEdit));
    CylinderEdit->setText(Q(d_.CylinderEdit));
    SectorLenEdit->setText(Q(d_.SectorLenEdit));
    HeaderEdit->setText(Q(d_.HeaderEdit));
    cbType->setCurrentIndex(d_.Type);
    Label6->setText(Q(d_.SectorLenLabel));
}

void THDDPartForm::Refill() {
    StoreFields();
    d_.Fill();
    ShowRows();
}

void THDDPartForm::ShowRows() {
    setWindowTitle(Q(d_.Caption));
    // The chosen row stays chosen when the list is read again.
    const int chosen = PartList->currentItem() && PartList->currentItem()->isSelected()
                           ? PartList->indexOfTopLevelItem(PartList->currentItem())
                           : -1;
    PartList->clear();
    // The unit of the start and the end is in the column's caption: the
    // cells hold the numbers alone.
    static const char* const starts[3] = {"Αρχή (κύλινδρος)", "Αρχή (sector)", "Αρχή (εγγραφή)"};
    static const char* const ends[3] = {"Τέλος (κύλινδρος)", "Τέλος (sector)", "Τέλος (εγγραφή)"};
    const bool known = d_.Type >= 0 && d_.Type <= 2 && d_.FixedRows.empty();
    PartList->headerItem()->setText(1, known ? U(starts[d_.Type]) : U("Αρχή"));
    PartList->headerItem()->setText(2, known ? U(ends[d_.Type]) : U("Τέλος"));
    auto number = [](const std::string& text) {
        std::size_t digits = 0;
        while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
        return Q(digits ? text.substr(0, digits) : text);
    };
    for (const PartitionRow& r : d_.Rows) {
        auto* item = new QTreeWidgetItem({Q(r.name), number(r.start), number(r.end), Q(r.size), Q(r.offsetText)});
        for (int c = 1; c < 5; ++c) item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        PartList->addTopLevelItem(item);
    }
    if (chosen >= 0 && chosen < PartList->topLevelItemCount()) PartList->setCurrentItem(PartList->topLevelItem(chosen));
    // A single partition is the choice already: Enter takes it.
    else if (PartList->topLevelItemCount() == 1) PartList->setCurrentItem(PartList->topLevelItem(0));
    // Every column as wide as its widest text, header included; the list
    // (and so the dialog) as wide as its columns.
    static const int minimum[5] = {100, 70, 70, 88, 90};
    int total = 0;
    QHeaderView* header = PartList->header();
    for (int c = 0; c < 5; ++c) {
        PartList->resizeColumnToContents(c);
        int w = std::max({minimum[c], PartList->columnWidth(c), header->sectionSizeHint(c)});
        PartList->setColumnWidth(c, w);
        total += w;
    }
    PartList->setMinimumWidth(total + 2 * PartList->frameWidth() + PartList->verticalScrollBar()->sizeHint().width());
}

void THDDPartForm::SetExpanded(bool expanded) {
    GroupBox1->setVisible(expanded);
    adjustSize();
}

void THDDPartForm::Accept() {
    int row = PartList->currentItem() ? PartList->indexOfTopLevelItem(PartList->currentItem()) : -1;
    if (!PartList->currentItem() || !PartList->currentItem()->isSelected()) row = -1;
    if (!d_.Choose(row)) return;
    chosen_ = row;
    accept();
}

TManualDiskForm::TManualDiskForm(QWidget* parent, TManualDiskDialog& dialog) : QDialog(parent), d_(dialog) {
    setWindowTitle(U("Δισκέτα ειδικής μορφής"));
    setObjectName("TManualDiskDialog");
    auto* form = new QFormLayout;
    auto edit = [&](const char* name, const QString& label) {
        auto* e = new QLineEdit(this);
        e->setObjectName(name);
        form->addRow(label, e);
        return e;
    };
    editVolumeStart = edit("editVolumeStart", U("Αρχή"));
    cbFileSystem = new QComboBox(this);
    cbFileSystem->setObjectName("cbFileSystem");
    cbFileSystem->addItems({"DOS", "Human68k"});
    form->addRow(U("Σύστημα αρχείων"), cbFileSystem);
    cbFATType = new QComboBox(this);
    cbFATType->setObjectName("cbFATType");
    cbFATType->addItems({"FAT12", "FAT16", "FAT32"});
    form->addRow(U("Τύπος FAT"), cbFATType);
    editFAT = edit("editFAT", U("Θέση FAT"));
    editFATCount = edit("editFATCount", U("Αριθμός FAT"));
    editFATSize = edit("editFATSize", U("Μέγεθος FAT"));
    editRoot = edit("editRoot", U("Θέση ρίζας"));
    editUser = edit("editUser", U("Θέση περιοχής χρήσης"));
    editClusterSize = edit("editClusterSize", U("Μέγεθος cluster"));
    editClusters = edit("editClusters", U("Σύνολο clusters"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    auto* search = Button(U("Εύ&ρεση"), this);
    search->setObjectName("btnSearch");
    auto* read = Button(U("&Αυτόματη ανάγνωση"), this);
    read->setObjectName("btnReadIPL");
    auto* ok = Button("&OK", this);
    ok->setObjectName("btnOk");
    ok->setDefault(true);  // Enter confirms, whichever field has the focus
    auto* cancel = Button(U("Ά&κυρο"), this);
    cancel->setObjectName("btnCancel");
    for (auto* b : {search, read, ok, cancel}) buttons->addWidget(b);
    layout->addLayout(buttons);
    Load();
    PrepareDialog(this, kHelpManual);
    connect(read, &QPushButton::clicked, this, [this] {
        Store();
        d_.ReadIPL();
        Load();
    });
    connect(search, &QPushButton::clicked, this, &TManualDiskForm::Search);
    connect(ok, &QPushButton::clicked, this, [this] {
        Store();
        if (d_.Confirm()) accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TManualDiskForm::Store() {
    d_.editVolumeStart = S(editVolumeStart->text());
    d_.editFAT = S(editFAT->text());
    d_.editFATCount = S(editFATCount->text());
    d_.editFATSize = S(editFATSize->text());
    d_.editRoot = S(editRoot->text());
    d_.editUser = S(editUser->text());
    d_.editClusterSize = S(editClusterSize->text());
    d_.editClusters = S(editClusters->text());
    d_.cbFileSystem = cbFileSystem->currentIndex();
    d_.cbFATType = cbFATType->currentIndex();
}

void TManualDiskForm::Load() {
    editVolumeStart->setText(Q(d_.editVolumeStart));
    editFAT->setText(Q(d_.editFAT));
    editFATCount->setText(Q(d_.editFATCount));
    editFATSize->setText(Q(d_.editFATSize));
    editRoot->setText(Q(d_.editRoot));
    editUser->setText(Q(d_.editUser));
    editClusterSize->setText(Q(d_.editClusterSize));
    editClusters->setText(Q(d_.editClusters));
    cbFileSystem->setCurrentIndex(d_.cbFileSystem);
    cbFATType->setCurrentIndex(d_.cbFATType);
}

void TManualDiskForm::Search() {
    Store();
    TDiskSearchForm search(this, d_);
    if (search.exec() == QDialog::Accepted) {
        d_.UseSearchResult(S(search.Begin()));
        Load();
    }
}

TDiskSearchForm::TDiskSearchForm(QWidget* parent, TManualDiskDialog& dialog) : QDialog(parent), d_(dialog) {
    setWindowTitle(U("Εύρεση εκκίνησης"));
    setObjectName("TDiskSearchForm");
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(d_.Record.Device ? d_.Record.Device->GetPath() : "", this);
    name->setObjectName("FileNameLabel");
    layout->addWidget(name);
    auto* form = new QFormLayout;
    Edit1 = new QLineEdit("0", this);
    Edit1->setObjectName("Edit1");
    Edit2 = new QLineEdit("512", this);
    Edit2->setObjectName("Edit2");
    BeginLabel = new QLabel("0", this);
    BeginLabel->setObjectName("BeginLabel");
    form->addRow(U("Μετατόπιση"), Edit1);
    form->addRow(U("Μήκος sector"), Edit2);
    form->addRow(U("Εκκίνηση"), BeginLabel);
    layout->addLayout(form);
    auto* buttons = new QHBoxLayout;
    auto* search = Button(U("Εύ&ρεση"), this);
    search->setObjectName("btnSearch");
    auto* ok = Button("&OK", this);
    ok->setObjectName("btnOk");
    auto* cancel = Button(U("Ά&κυρο"), this);
    cancel->setObjectName("btnCancel");
    for (auto* b : {search, ok, cancel}) buttons->addWidget(b);
    layout->addLayout(buttons);
    // The search is what Enter starts here, and it has the focus.
    search->setDefault(true);
    search->setFocus();
    PrepareDialog(this, kHelpManual);
    connect(search, &QPushButton::clicked, this, [this] {
        std::string begin;
        if (d_.Search(S(Edit1->text()), S(Edit2->text()), begin)) BeginLabel->setText(Q(begin));
    });
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString TDiskSearchForm::Begin() const { return BeginLabel->text(); }

bool ChooseDrivePath(QWidget* parent, std::string& path) {
    QDialog form(parent);
    form.setObjectName("TPhysicalOpenForm");
    form.setWindowTitle(U("Άνοιγμα μονάδας δίσκου"));
    auto* layout = new QVBoxLayout(&form);
    auto* label = new QLabel(
        U("/dev/sdX\nΑντικαταστήστε το X με το όνομα του δίσκου.\nΟι δίσκοι ανοίγουν μόνο για ανάγνωση."), &form);
    label->setObjectName("Label1");
    label->setWordWrap(true);
    layout->addWidget(label);
    auto* edit = new QComboBox(&form);
    edit->setObjectName("Edit1");
    edit->setEditable(true);
    for (const auto& p : ListDrivePaths()) edit->addItem(Q(p));
    edit->setEditText(Q(InitialDrivePath()));
    layout->addWidget(edit);
    auto* box = new QDialogButtonBox(&form);
    QPushButton* ok = box->addButton("&OK", QDialogButtonBox::AcceptRole);
    ok->setObjectName("Button1");
    ok->setDefault(true);
    box->addButton(U("Ά&κυρο"), QDialogButtonBox::RejectRole)->setObjectName("Button2");
    QObject::connect(box, &QDialogButtonBox::accepted, &form, &QDialog::accept);
    QObject::connect(box, &QDialogButtonBox::rejected, &form, &QDialog::reject);
    layout->addWidget(box);
    PrepareDialog(&form, kHelpDrive);
    if (form.exec() != QDialog::Accepted) return false;
    path = S(edit->currentText()).substr(0, 259);
    return true;
}

void ShowDiskInfo(QWidget* parent, DiskImage& image, const OpenedFormat& format) {
    DiskInfoTexts t = MakeDiskInfo(image, format);
    QDialog form(parent);
    form.setObjectName("TDiskInfoForm");
    form.setWindowTitle(U("Πληροφορίες για τον δίσκο"));
    auto* layout = new QVBoxLayout(&form);
    // Two columns: the captions aligned on the right, the values on the left.
    auto* grid = new QFormLayout;
    grid->setLabelAlignment(Qt::AlignRight);
    grid->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    auto add = [&](const QString& caption, const QString& value, const char* name) {
        auto* v = new QLabel(value, &form);
        v->setObjectName(name);
        v->setTextFormat(Qt::PlainText);
        v->setTextInteractionFlags(Qt::TextSelectableByMouse);
        grid->addRow(caption, v);
    };
    // The program's own file access is named in the user's language.
    QString device = Q(t.DeviceVersion);
    device.replace(QStringLiteral("Built-in File I/O"), U("Ενσωματωμένη πρόσβαση σε αρχεία"));
    add(U("Αρχείο:"), Q(t.FileName), "lblFileName");
    add(U("Πρόσβαση:"), device, "lblDeviceVersion");
    const bool plain = t.Container.empty() || t.Container == "Plain";
    add(U("Περιέκτης:"), plain ? U("Απλή εικόνα δίσκου") : Q(t.Container), "lblContainer");
    add(U("Γεωμετρία:"), Q(t.Geometry), "lblGeometry");
    add(U("Σύστημα αρχείων:"), Q(t.FileSystem), "lblFileSystem");
    add(U("Τύπος FAT:"), Q(t.FATType), "lblFATType");
    add(U("Φάκελος ρίζας:"), Q(t.MaxEntries), "lblMaxEntries");
    add(U("Μέγεθος cluster:"), Q(t.ClusterSize), "lblClusterSize");
    add(U("Χωρητικότητα:"), Q(t.TotalSize), "lblTotalSize");
    add(U("Σε χρήση:"), Q(t.UsedSize), "lblUsedSize");
    add(U("Ελεύθερα:"), Q(t.FreeSize), "lblFreeSize");
    // What the image file itself is, as `identify` tells it.
    if (DeviceIOIF* file = image.Device()) {
        if (auto* c = dynamic_cast<DeviceIO_Container*>(file)) file = c->File();
        IdentifyReport report = IdentifyDevice(file, ImageFileSize(file->GetPath()), file->GetPath());
        std::string text = IdentifyText(report);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        add(U("Αναγνώριση:"), Q(text), "lblIdentify");
    }
    layout->addLayout(grid);
    auto* close = new QPushButton(U("&Κλείσιμο"), &form);
    close->setObjectName("Button1");
    close->setDefault(true);
    QObject::connect(close, &QPushButton::clicked, &form, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
    PrepareDialog(&form, kHelpDiskInfo);
    form.exec();
}
