// The messages of the conversion result codes, from the string tables.
#include <cstdio>
#include <cstring>

#include "tamlib/convert.h"
#include "tamlib/strings.h"
#include "tamrin_common/c_guard.h"

namespace {

// The string id of a code with a message of its own; 0 for any other.
uint32_t messageId(int32_t result)
{
    if (result >= 0 && result <= 11)
        return PLB_IDS_CONV_RESULT + uint32_t(result);
    if (result >= 40 && result <= 54) // the MP3 encoder's errors 10 to 24
        return PLB_IDS_MP3_ERROR + uint32_t(result - 40);
    switch (result) {
    case PLB_CONV_NO_ENCODER:
        return PLB_IDS_CONV_NO_ENCODER;
    case PLB_CONV_ENCODER_INCOMPLETE:
        return PLB_IDS_CONV_ENCODER_INCOMPLETE;
    case PLB_CONV_OUTPUT_EXISTS:
        return PLB_IDS_CONV_EXISTS;
    case PLB_CONV_OVERWRITE_CANCELED:
        return PLB_IDS_CONV_OVERWRITE_CANCELED;
    default:
        return 0;
    }
}

} // namespace

PLB_API const char* PlbConvertResultText(int32_t result, char* buffer)
{
    static char shared[PLB_STRING_MAX];
    char* out = buffer ? buffer : shared;
    out[0] = '\0';
    tamrin::guardedVoid([&] {
        if (const uint32_t id = messageId(result)) {
            PlbLoadString(nullptr, out, id);
            return;
        }
        char format[PLB_STRING_MAX];
        PlbLoadString(nullptr, format, PLB_IDS_CONV_OTHER);
        // The text takes the code as its one %d.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::snprintf(out, PLB_STRING_MAX, format, int(result));
#pragma GCC diagnostic pop
    });
    return out;
}
