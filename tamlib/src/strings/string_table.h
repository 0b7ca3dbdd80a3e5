// The library's compiled-in string tables: one per language, sorted by id.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace tamlib {

struct StringEntry
{
    uint32_t id;
    const char* text;
};

enum class Language
{
    English,
    Japanese,
};

std::span<const StringEntry> englishStrings();
std::span<const StringEntry> japaneseStrings();

// The text of `id` in `language`; empty when the table has no such id.
std::string_view lookupString(Language language, uint32_t id);

// The language of the locale variables: LC_ALL, else LC_CTYPE, else LANG (the first one set and
// not empty). Japanese when that name starts with "ja" or, in upper case, contains "JAPANESE" or
// "JPN".
Language languageOfLocale(const char* lcAll, const char* lcCtype, const char* lang);

// The language of this process's environment.
Language currentLanguage();

} // namespace tamlib
