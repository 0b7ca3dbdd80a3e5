// The header of a CDAZ file, read for the texts and versions that the library's calls do not
// give.
#ifndef TAMRIN_CLI_CDAZ_HEADER_H
#define TAMRIN_CLI_CDAZ_HEADER_H

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace tamrin::cli {

// The version-5 header and the disc identifiers of its string area.
//   0x00 u8  format version (5)         0x14 u32 string index of systemId
//   0x01 u8  cdazFlags                  0x18 u32 string index of volumeId
//   0x02 u16 plugin count               0x1C u32 string index of publisherId
//   0x04 u32 stream count               0x20 u32 analyzeVersion
//   0x08 u32 string index of name       0x24 i32 anaSector
//   0x0C u32 string index of title      0x28 u32 number of strings N
//   0x10 u32 string index of prefix     0x2C u32 string area size Z
// The string area follows: N zero-terminated strings and one more zero; index k names the k-th
// string, 0 the empty one.
struct CdazHeader
{
    uint8_t version = 0;
    uint32_t analyzeVersion = 0;
    std::string systemId, volumeId, publisherId;
};
constexpr size_t kCdazHeaderBytes = 48;

// The header of a file's first bytes (the header and the whole string area); nothing when they
// are short, of another version, or name strings the area does not hold.
std::optional<CdazHeader> parseCdazHeader(std::span<const uint8_t> bytes);
// The header of the file; nothing when it cannot be read or parsed.
std::optional<CdazHeader> readCdazHeader(const std::filesystem::path& path);

} // namespace tamrin::cli

#endif
