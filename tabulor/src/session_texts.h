// The session's own texts: its refusals, questions and failures, and the texts of the list
// columns and the detail panel, in English and Japanese, the language chosen by the library
// (PlbGetLanguage) as the library's own tables are.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

namespace tabulor {

struct SessionTexts
{
    // Messages and questions; each "%s" is filled by formatText().
    const char* notOpened;     // the path
    const char* systemManaged; // the path
    const char* sameCdrom;     // the CDAZ name
    const char* fileExists;    // the path
    const char* saveFailed;    // the file
    const char* saveReason;    // the reason, added below saveFailed
    const char* unknownReason; // when the system gave none
    const char* changed;       // the file
    const char* askDelete;     // the file, the CD title
    const char* notDeleted;    // the file
    // The "List" column and the detail panel's option.
    const char* hidden;
    const char* show;
    const char* on;
    const char* off;
    // The "Status" column.
    const char* noPlugin;
    const char* oldPlugin;
    const char* duplication;
    const char* unsupporting;
    const char* unknown;
    const char* normal;
    // The detail panel.
    const char* movie; // "MOVIE%s%s%s": "+", "AUDIO", "[Variable]"
    const char* plus;
    const char* audio;
    const char* variable;
    const char* bitmap;
    const char* sequence;
    const char* seconds;        // seconds, milliseconds
    const char* minutesSeconds; // minutes, seconds, milliseconds
    const char* quotedTitle;
    const char* frameSize; // width, height
    const char* bits;
    const char* hertz;
};

const SessionTexts& englishTexts();
const SessionTexts& japaneseTexts();
// The table of the library's language.
const SessionTexts& sessionTexts();

// `pattern` with each "%s" replaced by the next of `values` in turn ("%%" gives "%"); the values
// are never read as patterns themselves. A "%s" without a value is left empty.
std::string formatText(const char* pattern, std::initializer_list<std::string> values);

// Detail panel texts besides those of cdaz_session.h.
std::string quotedTitleText(const std::string& title);      // "'%s'"
std::string frameSizeText(uint32_t width, uint32_t height); // "%d × %d"
std::string bitsText(uint32_t bits);                        // "%d bit"
std::string hertzText(uint32_t rate);                       // "%d Hz"
std::string displayText(int32_t flags);                     // "ON" unless the user hid the stream, else "OFF"

} // namespace tabulor
