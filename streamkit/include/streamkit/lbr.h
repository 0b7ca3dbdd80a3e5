/*
 * libstreamkit: plugin host, stream layer and decoders.
 *
 * Plugins are bound by file name ("Filmfile.psr", no folder): first from the folder PsrPlugins
 * beside libstreamkit.so, then by the bare name through the dynamic loader's default search.
 * Every handle carries a tag; a null, closed or foreign handle makes an operation return its
 * failure value (handles are also checked against the set of live ones, so a stale pointer is
 * never dereferenced).
 */
#ifndef STREAMKIT_LBR_H
#define STREAMKIT_LBR_H

#include <stdint.h>

#include "streamkit/psr.h"

#define LBR_API PSR_EXTERN_C __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

#define PLUGIN_MAGIC 0x75D39012u
#define STREAM_MAGIC 0x75D39013u

/* Opaque handles. */
typedef struct PluginBinding PluginBinding;
typedef struct StreamState StreamState;

/* Stream modes and wanted kinds. */
#define LBR_WANT_VIDEO 0x1
#define LBR_WANT_AUDIO 0x2

/* LbrSeekStream position that only flushes the queues and the audio history. */
#define LBR_SEEK_FLUSH_ONLY 0xFFFFFFFFu

#ifdef __cplusplus
}
#endif

/* ---- plugin binding ---------------------------------------------------------------------- */

/* Loads and binds a plugin; null when it cannot be loaded or lacks a required export. */
LBR_API PluginBinding* LbrOpenPSR(const char* pluginFileName);
/* 1; 0 when the binding is not live. */
LBR_API int32_t LbrClosePSR(PluginBinding* binding);
/* Returns the PluginCaps. With info: clears it, presets mediaFlags, lets the plugin fill it.
 * With nameBuffer (PSR_PATH_MAX bytes): the plugin's own file name without its folder. */
LBR_API uint32_t LbrGetPlugin(PluginBinding* binding, PsrPluginInfo* info, char* nameBuffer);
/* Binds, describes and releases a plugin: the caps, or 0 when it cannot be bound (info is then
 * left as it was). */
LBR_API uint32_t LbrQueryPlugin(const char* pluginFileName, PsrPluginInfo* info);
/* The module handle (dlopen handle) of the plugin; null when the binding is not live. */
LBR_API void* LbrGetPluginInst(PluginBinding* binding);

/* ---- relays ------------------------------------------------------------------------------ */

LBR_API int32_t LbrSetEnvironment(PluginBinding* binding, void* window);
LBR_API int32_t LbrIsSupportFile(PluginBinding* binding, const char* fileName);
LBR_API void* LbrIsSupportCDBegin(PluginBinding* binding, int32_t trackCount,
                                  const CdTocEntry* tracks);
LBR_API int32_t LbrIsSupportCDSector(PluginBinding* binding, void* context, CdTocEntry track,
                                     uint32_t lba, const uint8_t* sector);
/* Count (index ignored with a null info), or -1 (index out of range, export missing). */
LBR_API int32_t LbrIsSupportCDResult(PluginBinding* binding, void* context, int32_t index,
                                     StrInfo* info);
LBR_API void LbrIsSupportCDEnd(PluginBinding* binding, void* context);
/* 1 when the plugin described the file, else 0. */
LBR_API int32_t LbrGetStrFileInfo(PluginBinding* binding, const char* fileName, StrInfo* info);
/* 1 success, 0 failure, -1 export missing or binding not live. */
LBR_API int32_t LbrGetStrDataInfo(PluginBinding* binding, int32_t drive, uint32_t startSector,
                                  uint32_t sectorCount, StrInfo* info);

/* Display-size rule on size[0] = width, size[1] = height: a picture 2.5 times as wide as high
 * or wider is halved in width (above 600) or doubled in height. 1 if changed. */
LBR_API int32_t LbrGetOutputFrameSize(int32_t* size);

/* ---- debug log --------------------------------------------------------------------------- */

/* Sets the process-wide switch; returns it. */
LBR_API int32_t LbrSETDEBUG(int32_t value);
/* With the switch on, appends the formatted message (at most 511 characters) to "debug.TXT"
 * in the state folder ($TAMRIN_HOME, else $XDG_STATE_HOME/tamrin, else
 * ~/.local/state/tamrin). 1 when written; 0 when off or the file cannot be opened. */
LBR_API int32_t LbrDEBUG(const char* format, ...) __attribute__((format(printf, 1, 2)));

/* ---- streams ----------------------------------------------------------------------------- */

/* Opens a stream of a file (fileName) or of a disc area (fileName null, drive and info).
 * mode: LBR_WANT_VIDEO | LBR_WANT_AUDIO. Null on failure. */
LBR_API StreamState* LbrOpenStream(const char* pluginFileName, const char* fileName,
                                   int32_t drive, StrInfo* info, uint32_t mode);
LBR_API int32_t LbrCloseStream(StreamState* stream);
/* Writes the next unit of a wanted kind (0 = either) into record, which must hold the 20-byte
 * header and the largest payload of the plugin. 1 when written, 0 at the end. */
