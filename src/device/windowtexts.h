#pragma once
// The captions of windows, menus, buttons, labels and column headers. The
// window code writes each as the system's Greek text; this table gives its
// English and Japanese counterparts. Mnemonics ('&') are not part of the
// key: each language marks its own ("&File", "ファイル(&F)").

#include <cstddef>
#include <string>

#include "device/language.h"

struct WindowTextEntry {
    const char* greek;
    const char* english;
    const char* japanese;
};

struct WindowTextTable {
    const WindowTextEntry* entries;
    std::size_t count;
};

WindowTextTable WindowTexts();

// The text as a key: single '&' marks dropped, "&&" read as one '&'.
std::string WindowTextKey(const std::string& text);

// The text of `greek` in one language, or nullptr when the table lacks it.
// For Greek the text comes back as given.
const char* WindowTextIn(Language language, const char* greek);

// The text of `greek` in the current language, falling back to the Greek.
const char* WindowText(const char* greek);
