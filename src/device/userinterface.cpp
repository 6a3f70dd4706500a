#include "device/userinterface.h"

#include <cstdio>

namespace {

class StderrInterface : public UserInterface {
public:
    int ShowBox(const std::string& text, const std::string& caption, int style) override {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return (style == kBoxYesNoQuestion || style == kBoxYesNoWarning) ? kIdNo : kIdOk;
    }
};

StderrInterface g_fallback;
UserInterface* g_current = nullptr;

}  // namespace

UserInterface& UI() { return g_current ? *g_current : g_fallback; }

void SetUserInterface(UserInterface* ui) { g_current = ui; }

ScopedUserInterface::ScopedUserInterface(UserInterface* ui) : previous_(g_current) { g_current = ui; }

ScopedUserInterface::~ScopedUserInterface() { g_current = previous_; }
