#include "explorer/window/language_qt.h"

#include <QCoreApplication>
#include <QHash>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "device/language.h"
#include "opening/settings/config.h"

namespace {

// The texts Qt's own file dialog shows (its list's columns, its buttons'
// tips, its menu), in Greek.
QString GreekFileDialogText(const char* sourceText) {
    static const QHash<QByteArray, QString> texts = {
        {"Name", QString::fromUtf8("Όνομα")},
        {"Size", QString::fromUtf8("Μέγεθος")},
        {"Type", QString::fromUtf8("Τύπος")},
        {"Kind", QString::fromUtf8("Τύπος")},
        {"Date Modified", QString::fromUtf8("Ημερομηνία τροποποίησης")},
        {"Look in:", QString::fromUtf8("Αναζήτηση σε:")},
        {"Back", QString::fromUtf8("Πίσω")},
        {"Forward", QString::fromUtf8("Εμπρός")},
        {"Parent Directory", QString::fromUtf8("Γονικός φάκελος")},
        {"Create New Folder", QString::fromUtf8("Δημιουργία νέου φακέλου")},
        {"List View", QString::fromUtf8("Προβολή λίστας")},
        {"Detail View", QString::fromUtf8("Προβολή λεπτομερειών")},
        {"Files of type:", QString::fromUtf8("Τύπος αρχείων:")},
        {"File name:", QString::fromUtf8("Όνομα αρχείου:")},
        {"Directory:", QString::fromUtf8("Φάκελος:")},
        {"&Rename", QString::fromUtf8("&Μετονομασία")},
        {"&Delete", QString::fromUtf8("Δια&γραφή")},
        {"Show &hidden files", QString::fromUtf8("Εμφάνιση &κρυφών αρχείων")},
        {"&New Folder", QString::fromUtf8("&Νέος φάκελος")},
        {"New Folder", QString::fromUtf8("Νέος φάκελος")},
        {"Recent Places", QString::fromUtf8("Πρόσφατες θέσεις")},
        {"Computer", QString::fromUtf8("Υπολογιστής")},
        {"My Computer", QString::fromUtf8("Υπολογιστής")},
        {"Folder", QString::fromUtf8("Φάκελος")},
        {"File Folder", QString::fromUtf8("Φάκελος")},
        {"Drive", QString::fromUtf8("Μονάδα δίσκου")},
        {"File", QString::fromUtf8("Αρχείο")},
        {"%1 File", QString::fromUtf8("Αρχείο %1")},
        {"Unknown", QString::fromUtf8("Άγνωστο")},
        {"Delete", QString::fromUtf8("Διαγραφή")},
        {"Are you sure you want to delete '%1'?", QString::fromUtf8("Να διαγραφεί το «%1»;")},
        {"%1 already exists.\nDo you want to replace it?", QString::fromUtf8("Το %1 υπάρχει ήδη.\nΝα αντικατασταθεί;")},
        {"%1\nFile not found.\nPlease verify the correct file name was given.",
         QString::fromUtf8("%1\nΤο αρχείο δεν βρέθηκε.\nΕλέγξτε ότι το όνομα είναι σωστό.")},
        {"%1\nDirectory not found.\nPlease verify the correct directory name was given.",
         QString::fromUtf8("%1\nΟ φάκελος δεν βρέθηκε.\nΕλέγξτε ότι το όνομα είναι σωστό.")},
    };
    return texts.value(QByteArray(sourceText));
}

// Qt ships no Greek texts for its standard buttons and its file dialog;
// these few keep the message boxes and the choosers in the same language
// as the rest of the window.
class GreekButtonTexts : public QTranslator {
public:
    bool isEmpty() const override { return false; }
    QString translate(const char* context, const char* sourceText, const char* disambiguation = nullptr,
                      int n = -1) const override {
        Q_UNUSED(disambiguation);
        Q_UNUSED(n);
        if (!context || !sourceText) return QString();
        for (const char* fileDialog : {"QFileDialog", "QFileSystemModel", "QAbstractFileIconProvider", "QFileIconProvider"})
            if (qstrcmp(context, fileDialog) == 0) return GreekFileDialogText(sourceText);
        if (qstrcmp(context, "QPlatformTheme") != 0) return QString();
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
    // Dates, numbers and the order of the standard buttons as for that
    // language's locale, whatever the environment says.
    static const QLocale::Language locales[] = {QLocale::Greek, QLocale::English, QLocale::Japanese};
    const QLocale::Country countries[] = {QLocale::Greece, QLocale::UnitedKingdom, QLocale::Japan};
    const int at = language == Language::English ? 1 : language == Language::Japanese ? 2 : 0;
    QLocale::setDefault(QLocale(locales[at], countries[at]));
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
