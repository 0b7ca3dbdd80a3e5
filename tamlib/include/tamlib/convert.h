/*
 * libtamlib converters: a whole stream read through the stream layer and written to a file.
 *
 * Every converter takes the same six arguments: the plugin's file name, the source file (null
 * for a stream of the disc), the stream's description, a settings record of its own, a progress
 * callback (null: go on always) and a value handed back to it. It returns one of the PLB_CONV_*
 * result codes. The output is written under a hidden name in the target's folder and takes its
 * name only when the conversion succeeds: on failure, on cancel, or when the final progress call
 * answers 0, nothing is left and a file that was there before is untouched.
 *
 * Conversions run on the caller's thread; the progress callback is called on it.
 */
#ifndef TAMLIB_CONVERT_H
#define TAMLIB_CONVERT_H

#include <stdint.h>

#include "streamkit/psr.h"
#include "tamlib/plb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Told the position and the stream's length in ms; returns non-zero to go on, 0 to cancel. */
typedef int32_t (*PlbProgressFn)(uint32_t positionMs, uint32_t lengthMs, void* user);

/* Result codes. Cancelling returns PLB_CONV_OK as success does. */
#define PLB_CONV_OK 0
#define PLB_CONV_NO_STREAM 2    /* the stream could not be opened (or read) */
#define PLB_CONV_NO_FRAMES 5    /* AVI conversion of a stream without frames */
#define PLB_CONV_AVI_FILE 6     /* the AVI file could not be created or written */
#define PLB_CONV_WAVE_FILE 7    /* the WAVE file could not be created or written */
#define PLB_CONV_VIDEO_STREAM 8 /* the video stream could not be created */
#define PLB_CONV_AUDIO_STREAM 9 /* the audio stream could not be created */
/* MP3: the encoder library is missing (20) or lacks a function (21); 30 + e for an encoder
 * error e of setting up; 40 to 54 for the encoder's errors 10 to 24. */
#define PLB_CONV_NO_ENCODER 20
#define PLB_CONV_ENCODER_INCOMPLETE 21
/* Answers of the output-file check before a conversion: the output exists (1000), and the
 * user declined to replace it (1001). */
#define PLB_CONV_OUTPUT_EXISTS 1000
#define PLB_CONV_OVERWRITE_CANCELED 1001

/* The message of a result code in the current language, as the main program shows it; a code
 * without a message of its own gives a general text with the code. buffer: at least
 * PLB_STRING_MAX bytes (tamlib/strings.h), or null for a shared buffer that the next such call
 * overwrites. Returns the buffer used. */
PLB_API const char* PlbConvertResultText(int32_t result, char* buffer);

#define PLB_PATH_BYTES 260

/* WAVE settings. */
typedef struct PlbWaveSettings
{
    char outputPath[PLB_PATH_BYTES];
    uint16_t formatTag; /* written to the file; 1 (PCM) */
    uint16_t channels;
    uint16_t bitsPerSample;
    uint16_t reserved;
    uint32_t sampleRate;
} PlbWaveSettings;

/* The video codec choice, 44 bytes, stored as it is in the options file. No codec (uncompressed
 * frames) when type or handler is 0. Handlers are the four-character codes of the AVI file,
 * first character in the low byte ("MJPG" = 'M' | 'J' << 8 | 'P' << 16 | 'G' << 24). */
typedef struct PlbAviCompression
{
    uint32_t type;           /* "vidc" */
    uint32_t handler;        /* the codec */
    uint32_t keyFrameEvery;  /* frames; 0: the codec's default */
    uint32_t quality;        /* 0 to 10000; 0: the codec's default */
    uint32_t bytesPerSecond; /* data rate; 0: none asked */
    uint32_t flags;          /* PLB_AVI_* */
    uint32_t reserved[5];    /* format and parameter references of the original record: 0 */
} PlbAviCompression;

#define PLB_AVI_DATARATE 0x02
#define PLB_AVI_KEYFRAMES 0x04
#define PLB_AVI_VALID 0x08

/* AVI settings. */
typedef struct PlbAviSettings
{
    char outputPath[PLB_PATH_BYTES];
    uint32_t width; /* size of the frames written */
    uint32_t height;
    uint16_t frameRate;   /* as StrInfo.frameRate: tenths of a frame per second up to 800, hundredths above */
    uint16_t stretchMode; /* for LbrStretchFrame; 4 is the usual */
    uint32_t audio;       /* non-zero: write an audio stream */
    uint16_t channels;
    uint16_t bitsPerSample;
    uint32_t sampleRate;
    PlbAviCompression compression;
} PlbAviSettings;

