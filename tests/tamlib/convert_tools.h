// What the tests that check converters with outside programs share: a command's output, and a
// progress callback that records its calls and answers 0 at a chosen one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace converttest {

// The standard output of a command line, or nothing when it fails.
inline std::optional<std::string> runCommand(const std::string& command)
{
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return std::nullopt;
    std::string out;
    char chunk[65536];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, got);
    return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

struct ProgressRecord
{
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    size_t answerZeroAt = SIZE_MAX; // the call (from 0) that answers 0
};

inline int32_t recordProgress(uint32_t position, uint32_t length, void* user)
{
    auto* record = static_cast<ProgressRecord*>(user);
    record->calls.emplace_back(position, length);
    return record->calls.size() - 1 == record->answerZeroAt ? 0 : 1;
}

} // namespace converttest
