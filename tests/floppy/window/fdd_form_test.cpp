// The floppy window as built: its lists, captions and buttons.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include "explorer/window/explorer_dialogs.h"
#include "floppy/window/fdd_dialog.h"
#include "support/forms.h"

TEST(FloppyForm, FourSizesOneChosenAndItsButtons) {
    TMakeFDDForm form(nullptr);
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8("Δημιουργία εικόνας από δίσκο"));
    EXPECT_EQ(Child<QLabel>(&form, "Label1")->text(),
              QString::fromUtf8("Ο δίσκος προέλευσης πρέπει να έχει προστασία εγγραφής."));
    auto* size = Child<QComboBox>(&form, "cbSize");
    QStringList sizes;
    for (int k = 0; k < size->count(); ++k) sizes << size->itemText(k);
    EXPECT_EQ(sizes, (QStringList{"1440", "1232", "720", "640"}));
    EXPECT_EQ(size->currentText(), "1440");
    QStringList labels;
    for (QLabel* l : form.findChildren<QLabel*>()) labels << l->text();
    EXPECT_TRUE(labels.contains("KB"));
    EXPECT_TRUE(labels.contains(QString::fromUtf8("Αποθήκευση σε")));
    EXPECT_EQ(Child<QComboBox>(&form, "cbDrive")->currentIndex(), -1);
    EXPECT_EQ(Child<QProgressBar>(&form, "pbProgress")->value(), 0);
    QSet<QChar> keys;
    for (const char* b : {"btnRef", "btnExecute", "btnExit"}) keys.insert(Mnemonic(Child<QPushButton>(&form, b)->text()));
    EXPECT_EQ(keys.size(), 3);
    EXPECT_FALSE(keys.contains(QChar()));
    EXPECT_EQ(Shown(Child<QPushButton>(&form, "btnExit")->text()), QString::fromUtf8("Κλείσιμο"));
    EXPECT_EQ(form.property("helpContext").toInt(), kHelpFloppy);
    EXPECT_TRUE(FixedSize(&form));
    form.show();
    Child<QPushButton>(&form, "btnExit")->click();
    EXPECT_EQ(form.result(), QDialog::Rejected);
}
