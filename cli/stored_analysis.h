// The streams of a CDAZ record as tamrin-cli lists them, and the stored analysis of the disc in
// a drive (the CDAZ the analyze command saved for it).
#ifndef TAMRIN_CLI_STORED_ANALYSIS_H
#define TAMRIN_CLI_STORED_ANALYSIS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "streamkit/psr.h"
#include "tamlib/cdaz.h"

namespace tamrin::cli {

struct RecordFree
{
    void operator()(CdazRecord* record) const { PlbFreeCDAZ(record); }
};
using RecordPtr = std::unique_ptr<CdazRecord, RecordFree>;

struct StoredStream
{
    int32_t index = 0;   // in the record, from 0
    uint32_t number = 0; // from 1 among the listed streams; 0 for a stream that is not listed
    std::string name;    // its own name, else the default title (prefix and number)
    int32_t flags = 0;   // streamFlags
    std::string pluginFile;
    StrInfo info{};
    std::string hiddenBecause; // why a stream is not listed; empty for listed ones
};

// Every stream of the record; the listed ones (not hidden for any reason) are numbered.
std::vector<StoredStream> storedStreams(CdazRecord* record);

// The CDAZ saved for the disc in `drive` (its name made from the disc's table of contents and
// volume); null with `error` set when there is none or it cannot be loaded.
RecordPtr loadStoredAnalysis(int32_t drive, std::string& error);

// Splits "ARGUMENT#N" (digits only) into the argument and N; false when it has no such suffix.
// N may be 0, which names no stream: the caller says so.
bool splitStreamSuffix(const std::string& text, std::string& argument, uint32_t& number);

} // namespace tamrin::cli

#endif
