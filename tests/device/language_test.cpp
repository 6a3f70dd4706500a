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
            // A "?" standing for a missing word is spelled out in translation
            // (2150 lists the characters a label cannot hold, "?" among them).
            EXPECT_FALSE(id != 2150 && std::regex_search(it->second, std::regex(R"((^|[\s\d])\?)")))
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
    // The system's own Japanese texts are the Japanese catalogue's too, but
    // for the words the glossary settles (ライブラリ, not DLL; 書き込んで).
    for (unsigned id : {901u, 903u, 904u})
        EXPECT_STREQ(CatalogueTextIn(Language::Japanese, id), CatalogueTextIn(Language::Greek, id)) << id;
}

// The glossary's rules (docs/glossary.md), for every English and Japanese
// text and the Greek texts written since the original ones.
TEST_F(LanguageTest, CataloguesKeepTheGlossarysRules) {
    static const std::regex particleStartsLine("\n(は|が|を|に|の|へ|で|と|も)");
    static const std::regex asciiQuote("['\"]|!!|[^\\d\\s/:]: ");
    // A count followed by a plural noun that the plural helper does not choose.
    static const std::regex fixedPlural(
        "%[1-9](![du]!)? (files|clusters|entries|bytes|findings|folders|items|chains|slots|partitions|αρχεία|ευρήματα|"
        "καταχωρήσεις|φάκελοι)([^|}]|$)");
    for (Language l : {Language::Greek, Language::English, Language::Japanese}) {
        for (const auto& [id, text] : Texts(l)) {
            if (l == Language::Greek && id < 1200) continue;
            EXPECT_FALSE(std::regex_search(text, fixedPlural)) << LanguageCode(l) << " " << id << ": " << text;
            for (const char* foreign : {"Win32", "Windows", "DLL"})
                EXPECT_EQ(text.find(foreign), std::string::npos) << LanguageCode(l) << " " << id << ": " << text;
            if (l == Language::Greek) {
                for (const char* other : {"καταχώρισ", "καταχωρίσ", "επιδιόρθ"})
                    EXPECT_EQ(text.find(other), std::string::npos) << id << ": " << text;
            }
            if (l != Language::Japanese) continue;
            // A question or exclamation after Japanese text takes the full-width mark.
            for (std::size_t k = 1; k < text.size(); ++k)
                if ((text[k] == '?' || text[k] == '!') && static_cast<unsigned char>(text[k - 1]) >= 0x80)
                    ADD_FAILURE() << id << ": " << text;
            EXPECT_FALSE(std::regex_search(text, particleStartsLine)) << id << ": " << text;
            // 1621, 1622 and 2150 list the characters a name cannot hold, the ASCII quote among them.
            if (id != 1621 && id != 1622 && id != 2150) {
                EXPECT_FALSE(std::regex_search(text, asciiQuote)) << id << ": " << text;
            }
            for (const char* other : {"標準で", "標準の", "書込", "フォルダー", "読み取り専用", "取り込み", "書き出し", "置き換え", "検出事項"})
                EXPECT_EQ(text.find(other), std::string::npos) << id << ": " << text;
        }
    }
}

TEST_F(LanguageTest, MessagesFollowTheCurrentLanguage) {
    SetLanguage(Language::English);
    EXPECT_EQ(FormatCatalogueMessage(602, {"/d/a.img"}).value_or(""), "/d/a.img\nThe file was not found or is in use");
    EXPECT_EQ(FormatCatalogueMessage(133, {3, 1}).value_or(""), "Importing 3 files (1 done)");
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
    EXPECT_EQ(LanguageOfLocale("el_GR.UTF-8"), Language::Greek);
    EXPECT_EQ(LanguageOfLocale("el"), Language::Greek);
    // The plain locales and every language without a catalogue speak English.
    for (const char* other : {"C", "POSIX", "C.UTF-8", "de_DE.UTF-8", "", "eng", "jav_ID", "ell"})
        EXPECT_EQ(LanguageOfLocale(other), Language::English) << other;
}

TEST_F(LanguageTest, EnvironmentOrderAndFallback) {
    EXPECT_EQ(LanguageFromEnvironment(), Language::English);  // nothing set
    setenv("LANG", "ja_JP.UTF-8", 1);
    EXPECT_EQ(LanguageFromEnvironment(), Language::Japanese);
    setenv("LC_MESSAGES", "en_US.UTF-8", 1);
    EXPECT_EQ(LanguageFromEnvironment(), Language::English);
    setenv("LC_ALL", "el_GR.UTF-8", 1);
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
    EXPECT_EQ(ChooseLanguage(""), Language::English);
}

// voldex-cli as a script sees it: the error text of a missing image.
class CliLanguageTest : public ::testing::Test {
protected:
    std::string Run(const std::string& env, const std::string& args = "ls missing.img", int expected = 1) {
        std::string out;
        int rc = RunShell("cd " + Quote(dir.path()) + " && env -u LC_ALL -u LC_MESSAGES -u LANG VOLDEX_HOME=" +
                              Quote(dir.path()) + " " + env + " timeout 60 " + VOLDEX_CLI + " " + args,
                          &out);
        EXPECT_EQ(rc, expected) << out;
        return out;
    }
    TempDir dir;
};

