// Placeholder until the MP3 converter lands: the encoder is never there.
#include "tamlib/convert.h"

PLB_API int32_t PlbIsGogo(uint32_t*, char*)
{
    return 0;
}

PLB_API int32_t PlbConvertGOGO(const char*, const char*, const StrInfo*, const PlbMp3Settings*, PlbProgressFn, void*)
{
    return PLB_CONV_NO_ENCODER;
}
