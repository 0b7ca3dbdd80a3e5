// The video codec exports: the list of usable codecs, their descriptions, the choice through the
// user-interface port, and a codec found by name. The codecs themselves live in the AVI module;
// this side only reads its table.
#include "convert/avi_codecs.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "convert/avi_module.h"
#include "streamkit/lbr.h"
#include "tamlib/environment.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"
#include "tamrin_common/c_guard.h"

namespace tamlib::convert {

namespace {

constexpr uint32_t kNoCodecName = 0x00424944; // "DIB"

// The codecs as the AVI module lists them, once the module is loaded (convert/avi_module.h).
const TamlibAviModule* g_module = nullptr;

int32_t moduleCount() noexcept
{
    int32_t count = 0;
    while (g_module->codecAt(count, nullptr, nullptr) == 1)
        ++count;
    return count;
}

int32_t moduleEntry(int32_t index, PlbAviCompression* options, PlbAviCodecInfo* info) noexcept
{
    return g_module->codecAt(index, options, info);
}

const avi::CodecTable kModuleTable = {sizeof(avi::CodecTable), &moduleCount, &moduleEntry};

// Loaded once and kept for the rest of the process; the reason of a failure goes to the debug log.
const avi::CodecTable* moduleTable()
{
    static std::once_flag once;
    static const avi::CodecTable* table = nullptr;
    std::call_once(once, [] {
        std::string why;
        g_module = aviModule(&why);
        if (!g_module) {
            PlbDEBUG("avi: %s\n", why.c_str());
            return;
        }
        table = &kModuleTable;
    });
    return table;
}

std::atomic<CodecTableSource> g_source{nullptr};

// The description of the last codec looked up, with its type and handler.
struct KeptInfo
{
    std::mutex mutex;
    uint32_t type = 0;
    uint32_t handler = 0;
    PlbAviCodecInfo info{};
};

KeptInfo& kept()
{
    static KeptInfo instance;
    return instance;
}

void forgetKept()
{
    KeptInfo& cache = kept();
    std::lock_guard lock(cache.mutex);
    cache.type = 0;
    cache.handler = 0;
    cache.info = {};
}

uint32_t upperHandler(uint32_t handler)
{
    uint32_t result = 0;
    for (int shift = 0; shift < 32; shift += 8)
        result |= uint32_t(std::toupper(int((handler >> shift) & 0xFF))) << shift;
    return result;
}

// Hands the table's entries in order to `visit(entry, info)` until it answers true (the entry
// sought) or an entry cannot be read; true when one was found.
template <typename Visit>
bool visitEntries(const avi::CodecTable& table, Visit visit)
{
    const int32_t count = table.count();
    for (int32_t index = 0; index < count; ++index) {
        PlbAviCompression entry{};
        PlbAviCodecInfo entryInfo{};
        if (!table.entry(index, &entry, &entryInfo))
            break;
        if (visit(entry, entryInfo))
            return true;
    }
    return false;
}

// The first entry that `match(entry, info)` accepts, copied out.
template <typename Match>
bool findEntry(const avi::CodecTable& table, Match match, PlbAviCompression* options, PlbAviCodecInfo* info)
{
    return visitEntries(table, [&](const PlbAviCompression& entry, const PlbAviCodecInfo& entryInfo) {
        if (!match(entry, entryInfo))
            return false;
        if (options)
            *options = entry;
        if (info)
            *info = entryInfo;
        return true;
    });
}

// The table's entry of a handler (any case).
bool lookUp(const avi::CodecTable& table, uint32_t handler, PlbAviCompression* options, PlbAviCodecInfo* info)
{
    return findEntry(
        table,
        [&](const PlbAviCompression& entry, const PlbAviCodecInfo&) {
            return upperHandler(entry.handler) == upperHandler(handler);
        },
        options, info);
}

bool equalNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(uint8_t(x)) == std::tolower(uint8_t(y));
           });
}

std::string handlerText(uint32_t handler)
{
    std::string text;
    for (int shift = 0; shift < 32; shift += 8)
        text += char((handler >> shift) & 0xFF);
    return text;
}

// A text field of a record from the module, which need not end within the field.
std::string fieldText(const char* field, size_t size)
{
    return std::string(field, strnlen(field, size));
}

} // namespace

const avi::CodecTable* aviCodecs()
{
    if (const CodecTableSource source = g_source.load())
        return source();
    return moduleTable();
}

CodecTableSource setAviCodecSource(CodecTableSource source)
{
    const CodecTableSource previous = g_source.exchange(source);
    forgetKept();
    return previous;
}

} // namespace tamlib::convert

using namespace tamlib::convert;