LBR_API int32_t LbrReadStream(StreamState* stream, uint32_t wanted, PsrReadRecord* record);
/* Gives an owned unit's block back to its plugin; 1 for units that own nothing. */
LBR_API int32_t LbrFreeReadBuffer(StreamState* stream, PsrReadRecord* record);
/* Seeks to positionMs (or, with 0xFFFFFFFF, only flushes) and empties both queues. */
LBR_API int32_t LbrSeekStream(StreamState* stream, uint32_t positionMs);
LBR_API StrInfo* LbrGetStreamInfo(StreamState* stream);
LBR_API PluginBinding* LbrGetPluginHandle(StreamState* stream);
/* mode = (mode & ~mask) | value, kinds the stream does not have left out. */
LBR_API int32_t LbrSetOpenFlags(StreamState* stream, uint32_t mask, uint32_t value);

/* ---- pictures ---------------------------------------------------------------------------- */

/* Largest picture side the decoders and the picture allocator accept; unit headers that claim
 * more are refused rather than allocated. */
#define LBR_MAX_PICTURE_SIDE 4096

/* Decodes one video unit into a picture of 16 bits per pixel (bits == 16) or 24. A picture given
 * for reuse is consumed: reused, or freed and replaced, or freed on failure. Null when the unit
 * is not a picture, is only for the plugin's decoder, or cannot be decoded. */
LBR_API FrameDib* LbrDecodeFrame(StreamState* stream, PsrReadRecord* record, int32_t bits,
                                 int32_t unused, FrameDib* reuse);
/* Decodes one video unit into planar 4:2:0 samples before the colour conversion (each sample
 * the clamped transform output + 128): y holds width x height bytes, cb and cr each
 * ((width + 1) / 2) x ((height + 1) / 2). Cb is the blue-difference (second) chroma block, Cr
 * the red-difference (first) one. 1 when decoded, 0 otherwise. */
LBR_API int32_t LbrDecodeFrameYuv(StreamState* stream, PsrReadRecord* record, uint8_t* y, uint8_t* cb,
                                  uint8_t* cr);
/* Rebuilds the colour tables: brightness and offsets added to the samples, gamma x 100. 0. */
LBR_API int32_t LbrSetColorModify(int32_t brightness, int32_t blue, int32_t red, int32_t gamma);
/* A zero-filled picture with its header written (bits 16, anything else 24); null on failure.
 * A reuse picture that is too small is freed. */
LBR_API FrameDib* LbrAllocBitmap(int32_t width, int32_t height, int32_t planes, int32_t bits,
                                 FrameDib* reuse);
LBR_API void LbrFreeBitmap(FrameDib* picture);
/* Scales a picture to target[0] x target[1] (or, with a null target, the display size of the
 * source). Modes: 0 none, 1 nearest neighbour, 2 to 4 two-pass area averaging or linear
 * interpolation, 5 as 4 except an exact 2x enlargement that draws the 2x2 pattern. Returns the
 * result, which may be the source itself; never fails (returns the source when it cannot
 * allocate). freeSource: the source is freed when a new picture is returned. */
LBR_API FrameDib* LbrStretchFrame(FrameDib* source, FrameDib* reuse, int32_t mode, int32_t freeSource,
                                  const int32_t* target);

/* Bytes per row of a picture: rows are padded to 4 bytes. */
static inline uint32_t LbrPictureStride(int32_t width, int32_t bits)
{
    return (uint32_t)(((int64_t)width * bits + 31) / 32) * 4u;
}
/* First byte of the pixel rows (bottom row first). */
static inline uint8_t* LbrPicturePixels(FrameDib* picture)
{
    return (uint8_t*)picture + sizeof(FrameDib);
}

/* ---- sound ------------------------------------------------------------------------------- */

#pragma pack(push, 1)
/* A PCM format for LbrConvAudioData (12 bytes). Samples are scaled by target level / source
 * level when the two differ. */
typedef struct AudioFormat
{
    uint32_t sampleRate;
    uint16_t channels;      /* 1 or 2 */
    uint16_t bitsPerSample; /* 8 (unsigned) or 16 (signed) */
    uint16_t level;
    uint16_t reserved;
} AudioFormat;

/* State of one conversion (20 bytes), owned by the caller; cleared by a call with 0 bytes. */
typedef struct AudioConvState
{
    int32_t phase;
    int32_t previous[2];
    int32_t current[2];
} AudioConvState;
#pragma pack(pop)
#ifdef __cplusplus
static_assert(sizeof(AudioFormat) == 12, "AudioFormat is 12 bytes");
static_assert(sizeof(AudioConvState) == 20, "AudioConvState is 20 bytes");
#endif

/* Decodes one sound unit into 16-bit little-endian PCM (interleaved when the stream has two
 * channels). Bytes written; 0 when the unit is not sound, the stream is not open, the format is
 * not supported or the result does not fit. A music stream's units are copied unchanged, and
 * their length is returned even when they do not fit (nothing is copied then). */
LBR_API int32_t LbrDecodeAudio(StreamState* stream, PsrReadRecord* record, uint8_t* output, int32_t capacity);

/* Converts `bytes` of PCM from `source` to `target` format (rate, channels, bits, level) by
 * linear interpolation; input and output may be the same buffer. Returns the bytes written;
 * bytes == 0 resets the state. The output must hold LbrConvAudioOutputBytes(...) bytes. */
LBR_API int32_t LbrConvAudioData(AudioConvState* state, int32_t bytes, const AudioFormat* source,
                                 const uint8_t* input, const AudioFormat* target, uint8_t* output);
/* The most bytes the next LbrConvAudioData call with these arguments can write. */
LBR_API int32_t LbrConvAudioOutputBytes(const AudioConvState* state, int32_t bytes, const AudioFormat* source,
                                        const AudioFormat* target);

#endif
