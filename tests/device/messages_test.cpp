#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "device/catalogue.h"
#include "device/language.h"
#include "device/messages.h"
#include "support/images.h"
#include "support/scripted_ui.h"

namespace {

class MessagesTest : public ::testing::Test, public UITest {
protected:
    void SetUp() override { setenv("VOLDEX_HOME", home.path().c_str(), 1); }
    void TearDown() override { unsetenv("VOLDEX_HOME"); }
    TempDir home;
};

TEST(MessageFormat, InsertsTextsAndNumbers) {
    EXPECT_EQ(*FormatMessageText("a %1 b %2", {"x", "y"}), "a x b y");
    EXPECT_EQ(*FormatMessageText("%2%1", {"x", "y"}), "yx");
    EXPECT_EQ(*FormatMessageText("%1!d! files", {-5}), "-5 files");
    EXPECT_EQ(*FormatMessageText("%1!u!SEC", {0xFFFFFFFFu}), "4294967295SEC");
    EXPECT_EQ(*FormatMessageText("%1!u!", {-1}), "-1") << "a negative number is never shown as a wrapped one";
    EXPECT_EQ(*FormatMessageText("100%% done", {}), "100% done");
    EXPECT_EQ(*FormatMessageText("%1", {42}), "42");
    EXPECT_EQ(*FormatMessageText("%10", {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}), "j");
}

TEST(MessageFormat, FailsOnMissingInsertsAndBadFormats) {
    EXPECT_FALSE(FormatMessageText("%1 and %2", {"only one"}));
    EXPECT_FALSE(FormatMessageText("%1!q!", {"x"}));
    EXPECT_FALSE(FormatMessageText("%1!d", {1}));
    EXPECT_FALSE(FormatMessageText("trailing %", {}));
}

TEST(Catalogue, HoldsEveryAreaOfThePrograms) {
    // One text of each area, as stored.
    EXPECT_STREQ(CatalogueText(812), "Μη έγκυρη αλυσίδα");
    EXPECT_STREQ(CatalogueText(602), "%1\nΤο αρχείο δεν βρέθηκε ή είναι ανοικτό");
    EXPECT_STREQ(CatalogueText(904), "目的のディレクトリは %1 です。移動してもよろしいですか？");
    EXPECT_STREQ(CatalogueText(133), "Γράφονται %1!d! αρχεία (%2!d! τελείωσαν)");
    EXPECT_STREQ(CatalogueText(302),
                 "[Εσφαλμένο μέγεθος sector]\nΕσφαλμένη boot εγγραφή\nΚάποιες παράμετροι ίσως δεν ταιριάζουν");
    EXPECT_STREQ(CatalogueText(513), "(Άγνωστο)");
    EXPECT_STREQ(CatalogueText(1003), "DLL %1 はデバイス%2を開けませんでした。");
    EXPECT_STREQ(CatalogueText(601), "?");
    EXPECT_NE(CatalogueText(1), nullptr);
    EXPECT_EQ(CatalogueText(0), nullptr);
    EXPECT_EQ(CatalogueText(999), nullptr);
    // Every number the program uses has a text.
    for (unsigned id : {103u, 144u, 201u, 206u, 301u, 305u, 401u, 501u, 522u, 604u, 701u, 711u, 801u, 820u, 901u,
                        1001u, 1101u, 1110u})
        EXPECT_NE(CatalogueText(id), nullptr) << id;
    for (unsigned id = 103; id <= 144; ++id) EXPECT_NE(CatalogueText(id), nullptr) << id;
    for (unsigned id = 801; id <= 820; ++id) EXPECT_NE(CatalogueText(id), nullptr) << id;
    for (unsigned id = 501; id <= 522; ++id) EXPECT_NE(CatalogueText(id), nullptr) << id;
}

TEST_F(MessagesTest, ShowMessagePutsThePathAboveTheSentence) {
    EXPECT_EQ(ShowMessage(602, "C:\\a.img"), kIdOk);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "C:\\a.img\nΤο αρχείο δεν βρέθηκε ή είναι ανοικτό");
    EXPECT_EQ(ui.boxes[0].caption, "Voldex");
    EXPECT_EQ(ui.boxes[0].style, kBoxOk);
}

