// The confirmation list of dropped files and moves, as built.
#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "explorer/window/explorer_dialogs.h"
#include "shell/window/shell_qt.h"
#include "support/forms.h"

TEST(ConfirmForm, ListsTheLinesAndAnswersYesOrNo) {
    for (const char* button : {"Btn1", "Btn2"}) {
        bool yes = WithModal(
            [&](QDialog* d) {
                EXPECT_EQ(d->windowTitle(), QString::fromUtf8("書き込みの確認"));
                auto* list = Child<QListWidget>(d, "FileListBox");
                ASSERT_EQ(list->count(), 2);
                EXPECT_EQ(list->item(0)->text(), "/home/me/a b.txt");
                EXPECT_EQ(list->item(1)->text(), QString::fromUtf8("/home/me/ディスク"));
                EXPECT_EQ(Child<QLabel>(d, "Label")->text(), "label");
                EXPECT_EQ(Shown(Child<QPushButton>(d, "Btn1")->text()), QString::fromUtf8("Ναι"));
                EXPECT_EQ(Shown(Child<QPushButton>(d, "Btn2")->text()), QString::fromUtf8("Όχι"));
                EXPECT_EQ(d->property("helpContext").toInt(), kHelpConfirmList);
                Child<QPushButton>(d, button)->click();
            },
            [] {
                return ShowDropConfirmation(nullptr, QString::fromUtf8("書き込みの確認"), "label",
                                            {"/home/me/a b.txt", "/home/me/ディスク"});
            });
        EXPECT_EQ(yes, std::string(button) == "Btn1");
    }
}
