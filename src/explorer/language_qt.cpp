#include "explorer/language_qt.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QTranslator>

#include "device/language.h"
#include "explorer/config.h"

namespace {

// Qt ships no Greek texts for its standard buttons; these few keep the
// message boxes in the same language as the rest of the window.
class GreekButtonTexts : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (!context || !sourceText || qstrcmp(context, "QPlatformTheme") != 0) return QString();
        static const QHash<QByteArray, QString> texts = {
            {"OK", "OK"},
            {"Save", QString::fromUtf8("Αποθήκευση")},
            {"Save All", QString::fromUtf8("Αποθήκευση όλων")},
            {"Open", QString::fromUtf8("Άνοιγμα")},
            {"&Yes", QString::fromUtf8("&Ναι")},
            {"Yes to &All", QString::fromUtf8("Ναι σε ό&λα")},
            {"&No", QString::fromUtf8("Ό&χι")},
            {"N&o to All", QString::fromUtf8("Όχι σε &όλα")},
            {"Abort", QString::fromUtf8("Διακοπή")},
            {"Retry", QString::fromUtf8("Επανάληψη")},
            {"Ignore", QString::fromUtf8("Παράβλεψη")},
            {"Close", QString::fromUtf8("Κλείσιμο")},
            {"Cancel", QString::fromUtf8("Άκυρο")},
            {"Discard", QString::fromUtf8("Απόρριψη")},
            {"Help", QString::fromUtf8("Βοήθεια")},
            {"Apply", QString::fromUtf8("Εφαρμογή")},
            {"Reset", QString::fromUtf8("Επαναφορά")},
            {"Restore Defaults", QString::fromUtf8("Προεπιλογές")},
        };
        return texts.value(QByteArray(sourceText));
    }
};

QTranslator* gInstalled = nullptr;

}  // namespace

bool InstallQtTranslation(QCoreApplication&) {
    if (gInstalled) {
        QCoreApplication::removeTranslator(gInstalled);
        delete gInstalled;
        gInstalled = nullptr;
    }
    Language language = CurrentLanguage();
    if (language == Language::Greek) {
        gInstalled = new GreekButtonTexts;
    } else if (language == Language::English) {
        // Qt's own texts are English already.
        return true;
    } else {
        const char* code = LanguageCode(language);
        auto* qt = new QTranslator;
        if (!qt->load(QStringLiteral("qtbase_") + QLatin1String(code),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
            delete qt;
            return false;
        }
        gInstalled = qt;
    }
    return QCoreApplication::installTranslator(gInstalled);
}

bool InstallLanguage(QCoreApplication& app, std::optional<Language> chosen) {
    SetLanguage(chosen ? *chosen : ChooseLanguage(SettingText("Language")));
    return InstallQtTranslation(app);
}
