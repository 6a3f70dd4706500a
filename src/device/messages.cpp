#include "device/messages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "device/catalogue.h"
#include "device/programfolder.h"

namespace {

constexpr std::size_t kMaxMessageText = 1023;
constexpr unsigned kSystemErrorCaptionId = 1680;

std::string NumberText(int64_t v, char kind) {
    char buf[32];
    switch (kind) {
        case 'u': std::snprintf(buf, sizeof buf, "%u", static_cast<unsigned>(v)); break;
        case 'x': std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(v)); break;
        case 'X': std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(v)); break;
        default: std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(static_cast<int32_t>(v))); break;
    }
    return buf;
}

// 32-bit inserts are the rule; a number that does not fit keeps its full width.
std::string InsertText(const MsgArg& a, char kind) {
    if (a.IsText()) return a.Text();
    if (kind == 0 || kind == 'd') {
        int64_t v = a.Number();
        if (v >= INT32_MIN && v <= INT32_MAX) return NumberText(v, 'd');
        return std::to_string(v);
    }
    if (kind == 'u' && (a.Number() < 0 || a.Number() > UINT32_MAX)) return std::to_string(a.Number());
    return NumberText(a.Number(), kind);
}

std::string& LogImage() {
    static std::string image;
    return image;
}

// "2026-01-31 12:00:00 /path/disk.img: message", one line however many the
// message has.
std::string LogLine(const std::string& text) {
    char stamp[32] = "";
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::string line = std::string(stamp) + " " + (LogImage().empty() ? "" : LogImage() + ": ");
    for (char c : text) {
        if (c == '\n') line += "; ";
        else if (c != '\r') line += c;
    }
    return line;
}

// Whether an insert counts exactly one: the number 1 or the text "1".
bool IsOne(const MsgArg& a) { return a.IsText() ? a.Text() == "1" : a.Number() == 1; }

int RunBox(unsigned id, int style, bool log, const MsgArgs& args) {
    auto text = FormatCatalogueMessage(id, args);
    if (!text) {
        UI().ShowBox(kResourceErrorText, kCaption, kBoxOk);
        return kIdCancel;
    }
    int button = UI().ShowBox(*text, kCaption, style);
    if (log) {
        MakeFolders(LogFolder());
        if (FILE* f = std::fopen(LogFilePath().c_str(), "a")) {
            std::fprintf(f, "%s\n", LogLine(*text).c_str());
            std::fclose(f);
        }
    }
    return button;
}

}  // namespace

std::optional<std::string> FormatMessageText(const std::string& text, const MsgArgs& args) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        char d = text[i + 1];
        if (d == '{') {
            // "%{n:one|other}": the word for one or for any other count of
            // insert n ("1 file", "2 files").
            std::size_t colon = text.find(':', i + 2), bar = text.find('|', i + 2), close = text.find('}', i + 2);
            if (colon == std::string::npos || bar == std::string::npos || close == std::string::npos ||
                !(colon < bar && bar < close) || colon == i + 2 || colon > i + 4)
                return std::nullopt;
            unsigned n = 0;
            for (std::size_t k = i + 2; k < colon; ++k) {
                if (text[k] < '0' || text[k] > '9') return std::nullopt;
                n = n * 10 + unsigned(text[k] - '0');
            }
            if (n == 0 || n > args.size()) return std::nullopt;
            out += IsOne(args[n - 1]) ? text.substr(colon + 1, bar - colon - 1) : text.substr(bar + 1, close - bar - 1);
            i = close;
            continue;
        }
        if (d < '1' || d > '9') {
            // "%%", "%.", "%!" and the like stand for the character itself.
            if (d == '0') return out;  // "%0" ends the text
            out += d;
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        unsigned n = 0;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9' && j < i + 3) n = n * 10 + (text[j++] - '0');
        char kind = 0;
        if (j < text.size() && text[j] == '!') {
            std::size_t close = text.find('!', j + 1);
            if (close == std::string::npos || close != j + 2) return std::nullopt;
            kind = text[j + 1];
            if (std::strchr("duxXs", kind) == nullptr) return std::nullopt;
            j = close + 1;
        }
        if (n == 0 || n > args.size()) return std::nullopt;
        const MsgArg& a = args[n - 1];
        if (kind == 's' && !a.IsText()) return std::nullopt;
        out += InsertText(a, kind == 's' ? 0 : kind);
        i = j - 1;
    }
    return out;
}

std::optional<std::string> FormatCatalogueMessage(unsigned id, const MsgArgs& args) {
    const char* raw = CatalogueText(id);
    if (!raw) return std::nullopt;
    std::string text(raw);
    if (text.size() > kMaxMessageText) text.resize(kMaxMessageText);
    return FormatMessageText(text, args);
}

const char* CResourceString::LoadMessageV(unsigned id, const MsgArgs& args) {
    auto text = FormatCatalogueMessage(id, args);
    hasText_ = text.has_value();
    MessageText = text ? *text : std::string();
    return MessageText.c_str();
}

CResourceString& ResourceString() {
    static CResourceString instance;
    return instance;
}

int ShowMessageV(unsigned id, const MsgArgs& args) { return RunBox(id, kBoxOk, false, args); }

int LogMessageV(unsigned id, const MsgArgs& args) { return RunBox(id, kBoxOk, true, args); }

int AskMessageV(unsigned id, int style, const MsgArgs& args) { return RunBox(id, style, false, args); }

void ShowSystemError(int code) {
    if (code == 0) code = errno;
    if (code == 0) return;
    UI().ShowBox(std::strerror(code), SystemErrorCaption(), kBoxStop);
}

void ShowSystemErrorAbout(const std::string& path, int code) {
    auto text = FormatCatalogueMessage(1566, {path, std::strerror(code)});
    UI().ShowBox(text ? *text : path + ": " + std::strerror(code), SystemErrorCaption(), kBoxStop);
}

void ShowSystemErrorDuring(unsigned id, const std::string& path, int code) {
    if (code == 0) code = errno;
    if (code == 0) return;
    auto text = FormatCatalogueMessage(id, {path, std::strerror(code)});
    UI().ShowBox(text ? *text : path + ": " + std::strerror(code), SystemErrorCaption(), kBoxStop);
}

std::string SystemErrorCaption() {
    const char* text = CatalogueText(kSystemErrorCaptionId);
    return text ? text : "System error";
}

void SetLogImage(const std::string& path) { LogImage() = path; }

std::string LogFilePath() { return LogFolder() + "kestrel.log"; }
