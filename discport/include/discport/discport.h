/*
 * libdiscport: CD-ROM drives and disc images through SCSI/MMC command blocks.
 *
 * Drives are named by their 0-based index in the drive table. On Linux, interface 1 is the SCSI
 * generic driver (/dev/sg*), interface 2 the CD block devices (/dev/sr*); disc images mounted
 * with CdMountImage are appended to the table and answer the same command blocks. The interface
 * mask is kept in Discport.ini in the configuration folder ($TAMRIN_HOME, else
 * $XDG_CONFIG_HOME/tamrin, else ~/.config/tamrin).
 */
#ifndef DISCPORT_DISCPORT_H
#define DISCPORT_DISCPORT_H

#include <stdint.h>

#include "discport/cd_types.h"

#ifdef __cplusplus
#define CD_API extern "C" __attribute__((visibility("default")))
#else
#define CD_API __attribute__((visibility("default")))
#endif

#define CD_MAX_DRIVES 26

/* Interface codes; as bits of the interface mask: 1 and 2. */
#define CD_USE_NONE 0
#define CD_USE_SG 1   /* SCSI generic devices (the first pass-through interface) */
#define CD_USE_SR 2   /* CD block devices (the second pass-through interface) */

/* Library status (CdGetStatus). The codes keep their numbers; on Linux their meaning is that of
 * the SCSI generic interface: 1 no /dev/sg* device can be listed, 2 the SG_IO interface is not
 * offered (driver too old), 3 no SCSI generic device answers. */
#define CD_STATUS_OK 0
#define CD_STATUS_NO_INTERFACE 1
#define CD_STATUS_NO_ENTRY 2
#define CD_STATUS_NO_ADAPTER 3

/* Sector count flag of CdReadOpen (bit 31): read 2048-byte user data instead of raw sectors. */
#define CD_READ_USER_DATA 0x80000000u

#pragma pack(push, 1)

/* The media catalogue number as the drive returns it (15 bytes). */
typedef struct CdUpcEan
{
    uint8_t bytes[15];
} CdUpcEan;

/* Identity of the volume in a drive (720 bytes); texts end in a zero, trailing blanks are zeros.
 *   0x000 char[33] systemId          0x058 char[129] volumeSetId
 *   0x021 char[33] volumeId          0x0D9 char[129] publisherId
 *   0x042 u16 zero                   0x15A char[129] dataPreparerId
 *   0x044 u32 volumeSpaceSize        0x1DB char[129] applicationId
 *   0x048 u16 volumeSetSize          0x25C char[38]  copyrightFileId
 *   0x04A u16 volumeSequenceNumber   0x282 char[38]  abstractFileId
 *   0x04C u32 pathTableSize          0x2A8 char[38]  bibliographicFileId
 *   0x050 u32 pathTableL             0x2CE u16 zero
 *   0x054 u32 optionalPathTableL
 */
typedef struct CdVolumeInfo
{
    char systemId[33];
    char volumeId[33];
    uint16_t zero1;
    uint32_t volumeSpaceSize;
    uint16_t volumeSetSize;
    uint16_t volumeSequenceNumber;
    uint32_t pathTableSize;
    uint32_t pathTableL;
    uint32_t optionalPathTableL;
    char volumeSetId[129];
    char publisherId[129];
    char dataPreparerId[129];
    char applicationId[129];
    char copyrightFileId[38];
    char abstractFileId[38];
    char bibliographicFileId[38];
    uint16_t zero2;
} CdVolumeInfo;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(CdUpcEan) == 15, "CdUpcEan is 15 bytes");
static_assert(sizeof(CdVolumeInfo) == 720, "CdVolumeInfo is 720 bytes");
#endif

typedef struct CdReadHandle CdReadHandle;

/* ---- library and drive table ------------------------------------------------------------- */

CD_API int32_t CdGetStatus(void);
CD_API int32_t CdIsUseAspi(void); /* 1 when the SCSI generic interface is usable */
CD_API int32_t CdIsUseSpti(void); /* 1 when CD block devices can be used */
CD_API int32_t CdSetUseInterface(int32_t mask);
CD_API int32_t CdGetUseInterface(void);
CD_API int32_t CdGetDriveNum(void);
CD_API int32_t CdGetDriveInfo(int32_t drive, int32_t* hostAdapter, int32_t* target, int32_t* lun, char* vendor,
                              char* product, char* revision);

/* ---- commands ---------------------------------------------------------------------------- */

CD_API int32_t CdCheckDriveStat(int32_t drive);
CD_API int32_t CdReadToc(int32_t drive, int32_t maxEntries, CdTocEntry* entries);
CD_API int32_t CdGetTrackType(int32_t drive, const CdTocEntry* entry);
CD_API int32_t CdSetSpinSpeed(int32_t drive, int32_t speed);
CD_API int32_t CdGetCapabilities(int32_t drive, int32_t pageControl, uint32_t* word, int32_t* maxReadSpeed,
                                 int32_t* maxWriteSpeed);
CD_API int32_t CdGetUpcEanCode(int32_t drive, CdUpcEan* code);
CD_API int32_t CdGetVolumeInfo(int32_t drive, CdVolumeInfo* info);

/* ---- sector reader ----------------------------------------------------------------------- */

CD_API CdReadHandle* CdReadOpen(int32_t drive, const CdTocEntry* track, uint32_t firstSector, uint32_t countAndMode,
                                int32_t speed);
CD_API int32_t CdReadClose(CdReadHandle* reader);
CD_API int32_t CdGetSectorSize(CdReadHandle* reader);
CD_API int32_t CdSetReadPointer(CdReadHandle* reader, int32_t offset, int32_t origin);
CD_API const uint8_t* CdReadSector(CdReadHandle* reader, uint8_t* destination);
CD_API int32_t CdUnlockReadBuffer(CdReadHandle* reader, const uint8_t* sector);

/* ---- disc images ------------------------------------------------------------------------- */

/* Mounts a CUE sheet (with its BIN files), a plain ISO (2048-byte sectors) or a raw image of
 * 2352-byte sectors as a further drive. The new drive's index, or -1; then CdImageError tells
 * why, in words a user can be shown. */
CD_API int32_t CdMountImage(const char* path);
CD_API int32_t CdUnmountImage(int32_t drive);
/* The reason the last CdMountImage of this thread failed ("" when it did not). */
CD_API const char* CdImageError(void);

#endif
