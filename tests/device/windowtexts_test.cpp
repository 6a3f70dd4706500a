// Window texts: every caption of the window code has its English and
// Japanese text, found whatever mnemonics the Greek carries.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "device/language.h"
#include "device/windowtexts.h"

namespace {

class WindowTextsTest : public ::testing::Test {
protected:
    void TearDown() override { SetLanguage(saved_); }
    Language saved_ = CurrentLanguage();
};

std::set<std::string> Inserts(const std::string& text) {
    std::set<std::string> found;
    static const std::regex insert(R"(%([1-9][0-9]?)(![a-zA-Z]!)?)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), insert); it != std::sregex_iterator(); ++it)
        found.insert(it->str());
    return found;
}

// The mnemonic letters of a text: each single '&' and the character after it.
int Mnemonics(const std::string& text) {
    int n = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                ++i;
            } else {
                ++n;
            }
        }
    return n;
}

TEST_F(WindowTextsTest, TableIsComplete) {
    WindowTextTable t = WindowTexts();
    ASSERT_GT(t.count, 100u);
    std::set<std::string> keys;
    for (std::size_t i = 0; i < t.count; ++i) {
        const WindowTextEntry& e = t.entries[i];
        std::string key = WindowTextKey(e.greek);
        EXPECT_TRUE(keys.insert(key).second) << "twice: " << e.greek;
        EXPECT_EQ(Mnemonics(e.greek), 0) << "keys are written without mnemonics: " << e.greek;
        for (const char* text : {e.english, e.japanese}) {
            ASSERT_TRUE(text && *text) << e.greek;
            EXPECT_EQ(Inserts(text), Inserts(e.greek)) << e.greek << " -> " << text;
            EXPECT_LE(Mnemonics(text), 1) << text;
        }
        // A Japanese mnemonic follows the caption in parentheses: "ファイル(&F)".
        if (Mnemonics(e.japanese) == 1) {
            EXPECT_TRUE(std::regex_search(e.japanese, std::regex(R"(\(&[A-Z0-9]\)(\.\.\.)?$)"))) << e.japanese;
        }
    }
}

TEST_F(WindowTextsTest, LookupIgnoresMnemonics) {
    EXPECT_EQ(WindowTextKey("&Αρχείο"), "Αρχείο");
    EXPECT_EQ(WindowTextKey("Ό&χι σε όλα"), "Όχι σε όλα");
    EXPECT_EQ(WindowTextKey("Η επιλεγμένη λειτουργία D&&D είναι εσωτερική"), "Η επιλεγμένη λειτουργία D&D είναι εσωτερική");
    SetLanguage(Language::English);
    EXPECT_STREQ(WindowText("&Αρχείο"), "&File");
    EXPECT_STREQ(WindowText("Αρχείο"), "&File");
    EXPECT_STREQ(WindowText("Η επιλεγμένη λειτουργία D&&D είναι &εσωτερική"),
                 "&Drag and drop moves inside the image by default");
    SetLanguage(Language::Japanese);
    EXPECT_STREQ(WindowText("Α&ρχείο"), "ファイル(&F)");
    EXPECT_STREQ(WindowText("Ναι σε όλα"), "すべて上書き(&A)");
    // A text the table lacks (a profile's name) shows as it is.
    const char* profile = "PC-9801 40MB";
    EXPECT_EQ(WindowText(profile), profile);
    EXPECT_EQ(WindowTextIn(Language::English, profile), nullptr);
    // Greek: the caption exactly as the window code wrote it, mnemonic included.
    SetLanguage(Language::Greek);
    const char* greek = "&Αρχείο";
    EXPECT_EQ(WindowText(greek), greek);
}

// ---- The window code scanned for captions ----

struct Literal {
    std::string text;
    std::string where;
    bool inU;  // the argument of U(...)
};

