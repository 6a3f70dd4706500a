#pragma once
// Window texts. Every caption the windows show is written as a Greek
// literal inside U("..."), '&' marking the mnemonic letter where there is one;
// U gives it in the current language.

#include <QRegularExpression>
#include <QString>

#include <string>

#include "device/messages.h"
#include "device/windowtexts.h"

inline QString U(const char* s) { return QString::fromUtf8(WindowText(s)); }
// A caption as a title: without its access key ("&Delete", "削除(&D)").
inline QString Title(const char* s) {
    QString t = U(s);
    t.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    return t.replace(QStringLiteral("&&"), QStringLiteral("\x01")).remove('&').replace('\x01', '&');
}
inline QString Q(const std::string& s) { return QString::fromStdString(s); }
// A catalogue message with its inserts.
inline QString Msg(unsigned id, const MsgArgs& args = {}) { return Q(ResourceString().LoadMessageV(id, args)); }
