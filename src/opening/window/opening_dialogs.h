#pragma once
// The windows of disk opening: disk type, partitions, manual parameters,
// boot-sector search, drive path, disk information. Each works on the
// core's dialog object and only shows it.

#include "opening/detect.h"
#include <QDialog>

#include <string>
#include <vector>

class DiskImage;
class THDDPartDialog;
class TManualDiskDialog;
class QComboBox;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QGroupBox;

// "Άνοιγμα δίσκου": the list of disk types.
class TDiskOpenerForm : public QDialog {
    Q_OBJECT
public:
    TDiskOpenerForm(QWidget* parent, const std::string& path, const std::vector<std::string>& items, int selected);
    int Selected() const;

private:
    QComboBox* ComboBox1;
};

// The partition list with its details.
class THDDPartForm : public QDialog {
    Q_OBJECT
public:
    THDDPartForm(QWidget* parent, THDDPartDialog& dialog, bool expanded);
    int Chosen() const { return chosen_; }

private:
    void Refill();
    void ShowRows();
    void SetExpanded(bool expanded);
    void Accept();
    void StoreFields();
    void LoadFields();

    THDDPartDialog& d_;
    QTreeWidget* PartList;
    QGroupBox* GroupBox1;
    QLineEdit *DiskStartEdit, *SectorEdit, *CylinderEdit, *SectorLenEdit, *HeaderEdit;
    QComboBox* cbType;
    QLabel* Label6;
    int chosen_ = -1;
};

// "Δισκέτα ειδικής μορφής": the ten parameters by hand.
class TManualDiskForm : public QDialog {
    Q_OBJECT
public:
    TManualDiskForm(QWidget* parent, TManualDiskDialog& dialog);

private:
    void Store();
    void Load();
    void Search();

    TManualDiskDialog& d_;
    QLineEdit *editVolumeStart, *editFAT, *editFATCount, *editFATSize, *editRoot, *editUser, *editClusterSize,
        *editClusters;
    QComboBox *cbFileSystem, *cbFATType;
};

// "Εύρεση εκκίνησης": the boot-sector search.
class TDiskSearchForm : public QDialog {
    Q_OBJECT
public:
    TDiskSearchForm(QWidget* parent, TManualDiskDialog& dialog);
    QString Begin() const;

private:
    TManualDiskDialog& d_;
    QLineEdit *Edit1, *Edit2;
    QLabel* BeginLabel;
};

// The drive path; true with `path` filled on OK.
bool ChooseDrivePath(QWidget* parent, std::string& path);

// "Πληροφορίες για τον δίσκο".
// The figures of the volume and the format it was opened in.
void ShowDiskInfo(QWidget* parent, DiskImage& image, const OpenedFormat& format);
