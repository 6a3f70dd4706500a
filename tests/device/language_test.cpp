// The three catalogues, the choice of language and voldex-cli speaking it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <regex>
#include <set>

#include "device/catalogue.h"
#include "device/language.h"
#include "device/messages.h"
#include "support/images.h"

namespace {

// The inserts of a text: "%1", "%2!d!", "%1!u!" and so on.
std::set<std::string> Inserts(const std::string& text) {
    std::set<std::string> found;
    static const std::regex insert(R"(%([1-9][0-9]?)(![a-zA-Z]!)?)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), insert); it != std::sregex_iterator(); ++it)
        found.insert(it->str());
    return found;
}

std::map<unsigned, std::string> Texts(Language language) {
    std::map<unsigned, std::string> texts;
    CatalogueTable t = CatalogueOf(language);
    for (std::size_t i = 0; i < t.count; ++i) {
        EXPECT_TRUE(texts.emplace(t.entries[i].id, t.entries[i].text).second)
            << "message " << t.entries[i].id << " twice in catalogue " << LanguageCode(language);
    }
    return texts;
}

// Keeps the current language and the locale variables as they were.
class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = CurrentLanguage();
        for (const char* name : kVars)
            if (const char* v = std::getenv(name)) env_[name] = v;
        for (const char* name : kVars) unsetenv(name);
    }
    void TearDown() override {
        SetLanguage(saved_);
        for (const char* name : kVars) {
            auto it = env_.find(name);
            if (it == env_.end()) unsetenv(name); else setenv(name, it->second.c_str(), 1);
        }
    }
    static constexpr const char* kVars[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    Language saved_ = Language::Greek;
    std::map<std::string, std::string> env_;
};

TEST_F(LanguageTest, EveryMessageInEveryLanguageWithTheSameInserts) {
    auto greek = Texts(Language::Greek);
    for (Language l : {Language::English, Language::Japanese}) {
        auto other = Texts(l);
        for (const auto& [id, text] : greek) {
            auto it = other.find(id);
            if (it == other.end()) {
                ADD_FAILURE() << "message " << id << " has no " << LanguageCode(l) << " text";
                continue;
            }
            EXPECT_EQ(Inserts(text), Inserts(it->second)) << "message " << id << " in " << LanguageCode(l);
            EXPECT_FALSE(it->second.empty()) << id;
            // A "?" standing for a missing word is spelled out in translation.
            EXPECT_FALSE(std::regex_search(it->second, std::regex(R"((^|[\s\d])\?)")))
                << "message " << id << " in " << LanguageCode(l) << ": " << it->second;
            // Every text can be formatted with inserts of its kind.
            MsgArgs args(9, MsgArg(7));
            EXPECT_TRUE(FormatMessageText(it->second, args)) << id;
        }
        for (const auto& entry : other) EXPECT_TRUE(greek.count(entry.first)) << "message " << entry.first << " only in " << LanguageCode(l);
    }
}

TEST_F(LanguageTest, GreekAndJapaneseTextsOfTheSystemStandAsTheyAre) {
    EXPECT_STREQ(CatalogueTextIn(Language::Greek, 812), "Μη έγκυρη αλυσίδα");
    EXPECT_STREQ(CatalogueTextIn(Language::Greek, 601), "?");
    // The system's own Japanese texts are the Japanese catalogue's too.
    for (unsigned id : {901u, 902u, 903u, 904u, 1001u, 1002u, 1003u})
        EXPECT_STREQ(CatalogueTextIn(Language::Japanese, id), CatalogueTextIn(Language::Greek, id)) << id;
}

TEST_F(LanguageTest, MessagesFollowTheCurrentLanguage) {
    SetLanguage(Language::English);
    EXPECT_EQ(FormatCatalogueMessage(602, {"/d/a.img"}).value_or(""), "/d/a.img\nThe file was not found or is in use");
    EXPECT_EQ(FormatCatalogueMessage(133, {3, 1}).value_or(""), "Writing 3 files (1 done)");
    SetLanguage(Language::Japanese);
    EXPECT_EQ(FormatCatalogueMessage(602, {"/d/a.img"}).value_or(""), "/d/a.img\nファイルが見つからないか、使用中です");
    SetLanguage(Language::Greek);
    EXPECT_EQ(FormatCatalogueMessage(602, {"/d/a.img"}).value_or(""), "/d/a.img\nΤο αρχείο δεν βρέθηκε ή είναι ανοικτό");
    // An unknown id stays unknown in every language.
    SetLanguage(Language::English);
    EXPECT_EQ(CatalogueText(99999), nullptr);
    EXPECT_FALSE(FormatCatalogueMessage(99999, {}));
}

TEST_F(LanguageTest, LocaleNames) {
    EXPECT_EQ(LanguageOfLocale("en_US.UTF-8"), Language::English);
    EXPECT_EQ(LanguageOfLocale("en"), Language::English);
    EXPECT_EQ(LanguageOfLocale("en_GB@euro"), Language::English);
    EXPECT_EQ(LanguageOfLocale("ja_JP.eucJP"), Language::Japanese);
    EXPECT_EQ(LanguageOfLocale("ja"), Language::Japanese);
    for (const char* other : {"C", "POSIX", "C.UTF-8", "el_GR.UTF-8", "de_DE.UTF-8", "", "eng", "jav_ID"})
        EXPECT_EQ(LanguageOfLocale(other), Language::Greek) << other;
}

TEST_F(LanguageTest, EnvironmentOrderAndFallback) {
    EXPECT_EQ(LanguageFromEnvironment(), Language::Greek);  // nothing set
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(LanguageFromEnvironment(), Language::Japanese);
    setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    EXPECT_EQ(LanguageFromEnvironment(), Language::English);
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(LanguageFromEnvironment(), Language::Greek);
    setenv("LC_ALL", "", 1);  // set but empty: the next one decides
    EXPECT_EQ(LanguageFromEnvironment(), Language::English);
}

TEST_F(LanguageTest, SettingOverEnvironment) {
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(ChooseLanguage("en"), Language::English);
    EXPECT_EQ(ChooseLanguage("EL"), Language::Greek);
    EXPECT_EQ(ChooseLanguage(""), Language::Japanese);
    EXPECT_EQ(ChooseLanguage("fr"), Language::Japanese);  // unknown: as if empty
    setenv("LANG", "POSIX", 1);
    EXPECT_EQ(ChooseLanguage("ja"), Language::Japanese);
    EXPECT_EQ(ChooseLanguage(""), Language::Greek);
}

// voldex-cli as a script sees it: the error text of a missing image.
class CliLanguageTest : public ::testing::Test {
protected:
    std::string Run(const std::string& env, const std::string& args = "ls missing.img") {
        std::string out;
        int rc = RunShell("cd " + Quote(dir.path()) + " && env -u LC_ALL -u LC_MESSAGES -u LANG VOLDEX_HOME=" +
                              Quote(dir.path()) + " " + env + " timeout 60 " + VOLDEX_CLI + " " + args,
                          &out);
        EXPECT_EQ(rc, 1) << out;
        return out;
    }
    TempDir dir;
};

TEST_F(CliLanguageTest, FollowsTheEnvironment) {
    EXPECT_NE(Run("LANG=en_US.UTF-8").find("missing.img: no such file\n"), std::string::npos);
    EXPECT_NE(Run("LANG=ja_JP.UTF-8").find("ファイル missing.img がありません\n"), std::string::npos);
    EXPECT_NE(Run("LANG=C").find("missing.img: δεν υπάρχει τέτοιο αρχείο\n"), std::string::npos);
    EXPECT_NE(Run("").find("δεν υπάρχει τέτοιο αρχείο"), std::string::npos);
    EXPECT_NE(Run("LANG=ja_JP.UTF-8 LC_ALL=en_US.UTF-8").find("no such file"), std::string::npos);
}

TEST_F(CliLanguageTest, FloppyRefusalsSpeakPlainlyOnce) {
    // The Greek catalogue says only "?" here, so a plain line follows it; the
    // other languages say it in the message itself.
    std::string greek = Run("LANG=C", "mkfdd /dev/null ''");
    EXPECT_NE(greek.find("?\nΔεν δόθηκε όνομα αρχείου εξόδου\n"), std::string::npos) << greek;
    std::string english = Run("LANG=en_US.UTF-8", "mkfdd /dev/null ''");
    EXPECT_EQ(english, "Enter the name of the image file\n");
    std::string japanese = Run("LANG=ja_JP.UTF-8", "mkfdd /dev/null ''");
    EXPECT_EQ(japanese, "イメージファイル名を入力してください\n");
}

TEST_F(CliLanguageTest, SettingAndOptionWin) {
    std::string ini = "[ProgramSettings]\nLanguage=ja\n";
    WriteHostFile(dir / "kestrel.ini", std::vector<uint8_t>(ini.begin(), ini.end()));
    EXPECT_NE(Run("LANG=en_US.UTF-8").find("がありません"), std::string::npos);
    EXPECT_NE(Run("LANG=en_US.UTF-8", "--lang en ls missing.img").find("no such file"), std::string::npos);
    EXPECT_NE(Run("LANG=en_US.UTF-8", "ls --lang=el missing.img").find("δεν υπάρχει τέτοιο αρχείο"), std::string::npos);
    // A language the program does not speak is a usage error.
    std::string out;
    int rc = RunShell("cd " + Quote(dir.path()) + " && VOLDEX_HOME=" + Quote(dir.path()) + " " + VOLDEX_CLI + " --lang xx ls a.img",
             &out);
    EXPECT_EQ(rc, 2);
    EXPECT_NE(out.find("--lang needs el, en or ja"), std::string::npos) << out;
}

}  // namespace
