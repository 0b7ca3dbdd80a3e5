/* The boundary between libtamlib and its AVI module (libtamlib-avi.so, tamlib/avi/): the one place
 * the FFmpeg libraries are used. libtamlib loads the module on the first AVI call (conversion or
 * codec query), so that programs that never write an AVI file do not load libavformat, libavcodec
 * and the libraries they need at every start.
 *
 * The module exports one function, TAMLIB_AVI_MODULE_NAME, that returns its table. Every entry is
 * a plain C call that throws nothing; no FFmpeg type crosses this boundary.
 */
#ifndef TAMLIB_AVI_MODULE_H
#define TAMLIB_AVI_MODULE_H

#include <stddef.h>
#include <stdint.h>

#include "tamlib/convert.h"

#ifdef __cplusplus
#include <string>
extern "C" {
#endif

#define TAMLIB_AVI_MODULE_VERSION 1

/* An AVI file being written. */
typedef struct TamlibAviWriter TamlibAviWriter;

/* What a new file holds. The video stream is always there; the audio stream when `audio` is set. */
typedef struct TamlibAviSetup
{
    uint32_t width; /* of every frame, 1 to LBR_MAX_PICTURE_SIDE */
    uint32_t height;
    uint32_t rate; /* frames per `scale` seconds: the stream header's rate and scale */
    uint32_t scale;
    /* The codec chosen; null or no codec (type or handler 0): uncompressed frames. A codec that
     * cannot be opened gives uncompressed frames as well. */
    const PlbAviCompression* compression;
    uint32_t audio; /* non-zero: a PCM audio stream */
    uint32_t sampleRate;
    uint16_t channels;      /* 1 or 2 */
    uint16_t bitsPerSample; /* 8 (unsigned) or 16 (signed) */
    const char* videoName;  /* the streams' names in the file; may be null */
    const char* audioName;
} TamlibAviSetup;

/* Results of writerOpen. */
#define TAMLIB_AVI_OPENED 0
#define TAMLIB_AVI_FILE_FAILED 6  /* the file cannot be created (or its header written) */
#define TAMLIB_AVI_VIDEO_FAILED 8 /* the video stream cannot be made */
#define TAMLIB_AVI_AUDIO_FAILED 9 /* the audio stream cannot be made */

/* Text of a failure: a buffer of the caller, always ended with 0. */
#define TAMLIB_AVI_ERROR_BYTES 256

typedef struct TamlibAviModule
{
    uint32_t version; /* TAMLIB_AVI_MODULE_VERSION */
    uint32_t size;    /* sizeof(TamlibAviModule) */

    /* Starts the file `path` (UTF-8) under a hidden name in its folder and writes its header.
     * Null on failure, with `*result` set to a TAMLIB_AVI_* code and `error` to the reason. On
     * success `*result` is TAMLIB_AVI_OPENED and `*compressed` (may be null) tells whether the
     * chosen codec is used (0: uncompressed frames, with `error` telling why the codec is not). */
    TamlibAviWriter* (*writerOpen)(const char* path, const TamlibAviSetup* setup, int32_t* result,
                                   int32_t* compressed, char* error);
    /* Appends the next video frame: 24-bit blue-green-red rows, bottom row first, `stride` bytes
     * apart (at least width x 3). 1, or 0 with `error` set (the file can then only be discarded). */
    int32_t (*writerFrame)(TamlibAviWriter* writer, const uint8_t* bottomUpBgr, uint32_t stride, char* error);
    /* Appends a block of PCM in the setup's format (whole sample frames). 1, or 0 as writerFrame. */
    int32_t (*writerAudio)(TamlibAviWriter* writer, const uint8_t* pcm, uint32_t bytes, char* error);
    /* Completes the file (the codec's last packets, the index, the headers' counts) and gives it
     * its name, replacing any file there; frees the writer. 1, or 0 with `error` set and nothing
     * left of the file. */
    int32_t (*writerFinish)(TamlibAviWriter* writer, char* error);
    /* Removes the unfinished file and frees the writer. Null is allowed. */
    void (*writerDiscard)(TamlibAviWriter* writer);

    /* The usable codecs of this build, from index 0: 1 with the codec's options and description
     * (either may be null), 0 past the end. */
    int32_t (*codecAt)(int32_t index, PlbAviCompression* options, PlbAviCodecInfo* info);
    /* The usable codec of a four-character handler: 1 with its options and description (either
     * may be null), 0 when there is none. */
    int32_t (*codecFind)(uint32_t handler, PlbAviCompression* options, PlbAviCodecInfo* info);
} TamlibAviModule;

#define TAMLIB_AVI_MODULE_NAME "tamlibAviModule"
typedef const TamlibAviModule* (*TamlibAviModuleFn)(void);

#ifdef __cplusplus
}

namespace tamlib::convert {

// The module's table, loaded on the first call and kept for the rest of the process; null when
// the module cannot be loaded or is not of this version, with `why` (may be null) set to the reason.
const TamlibAviModule* aviModule(std::string* why = nullptr);

} // namespace tamlib::convert
#endif

#endif