TEST_F(CliLanguageTest, FollowsTheEnvironment) {
    EXPECT_NE(Run("LANG=en_US.UTF-8").find("missing.img: no such file\n"), std::string::npos);
    EXPECT_NE(Run("LANG=ja_JP.UTF-8").find("ファイル missing.img がありません\n"), std::string::npos);
    EXPECT_NE(Run("LANG=el_GR.UTF-8").find("missing.img: δεν υπάρχει τέτοιο αρχείο\n"), std::string::npos);
    for (const char* plain : {"LANG=C", "LANG=C.UTF-8", "LC_ALL=POSIX", "", "LANG=de_DE.UTF-8"})
        EXPECT_NE(Run(plain).find("missing.img: no such file\n"), std::string::npos) << plain;
    EXPECT_NE(Run("LANG=ja_JP.UTF-8 LC_ALL=en_US.UTF-8").find("no such file"), std::string::npos);
}

TEST_F(CliLanguageTest, FloppyRefusalsSpeakPlainlyOnce) {
    // The Greek catalogue says only "?" here, so a plain line follows it; the
    // other languages say it in the message itself.
    // A missing name is a usage error: the usage line follows.
    const std::string usage = " mkfdd SOURCE OUTPUT --size 1440|1232|720|640\n";
    std::string greek = Run("LANG=el_GR.UTF-8", "mkfdd /dev/null ''", 2);
    EXPECT_NE(greek.find("?\nΔεν δόθηκε όνομα αρχείου εξόδου\n"), std::string::npos) << greek;
    std::string english = Run("LANG=en_US.UTF-8", "mkfdd /dev/null ''", 2);
    EXPECT_EQ(english, "Enter the name of the image file\nusage: voldex-cli" + usage);
    std::string japanese = Run("LANG=ja_JP.UTF-8", "mkfdd /dev/null ''", 2);
    EXPECT_EQ(japanese, "イメージファイル名を入力してください\n使い方：voldex-cli" + usage);
}

