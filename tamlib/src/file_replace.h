// Writing files so that a failure never damages what was there: the bytes go to a temporary file
// beside the target, which is synced and renamed over it (the folder is synced after).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>

namespace tamlib {

// Writes all `size` bytes to `fd`, again after interruptions; false on any failure.
bool writeAll(int fd, const uint8_t* data, size_t size);

// Replaces `path` with `bytes` (mode 0644). False, with `path` as it was and no temporary file
// left, when any step fails.
bool replaceFile(const std::filesystem::path& path, std::span<const uint8_t> bytes);

} // namespace tamlib
