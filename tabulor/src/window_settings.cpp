// The window settings file, Tabulor.ini in the configuration folder: one 344-byte record, every
// number a 32-bit little-endian integer.
//   0x00 placed (1: the rectangle below is used; 0: the system places the window)
//   0x04 left     0x08 top     0x0C width     0x10 height
//   0x14 detail panel width
//   0x18 stream list column widths, 7 of them (to 0x34)
//   0x34 zeros up to 0x158
// A file of any other size, or a field out of range, gives the defaults (for that field).
#include <array>
#include <fstream>
#include <span>
#include <system_error>

#include "cdaz_session.h"
#include "tamrin_common/file_replace.h"
#include "tamrin_common/user_folders.h"

namespace tabulor {

namespace {

constexpr size_t kPlaced = 0x00;
constexpr size_t kRectangle = 0x04;
constexpr size_t kDetailWidth = 0x14;
constexpr size_t kColumns = 0x18;
constexpr size_t kUsedEnd = kColumns + 7 * 4;
static_assert(kUsedEnd <= kWindowSettingsSize);

// Larger than any screen: a value past it is not a width this program wrote.
constexpr int32_t kMaxExtent = 100000;

int32_t readInt(const std::array<uint8_t, kWindowSettingsSize>& bytes, size_t offset)
{
    return int32_t(uint32_t(bytes[offset]) | uint32_t(bytes[offset + 1]) << 8 |
                   uint32_t(bytes[offset + 2]) << 16 | uint32_t(bytes[offset + 3]) << 24);
}

void writeInt(std::array<uint8_t, kWindowSettingsSize>& bytes, size_t offset, int32_t value)
{
    const uint32_t bits = uint32_t(value);
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = uint8_t(bits >> (8 * i));
}

bool validExtent(int32_t value)
{
    return value > 0 && value <= kMaxExtent;
}

} // namespace

std::string windowSettingsPath()
{
    const std::filesystem::path folder = tamrin_common::configFolder();
    return folder.empty() ? std::string() : (folder / "Tabulor.ini").string();
}

WindowSettings readWindowSettings(const std::string& path)
{
    const WindowSettings defaults;
    if (path.empty())
        return defaults;
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return defaults;
    std::array<uint8_t, kWindowSettingsSize> bytes{};
    file.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    if (size_t(file.gcount()) != bytes.size() || file.peek() != std::char_traits<char>::eof())
        return defaults;

    WindowSettings settings;
    const int32_t left = readInt(bytes, kRectangle), top = readInt(bytes, kRectangle + 4);
    const int32_t width = readInt(bytes, kRectangle + 8), height = readInt(bytes, kRectangle + 12);
    if (readInt(bytes, kPlaced) == 1 && validExtent(width) && validExtent(height) && left > -kMaxExtent &&
        left < kMaxExtent && top > -kMaxExtent && top < kMaxExtent) {
        settings.placed = true;
        settings.left = left;
        settings.top = top;
        settings.width = width;
        settings.height = height;
    }
    if (const int32_t detail = readInt(bytes, kDetailWidth); detail >= 0 && detail <= kMaxExtent)
        settings.detailWidth = detail;
    for (size_t i = 0; i < 7; ++i)
        if (const int32_t column = readInt(bytes, kColumns + 4 * i); validExtent(column))
            settings.columns[i] = column;
    return settings;
}

bool writeWindowSettings(const std::string& path, const WindowSettings& settings)
{
    if (path.empty())
        return false;
    std::array<uint8_t, kWindowSettingsSize> bytes{};
    writeInt(bytes, kPlaced, settings.placed ? 1 : 0);
    if (settings.placed) {
        writeInt(bytes, kRectangle, settings.left);
        writeInt(bytes, kRectangle + 4, settings.top);
        writeInt(bytes, kRectangle + 8, settings.width);
        writeInt(bytes, kRectangle + 12, settings.height);
    }
    writeInt(bytes, kDetailWidth, settings.detailWidth);
    for (size_t i = 0; i < 7; ++i)
        writeInt(bytes, kColumns + 4 * i, settings.columns[i]);
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    return tamrin_common::replaceFile(path, std::span<const uint8_t>(bytes));
}

} // namespace tabulor
