#pragma once
// "Δημιουργία εικόνας από δίσκο": makes an image file from a floppy.

#include <QDialog>

class QComboBox;
class QLineEdit;
class QProgressBar;

class TMakeFDDForm : public QDialog {
    Q_OBJECT
public:
    explicit TMakeFDDForm(QWidget* parent);
    QLineEdit* editFilename;
    QComboBox* cbDrive;
    QComboBox* cbSize;
    QProgressBar* pbProgress;
    void Execute();
};
