#pragma once
// Messages by number: formatting with inserts, the shared formatted text, the
// three message boxes, the system-error box and the log file.

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "device/userinterface.h"

// One insert of a message: a text or a number. "%1" shows either kind as it
// stands; "%1!d!" and "%1!u!" show a number as signed or unsigned decimal.
class MsgArg {
public:
    MsgArg(const char* s) : isText_(true), text_(s ? s : "") {}
    MsgArg(const std::string& s) : isText_(true), text_(s) {}
    MsgArg(int v) : number_(v) {}
    MsgArg(long v) : number_(v) {}
    MsgArg(long long v) : number_(v) {}
    MsgArg(unsigned v) : number_(v) {}
    MsgArg(unsigned long v) : number_(static_cast<int64_t>(v)) {}
    MsgArg(unsigned long long v) : number_(static_cast<int64_t>(v)) {}

    bool IsText() const { return isText_; }
    const std::string& Text() const { return text_; }
    int64_t Number() const { return number_; }

private:
    bool isText_ = false;
    std::string text_;
    int64_t number_ = 0;
};

using MsgArgs = std::vector<MsgArg>;

// Formats a message text with its inserts: "%n" (n = 1..99) with an optional
// "!d!", "!u!", "!x!", "!X!" or "!s!" format; "%%" gives a per cent sign and
// "%0" ends the text; "%{n:one|other}" gives the word for exactly one or for
// any other count of insert n, for the languages that form plurals. Returns
// nothing when the text cannot be formatted (an insert number beyond the
// inserts given, or a malformed format).
std::optional<std::string> FormatMessageText(const std::string& text, const MsgArgs& args);

// Loads and formats message `id`; nothing when the id is unknown or the
// inserts do not fit.
std::optional<std::string> FormatCatalogueMessage(unsigned id, const MsgArgs& args);

// Message `id` formatted with its inserts as a plain string; empty when the id
// is unknown or the inserts do not fit.
template <class... A>
std::string MessageString(unsigned id, A&&... inserts) {
    return FormatCatalogueMessage(id, MsgArgs{MsgArg(std::forward<A>(inserts))...}).value_or(std::string());
}

// The shared formatter of the whole run. The text returned by LoadMessage
// stays valid until the next LoadMessage on the same object.
class CResourceString {
public:
    template <class... A>
    const char* LoadMessage(unsigned id, A&&... inserts) {
        return LoadMessageV(id, MsgArgs{MsgArg(std::forward<A>(inserts))...});
    }
    const char* LoadMessageV(unsigned id, const MsgArgs& args);

private:
    std::string MessageText;
    bool hasText_ = false;
};

CResourceString& ResourceString();

int ShowMessageV(unsigned id, const MsgArgs& args);
int LogMessageV(unsigned id, const MsgArgs& args);
int AskMessageV(unsigned id, int style, const MsgArgs& args);

template <class... A>
int ShowMessage(unsigned id, A&&... inserts) {
    return ShowMessageV(id, MsgArgs{MsgArg(std::forward<A>(inserts))...});
}
template <class... A>
int LogMessage(unsigned id, A&&... inserts) {
    return LogMessageV(id, MsgArgs{MsgArg(std::forward<A>(inserts))...});
}
template <class... A>
int AskMessage(unsigned id, int style, A&&... inserts) {
    return AskMessageV(id, style, MsgArgs{MsgArg(std::forward<A>(inserts))...});
}

// Shows the C library's text for an error number under the caption
// "System error" in the user's language. Code 0 means the current errno; an
// errno of 0 shows nothing.
void ShowSystemError(int code = 0);
// The same for a file that could not be opened: its path and the text.
void ShowSystemErrorAbout(const std::string& path, int code);
// The same for a file being read or written: message `id` says what was
// being done, with the path as its first insert and the C library's text as
// its second. Code 0 means the current errno.
void ShowSystemErrorDuring(unsigned id, const std::string& path, int code = 0);
inline constexpr unsigned kWhileReading = 2040, kWhileWriting = 2041, kWhileSaving = 2042;
// "System error: text" as one line, with the language's colon.
inline constexpr unsigned kSystemErrorLine = 2043;

// The caption of system errors ("System error" in the current language).
std::string SystemErrorCaption();

// The image the log's lines name: the one being opened or worked on.
void SetLogImage(const std::string& path);

// Full path of the log file that LogMessage appends to. Each line reads
// "time image: message".
std::string LogFilePath();

inline constexpr const char* kCaption = "Voldex";
inline constexpr const char* kResourceErrorText = "message resource error.";
