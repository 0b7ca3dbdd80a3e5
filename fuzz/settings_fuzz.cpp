// Reads arbitrary bytes as the settings file "Tamlib.ini": every value must land in its range,
// and the settings written back must read back the same. Each line also goes through the line
// splitter on its own, whose tokens must stay inside the line they were cut from.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "env/settings.h"
#include "tamlib/strings.h"

namespace {

void check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void checkRanges(const tamlib::Settings& s)
{
    using namespace tamlib;
    check(s.drive >= -1);
    check(s.vendor.size() <= kDriveTextMax && s.product.size() <= kDriveTextMax &&
          s.revision.size() <= kDriveTextMax);
    for (int32_t colour : {s.luminosity, s.blue, s.red})
        check(colour >= kColorMin && colour <= kColorMax);
    check(s.gamma >= kGammaMin && s.gamma <= kGammaMax);
    check(s.localMode <= kModeMax && s.serverMode <= kModeMax && s.uploadMode <= kModeMax);
    for (const StoredPlugin& plugin : s.plugins)
        check(!plugin.fileName.empty() && plugin.fileName.size() <= kPluginFileMax);
}

void splitLine(std::string_view line, int32_t capacity)
{
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    const size_t length = std::strlen(buffer.data());
    std::vector<char*> args(size_t(capacity > 0 ? capacity : 1), nullptr);
    const int32_t count = PlbGetParam(buffer.data(), capacity, args.data());
    check(count >= 0 && count <= (capacity > 0 ? capacity : 0));
    for (int32_t i = 0; i < count; ++i) {
        const char* token = args[size_t(i)];
        check(token >= buffer.data() && token <= buffer.data() + length);
        check(token + std::strlen(token) <= buffer.data() + length);
        check(std::strchr(token, '"') == nullptr);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const tamlib::Settings settings = tamlib::parseSettings(bytes);
    checkRanges(settings);
    const std::string written = tamlib::formatSettings(settings);
    check(tamlib::parseSettings(written) == settings);

    const int32_t capacity = size > 0 ? int32_t(data[0] % 12) : 8;
    size_t pos = 0;
    while (pos < bytes.size()) {
        size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos)
            end = bytes.size();
        splitLine(bytes.substr(pos, end - pos), capacity);
        pos = end + 1;
    }
    return 0;
}
