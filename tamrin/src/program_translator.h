// The Japanese texts of the program's windows. The windows write their texts in English through
// tr(); while the library's language is Japanese (PlbGetLanguage() == 1) this translator gives
// each its Japanese text, so the window's labels follow the same language as the library's
// messages and the command texts. Texts without a Japanese entry stay English.
#pragma once

#include <QString>

namespace tamrin {

// Installs the translator in the application once (later calls do nothing). Windows made
// afterwards get their texts in the library's language of the moment.
void installProgramTranslator();

// The Japanese text of `english`, or a null string when the table has none.
QString japaneseText(const char* english);

} // namespace tamrin
