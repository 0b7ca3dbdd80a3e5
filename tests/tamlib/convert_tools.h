// What the tests that check converters with outside programs share: the test movies and their
// descriptions, commands and their output, little-endian fields of files read back, the picture
// measure, a progress callback that records its calls and answers 0 at a chosen one, and the
// refused writes every converter must survive.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert_support.h"
#include "picture_compare.h"
#include "streamkit/lbr.h"

namespace converttest {

inline fs::path moviePath(const std::string& name)
{
    return fs::path(TAMRIN_TEST_DATA) / "movies" / name;
}

// The description the plugin gives of a file.
inline StrInfo describe(const char* plugin, const fs::path& file)
{
    StrInfo info{};
    PluginBinding* binding = LbrOpenPSR(plugin);
    EXPECT_NE(binding, nullptr) << plugin;
    if (binding) {
        EXPECT_EQ(LbrGetStrFileInfo(binding, file.c_str(), &info), 1) << file;
        LbrClosePSR(binding);
    }
    return info;
}

// The standard output of a command line, whatever its exit status (nothing if it cannot start).
inline std::string commandOutput(const std::string& command, int* status = nullptr)
{
    std::string out;
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        if (status)
            *status = -1;
        return out;
    }
    char chunk[65536];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, got);
    const int closed = ::pclose(pipe);
    if (status)
        *status = closed;
    return out;
}

// The standard output of a command line, or nothing when it fails.
inline std::optional<std::string> runCommand(const std::string& command)
{
    int status = 0;
    std::string out = commandOutput(command, &status);
    return status == 0 ? std::optional(std::move(out)) : std::nullopt;
}

// A path as one word of a shell command. Built step by step: GCC 12 warns falsely (-Wrestrict)
// about "'" + string.
inline std::string quoted(const fs::path& path)
{
    std::string text(1, '\'');
    text += path.string();
    text += '\'';
    return text;
}

// True when ffprobe and ffmpeg, the independent readers of the picture and movie files, run.
inline bool haveFfmpegTools()
{
    return runCommand("ffprobe -version >/dev/null 2>&1") && runCommand("ffmpeg -version >/dev/null 2>&1");
}

inline uint32_t le32(const std::string& bytes, size_t at)
{
    return uint32_t(uint8_t(bytes[at])) | uint32_t(uint8_t(bytes[at + 1])) << 8 |
           uint32_t(uint8_t(bytes[at + 2])) << 16 | uint32_t(uint8_t(bytes[at + 3])) << 24;
}

inline uint16_t le16(const std::string& bytes, size_t at)
{
    return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
}

// The PSNR of two pictures of the same size given as bytes.
inline double bytesPsnr(const std::string& a, const std::string& b)
{
    return clitest::psnr({reinterpret_cast<const uint8_t*>(a.data()), a.size()},
                         {reinterpret_cast<const uint8_t*>(b.data()), b.size()});
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

// How a write is refused: a folder the user may not write in (the superuser becomes "nobody" for
// it), or a file-size limit met while writing, as on a full disc.
enum class Refusal
{
    ReadOnlyFolder,
    FileSizeLimit
};

// Runs `convert` in a child process (the limit cannot be raised again, the user not be taken back)
// and expects it to end with `result`. `limitBytes` is the file-size limit of FileSizeLimit.
inline void expectRefused(Refusal how, rlim_t limitBytes, int32_t result, const std::function<int32_t()>& convert)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto refused = [&] {
        if (how == Refusal::FileSizeLimit) {
            rlimit limit{};
            limit.rlim_cur = limit.rlim_max = limitBytes;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        } else {
            dropSuperuser();
        }
        std::_Exit(convert());
    };
    EXPECT_EXIT(refused(), ::testing::ExitedWithCode(result), "");
}

// Both refusals, each on a target `name` that holds "the old file": in `folder`/locked, a folder
// the user may only read, and in `folder` under a file-size limit of `limitBytes`. The conversion
// `convert(target)` must end with `result` and keep the old file; the locked folder must hold
// nothing else afterwards.
inline void expectRefusedWritesKeepTheOldFile(const fs::path& folder, const std::string& name, rlim_t limitBytes,
                                              int32_t result,
                                              const std::function<int32_t(const fs::path&)>& convert)
{
    const fs::path locked = folder / "locked";
    fs::create_directory(locked);
    fs::permissions(folder, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    for (const Refusal how : {Refusal::ReadOnlyFolder, Refusal::FileSizeLimit}) {
        const bool limited = how == Refusal::FileSizeLimit;
        SCOPED_TRACE(limited ? "file-size limit" : "read-only folder");
        const fs::path target = (limited ? folder : locked) / name;
        fs::permissions(locked, fs::perms::owner_all);
        writeFile(target, "the old file");
        fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
        expectRefused(how, limitBytes, result, [&] { return convert(target); });
        EXPECT_TRUE(readFile(target) == "the old file");
    }
    EXPECT_EQ(clitest::folderEntries(locked), std::vector<std::string>{name});
    fs::permissions(locked, fs::perms::owner_all);
}

} // namespace converttest
