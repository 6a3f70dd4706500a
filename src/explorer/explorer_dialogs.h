#pragma once
// The explorer's own windows: the overwrite question, the settings, the
// progress window and the help window.

#include <QDialog>

#include "device/userinterface.h"

class QLabel;
class QTextBrowser;

// "Επιβεβαίωση αντικατάστασης": closed by the frame, it answers owCancel.
class TOverWriteForm : public QDialog {
    Q_OBJECT
public:
    TOverWriteForm(QWidget* parent, const std::string& existingName, const SystemTime& existingTime,
                   const std::string& incomingName, const SystemTime& incomingTime);
    OverwriteAnswer Answer() const { return answer_; }

    // "%d/%d/%d %d:%d:%d", no leading zeros.
    static QString DateText(const SystemTime& t);

private:
    OverwriteAnswer answer_ = owCancel;
};

// "Ρυθμίσεις": nine check boxes. OK writes them; the caller takes the
// live values from the file afterwards.
class TConfigForm : public QDialog {
    Q_OBJECT
public:
    explicit TConfigForm(QWidget* parent);
    static const char* const kKeys[9];
};

// The progress window: a caption and one line, no buttons.
class TMsgForm : public QDialog {
    Q_OBJECT
public:
    explicit TMsgForm(QWidget* parent);
    void SetTitle(const QString& text);
    void SetLine(const QString& text);

private:
    QLabel* Label1;
};

// The help window, opened at a context number.
void ShowHelp(QWidget* parent, int context);