PLB_API int32_t PlbGetAVIOptionInfo(const PlbAviCompression* options, PlbAviCodecInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!info)
            return 0;
        std::memset(info, 0, sizeof *info);
        char text[PLB_STRING_MAX];
        std::snprintf(info->description, sizeof info->description, "%s",
                      PlbLoadString(nullptr, text, PLB_IDS_AVI_NO_COMPRESSION));
        std::memcpy(info->name, &kNoCodecName, sizeof kNoCodecName);
        if (!options)
            return 0;
        info->quality = options->quality;
        info->keyFrameEvery = options->keyFrameEvery;
        info->bytesPerSecond = options->bytesPerSecond;
        if (options->type == 0 || options->handler == 0)
            return 0;

        KeptInfo& cache = kept();
        std::lock_guard lock(cache.mutex);
        if (cache.handler == 0 || cache.type != options->type ||
            upperHandler(cache.handler) != upperHandler(options->handler)) {
            const tamlib::avi::CodecTable* table = aviCodecs();
            PlbAviCodecInfo found{};
            if (!table || !lookUp(*table, options->handler, nullptr, &found)) {
                cache.type = 0;
                cache.handler = 0;
                return 0;
            }
            cache.type = options->type;
            cache.handler = options->handler;
            cache.info = found;
        }
        std::snprintf(info->description, sizeof info->description, "%s",
                      fieldText(cache.info.description, sizeof cache.info.description).c_str());
        std::snprintf(info->name, sizeof info->name, "%s",
                      fieldText(cache.info.name, sizeof cache.info.name).c_str());
        return 1;
    });
}

PLB_API int32_t PlbGetAVICodec(int32_t index, PlbAviCompression* options, PlbAviCodecInfo* info)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        const tamlib::avi::CodecTable* table = aviCodecs();
        if (!table || index < 0 || index >= table->count())
            return 0;
        PlbAviCompression entry{};
        PlbAviCodecInfo entryInfo{};
        if (!table->entry(index, &entry, &entryInfo))
            return 0;
        entryInfo.description[sizeof entryInfo.description - 1] = 0;
        entryInfo.name[sizeof entryInfo.name - 1] = 0;
        if (options)
            *options = entry;
        if (info)
            *info = entryInfo;
        return 1;
    });
}

PLB_API int32_t PlbFindAVICodec(const char* name, PlbAviCompression* options)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!name || !*name)
            return 0;
        const tamlib::avi::CodecTable* table = aviCodecs();
        if (!table)
            return 0;
        const std::string_view wanted(name, strnlen(name, 256));
        const auto named = [&](const PlbAviCompression& entry, const PlbAviCodecInfo& info) {
            // A handler may be given without its trailing blanks ("H264", "DIB").
            std::string handler = handlerText(entry.handler);
            while (!handler.empty() && (handler.back() == ' ' || handler.back() == 0))
                handler.pop_back();
            return equalNoCase(wanted, handler) || equalNoCase(wanted, fieldText(info.name, sizeof info.name));
        };
        return findEntry(*table, named, options, nullptr) ? 1 : 0;
    });
}

PLB_API int32_t PlbSetAVIOption(void* parent, PlbAviCompression* options)
{
    return tamrin::guarded<int32_t>(0, [&]() -> int32_t {
        if (!options)
            return 0;
        tamlib::CodecChoiceRequest request;
        request.window = parent;
        std::vector<PlbAviCompression> handlers;
        if (const tamlib::avi::CodecTable* table = aviCodecs()) {
            visitEntries(*table, [&](const PlbAviCompression& entry, const PlbAviCodecInfo& info) {
                request.codecs.push_back({entry.handler, fieldText(info.name, sizeof info.name),
                                          fieldText(info.description, sizeof info.description),
                                          entry.keyFrameEvery, entry.quality});
                handlers.push_back(entry);
                return false;
            });
        }
        // A codec named already is the preset, with its settings.
        if (options->type != 0 && options->handler != 0) {
            for (size_t index = 0; index < handlers.size(); ++index)
                if (upperHandler(handlers[index].handler) == upperHandler(options->handler))
                    request.codec = int32_t(index);
            request.keyFrameEvery = options->keyFrameEvery;
            request.quality = options->quality;
            request.dataRateKb = options->bytesPerSecond / 1024;
        }
        if (!tamlib::uiPort().chooseVideoCodec(request))
            return 0;
        if (request.codec < -1 || request.codec >= int32_t(handlers.size()))
            return 0;

        PlbAviCompression chosen{};
        if (request.codec >= 0) {
            chosen.type = handlers[size_t(request.codec)].type;
            chosen.handler = handlers[size_t(request.codec)].handler;
        }
        chosen.keyFrameEvery = request.keyFrameEvery;
        chosen.quality = std::min<uint32_t>(request.quality, 10000);
        // KB per second beyond what 32 bits of bytes hold are held at the largest whole KB.
        chosen.bytesPerSecond = std::min<uint32_t>(request.dataRateKb, UINT32_MAX / 1024) * 1024;
        chosen.flags = PLB_AVI_VALID;
        if (chosen.bytesPerSecond)
            chosen.flags |= PLB_AVI_DATARATE;
        if (chosen.keyFrameEvery)
            chosen.flags |= PLB_AVI_KEYFRAMES;
        *options = chosen;
        return 1;
    });
}
