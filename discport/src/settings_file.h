// Discport.ini: the interface mask, kept between runs as one "INTERFACE=<number>" line in the
// configuration folder ($TAMRIN_HOME, else $XDG_CONFIG_HOME/tamrin, else ~/.config/tamrin).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace discport {

// The configuration folder, "" when the environment names none.
std::string configFolder();
std::string settingsFilePath();

// The stored mask (the whole 32-bit value), or nothing when the file or the line is missing or
// the value is not a number of at most 32 bits.
std::optional<uint32_t> readStoredInterfaceMask();

// Writes the mask through a temporary file and a rename, creating the folder when missing; other
// lines of the file are kept. False when it could not be written.
bool storeInterfaceMask(uint32_t mask);

// The parts that work on the file's text.
std::optional<uint32_t> parseInterfaceMask(std::string_view text);
std::string withInterfaceMask(std::string_view text, uint32_t mask);

} // namespace discport
