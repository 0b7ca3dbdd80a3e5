/*
 * libtamlib player: plays one stream of a disc or a file, pictures and sound kept in step by
 * one clock (the sound device's position when sound plays, else the wall clock).
 *
 * Pictures go to a frame sink and positions to a notification sink: both are plain C callback
 * records that the caller keeps valid while the player is open. Callbacks come from the
 * player's own threads; they must return quickly and must not call back into the player,
 * except PlbGetPlayPosition and PlbGetPlayerStatus.
 *
 * Every call takes the handle first and returns its failure value (0, -1 or null as stated)
 * when the handle is null, closed or was never a player.
 */
#ifndef TAMLIB_PLAYER_H
#define TAMLIB_PLAYER_H

#include <stdint.h>

#include "streamkit/lbr.h"
#include "tamlib/plb.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct Player Player;

/* Player states (PlbGetPlayerStatus). */
#define PLB_STATE_QUIT 0
#define PLB_STATE_STOPPED 1
#define PLB_STATE_PAUSED 2
#define PLB_STATE_PLAYING 3
#define PLB_STATE_ENDED 4
#define PLB_STATE_EXITED 5

typedef struct PlbRect
{
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
} PlbRect;

/* Receives each picture put on screen, 24 bits per pixel, scaled to the size of the play
 * rectangle (unless the stretch mode is 0) and to be drawn there. The picture stays the
 * player's and is valid only during the call. */
typedef struct PlbFrameSink
{
    void* context;
    void (*frame)(void* context, const FrameDib* picture, const PlbRect* rect, uint32_t frameNumber);
    int32_t width; /* size of the area to draw into; the initial play rectangle */
    int32_t height;
} PlbFrameSink;

/* Position and end notifications. Each returns 1 when delivered; an end that could not be
 * delivered (0) is tried again at the next end. */
typedef struct PlbNotifySink
{
    void* context;
    int32_t (*position)(void* context, uint32_t frameNumber, uint32_t positionMs);
    int32_t (*end)(void* context);
} PlbNotifySink;

/* Where the sound goes and where a disc stream comes from (PlbOpenPlayerEx). */
typedef struct PlbPlayerOptions
{
    /* "alsa" (null: the default); "null" (plays in real time), "null-untimed" (sound plays at
     * once and no picture is dropped as late: the stream plays as fast as it decodes),
     * "null-faulty" (cannot be opened: the wall clock times the stream); "alsa-seq" sends the
     * music of a sequenced-music stream to an ALSA sequencer port instead of rendering it. */
    const char* soundDriver;
    const char* soundDevice; /* ALSA device name (null or "": "default"); for "alsa-seq" the
                              * port, "CLIENT:PORT" or a port's name */
    int32_t drive;           /* drive of a disc stream; -1: the drive chosen in the settings */
} PlbPlayerOptions;

/* Opens the stream (file name, or null for a stream on the disc) and leaves the player paused
 * with the first picture shown and the sound pre-filled. Without a frame sink only the sound
 * plays. A notify interval below 1 ms counts as 1. Null when the stream cannot be opened or
 * is a video stream without a frame rate. */
PLB_API Player* PlbOpenPlayer(const char* pluginName, const char* fileName, const StrInfo* info,
                              const PlbFrameSink* video, const PlbNotifySink* notify, uint32_t notifyIntervalMs,
                              int32_t stretchMode);
PLB_API Player* PlbOpenPlayerEx(const char* pluginName, const char* fileName, const StrInfo* info,
                                const PlbFrameSink* video, const PlbNotifySink* notify, uint32_t notifyIntervalMs,
                                int32_t stretchMode, const PlbPlayerOptions* options);
/* Stops every thread of the player and frees it. 1. */
PLB_API int32_t PlbClosePlayer(Player* player);
PLB_API int32_t PlbPlayPlayer(Player* player);
PLB_API int32_t PlbResumPlayer(Player* player);
PLB_API int32_t PlbPausePlayer(Player* player);
PLB_API int32_t PlbStopPlayer(Player* player);
/* Leaves the player paused at the position (stopped if it was stopped). */
PLB_API int32_t PlbSeekPlayer(Player* player, uint32_t positionMs);
PLB_API uint16_t PlbGetPlayerStatus(Player* player);
/* Position in ms; the known length (grows while playing past it) through lengthMs. */
PLB_API uint32_t PlbGetPlayPosition(Player* player, uint32_t* lengthMs);
/* rect {left, top, right, bottom} with positive size replaces the play rectangle; a mode of 0
 * or more replaces the stretch mode. 0 without pictures. */
PLB_API int32_t PlbSetPlayRect(Player* player, const PlbRect* rect, int32_t stretchMode);
/* The stretch mode and the rectangle; -1 without pictures. */
PLB_API int32_t PlbGetPlayRect(Player* player, PlbRect* rect);
/* The picture on screen at the play rectangle's size, or null before the first one; drawing
 * waits until PlbUnlockFrameDIB. The picture stays the player's. */
PLB_API FrameDib* PlbLockFrameDIB(Player* player, uint32_t* frameNumber);
PLB_API int32_t PlbUnlockFrameDIB(Player* player);
/* Sound volume in percent (0 to 400). */
PLB_API int32_t PlbSetVolume(Player* player, uint32_t volumePercent);
/* Speed in percent (10 to 1000); keeps the player's state. */
PLB_API int32_t PlbSetTempo(Player* player, uint32_t tempoPercent);

/* 1 when the sound driver (as in PlbPlayerOptions) can open the device for 16-bit sound of
 * this rate and channel count (for "alsa-seq": can connect to the port); the device is closed
 * again at once. */
PLB_API int32_t PlbProbeSoundOutput(const char* driver, const char* device, uint32_t sampleRate, uint16_t channels);

/* Why the sound does not play on its device, while the wall clock times the stream instead
 * (the device cannot be opened, or the music synthesiser or its SoundFont cannot be loaded):
 * the length of the reason, 0 while the sound plays. The reason goes to `text` (cut to
 * size - 1 bytes, always terminated) when it is given. */
PLB_API int32_t PlbGetSoundProblem(Player* player, char* text, uint32_t size);

/* Counts of the pictures put on screen and of those dropped as late, since open. */
PLB_API int32_t PlbGetPlayerCounts(Player* player, uint32_t* shown, uint32_t* dropped);

#ifdef __cplusplus
}
#endif

#endif
