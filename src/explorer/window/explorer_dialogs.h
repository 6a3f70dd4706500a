#pragma once
// The explorer's own windows: the overwrite question, the settings, the
// progress window and the help window, and what every dialog of the
// program shares (F1 help, a fixed size, a place over its owner, Greek
// file choosers and message boxes).

#include <QDialog>
#include <QFileDialog>
#include <QFontMetrics>

class QLabel;
class QProgressBar;
class QPushButton;
class QKeyEvent;

#include <string>
#include <utility>
#include <vector>

#include "device/userinterface.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QTextBrowser;

// Help contexts of the windows.
enum HelpContext : int {
    kHelpMain = 1,
    kHelpFloppy = 20,
    kHelpSettings = 26,
    kHelpDiskType = 27,
    kHelpPartitions = 28,
    kHelpManual = 29,
    kHelpOverwrite = 30,
    kHelpConfirmList = 31,
    kHelpDrive = 32,
    kHelpDiskInfo = 42,
};

// Every dialog of the program: F1 opens the help at `context` (0: none),
// the dialog keeps the size its contents need, and it opens centred over
// its owner (or the screen).
void PrepareDialog(QDialog* dialog, int context);

// The width a window needs for `title` in a title bar of font `fm`, with
// the window manager's icon and buttons beside it.
inline int TitleWidth(const QFontMetrics& fm, const QString& title) {
    return fm.horizontalAdvance(title) + fm.height() * 7;
}

// The program's icon (the window icon and the about box).
QIcon ProgramIcon();

// Centres a top-level window over its owner, or over the screen.
void CentreWindow(QWidget* window);

// The help page of the current language (a Qt resource path).
QString HelpResource();
// The help window, opened at a context number. Returns the window (it
// deletes itself when closed).
QDialog* ShowHelp(QWidget* parent, int context);

// Message boxes with the program's own buttons.
int RunMessageBox(QWidget* parent, const QString& text, const QString& caption, int style);

// File choosers whose texts match the rest of the window.
QString ChooseOpenFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);
QStringList ChooseOpenFiles(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);
QString ChooseFolder(QWidget* parent, const QString& caption, const QString& folder);
// `chosenFilter`, when given, receives the filter the user left selected.
QString ChooseSaveFile(QWidget* parent, const QString& caption, const QString& file, const QString& filter,
                       QString* chosenFilter = nullptr);

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

// "Ρυθμίσεις": one check box per integer key. The boxes are set from the
// values given (SetValues) and read back (Values); the caller reads and
// writes the settings file. A new setting is one more line in Boxes().
class TConfigForm : public QDialog {
    Q_OBJECT
public:
    struct Box {
        const char* key;   // the settings key
        const char* name;  // the check box's object name
        QString caption;   // as shown
        bool grouped;      // inside "Γενικές ρυθμίσεις"
    };
    static std::vector<Box> Boxes();

    explicit TConfigForm(QWidget* parent);
    // Key and value (0 or 1) of every box, in kBoxes order.
    std::vector<std::pair<std::string, int>> Values() const;
    void SetValues(const std::vector<std::pair<std::string, int>>& values);
    // Every box from the settings file.
    void LoadFromSettings();
    QCheckBox* CheckBox(const std::string& key) const;
    // The value of the setting Language: "el", "en", "ja", or empty for the
    // environment's language.
    std::string ChosenLanguage() const;

private:
    std::vector<Box> list_;
    std::vector<QCheckBox*> boxes_;
    QComboBox* language_ = nullptr;
};

// The progress window: a caption and one line, no buttons.
class TMsgForm : public QDialog {
    Q_OBJECT
public:
    explicit TMsgForm(QWidget* parent);
    void SetTitle(const QString& text);
    void SetLine(const QString& text);
    QString Line() const;
    // An operation that counts its items shows a bar and the count, and a
    // Cancel button that asks it to stop (it stops after the item at hand).
    void ShowCount(std::size_t done, std::size_t total, const QString& text);
    void AllowCancel();
    bool CancelAsked() const { return cancelAsked_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QLabel* Label1;
    QLabel* Count = nullptr;
    QProgressBar* Bar = nullptr;
    QPushButton* Cancel = nullptr;
    bool cancelAsked_ = false;
};

// The findings of a check in a list, each with what the repair does. With
// `offerRepair` the buttons are Repair and Close (true for Repair); without,
// only Close.
bool ShowRepairFindings(QWidget* parent, const std::vector<std::string>& lines, bool offerRepair);
// What a conversion's target cannot hold, one line each; with `canDrop` a
// button converts anyway: true when it was pressed.
bool ShowConversionLosses(QWidget* parent, const std::vector<std::string>& lines, bool canDrop);
