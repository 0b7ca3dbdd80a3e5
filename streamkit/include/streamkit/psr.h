/*
 * The format-plugin contract, interface version 322.
 *
 * A plugin is a shared object "PsrPlugins/<Name>.psr" beside libstreamkit.so. It exports plain
 * C functions named Psr*; the host binds them by name (see lbr.h). Records that cross the
 * boundary are packed and little-endian, texts are zero-terminated single-byte strings in
 * fixed arrays. Handles and contexts are opaque pointers owned by the plugin.
 *
 * Plugins include this header only; it has no link dependency.
 */
#ifndef STREAMKIT_PSR_H
#define STREAMKIT_PSR_H

#include <stddef.h>
#include <stdint.h>

#include "discport/cd_types.h"

#ifdef __cplusplus
#define PSR_EXTERN_C extern "C"
#else
#define PSR_EXTERN_C
#endif

/* Marks one exported plugin entry point. */
#define PSR_EXPORT PSR_EXTERN_C __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

#define PSR_INTERFACE_VERSION 322

/* Path buffers of the contract hold this many characters, terminator included. */
#define PSR_PATH_MAX 260

/* Stream kind bits (StrInfo.kind). */
#define StrVideo 0x01
#define StrAudio 0x02
#define StrStill 0x04
#define StrMusic 0x08
#define StrTimed 0x10

/* Inputs a plugin inspects (PsrPluginInfo.mediaFlags). */
#define MediaRawSectors 0x0001
#define MediaUserData 0x0002
#define MediaFiles 0x0004

/* Optional exports a plugin has (PluginCaps). The frame-decoder triple gives no bit. */
#define CapFile 0x0001
#define CapCd 0x0002
#define CapDecodeFrame 0x0100
#define CapDecodeAudio 0x0200
#define CapSetEnvironment 0x0400
#define CapDecodeBs 0x0800

/* Unit kinds (PsrReadRecord.unitKind): 0x10 family pictures, everything else sound. */
#define UnitVideo 0x10
#define UnitVideoPluginOnly 0x13
#define UnitAudio 0x20

/* Unit flags (PsrReadRecord.unitFlags). */
#define UnitOwned 0x01
#define UnitNoShow 0x02
#define UnitKey 0x04

#pragma pack(push, 1)

/* A plugin's self-description (368 bytes).
 *   0x000 char[49] name            0x086 u16 interfaceVersion
 *   0x031 char[81] copyright       0x088 char[81] author
 *   0x082 u16 version (x100)       0x0D9 char[81] address
 *   0x084 u16 subVersion (x100)    0x12A u16 mediaFlags
 *   0x12C char[66] reserved1       0x16E u16 reserved2
 */
typedef struct PsrPluginInfo
{
    char name[49];
    char copyright[81];
    uint16_t version;
    uint16_t subVersion;
    uint16_t interfaceVersion;
    char author[81];
    char address[81];
    uint16_t mediaFlags;
    char reserved1[66];
    uint16_t reserved2;
} PsrPluginInfo;

/* The description of one stream (52 bytes).
 *   0x00 u16 kind          0x14 u32 width        0x24 u32 sampleRate
 *   0x02 u16 reserved      0x18 u32 height       0x28 u32 dataBytes
 *   0x04 u32 startSector   0x1C u16 frameRate    0x2C u32 outWidth
 *   0x08 u32 sectorCount   0x1E u16 audioFormat  0x30 u32 outHeight
 *   0x0C u32 durationMs    0x20 u16 channels
 *   0x10 u32 frameCount    0x22 u16 bitsPerSample
 * frameRate is frames per second x 10 up to 800 and x 100 above.
 */
typedef struct StrInfo
{
    uint16_t kind;
    uint16_t reserved;
    uint32_t startSector;
    uint32_t sectorCount;
    uint32_t durationMs;
    uint32_t frameCount;
    uint32_t width;
    uint32_t height;
    uint16_t frameRate;
    uint16_t audioFormat;
    uint16_t channels;
    uint16_t bitsPerSample;
    uint32_t sampleRate;
    uint32_t dataBytes;
    uint32_t outWidth;
    uint32_t outHeight;
} StrInfo;

/* One unit of stream data: this 20-byte header, then payloadBytes of payload, in a buffer
 * owned by the caller of PsrRead.
 *   0x00 u32 frameNumber   from 1 for video frames, 0 otherwise
 *   0x04 u32 width
 *   0x08 u32 height
 *   0x0C u16 param         own rate of a frame of a StrTimed stream (fps x 10), 0 = stream's
 *   0x0E u8  unitKind      0 = host decides (video when frameNumber != 0)
 *   0x0F u8  unitFlags
 *   0x10 u32 payloadBytes
 *   0x14 ... payload
 */
typedef struct PsrReadRecord
{
    uint32_t frameNumber;
    uint32_t width;
    uint32_t height;
    uint16_t param;
    uint8_t unitKind;
    uint8_t unitFlags;
    uint32_t payloadBytes;
    uint8_t payload[];
} PsrReadRecord;

/* The header of a decoded picture: a 40-byte bitmap header followed, in the same block, by
 * bottom-up rows padded to 4 bytes (24-bit blue-green-red or 16-bit 0RRRRRGGGGGBBBBB). */
typedef struct FrameDib
{
    uint32_t headerSize;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t imageSize;
    uint8_t reserved[16];
} FrameDib;

#pragma pack(pop)

