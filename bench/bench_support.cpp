#include "bench_support.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace bench {

double medianSeconds(const std::string& command, int runs)
{
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
        return -1.0;
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
            return -1.0;
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::string quoted(const std::string& path)
{
    std::string out = "'";
    for (char c : path)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace bench
