// Placeholder until the codec choice lands: knows no codec.
#include <cstring>

#include "tamlib/convert.h"

PLB_API int32_t PlbSetAVIOption(void*, PlbAviCompression*)
{
    return 0;
}

PLB_API int32_t PlbGetAVIOptionInfo(const PlbAviCompression*, PlbAviCodecInfo* info)
{
    if (info)
        std::memset(info, 0, sizeof *info);
    return 0;
}

PLB_API int32_t PlbGetAVICodec(int32_t, PlbAviCompression*, PlbAviCodecInfo*)
{
    return 0;
}

PLB_API int32_t PlbFindAVICodec(const char*, PlbAviCompression*)
{
    return 0;
}