#define PSR_READ_HEADER_BYTES 20

/*
 * Owned units (UnitOwned). The payload does not hold the unit's bulk data; it starts with a
 * reference to a block the plugin allocated, which PsrFreeReadBuffer frees exactly once:
 *
 *   payload + 0x00  u32      S, the block's size in bytes
 *   payload + 0x04  pointer  the block (8 bytes on a 64-bit platform, unaligned: use the
 *                            accessors below)
 *   payload + 0x0C  ...      the rest of the unit's payload
 *
 * The record stays self-contained for copying (header + payloadBytes bytes). Stored forms of
 * an owned unit never contain the pointer: writers skip PSR_OWNED_REF_BYTES and write the
 * block in its place.
 */
#define PSR_OWNED_SIZE_OFFSET 0
#define PSR_OWNED_BLOCK_OFFSET 4
#define PSR_OWNED_REF_BYTES (4 + sizeof(void*))

/* Plugin entry points, in the order the host binds them. Result conventions:
 * stream handles and contexts: null on failure; PsrDecodeFrame / PsrFrameDecoder: the picture
 * pointer when done, 0 to let the host decode, -1 on failure; PsrDecodeBs: a run-level buffer
 * pointer, 0 or -1 in the same way. */
typedef int32_t (*PsrQueryPluginFn)(PsrPluginInfo* info);
typedef int32_t (*PsrIsSupportFileFn)(const char* fileName);
typedef void* (*PsrIsSupportCDBeginFn)(int32_t trackCount, const CdTocEntry* tracks);
typedef void (*PsrIsSupportCDEndFn)(void* context);
typedef int32_t (*PsrIsSupportCDSectorFn)(void* context, CdTocEntry track, uint32_t lba,
                                          const uint8_t* sector);
typedef int32_t (*PsrIsSupportCDResultFn)(void* context, int32_t index, StrInfo* info);
typedef int32_t (*PsrGetStrFileInfoFn)(const char* fileName, StrInfo* info);
typedef int32_t (*PsrGetStrDataInfoFn)(int32_t drive, uint32_t startSector, uint32_t sectorCount,
                                       StrInfo* info);
typedef void* (*PsrOpenFileFn)(const char* fileName, StrInfo* info);
typedef void* (*PsrOpenCDFn)(int32_t drive, StrInfo* info);
typedef int32_t (*PsrCloseFn)(void* handle);
typedef int32_t (*PsrReadFn)(void* handle, PsrReadRecord* record);
typedef int32_t (*PsrFreeReadBufferFn)(void* handle, PsrReadRecord* record);
typedef int32_t (*PsrSeekFn)(void* handle, uint32_t positionMs);
typedef void* (*PsrOpenFrameDecoderFn)(void);
typedef int32_t (*PsrCloseFrameDecoderFn)(void* context);
typedef intptr_t (*PsrFrameDecoderFn)(void* context, PsrReadRecord* record, FrameDib* picture);
typedef intptr_t (*PsrDecodeFrameFn)(PsrReadRecord* record, FrameDib* picture);
typedef intptr_t (*PsrDecodeBsFn)(PsrReadRecord* record);
typedef int32_t (*PsrDecodeAudioFn)(PsrReadRecord* record, uint8_t* output, int32_t capacity);
typedef void (*PsrSetEnvironmentFn)(void* window);

#ifdef __cplusplus
}

static_assert(sizeof(PsrPluginInfo) == 368, "PsrPluginInfo is 368 bytes");
static_assert(offsetof(PsrPluginInfo, version) == 130);
static_assert(offsetof(PsrPluginInfo, interfaceVersion) == 134);
static_assert(offsetof(PsrPluginInfo, author) == 136);
static_assert(offsetof(PsrPluginInfo, address) == 217);
static_assert(offsetof(PsrPluginInfo, mediaFlags) == 298);
static_assert(offsetof(PsrPluginInfo, reserved2) == 366);
static_assert(sizeof(StrInfo) == 52, "StrInfo is 52 bytes");
static_assert(offsetof(StrInfo, frameRate) == 28);
static_assert(offsetof(StrInfo, sampleRate) == 36);
static_assert(offsetof(StrInfo, outHeight) == 48);
static_assert(sizeof(PsrReadRecord) == PSR_READ_HEADER_BYTES, "PsrReadRecord header is 20 bytes");
static_assert(offsetof(PsrReadRecord, unitKind) == 14);
static_assert(offsetof(PsrReadRecord, payloadBytes) == 16);
static_assert(sizeof(FrameDib) == 40, "bitmap header is 40 bytes");

#include <cstring>

/* Accessors of an owned unit's block reference (see above). */
inline uint32_t PsrOwnedBlockSize(const PsrReadRecord* record)
{
    uint32_t size;
    std::memcpy(&size, record->payload + PSR_OWNED_SIZE_OFFSET, sizeof size);
    return size;
}
inline void* PsrOwnedBlock(const PsrReadRecord* record)
{
    void* block;
    std::memcpy(&block, record->payload + PSR_OWNED_BLOCK_OFFSET, sizeof block);
    return block;
}
inline void PsrSetOwnedBlock(PsrReadRecord* record, uint32_t size, void* block)
{
    std::memcpy(record->payload + PSR_OWNED_SIZE_OFFSET, &size, sizeof size);
    std::memcpy(record->payload + PSR_OWNED_BLOCK_OFFSET, &block, sizeof block);
}
#endif

#endif
