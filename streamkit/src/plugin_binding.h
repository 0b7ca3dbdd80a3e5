// The host's side of one loaded plugin: its module and its 21 entry points.
#pragma once

#include "tamrin_common/handle_registry.h"
#include "streamkit/lbr.h"

struct PluginBinding
{
    uint32_t tag = 0;
    void* module = nullptr;

    // Bound by name, in this order; null when the plugin lacks the export.
    PsrQueryPluginFn PsrQueryPlugin = nullptr;
    PsrIsSupportFileFn PsrIsSupportFile = nullptr;
    PsrIsSupportCDBeginFn PsrIsSupportCDBegin = nullptr;
    PsrIsSupportCDEndFn PsrIsSupportCDEnd = nullptr;
    PsrIsSupportCDSectorFn PsrIsSupportCDSector = nullptr;
    PsrIsSupportCDResultFn PsrIsSupportCDResult = nullptr;
    PsrGetStrFileInfoFn PsrGetStrFileInfo = nullptr;
    PsrGetStrDataInfoFn PsrGetStrDataInfo = nullptr;
    PsrOpenFileFn PsrOpenFile = nullptr;
    PsrOpenCDFn PsrOpenCD = nullptr;
    PsrCloseFn PsrClose = nullptr;
    PsrReadFn PsrRead = nullptr;
    PsrFreeReadBufferFn PsrFreeReadBuffer = nullptr;
    PsrSeekFn PsrSeek = nullptr;
    PsrOpenFrameDecoderFn PsrOpenFrameDecoder = nullptr;
    PsrCloseFrameDecoderFn PsrCloseFrameDecoder = nullptr;
    PsrFrameDecoderFn PsrFrameDecoder = nullptr;
    PsrDecodeFrameFn PsrDecodeFrame = nullptr;
    PsrDecodeBsFn PsrDecodeBs = nullptr;
    PsrDecodeAudioFn PsrDecodeAudio = nullptr;
    PsrSetEnvironmentFn PsrSetEnvironment = nullptr;

    bool hasFrameDecoder() const { return PsrOpenFrameDecoder && PsrCloseFrameDecoder && PsrFrameDecoder; }
};

namespace streamkit {

using tamrin_common::HandleRegistry;

inline HandleRegistry& bindingRegistry()
{
    static HandleRegistry registry;
    return registry;
}

// The binding when it is live, else null.
inline PluginBinding* liveBinding(PluginBinding* binding)
{
    return bindingRegistry().contains(binding) && binding->tag == PLUGIN_MAGIC ? binding : nullptr;
}

} // namespace streamkit
