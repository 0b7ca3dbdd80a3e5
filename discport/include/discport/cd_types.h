/* Records of the CD access library that other libraries and plugins share. */
#ifndef DISCPORT_CD_TYPES_H
#define DISCPORT_CD_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

/* One track of the table of contents (12 bytes).
 *   0x00 u8   track    track number as the drive reports it
 *   0x01 u8   control  ADR/control byte; bit 0x04 set = data track
 *   0x02 u8[2]         not written by the reader of the TOC
 *   0x04 u32  start    first sector (logical block address)
 *   0x08 u32  length   sectors in the track
 */
typedef struct CdTocEntry
{
    uint8_t track;
    uint8_t control;
    uint8_t unused[2];
    uint32_t start;
    uint32_t length;
} CdTocEntry;

#pragma pack(pop)

#define CD_TOC_DATA_TRACK 0x04

#ifdef __cplusplus
}
static_assert(sizeof(CdTocEntry) == 12, "CdTocEntry is 12 bytes");
#endif

#endif