/* A codec's description (PlbGetAVIOptionInfo, PlbGetAVICodec). */
typedef struct PlbAviCodecInfo
{
    uint32_t quality;
    uint32_t keyFrameEvery;
    uint32_t bytesPerSecond;
    char description[256];
    char name[32];
} PlbAviCodecInfo;

/* MP3 settings (the values as the options file keeps them). */
typedef struct PlbMp3Settings
{
    char outputPath[PLB_PATH_BYTES];
    uint16_t bitRate;      /* kbit/s, or 0x4000 | quality 0-9 for a variable bit rate */
    uint16_t outputFormat; /* 0 plain MP3, 1 RIFF/WAVE, 2 RIFF/RMP */
    uint16_t channelMode;  /* 0 mono, 1 stereo, 2 joint stereo, 3 mid/side, 4 dual channel */
    uint16_t switches;     /* PLB_MP3_* */
    uint16_t lowPassFirst;
    uint16_t lowPassSecond;
    uint16_t vbrLowest; /* kbit/s */
    uint16_t vbrHighest;
    uint16_t emphasis; /* 0 none, 1 50/15 ms, 3 CCITT */
    uint16_t reserved;
} PlbMp3Settings;

#define PLB_MP3_VBR 0x4000
#define PLB_MP3_PSYCHO 0x0001        /* psycho-acoustic analysis */
#define PLB_MP3_LOWPASS_128 0x0002   /* low-pass filter at 128 kbit/s and below */
#define PLB_MP3_VBR_RANGE 0x0100     /* keep a variable bit rate within vbrLowest..vbrHighest */
#define PLB_MP3_USER_LOWPASS 0x0200  /* apply lowPassFirst..lowPassSecond */

/* The drive that disc streams (file name null) are read from by the conversions of the calling
 * thread; -1, the start value, means the drive chosen in the settings. Returns the previous one. */
PLB_API int32_t PlbSetConvertDrive(int32_t drive);

/* WAVE: 1 or 2 channels of 8 or 16 bits at 1000 to 384000 Hz (else PLB_CONV_WAVE_FILE); the
 * samples are PCM, and so is the file's format tag. A sound unit that cannot be decoded gives
 * PLB_CONV_NO_STREAM and no file: a file without it would not be the stream's whole sound. */
PLB_API int32_t PlbConvertWAVE(const char* pluginName, const char* fileName, const StrInfo* info,
                               const PlbWaveSettings* settings, PlbProgressFn progress, void* user);
PLB_API int32_t PlbConvertAVI(const char* pluginName, const char* fileName, const StrInfo* info,
                              const PlbAviSettings* settings, PlbProgressFn progress, void* user);

/* Lets the user choose a codec through the user-interface port; 1 when a choice was confirmed
 * (stored in `options`), 0 otherwise. */
PLB_API int32_t PlbSetAVIOption(void* parent, PlbAviCompression* options);
/* Describes the codec of `options`; 1 when it is one this library can use, else 0 with the
 * description of uncompressed frames. */
PLB_API int32_t PlbGetAVIOptionInfo(const PlbAviCompression* options, PlbAviCodecInfo* info);
/* The usable codecs, from index 0: 1 and the codec's options and description, 0 past the end. */
PLB_API int32_t PlbGetAVICodec(int32_t index, PlbAviCompression* options, PlbAviCodecInfo* info);
/* Finds a usable codec by its name or four-character handler (any case); 1 when found. */
PLB_API int32_t PlbFindAVICodec(const char* name, PlbAviCompression* options);

/* Whether the MP3 encoder can be used: 0 when not, else non-zero (0x4000 | the encoder's units).
 * The version code and text (up to PLB_MP3_VERSION_BYTES with the final 0) may be null. */
#define PLB_MP3_VERSION_BYTES 260
PLB_API int32_t PlbIsGogo(uint32_t* versionCode, char* versionText);
PLB_API int32_t PlbConvertGOGO(const char* pluginName, const char* fileName, const StrInfo* info,
                               const PlbMp3Settings* settings, PlbProgressFn progress, void* user);

/* ---- pictures, music and output names --------------------------------------------------- */

#define PLB_CONV_NO_MEMORY 1    /* out of memory */
#define PLB_CONV_BITMAP_FILE 12 /* the BMP file could not be written */

/* BMP settings. A width or height of 0 keeps the picture's display size. */
typedef struct PlbBitmapSettings
{
    char outputPath[PLB_PATH_BYTES];
    uint32_t width; /* size of the picture written, at most 4096 each */
    uint32_t height;
} PlbBitmapSettings;

