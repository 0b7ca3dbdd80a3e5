// String lookup and the language of the locale.
#include "strings/string_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tamlib/environment.h"
#include "tamlib/strings.h"
#include "tamrin_common/c_guard.h"

namespace tamlib {

std::string_view lookupString(Language language, uint32_t id)
{
    const auto table = language == Language::Japanese ? japaneseStrings() : englishStrings();
    const auto it =
        std::find_if(table.begin(), table.end(), [id](const StringEntry& e) { return e.id == id; });
    return it == table.end() ? std::string_view() : std::string_view(it->text);
}

Language languageOfLocale(const char* lcAll, const char* lcCtype, const char* lang)
{
    const char* name = nullptr;
    for (const char* candidate : {lcAll, lcCtype, lang}) {
        if (candidate && *candidate) {
            name = candidate;
            break;
        }
    }
    if (!name)
        return Language::English;
    if ((name[0] == 'j' || name[0] == 'J') && (name[1] == 'a' || name[1] == 'A'))
        return Language::Japanese;
    std::string upper(name);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; });
    return upper.find("JAPANESE") != std::string::npos || upper.find("JPN") != std::string::npos
               ? Language::Japanese
               : Language::English;
}

Language currentLanguage()
{
    return languageOfLocale(std::getenv("LC_ALL"), std::getenv("LC_CTYPE"), std::getenv("LANG"));
}

} // namespace tamlib

using namespace tamlib;

PLB_API const char* PlbLoadString(void* module, char* buffer, uint32_t id)
{
    static char shared[PLB_STRING_MAX];
    char* out = buffer ? buffer : shared;
    out[0] = '\0';
    // On any failure the text stays empty.
    tamrin::guardedVoid([&] {
        if (module && module != PlbGetModule())
            return;
        const std::string_view text = lookupString(currentLanguage(), id);
        const size_t length = std::min(text.size(), size_t(PLB_STRING_MAX - 1));
        if (length > 0)
            std::memcpy(out, text.data(), length);
        out[length] = '\0';
    });
    return out;
}

PLB_API int32_t PlbGetLanguage(void)
{
    return tamrin::guarded<int32_t>(
        0, [&]() -> int32_t { return currentLanguage() == Language::Japanese ? 1 : 0; });
}
