#pragma once
// Window texts. Every caption the windows show is written as a Greek
// literal inside U("..."), '&' marking the mnemonic letter where there is one;
// U gives it in the current language.

#include <QString>

#include <string>

#include "device/messages.h"
#include "device/windowtexts.h"

inline QString U(const char* s) { return QString::fromUtf8(WindowText(s)); }
inline QString Q(const std::string& s) { return QString::fromStdString(s); }
// A catalogue message with its inserts.
inline QString Msg(unsigned id, const MsgArgs& args = {}) { return Q(ResourceString().LoadMessageV(id, args)); }