// Reads the string literals of a C++ source, adjacent ones joined, comments
// and character literals passed over.
std::vector<Literal> Literals(const std::string& path, const std::string& src) {
    std::vector<Literal> out;
    std::size_t i = 0, n = src.size();
    int line = 1;
    auto skipSpaceAndComments = [&](std::size_t& k) {
        for (;;) {
            while (k < n && std::isspace(static_cast<unsigned char>(src[k]))) {
                if (src[k] == '\n') ++line;
                ++k;
            }
            if (k + 1 < n && src[k] == '/' && src[k + 1] == '/') {
                while (k < n && src[k] != '\n') ++k;
            } else if (k + 1 < n && src[k] == '/' && src[k + 1] == '*') {
                k += 2;
                while (k + 1 < n && !(src[k] == '*' && src[k + 1] == '/')) {
                    if (src[k] == '\n') ++line;
                    ++k;
                }
                k += 2;
            } else {
                return;
            }
        }
    };
    auto readString = [&](std::size_t& k) {
        std::string s;
        ++k;  // opening quote
        while (k < n && src[k] != '"') {
            if (src[k] == '\\' && k + 1 < n) {
                char e = src[k + 1];
                s += e == 'n' ? '\n' : e == 't' ? '\t' : e;
                k += 2;
            } else {
                s += src[k++];
            }
        }
        ++k;  // closing quote
        return s;
    };
    while (i < n) {
        skipSpaceAndComments(i);
        if (i >= n) break;
        char c = src[i];
        if (c == '\'') {
            bool digitSeparator = i > 0 && std::isxdigit(static_cast<unsigned char>(src[i - 1])) && i + 1 < n &&
                                  std::isxdigit(static_cast<unsigned char>(src[i + 1])) && src[i + 2] != '\'';
            ++i;
            if (!digitSeparator) {
                while (i < n && src[i] != '\'') i += src[i] == '\\' ? 2 : 1;
                ++i;
            }
            continue;
        }
        if (c != '"') {
            ++i;
            continue;
        }
        // U( right before the literal?
        std::size_t b = i;
        while (b > 0 && std::isspace(static_cast<unsigned char>(src[b - 1]))) --b;
        bool inU = b >= 2 && src[b - 1] == '(' && src[b - 2] == 'U' &&
                   (b < 3 || !(std::isalnum(static_cast<unsigned char>(src[b - 3])) || src[b - 3] == '_'));
        int startLine = line;
        std::string text = readString(i);
        for (;;) {
            std::size_t k = i;
            int savedLine = line;
            skipSpaceAndComments(k);
            if (k < n && src[k] == '"') {
                i = k;
                text += readString(i);
            } else {
                line = savedLine;
                break;
            }
        }
        out.push_back({text, path + ":" + std::to_string(startLine), inU});
    }
    return out;
}

bool HasGreek(const std::string& s) {
    // U+0370..U+03FF and U+1F00..U+1FFF in UTF-8.
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        unsigned char a = s[i], b = s[i + 1];
        if ((a == 0xCD && b >= 0xB0) || a == 0xCE || a == 0xCF) return true;
        if (a == 0xE1 && (b == 0xBC || b == 0xBD || b == 0xBE || b == 0xBF)) return true;
    }
    return false;
}

void SourcesUnder(const std::string& dir, std::vector<std::string>& files) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            SourcesUnder(path, files);
        } else if (name.size() > 4 && (name.substr(name.size() - 4) == ".cpp" || name.substr(name.size() - 2) == ".h")) {
            files.push_back(path);
        } else if (name.size() > 2 && name.substr(name.size() - 2) == ".h") {
            files.push_back(path);
        }
    }
    closedir(d);
}

TEST(WindowTextScan, ReaderFindsCaptions) {
    std::string src =
        "// U(\"Σχόλιο\")\n"
        "auto a = U(\"&Αρχείο\"); char q = '\"'; int big = 0x7FFF'FFFF;\n"
        "AddAction(m, \"MNX\", \"Διαγραφή\");\n"
        "auto b = U(\"/dev/sdX\\nΑντικαταστήστε\" /* join */ \"κείμενο\");\n"
        "setObjectName(\"Label1\"); auto c = MU(\"x\");\n";
    auto lits = Literals("t.cpp", src);
    ASSERT_EQ(lits.size(), 6u);
    EXPECT_EQ(lits[0].text, "&Αρχείο");
    EXPECT_TRUE(lits[0].inU);
    EXPECT_EQ(lits[1].text, "MNX");
    EXPECT_EQ(lits[2].text, "Διαγραφή");
    EXPECT_FALSE(lits[2].inU);
    EXPECT_EQ(lits[3].text, "/dev/sdX\nΑντικαταστήστεκείμενο");
    EXPECT_EQ(lits[3].where, "t.cpp:4");
    EXPECT_TRUE(lits[3].inU);
    EXPECT_EQ(lits[4].text, "Label1");
    EXPECT_FALSE(lits[4].inU);
    EXPECT_FALSE(lits[5].inU);
}

// Every U("...") literal and every Greek literal outside the catalogues must
// have its English and Japanese text; a caption added later fails here
// until it is translated.
TEST(WindowTextScan, EveryCaptionOfTheSourcesIsTranslated) {
    std::vector<std::string> files;
    SourcesUnder(std::string(VOLDEX_SOURCE_DIR) + "/src", files);
    ASSERT_GT(files.size(), 20u);
    std::string missing;
    int captions = 0;
    for (const std::string& path : files) {
        std::string name = path.substr(path.rfind('/') + 1);
        if (name.rfind("catalogue", 0) == 0 || name.rfind("windowtexts", 0) == 0 || name == "language_qt.cpp") continue;
        std::ifstream in(path);
        std::stringstream ss;
        ss << in.rdbuf();
        for (const Literal& l : Literals(path.substr(std::string(VOLDEX_SOURCE_DIR).size() + 1), ss.str())) {
            if (!l.inU && !HasGreek(l.text)) continue;
            ++captions;
            for (Language lang : {Language::English, Language::Japanese})
                if (!WindowTextIn(lang, l.text.c_str()))
                    missing += l.where + ": \"" + l.text + "\" has no " + LanguageCode(lang) + " text\n";
        }
    }
    EXPECT_GT(captions, 100);
    EXPECT_EQ(missing, "");
}

}  // namespace
