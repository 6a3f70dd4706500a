#pragma once
// Helpers for tests of the real forms: children by object name, the text a
// button shows without its mnemonic, and answering a modal dialog that a
// call opens.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLayout>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <stdexcept>
#include <string>

template <class T>
T* Child(QWidget* parent, const char* name) {
    T* w = parent->findChild<T*>(name);
    if (!w) throw std::runtime_error(std::string("no child ") + name);
    return w;
}

// "Ά&κυρο" shows as "Άκυρο" with κ as its key; "&&" is a plain "&".
inline QString Shown(const QString& caption) {
    QString out;
    for (int i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&' && i + 1 < caption.size()) ++i;
        out += caption[i];
    }
    return out;
}

// The mnemonic letter of a caption (upper case), or a null QChar.
inline QChar Mnemonic(const QString& caption) {
    for (int i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&') continue;
        if (caption[i + 1] == '&') {
            ++i;
            continue;
        }
        return caption[i + 1].toUpper();
    }
    return QChar();
}

// Runs `work` on the modal dialog that `call` opens, then returns what
// `call` returned. The dialog must be closed by `work`.
template <class Call>
auto WithModal(std::function<void(QDialog*)> work, Call call) {
    bool ran = false;
    std::function<void()> poll;
    poll = [&] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d) {
            QTimer::singleShot(10, poll);
            return;
        }
        ran = true;
        work(d);
    };
    QTimer::singleShot(0, poll);
    auto result = call();
    if (!ran) throw std::runtime_error("no modal dialog was shown");
    return result;
}

// True when the dialog keeps the size its contents need (no resizing).
inline bool FixedSize(QDialog* d) {
    return d->layout() && d->layout()->sizeConstraint() == QLayout::SetFixedSize;
}
