#pragma once
// The one door between the core and the person using the program. The core
// never prints, never opens a window and never reads a key: it asks this
// interface. The GUI answers with real dialogs, the command line with flags
// and stdout/stderr, and the tests with scripted answers.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Message-box styles and results, as the callers pass and compare them.
enum BoxStyle : int {
    kBoxOk = 0,             // OK button, no icon
    kBoxStop = 16,          // OK button, stop icon
    kBoxYesNoQuestion = 36, // Yes and No, question icon
    kBoxYesNoWarning = 52,  // Yes and No, exclamation icon
};
enum BoxResult : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// Broken-down calendar time as stored in directory entries.
struct SystemTime {
    uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
    uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};

// Answer of the overwrite question, and the running state of an export or import.
enum OverwriteAnswer : int {
    owCancel = 0,
    owYes = 1,
    owNo = 2,
    owYesToAll = 3,
    owNoToAll = 4,
};

class THDDPartDialog;
class TManualDiskDialog;

// The answers of the new-image form, as typed (UTF-8).
struct NewImageAnswers {
    std::string format;  // "2hd", "pc98-hd", ...
    std::string size;    // "40M"; hard disks only
    std::string label;
    std::string path;    // where the image is saved
    std::string container;  // one of the extension's containers ("nfd-r1"); empty: its first
};

// What the Properties form shows and gives back: the attributes of an
// entry, or the volume label when the root is chosen.
struct EntryProperties {
    std::string name;        // the entry's name, or the volume's for the root
    bool root = false;       // the label is edited instead of attributes
    bool folder = false;
    uint8_t attributes = 0;  // read-only 0x01, hidden 0x02, system 0x04, archive 0x20
    std::string label;       // root only
    bool readOnly = false;   // the volume cannot be changed: shown, not edited
};

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // A modal message box. Returns the button pressed (kIdOk, kIdYes, kIdNo, kIdCancel).
    virtual int ShowBox(const std::string& text, const std::string& caption, int style) = 0;

    // The overwrite question: the item already there and the one coming in.
    virtual OverwriteAnswer AskOverwrite(const std::string& existingName, const SystemTime& existingTime,
                                         const std::string& incomingName, const SystemTime& incomingTime) {
        (void)existingName; (void)existingTime; (void)incomingName; (void)incomingTime;
        return owCancel;
    }

    // Text of a status panel (0 or 1); a long operation reports through it.
    virtual void SetStatusText(int panel, const std::string& text) { (void)panel; (void)text; }

    // A host name met by an import cannot be stored as it stands and would
    // be stored as `stored`: true to go on under that name, false to refuse
    // the entry. The window takes such names without a word.
    virtual bool AcceptChangedName(const std::string& given, const std::string& stored) {
        (void)given;
        (void)stored;
        return true;
    }

    // A long operation's count: `done` of its `total` items are finished.
    virtual void CountProgress(std::size_t done, std::size_t total) { (void)done; (void)total; }
    // True once the user asked the operation at hand to stop; it stops
    // after the item it is working on, as after a failure.
    virtual bool StopAsked() { return false; }

    // True while the Shift key is held down.
    virtual bool IsShiftHeld() { return false; }

    // The disk-type dialog: the path being opened and the list of disk
    // types, `selected` preselected. True for OK with the item chosen in
    // `selected`, false for Cancel.
    virtual bool ShowDiskTypeDialog(const std::string& path, const std::vector<std::string>& items, int& selected) {
        (void)path; (void)items; (void)selected;
        return false;
    }

    // The partition dialog, shown with its details when `expanded`. The
    // front end may change the dialog's fields and call its Fill, Search
    // and Choose. Returns the row chosen (Choose accepted it), or -1 for Cancel.
    virtual int ShowPartitionDialog(THDDPartDialog& dialog, bool expanded) {
        (void)dialog; (void)expanded;
        return -1;
    }

    // The manual parameter dialog. True once the dialog's Confirm accepted
    // the fields (OK), false for Cancel.
    virtual bool ShowManualDialog(TManualDiskDialog& dialog) {
        (void)dialog;
        return false;
    }

    // True once the user asked the running import to stop at once (on the
    // command line, SIGINT or SIGTERM): unlike StopAsked, a file being
    // copied is taken back.
    virtual bool StopRequested() { return false; }

    // The drop confirmation list: host paths about to be imported, or
    // entry names about to be moved into `target`. True for Yes.
    virtual bool ConfirmImport(const std::vector<std::string>& paths) {
        (void)paths;
        return true;
    }
    virtual bool ConfirmMove(const std::vector<std::string>& names, const std::string& target) {
        (void)names; (void)target;
        return true;
    }

    // The findings of a check, one line each with what the repair does about
    // it. With `repairable`, true to repair now; without, the list is only
    // shown (the answer is then ignored).
    virtual bool OfferRepair(const std::vector<std::string>& findings, bool repairable) {
        (void)findings; (void)repairable;
        return false;
    }

    // The new-image form: the format list, the size for hard disks, the
    // label and the place to save. `answers` holds what to show first and
    // the answers after OK. True for OK.
    virtual bool AskNewImage(NewImageAnswers& answers) {
        (void)answers;
        return false;
    }

    // File > Convert image: where to save a copy of the image `source` in
    // another container (the extension names it; `container`, when set,
    // picks one of several: "nfd-r1"). True for OK with the path in `target`.
    virtual bool AskConvertTarget(const std::string& source, std::string& target, std::string& container) {
        (void)source; (void)target; (void)container;
        return false;
    }
    // What the target of a conversion cannot hold, one line each. With
    // `canDrop`, true to convert anyway and drop it; without, the list is
    // only shown (the answer is then ignored).
    virtual bool ConfirmConversionLosses(const std::vector<std::string>& reasons, bool canDrop) {
        (void)reasons; (void)canDrop;
        return false;
    }

    // The Properties form on `properties`; true for OK with the changes in it.
    virtual bool ShowProperties(EntryProperties& properties) {
        (void)properties;
        return false;
    }

    // Another program holds the image `path` for writing: true to open it
    // for reading only instead (the view may then change under the reader).
    virtual bool OfferReadOnly(const std::string& path) {
        (void)path;
        return false;
    }

    // Changes to the folder structure, for a front end that shows it as a
    // tree. Folders are known by their first cluster (0: the root); names
    // are the names shown (UTF-8: the long name, or the 8.3 name).
    virtual void FolderAdded(uint32_t parent, uint32_t cluster, const std::string& name) {
        (void)parent; (void)cluster; (void)name;
    }
    virtual void FolderRenamed(uint32_t cluster, const std::string& name) { (void)cluster; (void)name; }
    virtual void FolderMoved(uint32_t cluster, uint32_t newParent) { (void)cluster; (void)newParent; }
    virtual void FolderRemoved(uint32_t cluster) { (void)cluster; }
    // The volume's free space changed.
    virtual void FreeSpaceChanged() {}
};

// The interface currently in charge. Never null: until a front end installs
// its own, messages go to standard error and questions are answered No.
UserInterface& UI();
void SetUserInterface(UserInterface* ui);

// Installs an interface for the life of the object, restoring the previous one after.
class ScopedUserInterface {
public:
    explicit ScopedUserInterface(UserInterface* ui);
    ~ScopedUserInterface();
    ScopedUserInterface(const ScopedUserInterface&) = delete;
    ScopedUserInterface& operator=(const ScopedUserInterface&) = delete;

private:
    UserInterface* previous_;
};
