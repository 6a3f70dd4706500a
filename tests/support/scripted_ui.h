#pragma once
// A user-interface layer for tests: records everything shown and answers
// from a script.

#include <deque>
#include <string>
#include <vector>

#include "device/userinterface.h"

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
    std::vector<std::pair<int, std::string>> status;
    SystemTime lastExistingTime, lastIncomingTime;
};

// Installs a ScriptedUI for the life of a test.
class UITest {
public:
    UITest() : scope_(&ui) {}
    ScriptedUI ui;

private:
    ScopedUserInterface scope_;
};
