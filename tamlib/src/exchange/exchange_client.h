// The CDAZ exchange client behind the exported calls: the reply parser, the form bodies and the
// upload, with the server and the time-outs as parameters so that tests can point them anywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cdaz/cdaz_shared_check.h"
#include "tamlib/exchange.h"

namespace tamlib::exchange {

// Where requests go and how long they may take.
struct Endpoint
{
    std::string address; // "host" or "host:port"; empty: the exchange is off
    long connectMs = 5000;
    long totalMs = 30000;
    long lowSpeedBytes = 64;   // a transfer slower than this many bytes a second ...
    long lowSpeedSeconds = 10; // ... for this long is given up
};

// The endpoint of the settings with the usual time-outs.
Endpoint configuredEndpoint();

// The language code sent to the server: string 10037 of the current language.
std::string languageCode();

// Parses a search reply into at most `capacity` records (each cleared first); the number of
// complete records. Lines end with LF; the first line with fewer than eleven TAB-separated fields
// or a field 1, 6 or 7 beyond its limit ends the parse, as does text without a further LF.
size_t parseSearchReply(std::span<const uint8_t> body, CdazSearchRecord* records, size_t capacity);

// The form body of a search and of a download.
std::string searchBody(const char* name, const char* language);
std::string downloadBody(const char* name, const char* language, int32_t revision);

int32_t search(const Endpoint& endpoint, const char* name, const char* language, CdazSearchRecord* records);

// What a download is checked against before its record is handed out: the disc in the drive.
struct DownloadCheck
{
    std::span<const CdTocEntry> tracks; // the disc's track table
    const char* discName = nullptr;     // the CDAZ name made for it
    SharedCdazFault fault = SharedCdazFault::None; // out: why the record was refused
};

// Downloads and loads a CDAZ. The file must be exactly one version-5 CDAZ; with `check`, the
// record must also be a complete analysis of that disc with streams inside it (else null, and
// check->fault says why).
CdazRecord* download(const Endpoint& endpoint, int32_t revision, const char* language, const char* name,
                     DownloadCheck* check = nullptr);

// The multipart request of an upload, ready to send.
struct UploadRequest
{
    std::string boundary;
    std::vector<uint8_t> bytes; // head, file, tail
    size_t headBytes = 0;
    size_t tailBytes = 0;
};

// Builds the upload of `record` with the file bytes `file`; `tick` gives the six hexadecimal
// digits of the boundary, `unique` the eight after them (moved on while the boundary occurs in
// the file).
UploadRequest buildUpload(const CdazRecord& record, const char* language, std::span<const uint8_t> file,
                          uint32_t tick, uint32_t unique);

// Sends the upload; true when the request went out completely (the answer is not examined).
bool upload(const Endpoint& endpoint, const char* folder, const char* fileName, CdazRecord* record,
            const char* language);

// The millisecond tick count.
uint32_t tickCount();

} // namespace tamlib::exchange