// The command line's own messages, hints and summaries in the three
// languages; a file that already exists is named by its path in the image,
// whether it came from a host file or from standard input.
TEST_F(CliLanguageTest, EveryMessageSpeaksTheChosenLanguage) {
    std::string base = dir / "base.img", img = dir / "v.img";
    MakeFatImage(base, 1440, 12);
    WriteHostFile(dir / "a.txt", RandomBytes(10, 1));
    // Two host names that the volume holds as one.
    RunShell("mkdir " + Quote(dir / "d") + " " + Quote(dir / "e") + " && cp " + Quote(dir / "a.txt") + " " +
             Quote(dir / "d/b.txt") + " && cp " + Quote(dir / "a.txt") + " " + Quote(dir / "e/x.txt") + " && cp " +
             Quote(dir / "a.txt") + " " + Quote(dir / "e/X.TXT"));
    ASSERT_EQ(RunShell(std::string(VOLDEX_CLI) + " put " + Quote(base) + " " + Quote(dir / "a.txt") + " " + Quote(dir / "d")), 0);
    // An image cut inside the data: the folder D cannot be read.
    ASSERT_EQ(RunShell("head -c 17000 " + Quote(base) + " >" + Quote(dir / "cut.img")), 0);
    struct Case {
        const char* args;  // IMG stands for the image
        int rc;
        const char *en, *ja, *el;
    };
    const Case cases[] = {
        {"--partition x ls IMG", 2, "voldex-cli: bad --partition value: x\n", "--partition の値が正しくありません：x",
         "εσφαλμένη τιμή του --partition: x"},
        {"ls", 2, "wrong number of operands for ls\nusage: voldex-cli ls IMAGE", "ls の引数の数が正しくありません\n使い方：",
         "λάθος αριθμός ορισμάτων για την εντολή ls\nχρήση: "},
        {"put IMG ::/X a.txt", 2, "hint: voldex-cli put IMAGE HOSTPATH... ::DEST", "ヒント：voldex-cli put",
         "υπόδειξη: voldex-cli put"},
        {"put IMG a.txt", 1, "::/a.txt already exists and was skipped; use --yes to replace it or --no to keep it\n",
         "::/a.txt は既にあるため、スキップしました。", "Το ::/a.txt υπάρχει ήδη και παραλείφθηκε"},
        {"put IMG d/b.txt ::/D", 1, "::/D/b.txt already exists", "::/D/b.txt は既に", "Το ::/D/b.txt υπάρχει"},
        {"put IMG e ::/d", 1, "::/d/e/", "::/d/e/", "::/d/e/"},
        {"put IMG e ::/d/f", 1, "::/d/f/", "::/d/f/", "::/d/f/"},
        {"put IMG - ::/D/B.TXT <a.txt", 1, "::/D/b.txt already exists", "::/D/b.txt は既に", "Το ::/D/b.txt υπάρχει"},
        {"check IMG", 0, "2 folders, 2 files, 0 findings, 0 lost clusters\n",
         "ディレクトリ 2 個、ファイル 2 個、問題 0 件、失われたクラスタ 0 個\n",
         "2 φάκελοι, 2 αρχεία, 0 ευρήματα, 0 χαμένα clusters\n"},
        {"info IMG", 0, "\nRoot folder: 224 entries\n", "\n最大エントリ数：224 エントリ\n",
         "\nΜέγιστες καταχωρήσεις: 224 εγγραφές\n"},
        // Codes are named, as the window names them.
        {"info IMG", 0, "\nFile system: FAT\nFAT type: FAT12\n", "\nファイルシステム：FAT\nFAT の種類：FAT12\n",
         "\nΣύστημα αρχείων: FAT\nΤύπος FAT: FAT12\n"},
        {"info IMG", 0, "\nContainer: plain image\n", "\nコンテナ：ベタイメージ\n", "\nΠεριέκτης: απλή εικόνα δίσκου\n"},
        {"ls IMG", 0, "Filename\tSize\tAttributes\tDate/Time\tStart\n", "名前\tサイズ\t属性\t更新日時\t開始位置\n",
         "Όνομα\tΜέγεθος\tΙδιότητες\tΕνημέρωση\tΈναρξη\n"},
        {"put IMG nothere.txt", 1, "nothere.txt: no such file\n", "ファイル nothere.txt がありません\n",
         "nothere.txt: δεν υπάρχει τέτοιο αρχείο\n"},
        {"mkfdd /dev/null o.img", 2, "No floppy size given (1440, 1232, 720 or 640)\n",
         "フロッピーのサイズが指定されていません", "Δεν δόθηκε μέγεθος δισκέτας"},
        {"mkfdd /dev/null o.img --size 999", 2, "Invalid size: 999 (1440, 1232, 720 or 640)\n",
         "サイズが正しくありません：999", "Μη έγκυρο μέγεθος: 999"},
        {"new IMG 2hd", 1, "The image ", "イメージ ", "Η εικόνα "},
        {"label IMG A --clear", 2, "label takes either TEXT or --clear, not both\nusage: voldex-cli label",
         "label には TEXT と --clear のどちらか一方だけを指定してください\n使い方：", "όχι και τα δύο\nχρήση: "},
        {"attrib IMG +r", 2, "attrib needs a path in the image", "attrib にはイメージ内のパス", "το attrib χρειάζεται"},
        {"attrib IMG +r ::/", 2, "the root folder has no attributes", "ルートディレクトリには属性がありません",
         "ο ριζικός φάκελος δεν έχει ιδιότητες"},
        // The C library's text, under a caption that names the file and the act.
        {"check cut.img", 1, "System error: Reading cut.img: Input/output error\n", "システムエラー：cut.img の読み込み中：",
         "Σφάλμα συστήματος: Ανάγνωση του cut.img: "},
        {"--lang ja --version", 0, "voldex-cli ", "voldex-cli ", "voldex-cli "},
        {"--lang el --help", 0, "voldex-cli COMMAND --help", "voldex-cli COMMAND --help", "voldex-cli COMMAND --help"},
        {"cat IMG ::/NONE", 1, "No such file or folder\n", "指定した項目が見つかりません\n",
         "Δεν βρέθηκε το αρχείο ή ο φάκελος\n"},
        {"cat IMG /nonexistent", 1, "No such file or folder\n", "指定した項目が見つかりません\n",
         "Δεν βρέθηκε το αρχείο ή ο φάκελος\n"},
    };
    const std::pair<const char*, int> languages[] = {{"LANG=C", 0}, {"LANG=ja_JP.UTF-8", 1}, {"LC_ALL=el_GR.UTF-8", 2}};
    for (const Case& c : cases) {
        std::string args = std::regex_replace(c.args, std::regex("IMG"), Quote(img));
        for (const auto& [env, k] : languages) {
            RunShell("cp " + Quote(base) + " " + Quote(img));
            std::string out;
            int rc = RunShell("cd " + Quote(dir.path()) + " && env -u LC_ALL -u LC_MESSAGES -u LANG VOLDEX_HOME=" +
                                  Quote(dir.path()) + " " + env + " timeout 60 " + VOLDEX_CLI + " " + args,
                              &out);
            EXPECT_EQ(rc, c.rc) << env << " " << c.args << "\n" << out;
            const char* expected = k == 0 ? c.en : k == 1 ? c.ja : c.el;
            EXPECT_NE(out.find(expected), std::string::npos) << env << " " << c.args << "\n" << out;
            EXPECT_EQ(out.find("voldex-put"), std::string::npos) << "a private copy is never named: " << out;
            EXPECT_EQ(out.find("??"), std::string::npos) << "a text squeezed into ASCII: " << out;
        }
    }
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
    EXPECT_NE(out.find("--lang には el、en、ja のいずれかを指定してください（xx は使えません）"), std::string::npos)
        << "said in the language of the setting: " << out;
}

}  // namespace
