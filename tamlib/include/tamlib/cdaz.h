/*
 * CDAZ records, files and their store. A CDAZ is the analysis of one disc: the streams the
 * format plugins found on it, the plugin entries that found them (their index is the plugin's
 * priority, 0 the highest) and a few texts of the disc. Callers hold a record only through
 * this opaque pointer, from PlbAllocCDAZ or PlbLoadCDAZ until PlbFreeCDAZ.
 *
 * Folders are full paths without a trailing separator; a null folder is the default "Analyze"
 * folder of the environment. Every operation returns its failure value for a null record or an
 * index outside the tables and then changes nothing.
 */
#ifndef TAMLIB_CDAZ_H
#define TAMLIB_CDAZ_H

#include "discport/cd_types.h"
#include "discport/discport.h"
#include "streamkit/psr.h"
#include "tamlib/plb.h"

typedef struct CdazRecord CdazRecord;
typedef struct CdazSearch CdazSearch;

/* Text buffers the operations fill: at least these many bytes each. */
#define PLB_CDAZ_NAME_BYTES 49
#define PLB_CDAZ_TITLE_BYTES 65
#define PLB_CDAZ_PREFIX_BYTES 17
#define PLB_CDAZ_PLUGIN_FILE_BYTES 17
#define PLB_CDAZ_PLUGIN_NAME_BYTES 49
#define PLB_CDAZ_AUTHOR_BYTES 81
#define PLB_CDAZ_ADDRESS_BYTES 81
#define PLB_CDAZ_STREAM_NAME_BYTES 260 /* longer stream names are cut */

/* cdazFlags */
#define PLB_CDAZ_KEEP_OVERLAPS 0x01
/* pluginFlags */
#define PLB_CDAZ_PLUGIN_OFF 0x01
/* streamFlags */
#define PLB_CDAZ_STREAM_USER_HIDDEN 0x01
#define PLB_CDAZ_STREAM_USER1 0x02
#define PLB_CDAZ_STREAM_USER2 0x04
#define PLB_CDAZ_STREAM_NO_PLUGIN 0x10
#define PLB_CDAZ_STREAM_REANALYZE 0x20
#define PLB_CDAZ_STREAM_HIDDEN 0x40
#define PLB_CDAZ_STREAM_NO_KIND 0x80

/* Load status: bits of a loaded record, or one of the failure values. */
#define PLB_CDAZ_LOAD_NO_PLUGIN 0x00000001u
#define PLB_CDAZ_LOAD_REANALYZE 0x00000002u
#define PLB_CDAZ_LOAD_OTHER_FOLDER 0x00001000u
/* The file is of an older format version and was converted in memory only: it is left as it was
 * (it cannot be written, or PlbReadCDAZ was asked). */
#define PLB_CDAZ_LOAD_IN_MEMORY 0x00002000u
#define PLB_CDAZ_LOAD_BAD_VERSION 0x01000000u
#define PLB_CDAZ_LOAD_MISSING 0x02000000u
#define PLB_CDAZ_LOAD_CANNOT_OPEN 0x03000000u
#define PLB_CDAZ_LOAD_CORRUPT 0x04000000u

/* What PlbLoadCDAZ returns: the record (null when not loaded) and the status word together. */
typedef struct PlbCdazLoad
{
    CdazRecord* record;
    uint32_t status;
} PlbCdazLoad;

/* The CDAZ name of a disc (volume identifier, track count and layout, end sector, ".cdaz") into
 * `name` (PLB_CDAZ_NAME_BYTES); returns `name`, or null when it is null. */
PLB_API char* PlbMakeCDAZName(int32_t trackCount, const CdTocEntry* tracks, const CdVolumeInfo* volume,
                              char* name);
/* Lists "*.cdaz" of the default folder: first call with a null handle, then with the handle
 * returned; null when no file is left (the listing is then closed). A null name closes it. */
PLB_API CdazSearch* PlbFindCDAZ(CdazSearch* search, char* name);
/* Loads a CDAZ file; a file of an older format version is first replaced by its version-5 form
 * (when that cannot be written, the record is converted in memory: PLB_CDAZ_LOAD_IN_MEMORY). A
 * file that does not read back whole is damaged (PLB_CDAZ_LOAD_CORRUPT) and left untouched. */
PLB_API PlbCdazLoad PlbLoadCDAZ(const char* folder, const char* fileName, int32_t* status);
/* As PlbLoadCDAZ, but the file is never written: an older format version is converted in memory
 * only (PLB_CDAZ_LOAD_IN_MEMORY). For programs that only look at a CDAZ. */
PLB_API PlbCdazLoad PlbReadCDAZ(const char* folder, const char* fileName, int32_t* status);
/* 1, or 0 on failure (errno then tells why when the file could not be written: EFBIG for the
 * file-size limit, ENOSPC, EACCES, ...); an earlier file of the same name is kept when the save
 * fails, and nothing is left beside it. */
PLB_API int32_t PlbSaveCDAZ(const char* folder, const char* fileName, CdazRecord* record);
PLB_API int32_t PlbDeleteCDAZ(const char* folder, const char* fileName);

PLB_API CdazRecord* PlbAllocCDAZ(const char* name, const char* title, const char* prefix,
                                 const CdVolumeInfo* volume, int32_t pluginCapacity, int32_t streamCapacity);
PLB_API void PlbFreeCDAZ(CdazRecord* record);

/* Stream count, or -1 for a null record. */
PLB_API int32_t PlbGetCDAZInfo(CdazRecord* record, char* name, char* title, char* prefix, int32_t* flags,
                               int32_t* anaSector);
PLB_API int32_t PlbSetCDAZInfo(CdazRecord* record, const char* title, const char* prefix, int32_t mask,
                               int32_t value);
PLB_API int32_t PlbSetCDAZAnaSector(CdazRecord* record, int32_t sector);

PLB_API int32_t PlbGetCDAZStream(CdazRecord* record, int32_t index, StrInfo* info, char* name, int32_t* flags,
                                 int32_t* pluginIndex);
PLB_API int32_t PlbSetCDAZStream(CdazRecord* record, int32_t index, const StrInfo* info, const char* name,
                                 int32_t mask, int32_t value);
PLB_API int32_t PlbSetStreamCDAZ(CdazRecord* record, const char* streamName, const StrInfo* info,
                                 const char* pluginFile, int32_t pluginVersion, const char* author,
                                 const char* address);

PLB_API int32_t PlbGetCDAZPlugin(CdazRecord* record, int32_t index, char* fileName, char* name,
                                 int16_t* version, char* author, char* address);
/* The resulting plugin flags, or -1. */
PLB_API int32_t PlbSetCDAZPluginFlags(CdazRecord* record, int32_t index, int32_t mask, int32_t value);
PLB_API int32_t PlbSetCDAZPluginPriority(CdazRecord* record, int32_t from, int32_t to);
PLB_API int32_t PlbSetCDAZPluginPriAll(CdazRecord* record, int32_t count, const int32_t* positions);

#ifdef __cplusplus

#include <string>

#ifndef PLB_CXX_API
#define PLB_CXX_API __attribute__((visibility("default")))
#endif

namespace tamlib {

// What a record keeps of its disc and its file besides the texts the C calls give.
struct CdazIdentity
{
    uint8_t version = 0;         // the format version of the file it was loaded from (5 when new)
    uint32_t analyzeVersion = 0; // the analysing library's version
    std::string systemId, volumeId, publisherId;
};

// The identity of `record`; false for a null record.
PLB_CXX_API bool cdazIdentity(const CdazRecord* record, CdazIdentity& identity);

} // namespace tamlib

#endif

#endif
