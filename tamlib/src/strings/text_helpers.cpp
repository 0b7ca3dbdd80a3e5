// The line splitter, size texts and tooltip texts.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "tamlib/strings.h"
#include "tamlib/ui_port.h"
#include "tamrin_common/c_guard.h"

namespace {

// Length of the separator at `p`: 1 for blank, tab, CR, LF; 3 for U+3000 in UTF-8; else 0.
size_t separatorAt(const char* p)
{
    if (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        return 1;
    if (static_cast<unsigned char>(p[0]) == 0xE3 && static_cast<unsigned char>(p[1]) == 0x80 &&
        static_cast<unsigned char>(p[2]) == 0x80)
        return 3;
    return 0;
}

void setItemThroughPort(void* dialog, int32_t item, const std::string& text)
{
    try {
        tamlib::uiPort().setItemText(dialog, item, text);
    } catch (...) {
        // A front end that fails to show a text has nothing to give back to the caller.
    }
}

} // namespace

PLB_API int32_t PlbGetParam(char* line, int32_t capacity, char** args)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!line)
            return 0;
        if (char* comment = std::strstr(line, "//"))
            *comment = '\0';
        int32_t count = 0;
        char* read = line;
        char* write = line;
        while (*read) {
            if (const size_t skip = separatorAt(read)) {
                read += skip;
                continue;
            }
            // A token: copy its characters down, dropping quotes; blanks inside quotes are kept.
            char* start = write;
            bool quoted = false;
            while (*read) {
                if (*read == '"') {
                    quoted = !quoted;
                    ++read;
                    continue;
                }
                if (!quoted) {
                    if (const size_t skip = separatorAt(read)) {
                        read += skip;
                        break;
                    }
                }
                *write++ = *read++;
            }
            // The terminator takes the place of a separator or a quote, or the line's own zero.
            *write++ = '\0';
            if (args && count < capacity)
                args[count] = start;
            if (count < capacity)
                ++count;
        }
        return count;
    });
}

PLB_API int32_t PlbFormatSizeText(uint32_t bytes, char* text, int32_t capacity)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        if (!text || capacity <= 0)
            return -1;
        int written;
        if (bytes > 0xFFFFF)
            written = std::snprintf(text, size_t(capacity), "%u.%uMB", bytes >> 20,
                                    (((bytes >> 10) & 0x3FF) * 10) >> 10);
        else if (bytes >> 10)
            written =
                std::snprintf(text, size_t(capacity), "%u.%uKB", bytes >> 10, ((bytes & 0x3FF) * 10) >> 10);
        else
            written = std::snprintf(text, size_t(capacity), "%uByte", bytes);
        if (written < 0 || written >= capacity) {
            text[0] = '\0';
            return -1;
        }
        return written;
    });
}

PLB_API int32_t PlbSetItemText(void* dialog, int32_t item, const char* format, ...)
{
    if (!format)
        return 0;
    char text[PLB_STRING_MAX];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return tamrin::guarded<int32_t>(0, [&] {
        setItemThroughPort(dialog, item, text);
        return 1;
    });
}

PLB_API int32_t PlbSetItemSizeText(void* dialog, int32_t item, uint32_t bytes)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        char text[32];
        if (PlbFormatSizeText(bytes, text, sizeof text) < 0)
            return 0;
        setItemThroughPort(dialog, item, text);
        return 1;
    });
}

PLB_API char* PlbTooltipText(char* text)
{
    return tamrin::guarded<char*>(text, [&]() -> char* {
        if (!text)
            return text;
        if (char* amp = std::strchr(text, '&'))
            std::memmove(amp, amp + 1, std::strlen(amp + 1) + 1);
        if (char* open = std::strchr(text, '(')) {
            if (char* close = std::strchr(open, ')'))
                std::memmove(open, close + 1, std::strlen(close + 1) + 1);
        }
        if (char* tab = std::strchr(text, '\t')) {
            const size_t tail = std::strlen(tab + 1);
            std::memmove(tab + 2, tab + 1, tail + 1);
            tab[0] = ' ';
            tab[1] = '(';
            std::strcat(tab, ")");
        }
        return text;
    });
}