TEST_F(MessagesTest, AskMessageTakesInsertsAfterTheStyleAndReturnsTheButton) {
    ui.boxAnswers = {kIdYes, kIdNo};
    EXPECT_EQ(AskMessage(904, kBoxYesNoQuestion, "TARGET"), kIdYes);
    EXPECT_EQ(AskMessage(129, kBoxYesNoQuestion), kIdNo);
    EXPECT_EQ(ui.boxes[0].text, "目的のディレクトリは TARGET です。移動してもよろしいですか？");
    EXPECT_EQ(ui.boxes[0].style, kBoxYesNoQuestion);
}

TEST_F(MessagesTest, MissingTextShowsResourceErrorAndReturnsCancel) {
    EXPECT_EQ(ShowMessage(999), kIdCancel);
    EXPECT_EQ(AskMessage(998, kBoxYesNoQuestion), kIdCancel);
    EXPECT_EQ(ShowMessage(602), kIdCancel) << "an insert that is not given cannot be formatted";
    ASSERT_EQ(ui.boxes.size(), 3u);
    for (const auto& b : ui.boxes) {
        EXPECT_EQ(b.text, "message resource error.");
        EXPECT_EQ(b.caption, "Voldex");
        EXPECT_EQ(b.style, kBoxOk);
    }
    EXPECT_TRUE(ReadHostFile(LogFilePath()).empty());
}

TEST_F(MessagesTest, LogMessageAppendsLinesToTheLogInTheProgramFolder) {
    EXPECT_EQ(LogFilePath(), home.path() + "/kestrel.log");
    LogMessage(812);
    LogMessage(602, "x.img");
    ShowMessage(813);  // not logged
    auto log = ReadHostFile(LogFilePath());
    EXPECT_EQ(std::string(log.begin(), log.end()),
              "Μη έγκυρη αλυσίδα\nx.img\nΤο αρχείο δεν βρέθηκε ή είναι ανοικτό\n");
    EXPECT_EQ(ui.boxes.size(), 3u);
}

TEST_F(MessagesTest, LogFailureIsSilent) {
    setenv("VOLDEX_HOME", "/nonexistent/voldex/folder", 1);
    EXPECT_EQ(LogMessage(812), kIdOk);
    EXPECT_EQ(ui.boxes.size(), 1u);
}

TEST_F(MessagesTest, LoadMessageSharesOneText) {
    CResourceString& rs = ResourceString();
    std::string first = rs.LoadMessage(138, "1,024", 2);
    EXPECT_EQ(first, "1,024 bytes (2 clusters) ελεύθερα");
    const char* p = rs.LoadMessage(140, 7);
    EXPECT_STREQ(p, "7 αρχεία");
    EXPECT_STREQ(rs.LoadMessage(999), "") << "an unknown message loads as empty text";
    EXPECT_TRUE(ui.boxes.empty()) << "loading never shows a box";
}

TEST_F(MessagesTest, SystemErrorShowsTheSystemText) {
    ShowSystemError(ENOENT);
    errno = EACCES;
    ShowSystemError(0);
    errno = 0;
    ShowSystemError(0);
    ASSERT_EQ(ui.boxes.size(), 2u);
    EXPECT_EQ(ui.boxes[0].text, "No such file or directory");
    EXPECT_EQ(ui.boxes[0].caption, SystemErrorCaption());
    EXPECT_EQ(ui.boxes[0].style, kBoxStop);
    EXPECT_EQ(ui.boxes[1].text, "Permission denied");
    // The caption says "System error" in the user's language.
    const std::pair<Language, const char*> captions[] = {
        {Language::Greek, "Σφάλμα συστήματος"}, {Language::English, "System error"}, {Language::Japanese, "システムエラー"}};
    const Language was = CurrentLanguage();
    for (const auto& [language, caption] : captions) {
        SetLanguage(language);
        EXPECT_EQ(SystemErrorCaption(), caption);
    }
    SetLanguage(was);
}

}  // namespace
