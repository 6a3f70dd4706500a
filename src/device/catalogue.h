#pragma once

// Text of message `id` in the compiled-in catalogue, or nullptr when the
// catalogue has no such message.
const char* CatalogueText(unsigned id);
