// From a compressed MDEC frame to its run-level buffer.
//
// Frame payload (little-endian u16 words):
//   0x00 codeWords  run-level buffer size in 32-bit words (2 x codeWords codes)
//   0x02 magic      0x3800 in movie streams, copied, not checked
//   0x04 qscale     quantiser scale; in the DC-table form the frame width
//   0x06 version    3: differential DC; below 16 otherwise: plain DC; 16 and up: DC-table form,
//                   and the field is the frame height
//   0x08 ...        bitstream (versions below 16)
// DC-table form:
//   0x08 tableBytes, 0x0A LZ-packed DC table of 2 x blocks bytes,
//   0x0A + (tableBytes & ~1) bitstream
// The bitstream is read from the top bit of each word, word after word; bits beyond the
// payload read as zero.
//
// Run-level buffer: codeWords, magic, 2 x codeWords MDEC codes, then six 0xFE00 guard codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace streamkit::mdec {

constexpr size_t kGuardCodes = 6;
constexpr size_t kRunLevelHeaderWords = 2;

// Decodes the payload into `buffer` (grown when too small, reused otherwise). False when the
// frame yields nothing: a payload shorter than its header, or a DC table describing no block.
bool decodeBitstream(const uint8_t* payload, size_t payloadBytes, std::vector<uint16_t>& buffer);

// Expands an LZ-packed DC table into `out` (its whole size); bytes the input lacks read as 0.
void expandDcTable(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes);

} // namespace streamkit::mdec
