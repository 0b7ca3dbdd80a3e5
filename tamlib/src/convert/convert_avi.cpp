// Placeholder until the AVI converter lands: refuses every conversion and knows no codec.
#include <cstring>

#include "tamlib/convert.h"

PLB_API int32_t PlbConvertAVI(const char*, const char*, const StrInfo*, const PlbAviSettings*, PlbProgressFn, void*)
{
    return PLB_CONV_AVI_FILE;
}
