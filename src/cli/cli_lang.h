#pragma once
// The language of voldex-cli's messages.

#include <string>
#include <vector>

// Takes "--lang CODE" or "--lang=CODE" (el, en, ja) out of the arguments
// and sets the language: the option, else the setting `Language`, else the
// environment. False, with the reason in `error`, for a bad option.
bool ApplyLanguageOption(std::vector<std::string>& args, std::string& error);
