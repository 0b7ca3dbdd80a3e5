// Texts of the settings and plug-in dialogs: the library's string table in the current language.
#pragma once

#include <QString>

#include <cstdint>

#include "tamlib/strings.h"

namespace tamlibui::detail {

inline QString tableText(uint32_t id)
{
    char buffer[PLB_STRING_MAX];
    return QString::fromUtf8(PlbLoadString(nullptr, buffer, id));
}

// A value x 100 (a version, a gamma) as "1.05".
inline QString versionText(int value)
{
    return QString::asprintf("%d.%02d", value / 100, value % 100);
}

// A fixed-size text field of a record, which may lack its terminator.
template <size_t N> QString fieldText(const char (&field)[N])
{
    size_t length = 0;
    while (length < N && field[length])
        ++length;
    return QString::fromUtf8(field, qsizetype(length));
}

} // namespace tamlibui::detail
