// The four exports that only hand a checked handle on to the plugin's own code, for a plugin that
// defines, in its own source and before including this file once after its other exports:
//
//   ProbeContext                                  made by its PsrIsSupportCD, deleted here
//   Stream                                        made by its PsrOpenFile / PsrOpenCD
//   int32_t readUnit(Stream&, PsrReadRecord*)     1 with a unit, 0 at the end
//   int32_t seekStream(Stream&, uint32_t ms)      1 when moved
//
// Each answers 0 for a null handle or record and lets no exception out. Not a header to include
// anywhere else: it defines the plugin's exported functions.
#pragma once

#include "streamkit/psr.h"
#include "tamrin_common/c_guard.h"

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    tamrin::guardedVoid([&] { delete static_cast<ProbeContext*>(context); });
}

PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Stream*>(handle);
        return stream && record ? readUnit(*stream, record) : 0;
    });
}

PSR_EXPORT int32_t PsrSeek(void* handle, uint32_t positionMs)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Stream*>(handle);
        return stream ? seekStream(*stream, positionMs) : 0;
    });
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    return tamrin::guarded<int32_t>(0, [&] {
        auto* stream = static_cast<Stream*>(handle);
        if (!stream)
            return 0;
        delete stream; // its destructor releases what it holds
        return 1;
    });
}
