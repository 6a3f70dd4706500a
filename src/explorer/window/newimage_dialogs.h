#pragma once
// File > New image and Edit > Properties: the two forms behind
// UserInterface::AskNewImage and UserInterface::ShowProperties.

#include <QDialog>

#include "device/userinterface.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

// "Νέα εικόνα δίσκου": the format list, the size (hard disks only), the
// label and the place to save.
class TNewImageForm : public QDialog {
    Q_OBJECT
public:
    TNewImageForm(QWidget* parent, const NewImageAnswers& answers);
    NewImageAnswers Answers() const;

    QComboBox* cbFormat;
    QLineEdit* editSize;
    QLineEdit* editLabel;
    QLineEdit* editFilename;
    QCheckBox* cbNfdR1;  // a .nfd image as NFD r1 rather than r0

private:
    void FormatChanged();
    void NameChanged();
};

// "Ιδιότητες στοιχείου": an entry's read-only, hidden, system and archive boxes, or
// the volume label when the root is chosen.
class TPropertiesForm : public QDialog {
    Q_OBJECT
public:
    TPropertiesForm(QWidget* parent, const EntryProperties& properties);
    // The properties with the form's changes.
    EntryProperties Result() const;

    QCheckBox* cbAttr[4] = {};
    QLineEdit* editLabel = nullptr;

private:
    EntryProperties properties_;
};