/* MIDI settings. */
typedef struct PlbMidiSettings
{
    char outputPath[PLB_PATH_BYTES];
} PlbMidiSettings;

/* Writes a picture of the library (a 40-byte header, 16 or 24 bits, no colour table, the pixel
 * rows right after the header) as a BMP file. The header must describe the block: only a
 * header whose image size is height x row stride, sides 1 to 4096, is written. 1 when written,
 * 0 otherwise (nothing is left then, and an older file of that name is kept). */
PLB_API int32_t PlbSaveBitmap(const FrameDib* picture, const char* path);

/* The first picture of a stream (a still image) as a BMP file, scaled to the settings' size.
 * 2 when the stream gives no picture, 12 when the file cannot be written, 1 out of memory. */
PLB_API int32_t PlbConvertBITMAP(const char* pluginName, const char* fileName, const StrInfo* info,
                                 const PlbBitmapSettings* settings, PlbProgressFn progress, void* user);
/* As PlbConvertBITMAP, for a chosen frame of a movie: the first picture whose frame number
 * (from 1) is at least `frameNumber`; 0 takes the first picture. 2 when there is none. */
PLB_API int32_t PlbConvertBITMAPFrame(const char* pluginName, const char* fileName, const StrInfo* info,
                                      const PlbBitmapSettings* settings, uint32_t frameNumber,
                                      PlbProgressFn progress, void* user);

/* A sequenced-music stream as a format-0 Standard MIDI File. 2 when the stream cannot be opened,
 * is not music or has no time division, 7 when the file cannot be created or written. */
PLB_API int32_t PlbConvertMIDI(const char* pluginName, const char* fileName, const StrInfo* info,
                               const PlbMidiSettings* settings, PlbProgressFn progress, void* user);

/* Conversion types, as the conversion table of the main program numbers them. */
#define PLB_CONV_TYPE_AVI 0
#define PLB_CONV_TYPE_WAVE 1
#define PLB_CONV_TYPE_CSTR 2
#define PLB_CONV_TYPE_BMP 3
#define PLB_CONV_TYPE_MIDI 4
#define PLB_CONV_TYPE_MP3 5

/* The output path a conversion gets when none is chosen: `folder`, then the stream's title (or,
 * without one, the source file's name less its extension) with every character of
 * \ / : , ; * < > | ? " made an underscore, then "." and the type's extension ("avi", "wav",
 * "cstr", "bmp", "mid"; for MP3 "wav" with output format 1, "rmp" with 2, else "mp3"). Written
 * to `out` with its final 0; returns its length, or 0 (and an empty `out` when there is room)
 * when the type is unknown, there is no name to take, or the path does not fit. */
PLB_API int32_t PlbDefaultOutputName(const char* title, const char* sourceFile, int32_t type,
                                     uint16_t mp3Format, const char* folder, char* out, uint32_t capacity);
/* "NAME (N).EXT" for the path "NAME.EXT", so that outputs of one batch differ (N below 2 gives
 * the path unchanged); the extension is what follows the last dot of the file's name, none for
 * a name that only starts with a dot. Length or 0, as above. */
PLB_API int32_t PlbNumberedOutputName(const char* path, uint32_t number, char* out, uint32_t capacity);

/* ---- compact movie files (.cstr) ---------------------------------------------------------- */

#define PLB_CONV_CSTR_FILE 10 /* the compact movie file could not be created or written */

/* Compact movie settings. */
typedef struct PlbCstrSettings
{
    char outputPath[PLB_PATH_BYTES];
} PlbCstrSettings;

/* Repacks a movie stream into a compact movie file (the Packfilm plugin plays it without the
 * disc); a source that is already one is copied, and then never over an existing file. */
PLB_API int32_t PlbConvertCSTR(const char* pluginName, const char* fileName, const StrInfo* info,
                               const PlbCstrSettings* settings, PlbProgressFn progress, void* user);

#ifdef __cplusplus
}
static_assert(sizeof(PlbCstrSettings) == 260, "compact movie settings layout");
static_assert(sizeof(PlbWaveSettings) == 272, "WAVE settings layout");
static_assert(sizeof(PlbAviCompression) == 44, "stored AVI compression record");
static_assert(sizeof(PlbAviSettings) == 328, "AVI settings layout");
static_assert(sizeof(PlbAviCodecInfo) == 300, "codec description layout");
static_assert(sizeof(PlbMp3Settings) == 280, "MP3 settings layout");
static_assert(sizeof(PlbBitmapSettings) == 268, "BMP settings layout");
static_assert(sizeof(PlbMidiSettings) == 260, "MIDI settings layout");
#endif

#endif
