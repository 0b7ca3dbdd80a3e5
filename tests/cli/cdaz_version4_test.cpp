// CDAZ files of the older format version 4: looking at one (show, list, copy) never rewrites it,
// editing one stores it in the current version, and one cut short is named damaged and kept.
#include <gtest/gtest.h>

#include <cstring>

#include "cli_runner.h"
#include "streamkit/psr.h"

namespace clitest {
namespace {

// A version-4 file: one plugin, the given streams of 320x240 pictures (kind 1), each with a
// name of its own. Layout as the version-4 reader documents it.
std::string version4(const std::vector<uint32_t>& starts)
{
    std::string bytes;
    const auto u8 = [&](uint32_t v) { bytes.push_back(char(v)); };
    const auto u16 = [&](uint32_t v) { u8(v & 0xFF), u8(v >> 8); };
    const auto u32 = [&](uint32_t v) { u16(v & 0xFFFF), u16(v >> 16); };
    const auto text = [&](const std::string& t) { bytes += t, u8(0); };
    u8(4), u8(0), u16(0), u32(0xFFFFFFFF);
    u16(7), u16(4), u16(4), u16(1), u16(uint32_t(starts.size())), u16(0);
    text("v.cdaz"), text("Old"), text("STR");
    u16(142), u8(0), u8(0), u16(6), u16(1), u16(1);
    text("A.PSR"), text(""), text("");
    for (size_t i = 0; i < starts.size(); ++i) {
        StrInfo info{};
        info.kind = 1;
        info.startSector = starts[i];
        info.sectorCount = 100;
        info.durationMs = 2000;
        info.width = 320;
        info.height = 240;
        char record[44];
        std::memcpy(record, &info, sizeof record);
        bytes.append(record, sizeof record);
        const std::string name = "Movie " + std::to_string(i + 1);
        u8(0), u8(0), u16(0), u16(uint32_t(name.size() + 1)), u16(0);
        text(name);
    }
    return bytes;
}

TEST(CdazVersion4Files, LookingNeverRewritesAndACutFileIsDamaged)
{
    TempFolder folder;
    const fs::path file = folder.path() / "v.cdaz";
    const std::string old = version4({100, 500, 900});
    writeFile(file, old);

    const RunResult shown = runCli({"cdaz", "show", file.string(), "--json"});
    ASSERT_EQ(shown.status, kExitOk) << shown.err;
    EXPECT_EQ(parseJson(shown)["streams"].size(), 3u);
    EXPECT_NE(shown.err.find("left unchanged"), std::string::npos) << shown.err;
    EXPECT_EQ(readFile(file), old);
    const RunResult copied = runCli({"cdaz", "copy", file.string(), (folder.path() / "new.cdaz").string()});
    ASSERT_EQ(copied.status, kExitOk) << copied.err;
    EXPECT_EQ(readFile(file), old);
    EXPECT_EQ(readFile(folder.path() / "new.cdaz")[0], 5) << "the copy is stored in the current version";

    // Cut inside the last stream: damaged, and still exactly as it was, whatever the command.
    const std::string cut = old.substr(0, old.size() - 10);
    writeFile(file, cut);
    for (const char* command : {"show", "edit"}) {
        std::vector<std::string> args = {"cdaz", command, file.string()};
        if (std::string(command) == "edit")
            args.insert(args.end(), {"--title", "New"});
        const RunResult damaged = runCli(args);
        EXPECT_EQ(damaged.status, kExitFailure) << command;
        EXPECT_NE(damaged.err.find("damaged"), std::string::npos) << damaged.err;
        EXPECT_EQ(readFile(file), cut) << command;
    }

    // Editing a whole one stores it in the current version with every stream.
    writeFile(file, old);
    ASSERT_EQ(runCli({"cdaz", "edit", file.string(), "--title", "New"}).status, kExitOk);
    EXPECT_EQ(readFile(file)[0], 5);
    const nlohmann::json edited = parseJson(runCli({"cdaz", "show", file.string(), "--json"}));
    EXPECT_EQ(edited["streams"].size(), 3u);
    EXPECT_EQ(edited["title"], "New");
}

} // namespace
} // namespace clitest
