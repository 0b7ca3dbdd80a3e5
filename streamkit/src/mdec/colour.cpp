#include "colour.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>


namespace streamkit::mdec {

namespace {

ColourTables g_sets[2];
std::atomic<int> g_current{-1};

} // namespace

void buildColourTables(ColourTables& t, int32_t brightness, int32_t blue, int32_t red, int32_t gamma)
{
    // A gamma of 0 or below has no meaning; it is taken as no correction.
    const double exponent = gamma > 0 ? 100.0 / gamma : 1.0;
    for (int i = -512; i < 512; ++i) {
        const int k = i + ColourTables::kOffset;
        const double base = (double(brightness) + i + 128) / 255.0;
        const double power = std::pow(base, exponent);
        double y = 0;
        if (std::isfinite(power) && power >= 0)
            y = std::trunc(255.0 * power + 0.5);
        t.y[k] = int32_t(std::clamp(y, 0.0, 255.0));
        const int32_t cr = std::clamp(red + i, -128, 127);
        const int32_t cb = std::clamp(blue + i, -128, 127);
        t.rr[k] = (cr * 1435) >> 10;
        t.gr[k] = (cr * -731) >> 10;
        t.gb[k] = (cb * -352) >> 10;
        t.rb[k] = (cb * 1814) >> 10;
    }
    for (int i = -256; i < 512; ++i)
        t.clamp[i + ColourTables::kClampOffset] = uint8_t(std::clamp(i, 0, 255));

    // The shortcut is taken only when it reproduces every entry exactly.
    t.lumaShift = int16_t(std::clamp(brightness + 128, -2048, 2048));
    t.redOffset = int16_t(std::clamp(red, -1024, 1024));
    t.blueOffset = int16_t(std::clamp(blue, -1024, 1024));
    bool linear = true;
    for (int i = -512; i < 512 && linear; ++i) {
        const int k = i + ColourTables::kOffset;
        const int32_t cr = std::clamp(t.redOffset + i, -128, 127), cb = std::clamp(t.blueOffset + i, -128, 127);
        linear = t.y[k] == std::clamp(i + t.lumaShift, 0, 255) && t.rr[k] == (cr * 1435) >> 10 &&
                 t.gr[k] == (cr * -731) >> 10 && t.gb[k] == (cb * -352) >> 10 && t.rb[k] == (cb * 1814) >> 10;
    }
    t.linear = linear;
}

void setColourTables(int32_t brightness, int32_t blue, int32_t red, int32_t gamma)
{
    static std::mutex writers;
    std::lock_guard lock(writers);
    colourTables();  // the load-time set exists first
    const int next = 1 - g_current.load(std::memory_order_acquire);
    buildColourTables(g_sets[next], brightness, blue, red, gamma);
    g_current.store(next, std::memory_order_release);
}

const ColourTables& colourTables()
{
    int current = g_current.load(std::memory_order_acquire);
    if (current < 0) {
        static const bool built = [] {
            buildColourTables(g_sets[0], 0, 0, 0, 100);
            int expected = -1;
            g_current.compare_exchange_strong(expected, 0, std::memory_order_release);
            return true;
        }();
        (void)built;
        current = g_current.load(std::memory_order_acquire);
    }
    return g_sets[current];
}

} // namespace streamkit::mdec
