// A plugin whose streams hold no units of their own: the sound tests open a stream of it with
// the format they need (the description given to LbrOpenStream) and hand LbrDecodeAudio units
// they build from the test files. Any file name opens.
//
// Built twice: SoundUnits.psr leaves all decoding to the host; SoundHook.psr also exports
// PsrDecodeAudio, which answers according to the unit's frameNumber (otherwise 0 for sound):
//   kHookFails      -1: the host must report nothing decoded
//   kHookDecodes    fills kHookBytes bytes of the output with kHookFill and returns that count
//   anything else   0: the host decodes the unit itself
#include <cstring>
#include <new>

#include "sound_plugin_hook.h"
#include "streamkit/psr.h"

namespace {

struct Handle
{
    int unused = 0;
};

} // namespace

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    std::strcpy(info->name, "Sound test units");
    info->version = 100;
    info->interfaceVersion = PSR_INTERFACE_VERSION;
    return 1;
}

PSR_EXPORT int32_t PsrIsSupportFile(const char*)
{
    return 1;
}

// The description stays as the caller wrote it.
PSR_EXPORT int32_t PsrGetStrFileInfo(const char*, StrInfo*)
{
    return 1;
}

PSR_EXPORT void* PsrOpenFile(const char*, StrInfo*)
{
    return new (std::nothrow) Handle;
}

PSR_EXPORT int32_t PsrRead(void*, PsrReadRecord*)
{
    return 0;
}

PSR_EXPORT int32_t PsrSeek(void*, uint32_t)
{
    return 1;
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    delete static_cast<Handle*>(handle);
    return 1;
}

#ifdef WITH_DECODE_HOOK
PSR_EXPORT int32_t PsrDecodeAudio(PsrReadRecord* record, uint8_t* output, int32_t capacity)
{
    if (record->frameNumber == kHookFails)
        return -1;
    if (record->frameNumber == kHookDecodes) {
        if (capacity < kHookBytes)
            return -1;
        std::memset(output, kHookFill, kHookBytes);
        return kHookBytes;
    }
    return 0;
}
#endif
