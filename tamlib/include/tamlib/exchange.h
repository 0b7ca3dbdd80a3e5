/*
 * The CDAZ exchange: analyses of discs shared through a web server reached over plain HTTP.
 * The server's address is a setting (PlbSetServer, tamlib/environment.h); while it is empty the
 * exchange is off and every call below returns its failure value at once. Every request gives up
 * after 5 seconds without a connection, after 30 seconds in all, or when less than 64 bytes a
 * second arrive for 10 seconds; failures show no message (the caller decides what to tell).
 */
#ifndef TAMLIB_EXCHANGE_H
#define TAMLIB_EXCHANGE_H

#include <stddef.h>

#include "tamlib/cdaz.h"
#include "tamlib/plb.h"

/* Most records one search fills. */
#define PLB_EXCHANGE_MAX_RECORDS 16

/* One CDAZ the server holds: one line of the search reply (fields 1 to 10).
 *   0x00 char[4]   language         at most 3 characters
 *   0x04 i16       number           kept, not used
 *   0x06 u16       revision         the server's revision, asked for again by PlbDownloadCDAZ
 *   0x08 u32       analyzeVersion
 *   0x0C u32       pluginVersionSum
 *   0x10 char[66]  title            at most 65 characters
 *   0x52 char[130] publisher        at most 129 characters
 *   0xD4 u32       pluginCount
 *   0xD8 u32       streamCount
 *   0xDC u32       effectiveStreams
 *   0xE0 i32       end              0 */
typedef struct CdazSearchRecord
{
    char language[4];
    int16_t number;
    uint16_t revision;
    uint32_t analyzeVersion;
    uint32_t pluginVersionSum;
    char title[66];
    char publisher[130];
    uint32_t pluginCount;
    uint32_t streamCount;
    uint32_t effectiveStreams;
    int32_t end;
} CdazSearchRecord;

#ifdef __cplusplus
static_assert(sizeof(CdazSearchRecord) == 228, "CdazSearchRecord is 228 bytes");
#else
_Static_assert(sizeof(CdazSearchRecord) == 228, "CdazSearchRecord is 228 bytes");
#endif

/* Asks the server for the CDAZ of `name`; fills `records` (room for PLB_EXCHANGE_MAX_RECORDS)
 * and returns how many were filled, 0 to 16. 0 also when the exchange is off, the server cannot
 * be reached, or its reply is not understood. */
PLB_API int32_t PlbSearchCDAZ(const char* name, CdazSearchRecord* records);

/* Fetches revision `revision` in `language` of the CDAZ `name` (as a search record names it) and
 * loads it; the caller frees the record with PlbFreeCDAZ. Null when the server does not answer
 * with status 200, the reply is larger than 16 MiB, or the file does not load. The file passes
 * through a temporary file in $TMPDIR (else /tmp) that is removed on every path. */
PLB_API CdazRecord* PlbDownloadCDAZ(int32_t revision, const char* language, const char* name);

/* Sends the CDAZ file of `record` (in `folder`, null for the default "Analyze" folder, named
 * `fileName`, null for the record's own name) to the server. Nothing is sent for a null record, a
 * file that cannot be read or one larger than 16 MiB. The server's answer is not examined: the
 * result is always 0. */
PLB_API int32_t PlbUploadCDAZ(const char* folder, const char* fileName, CdazRecord* record);

/* The result of PlbEncodeBase64: ok 1 and value = the last character written before the
 * terminating zero (0 for an empty input), or ok 0 and value = the length the text needs
 * (4 x ceil(length / 3), terminator excluded) when that is not below `capacity`. */
typedef struct PlbBase64Result
{
    int32_t ok;
    int32_t value;
} PlbBase64Result;

/* Standard Base64 (RFC 4648 alphabet, '=' padding) of `length` bytes of `data` into `output`,
 * followed by a zero. A negative length, or a null data or output where bytes are needed, gives
 * ok 0 and value 0. */
PLB_API PlbBase64Result PlbEncodeBase64(const void* data, int32_t length, int32_t capacity, char* output);

/* Which of two CDAZ of one disc is newer: the local record or the server's. The first of these
 * that differs decides, the greater value being newer: analysis version, plugin count, sum of the
 * plugin versions, effective streams, streams. Returns 1 when the local record is newer, 0 when the
 * server's is (also for a null local record), and `tie` when all are equal. A null server record
 * counts as older than any local record. A local record changed since its last normalisation is
 * normalised first, so that its effective stream count is current. */
PLB_API int32_t PlbCompareCDAZ(CdazRecord* local, const CdazSearchRecord* server, int32_t tie);

#endif
