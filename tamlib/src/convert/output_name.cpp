// The names outputs get when the user chose none, made alike for the desktop program, the
// command-line tool and the batch driver: the type's folder, the stream's title or the source
// file's name, the type's extension.
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "tamlib/convert.h"
#include "tamrin_common/c_guard.h"

namespace tamlib::convert {

namespace {

// Characters that other systems' file names cannot hold, or that would make the title a path.
constexpr std::string_view kReplaced = "\\/:,;*<>|?\"";

const char* extensionOf(int32_t type, uint16_t mp3Format)
{
    switch (type) {
    case PLB_CONV_TYPE_AVI:
        return "avi";
    case PLB_CONV_TYPE_WAVE:
        return "wav";
    case PLB_CONV_TYPE_CSTR:
        return "cstr";
    case PLB_CONV_TYPE_BMP:
        return "bmp";
    case PLB_CONV_TYPE_MIDI:
        return "mid";
    case PLB_CONV_TYPE_MP3:
        return mp3Format == 1 ? "wav" : mp3Format == 2 ? "rmp" : "mp3";
    default:
        return nullptr;
    }
}

// The text with its final 0 into `out`; its length, or 0 when it does not fit.
int32_t deliver(const std::string& text, char* out, uint32_t capacity)
{
    if (!out || capacity == 0)
        return 0;
    if (text.empty() || text.size() >= capacity || text.size() > size_t(INT32_MAX)) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return int32_t(text.size());
}

int32_t defaultOutputName(const char* title, const char* sourceFile, int32_t type, uint16_t mp3Format,
                          const char* folder, char* out, uint32_t capacity)
{
    const char* extension = extensionOf(type, mp3Format);
    std::string base;
    if (title && *title)
        base = title;
    else if (sourceFile && *sourceFile)
        base = std::filesystem::path(sourceFile).stem().string();
    if (!extension)
        return deliver({}, out, capacity);
    // Bytes of multi-byte characters are all 0x80 or above, so none of them is replaced. Control
    // characters go too; leading dots and blanks would hide the file (or name "..").
    for (char& c : base)
        if (kReplaced.find(c) != std::string_view::npos || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '_';
    base.erase(0, base.find_first_not_of(". "));
    if (base.empty())
        return deliver({}, out, capacity);
    std::string path = folder ? folder : "";
    if (!path.empty() && path.back() != '/')
        path += '/';
    return deliver(path + base + "." + extension, out, capacity);
}

int32_t numberedOutputName(const char* path, uint32_t number, char* out, uint32_t capacity)
{
    if (!path || !*path)
        return deliver({}, out, capacity);
    std::string text = path;
    if (number < 2)
        return deliver(text, out, capacity);
    const size_t nameStart = text.rfind('/') == std::string::npos ? 0 : text.rfind('/') + 1;
    size_t dot = text.rfind('.');
    // A dot that starts the name (a hidden file) or lies in the folder is no extension's.
    if (dot == std::string::npos || dot <= nameStart)
        dot = text.size();
    text.insert(dot, " (" + std::to_string(number) + ")");
    return deliver(text, out, capacity);
}

} // namespace

} // namespace tamlib::convert

PLB_API int32_t PlbDefaultOutputName(const char* title, const char* sourceFile, int32_t type,
                                     uint16_t mp3Format, const char* folder, char* out, uint32_t capacity)
{
    return tamrin::guarded<int32_t>(0, [&] {
        return tamlib::convert::defaultOutputName(title, sourceFile, type, mp3Format, folder, out, capacity);
    });
}

PLB_API int32_t PlbNumberedOutputName(const char* path, uint32_t number, char* out, uint32_t capacity)
{
    return tamrin::guarded<int32_t>(
        0, [&] { return tamlib::convert::numberedOutputName(path, number, out, capacity); });
}
