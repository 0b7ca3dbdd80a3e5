// Placeholder until the WAVE converter lands: refuses every conversion.
#include "tamlib/convert.h"

PLB_API int32_t PlbConvertWAVE(const char*, const char*, const StrInfo*, const PlbWaveSettings*, PlbProgressFn, void*)
{
    return PLB_CONV_WAVE_FILE;
}
