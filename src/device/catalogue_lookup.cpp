// Looking a message up in the catalogue of the current language.
#include "device/catalogue.h"

CatalogueTable CatalogueOf(Language language) {
    switch (language) {
        case Language::English: return EnglishCatalogue();
        case Language::Japanese: return JapaneseCatalogue();
        default: return GreekCatalogue();
    }
}

const char* CatalogueTextIn(Language language, unsigned id) {
    // A few hundred entries: a straight search, so that no catalogue has to
    // keep an order when messages are added.
    CatalogueTable t = CatalogueOf(language);
    for (std::size_t i = 0; i < t.count; ++i)
        if (t.entries[i].id == id) return t.entries[i].text;
    return nullptr;
}

const char* CatalogueText(unsigned id) {
    if (const char* text = CatalogueTextIn(CurrentLanguage(), id)) return text;
    return CatalogueTextIn(Language::Greek, id);
}
