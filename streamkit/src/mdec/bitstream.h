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
// `maxBlocks` is the number of blocks of the picture the codes are for: codes no picture block
// can reach are not decoded, so memory and time follow the picture's size, not the frame's
// own size fields.
bool decodeBitstream(const uint8_t* payload, size_t payloadBytes, std::vector<uint16_t>& buffer,
                     size_t maxBlocks = SIZE_MAX);

// Expands an LZ-packed DC table into `out` (its whole size); bytes the input lacks read as 0.
void expandDcTable(const uint8_t* in, size_t inBytes, uint8_t* out, size_t outBytes);

// The same for a table of 2 x `blocks` bytes of which only the first `kept` bytes of each half
// are wanted (`kept` at most `blocks`): they go to `high` and `low`. Working memory stays small
// whatever `blocks` is.
void expandDcHalves(const uint8_t* in, size_t inBytes, size_t blocks, size_t kept, uint8_t* high,
                    uint8_t* low);

} // namespace streamkit::mdec
