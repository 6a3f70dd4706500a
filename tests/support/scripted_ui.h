#pragma once
// A user-interface layer for tests: records everything shown and answers
// from a script.

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "device/userinterface.h"
#include "opening/hddpart.h"
#include "opening/manualdisk.h"

struct ShownBox {
    std::string text, caption;
    int style;
};

class ScriptedUI : public UserInterface {
public:
    int ShowBox(const std::string& text, const std::string& caption, int style) override {
        boxes.push_back({text, caption, style});
        if (!boxAnswers.empty()) {
            int a = boxAnswers.front();
            boxAnswers.pop_front();
            return a;
        }
        return (style == kBoxYesNoQuestion || style == kBoxYesNoWarning) ? kIdNo : kIdOk;
    }
    OverwriteAnswer AskOverwrite(const std::string& existingName, const SystemTime& existingTime,
                                 const std::string& incomingName, const SystemTime& incomingTime) override {
        overwriteQuestions.push_back({existingName, incomingName});
        lastExistingTime = existingTime;
        lastIncomingTime = incomingTime;
        if (overwriteAnswers.empty()) return owCancel;
        OverwriteAnswer a = overwriteAnswers.front();
        overwriteAnswers.pop_front();
        return a;
    }
    void SetStatusText(int panel, const std::string& text) override { status.push_back({panel, text}); }
    bool AcceptChangedName(const std::string& given, const std::string& stored) override {
        changedNames.push_back({given, stored});
        return true;
    }
    // A stop is asked for at the ask numbered stopAt (from 0), and after it.
    bool StopAsked() override { return stopAt >= 0 && stopAsks++ >= stopAt; }
    bool IsShiftHeld() override { return shift; }

    // Disk-type dialog: each answer is an item index, kKeep (OK with the
    // selection as shown) or kCancel. With no answer left: Cancel.
    static constexpr int kKeep = -2, kCancel = -1;
    bool ShowDiskTypeDialog(const std::string& path, const std::vector<std::string>& items, int& selected) override {
        typeDialogs.push_back(selected);
        typeDialogItems = items;
        lastTypePath = path;
        if (typeAnswers.empty()) return false;
        int a = typeAnswers.front();
        typeAnswers.pop_front();
        if (a == kCancel) return false;
        if (a != kKeep) selected = a;
        return true;
    }
    // Partition dialog: each answer is a row, or kCancel; `partitionAction`
    // may work the dialog first.
    int ShowPartitionDialog(THDDPartDialog& dialog, bool expanded) override {
        partitionDialogs.push_back(expanded);
        partitionRows = dialog.Rows;
        if (partitionAction) partitionAction(dialog);
        if (partitionAnswers.empty()) return -1;
        int a = partitionAnswers.front();
        partitionAnswers.pop_front();
        if (a < 0) return -1;
        return dialog.Choose(a) ? a : -1;
    }
    bool ShowManualDialog(TManualDiskDialog& dialog) override {
        ++manualDialogs;
        return manualAction ? manualAction(dialog) : false;
    }
    bool AskNewImage(NewImageAnswers& answers) override {
        if (newImageAnswers.empty()) return false;
        answers = newImageAnswers.front();
        newImageAnswers.pop_front();
        return true;
    }
    bool AskConvertTarget(const std::string&, std::string& target, std::string& container) override {
        if (convertTargets.empty()) return false;
        container.clear();
        target = convertTargets.front();
        convertTargets.pop_front();
        return true;
    }
    bool ConfirmConversionLosses(const std::vector<std::string>& reasons, bool canDrop) override {
        shownLosses.push_back(reasons);
        if (!canDrop || lossAnswers.empty()) return false;
        bool a = lossAnswers.front();
        lossAnswers.pop_front();
        return a;
    }
    bool ShowProperties(EntryProperties& properties) override {
        shownProperties.push_back(properties);
        return propertiesAction ? propertiesAction(properties) : false;
    }

    // Texts of the boxes shown, in order.
    std::vector<std::string> Texts() const {
        std::vector<std::string> t;
        for (const auto& b : boxes) t.push_back(b.text);
        return t;
    }
    bool Showed(const std::string& text) const {
        for (const auto& b : boxes)
            if (b.text == text) return true;
        return false;
    }

    std::vector<ShownBox> boxes;
    std::deque<int> boxAnswers;
    std::deque<OverwriteAnswer> overwriteAnswers;
    std::vector<std::pair<std::string, std::string>> overwriteQuestions;
    std::vector<std::pair<std::string, std::string>> changedNames;  // given, stored
    std::vector<std::pair<int, std::string>> status;
    int stopAt = -1, stopAsks = 0;
    SystemTime lastExistingTime, lastIncomingTime;

    bool shift = false;
    std::deque<int> typeAnswers;
    std::vector<int> typeDialogs;  // the selection each showing began with
    std::vector<std::string> typeDialogItems;
    std::string lastTypePath;
    std::deque<int> partitionAnswers;
    std::vector<bool> partitionDialogs;  // expanded or not, per showing
    std::vector<PartitionRow> partitionRows;
    std::function<void(THDDPartDialog&)> partitionAction;
    int manualDialogs = 0;
    std::function<bool(TManualDiskDialog&)> manualAction;
    std::deque<NewImageAnswers> newImageAnswers;  // one per showing; none left: Cancel
    std::deque<std::string> convertTargets;  // one per showing; none left: Cancel
    std::deque<bool> lossAnswers;           // convert anyway or not, per list offered
    std::vector<std::vector<std::string>> shownLosses;
    std::vector<EntryProperties> shownProperties;
    std::function<bool(EntryProperties&)> propertiesAction;
};

// Installs a ScriptedUI for the life of a test.
class UITest {
public:
    UITest() : scope_(&ui) {}
    ScriptedUI ui;

private:
    ScopedUserInterface scope_;
};
