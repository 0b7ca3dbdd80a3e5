// A plugin for the host's tests. Compiled several times; OMIT_* leave exports out so that the
// binding rules can be checked on incomplete plugins.
#include <cstdlib>
#include <cstring>

#include "test_plugin_control.h"

namespace {

TestPluginControl g_state;

struct Handle
{
    int unused = 0;
};

} // namespace

PSR_EXPORT TestPluginControl* TestPluginState()
{
    return &g_state;
}

PSR_EXPORT int32_t PsrQueryPlugin(PsrPluginInfo* info)
{
    g_state.mediaFlagsPreset = info->mediaFlags;
    std::strcpy(info->name, "Test plugin");
    info->version = 101;
    info->interfaceVersion = PSR_INTERFACE_VERSION;
    return 1;
}

#ifndef OMIT_READ
PSR_EXPORT int32_t PsrRead(void* handle, PsrReadRecord* record)
{
    if (!handle)
        return 0;
    ++g_state.readCalls;
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    if (g_state.next >= g_state.units.size())
        return 0;
    const ScriptedUnit& unit = g_state.units[g_state.next++];
    record->frameNumber = unit.frameNumber;
    record->unitKind = unit.unitKind;
    record->unitFlags = unit.unitFlags;
    record->width = 16;
    record->height = 16;
    if (unit.unitFlags & UnitOwned) {
        record->payloadBytes = uint32_t(PSR_OWNED_REF_BYTES);
        void* block = std::malloc(unit.payloadBytes ? unit.payloadBytes : 1);
        std::memset(block, unit.fill, unit.payloadBytes);
        PsrSetOwnedBlock(record, unit.payloadBytes, block);
        ++g_state.ownedOutstanding;
    } else {
        record->payloadBytes = unit.payloadBytes;
        std::memset(record->payload, unit.fill, unit.payloadBytes);
    }
    return 1;
}
#endif

PSR_EXPORT int32_t PsrSeek(void*, uint32_t positionMs)
{
    ++g_state.seekCalls;
    g_state.lastSeekMs = positionMs;
    if (g_state.seekResult)
        g_state.next = 0;
    return g_state.seekResult;
}

PSR_EXPORT int32_t PsrClose(void* handle)
{
    ++g_state.closeCalls;
    delete static_cast<Handle*>(handle);
    return 1;
}

#ifndef OMIT_FREE
PSR_EXPORT int32_t PsrFreeReadBuffer(void*, PsrReadRecord* record)
{
    ++g_state.freeCalls;
    if (record->unitFlags & UnitOwned) {
        std::free(PsrOwnedBlock(record));
        PsrSetOwnedBlock(record, 0, nullptr);
        --g_state.ownedOutstanding;
    }
    return 1;
}
#endif

#ifndef OMIT_FILE
PSR_EXPORT int32_t PsrIsSupportFile(const char* name)
{
    return std::strstr(name, "accept") != nullptr;
}

#ifndef OMIT_GETSTRFILEINFO
PSR_EXPORT int32_t PsrGetStrFileInfo(const char*, StrInfo* info)
{
    *info = g_state.fileInfo;
    return g_state.fileInfoResult;
}
#endif

PSR_EXPORT void* PsrOpenFile(const char* name, StrInfo*)
{
    ++g_state.openCalls;
    if (std::strstr(name, "fail"))
        return nullptr;
    g_state.next = 0;
    return new Handle;
}
#endif

#ifndef OMIT_CD
PSR_EXPORT void* PsrIsSupportCDBegin(int32_t trackCount, const CdTocEntry*)
{
    return trackCount > 0 ? new Handle : nullptr;
}

PSR_EXPORT void PsrIsSupportCDEnd(void* context)
{
    delete static_cast<Handle*>(context);
}

PSR_EXPORT int32_t PsrIsSupportCDSector(void*, CdTocEntry track, uint32_t lba, const uint8_t* sector)
{
    // Answers with what it was given, so the relay's arguments can be checked.
    return sector ? int32_t(lba + track.track + sector[0]) : 0;
}

#ifndef OMIT_CDRESULT
PSR_EXPORT int32_t PsrIsSupportCDResult(void*, int32_t index, StrInfo* info)
{
    if (!info)
        return g_state.cdResultCount;
    if (index < 0 || index >= g_state.cdResultCount)
        return -1;
    *info = g_state.fileInfo;
    return g_state.cdResultCount;
}
#endif

PSR_EXPORT int32_t PsrGetStrDataInfo(int32_t, uint32_t, uint32_t, StrInfo* info)
{
    *info = g_state.fileInfo;
    return g_state.fileInfoResult;
}

PSR_EXPORT void* PsrOpenCD(int32_t drive, StrInfo*)
{
    ++g_state.openCalls;
    if (drive < 0)
        return nullptr;
    g_state.next = 0;
    return new Handle;
}
#endif

#ifndef OMIT_DECODERS
PSR_EXPORT void* PsrOpenFrameDecoder()
{
    ++g_state.frameDecoderOpens;
    return new Handle;
}

PSR_EXPORT int32_t PsrCloseFrameDecoder(void* context)
{
    ++g_state.frameDecoderCloses;
    delete static_cast<Handle*>(context);
    return 1;
}

static intptr_t answer(int how, FrameDib* picture)
{
    if (how == 1) {
        std::memset(reinterpret_cast<uint8_t*>(picture) + sizeof(FrameDib), 0x55, picture->imageSize);
        return reinterpret_cast<intptr_t>(picture);
    }
    return how;
}

PSR_EXPORT intptr_t PsrFrameDecoder(void*, PsrReadRecord*, FrameDib* picture)
{
    ++g_state.frameDecoderCalls;
    return answer(g_state.frameDecoderAnswer, picture);
}

PSR_EXPORT intptr_t PsrDecodeFrame(PsrReadRecord*, FrameDib* picture)
{
    ++g_state.decodeFrameCalls;
    return answer(g_state.decodeFrameAnswer, picture);
}

PSR_EXPORT intptr_t PsrDecodeBs(PsrReadRecord*)
{
    ++g_state.decodeBsCalls;
    if (g_state.decodeBsCodes)
        return reinterpret_cast<intptr_t>(g_state.decodeBsCodes);
    return g_state.decodeBsAnswer;
}

PSR_EXPORT int32_t PsrDecodeAudio(PsrReadRecord*, uint8_t*, int32_t)
{
    return 0;
}
#endif

#ifndef OMIT_SETENV
PSR_EXPORT void PsrSetEnvironment(void*)
{
    ++g_state.setEnvironmentCalls;
}
#endif
