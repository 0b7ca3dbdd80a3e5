// What the batch tests share: a clock the test moves, and converters whose behaviour each test
// scripts per type (they reach the test through plain function pointers, as the library's do).
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "tamlib/batch.h"

namespace batchtest {

inline uint32_t g_now = 0; // the scripted clock, in ms
inline uint32_t scriptedNow()
{
    return g_now;
}

struct Call
{
    int32_t type;
    std::string file; // empty: a disc stream
    std::string output;
    std::vector<uint8_t> record;
    PlbProgressFn progress;
    void* user;
    // Reports to the batch; false when told to stop.
    bool report(uint32_t done, uint32_t total) const { return progress(done, total, user) != 0; }
};

using Script = std::function<int32_t(const Call&)>;
inline std::array<Script, PLB_CONV_TYPES> g_scripts;
inline std::vector<Call> g_calls;

template <int32_t Type>
int32_t scripted(const char*, const char* file, const StrInfo*, const void* settings, PlbProgressFn progress,
                 void* user)
{
    const auto* bytes = static_cast<const uint8_t*>(settings);
    g_calls.push_back({Type,
                       file ? file : "",
                       reinterpret_cast<const char*>(bytes),
                       {bytes, bytes + tamlib::batch::settingsBytes(Type)},
                       progress,
                       user});
    return g_scripts[Type] ? g_scripts[Type](g_calls.back()) : PLB_CONV_OK;
}

// Every type scripted, each with `script`.
inline tamlib::batch::ConverterTable scriptedTable(const Script& script = nullptr)
{
    g_calls.clear();
    g_scripts.fill(script);
    return {scripted<0>, scripted<1>, scripted<2>, scripted<3>, scripted<4>, scripted<5>};
}

inline tamlib::batch::Item item(int32_t type, const std::string& output, uint32_t durationMs = 1000,
                                const std::string& file = "source.str")
{
    tamlib::batch::Item item;
    item.source.plugin = "Filmfile.psr";
    item.source.file = file;
    item.source.info.durationMs = durationMs;
    item.source.info.frameCount = 10;
    item.type = type;
    item.output = output;
    return item;
}

} // namespace batchtest
