#pragma once
// What the parts of the main window (tvoldex*.cpp) share: the item roles,
// the column captions and a few text helpers.

#include <QApplication>
#include <QIcon>
#include <QStyle>

#include "device/sjis.h"
#include "explorer/window/text_qt.h"

namespace tvoldex {

// The list item's entry index in the listed folder; the tree node's first cluster.
inline constexpr int kIndexRole = Qt::UserRole + 1;
inline constexpr int kClusterRole = Qt::UserRole + 2;

// The caption of list column c (0 to 4), without the sort mark.
inline QString ColumnTitle(int c) {
    switch (c) {
        case 0: return U("Όνομα");
        case 1: return U("Μέγεθος");
        case 2: return U("Ιδιότητες");
        case 3: return U("Ενημέρωση");
        default: return U("Έναρξη");
    }
}

// Names on the volume are Shift-JIS; the window shows them as text.
inline QString Name(const std::string& sjis) { return Q(SjisToUtf8(sjis)); }

inline QIcon ThemeIcon(const char* name, QStyle::StandardPixmap fallback) {
    return QIcon::fromTheme(name, QApplication::style()->standardIcon(fallback));
}

// Lets the window repaint during long work; the user's input waits.
inline void KeepPainted() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

}  // namespace tvoldex
