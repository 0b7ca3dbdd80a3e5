// The CDAZ file: format version 5 written and read in memory, and version 4 read and turned into
// a record. The store (cdaz_store.cpp) puts these on disc.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "cdaz/cdaz_record.h"

namespace tamlib {

constexpr size_t kCdazHeaderBytes = 48;
constexpr size_t kCdazRecordBits = 480; // coded stream record, 60 bytes
constexpr uint32_t kRankEnd = 511;

// A coded stream record (the delta of two stream entries), 60 bytes.
using Record60 = std::array<uint8_t, kCdazRecordBits / 8>;

// Plugin blocks: byte i of a block is byte kPluginOrder[i] of the 16-byte plugin record (the low
// bytes of the three string indices and the version first, the high bytes last).
constexpr uint8_t kPluginOrder[16] = {4, 0, 8, 12, 2, 1, 5, 9, 13, 6, 10, 14, 3, 7, 11, 15};

// Run symbols of stream records beside the run lengths 0 to 29: 30 clear bits, end of record.
constexpr int kRunSkip30 = 30;
constexpr int kRunEnd = 31;

// The version-5 file of a record as it is (the caller normalises first). Throws std::bad_alloc
// when memory runs out.
std::vector<uint8_t> cdazWriteV5(const CdazRecord& record);

// Parses a version-5 file: the record as stored (no post-load check), or null when the bytes
// are short or corrupt or memory runs out. With `whole`, the bytes must also be exactly one file
// as the writer makes it: a string area of exactly the announced strings, and nothing after the
// last stream block but the zero bits that pad its last byte.
CdazRecord* cdazReadV5(std::span<const uint8_t> bytes, bool whole = false);

// Reads a version-4 file and converts it to the version-5 record (analyzeVersion 0, display
// sizes filled in); null when the file ends before its plugin records or is otherwise unusable.
// The streams that are there are read from a file cut short; `whole` (when given) tells whether
// every announced stream was.
CdazRecord* cdazReadV4(std::span<const uint8_t> bytes, bool* whole = nullptr);

// Parses a version-5 file and runs the post-load check: the record with its loadStatus set
// (status bits | extraStatus), or null with *status = the failure value.
CdazRecord* cdazLoadV5(std::span<const uint8_t> bytes, std::span<const InstalledPlugin> installed,
                       uint32_t extraStatus, uint32_t* status);

} // namespace tamlib
