#pragma once
// The message catalogues: the system's Greek texts and their English and
// Japanese counterparts, keyed by the same numbers.

#include <cstddef>
#include <vector>

#include "device/language.h"

struct CatalogueEntry {
    unsigned id;
    const char* text;
};

struct CatalogueTable {
    const CatalogueEntry* entries;
    std::size_t count;
};

CatalogueTable GreekCatalogue();
CatalogueTable EnglishCatalogue();
CatalogueTable JapaneseCatalogue();
CatalogueTable CatalogueOf(Language language);

// Text of message `id` in one language's catalogue, or nullptr when that
// catalogue has no such message.
const char* CatalogueTextIn(Language language, unsigned id);

// Text of message `id` in the current language; a message that language
// lacks falls back to the Greek text. nullptr when no catalogue has it.
const char* CatalogueText(unsigned id);
