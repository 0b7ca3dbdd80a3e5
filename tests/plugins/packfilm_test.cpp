// The compact movie format's own rules, on files built byte by byte: the field masks of each
// version, damaged and hostile files refused, seeking through the index (key frames passed on
// unshown, sound without a key skipped), and the decoder plugin a file names. The round trip of
// real movies through the converter is in the converter's tests.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "../support/scratch_folder.h"
#include "cstr_builder.h"
#include "streamkit/lbr.h"

namespace {

namespace fs = std::filesystem;
using namespace cstrbuild;

constexpr uint32_t kPayloadRoom = 0xFFFF - 4 + PSR_OWNED_REF_BYTES;

struct Unit
{
    uint32_t frameNumber, width, height, param, kind, flags;
    std::string payload;
    bool operator==(const Unit&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Unit& u)
{
    return out << "{" << u.frameNumber << " " << u.width << "x" << u.height << " p" << u.param << " k"
               << u.kind << " f" << u.flags << " '" << u.payload << "'}";
}

StrInfo movieInfo(bool timed = false)
{
    StrInfo info{};
    info.kind = StrVideo | StrAudio | (timed ? StrTimed : 0);
    info.width = 64;
    info.height = 48;
    info.frameRate = 100; // 10 frames a second: frame i ends at (i + 1) * 100 ms
    return info;
}

class Packfilm : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.made());
        m_binding = LbrOpenPSR("Packfilm.psr");
        ASSERT_NE(m_binding, nullptr);
        m_module = LbrGetPluginInst(m_binding);
        m_buffer = std::make_unique<uint8_t[]>(PSR_READ_HEADER_BYTES + kPayloadRoom);
    }
    void TearDown() override
    {
        if (m_binding)
            LbrClosePSR(m_binding);
    }

    template <typename F> F fn(const char* name) const { return reinterpret_cast<F>(dlsym(m_module, name)); }

    std::string write(const std::string& bytes, const std::string& name = "t.cstr")
    {
        const fs::path path = m_folder.path() / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    PsrReadRecord* unit() { return reinterpret_cast<PsrReadRecord*>(m_buffer.get()); }

    // Reads up to `limit` units from an open handle, releasing owned blocks.
    std::vector<Unit> read(void* handle, size_t limit = 100)
    {
        std::vector<Unit> units;
        while (units.size() < limit && fn<PsrReadFn>("PsrRead")(handle, unit()) == 1) {
            const PsrReadRecord* r = unit();
            std::string payload(reinterpret_cast<const char*>(r->payload), r->payloadBytes);
            if (r->unitFlags & UnitOwned)
                payload = std::string(static_cast<const char*>(PsrOwnedBlock(r)), PsrOwnedBlockSize(r)) +
                          "|" + payload.substr(PSR_OWNED_REF_BYTES);
            units.push_back(
                {r->frameNumber, r->width, r->height, r->param, r->unitKind, r->unitFlags, payload});
            EXPECT_EQ(fn<PsrFreeReadBufferFn>("PsrFreeReadBuffer")(handle, unit()), 1);
        }
        return units;
    }

    std::vector<Unit> readAll(const std::string& path)
    {
        void* handle = fn<PsrOpenFileFn>("PsrOpenFile")(path.c_str(), nullptr);
        EXPECT_NE(handle, nullptr);
        if (!handle)
            return {};
        auto units = read(handle);
        EXPECT_EQ(fn<PsrCloseFn>("PsrClose")(handle), 1);
        return units;
    }

    testsupport::ScratchFolder m_folder{"packfilm"};
    PluginBinding* m_binding = nullptr;
    void* m_module = nullptr;
    std::unique_ptr<uint8_t[]> m_buffer;
};

TEST_F(Packfilm, FieldMasksOfEachVersion)
{
    struct Case
    {
        const char* what;
        uint8_t version;
        std::vector<std::string> records;
        std::vector<Unit> expected;
    };
    const Case cases[] = {
        {"version 0: no masks; frames take the header's size",
         0,
         {record(1, "v1"), record(0, "a1")},
         {{1, 64, 48, 0, 0, 0, "v1"}, {0, 0, 0, 0, 0, 0, "a1"}}},
        {"version 1: frames carry a mask, sound does not",
         1,
         {record(1, "v1", {0x0007, 150, 32, 16}), record(0, "a1"), record(2, "v2", {0})},
         {{1, 32, 16, 150, 0, 0, "v1"}, {0, 0, 0, 0, 0, 0, "a1"}, {2, 64, 48, 0, 0, 0, "v2"}}},
        {"version 2: every unit has a mask; kind and flags",
         2,
         {record(1, "v1", {0x0008, 0x1104}), record(0, "a1", {0x0008, 0x2100}),
          record(0, "v0", {0x0008, 0x1000})},
         {{1, 64, 48, 0, 0x11, 0x04, "v1"}, {0, 0, 0, 0, 0x21, 0, "a1"}, {0, 64, 48, 0, 0x10, 0, "v0"}}},
        {"version 3: an owned unit's block comes back in a block of its own",
         3,
         {ownedRecord(1, 0x10, "rest", "BLOCK"), ownedRecord(0, 0x20, "", "")},
         {{1, 64, 48, 0, 0x10, UnitOwned, "BLOCK|rest"}, {0, 0, 0, 0, 0x20, UnitOwned, "|"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        File f;
        f.version = c.version;
        f.info = movieInfo();
        f.units = c.records;
        const std::string path = write(build(f));
        EXPECT_EQ(fn<PsrIsSupportFileFn>("PsrIsSupportFile")(path.c_str()), 1);
        EXPECT_EQ(readAll(path), c.expected);
    }
    File v4;
    v4.version = 4;
    v4.units = {record(1, "v1", {0})};
    EXPECT_EQ(fn<PsrIsSupportFileFn>("PsrIsSupportFile")(write(build(v4)).c_str()), 0);
}

// A valid file of three frames and a sound unit, damaged one way per case.
TEST_F(Packfilm, RefusesDamagedAndHostileFiles)
{
    File good;
    good.info = movieInfo(true);
    good.indexFlags = 1;
    good.units = {record(1, "frame1", {0}), record(0, "sound", {0}), record(2, "frame2", {0}),
                  record(3, "frame3", {0})};
    good.index = {{0x10, 100, 0}, {0x10, 200, 2}, {0x10, 300, 3}};
    const std::string base = build(good);
    ASSERT_EQ(readAll(write(base)).size(), 4u);
    const uint32_t size = uint32_t(base.size());
    auto patched = [&](size_t at, uint32_t v) {
        std::string s = base;
        put32(s, at, v);
        return s;
    };
    auto named = [&](const std::string& decoder) {
        File f = good;
        f.decoder = decoder;
        return build(f);
    };
    // What refuses it: the file test and the description read the header; a decoder plugin is
    // loaded by the file test and the open; the index entries are read by the open alone.
    enum Refused
    {
        Everywhere,
        TestAndOpen,
        OpenOnly
    };
    struct Case
    {
        const char* what;
        std::string bytes;
        Refused by = Everywhere;
    };
    std::string unterminated = base;
    std::memset(unterminated.data() + kDecoderAt, 'A', 19);
    const Case cases[] = {
        {"bad magic", patched(0, 0x04B70CC3)},
        {"header cut short", base.substr(0, 100)},
        {"index cut short", base.substr(0, size - 3)},
        {"index offset past the end", patched(kIndexOffsetAt, size)},
        {"index size past the end", patched(kIndexBytesAt, 0xFFFFFFFF)},
        {"frame count 0xFFFFFFFF", patched(kFrameCountAt, 0xFFFFFFFF)},
        {"frame count beyond the index", patched(kFrameCountAt, 4)},
        {"data offset past the end", patched(kDataOffsetAt, size + 1)},
        {"data offset inside the header", patched(kDataOffsetAt, 20)},
        {"unit area past the end", patched(kUnitAreaAt, 0xFFFFFFF0)},
        {"an entry pointing past the unit area", patched(size - 4, size - 10), OpenOnly},
        {"an entry pointing into the header", patched(size - 4, 8), OpenOnly},
        {"decoder plugin that does not exist", named("Nosuch.psr"), TestAndOpen},
        {"decoder plugin by path", named("/lib/libc.so.6")},
        {"decoder plugin up the tree", named("../out/Filmfile")},
        {"decoder plugin by backslash path", named("..\\Filmfile.psr")},
        {"the plugin itself as its decoder", named("Packfilm.psr"), TestAndOpen},
        {"decoder name without its end", unterminated},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write(c.bytes);
        EXPECT_EQ(fn<PsrOpenFileFn>("PsrOpenFile")(path.c_str(), nullptr), nullptr);
        if (c.by != OpenOnly) {
            EXPECT_EQ(fn<PsrIsSupportFileFn>("PsrIsSupportFile")(path.c_str()), 0);
        }
        StrInfo info{};
        EXPECT_EQ(fn<PsrGetStrFileInfoFn>("PsrGetStrFileInfo")(path.c_str(), &info),
                  c.by == Everywhere ? 0 : 1);
    }
}

// Records that lie about their sizes end the stream where they start; the units before them stay.
TEST_F(Packfilm, DamagedRecordsEndTheStream)
{
    struct Case
    {
        const char* what;
        std::string damaged;
    };
    std::string longPayload = record(2, "xy", {0});
    put16(longPayload, 2, 0xFFFF);
    std::string hugeBlock = ownedRecord(2, 0x10, "r", "block");
    put32(hugeBlock, 8, 0xFFFFFFFF);
    std::string shortOwned = ownedRecord(2, 0x10, "", "");
    put16(shortOwned, 2, 3);
    const Case cases[] = {
        {"payload past the unit area", longPayload},
        {"owned block past the unit area", hugeBlock},
        {"owned unit too short for its size", shortOwned},
        {"record cut in its mask", std::string("\x02\x00\x00\x00\x08", 5)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        File f;
        f.version = 3;
        f.info = movieInfo();
        f.units = {record(1, "first", {0}), c.damaged};
        const std::vector<Unit> units = readAll(write(build(f)));
        ASSERT_EQ(units.size(), 1u);
        EXPECT_EQ(units[0].payload, "first");
    }
}

// Frames 1-6 ending at 100 ms steps; seekable entries at frames 1 and 4 (frames 1 and 4 are key
// frames); a keyed and an unkeyed sound unit between frames 4 and 5.
TEST_F(Packfilm, SeeksThroughTheIndex)
{
    File f;
    f.version = 3;
    f.info = movieInfo(true);
    f.indexFlags = 1;
    const uint16_t key = 0x1000 | UnitKey, plain = 0x1100;
    f.units = {record(1, "f1", {8, key}),
               record(2, "f2", {8, plain}),
               record(3, "f3", {8, plain}),
               record(4, "f4", {8, key}),
               record(0, "a-key", {8, 0x2000 | UnitKey}),
               record(0, "a", {8, 0x2000}),
               record(5, "f5", {8, plain}),
               record(6, "f6", {8, plain})};
    f.index = {{0x10, 100, 0}, {0x11, 200, 1}, {0x11, 300, 2},
               {0x10, 400, 3}, {0x11, 500, 6}, {0x11, 600, 7}};
    struct Case
    {
        uint32_t ms;
        std::vector<std::string> payloads; // the first units read after the seek
        uint32_t noShow;                   // how many of them come unshown
    };
    const Case cases[] = {
        {0, {"f1", "f2"}, 0},
        {150, {"f1", "f2"}, 0},         // before the second entry's end: from the start
        {450, {"f4", "a-key", "a"}, 0}, // target 400 from the key entry of frame 4
        {550, {"f4", "a-key", "f5", "f6"}, 1},
        {650, {"f4", "a-key", "f6"}, 1}, // target 600
    };
    const std::string path = write(build(f));
    void* handle = fn<PsrOpenFileFn>("PsrOpenFile")(path.c_str(), nullptr);
    ASSERT_NE(handle, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        ASSERT_EQ(fn<PsrSeekFn>("PsrSeek")(handle, c.ms), 1);
        const std::vector<Unit> units = read(handle, c.payloads.size());
        std::vector<std::string> payloads;
        uint32_t noShow = 0;
        for (const Unit& u : units) {
            payloads.push_back(u.payload);
            noShow += (u.flags & UnitNoShow) != 0;
        }
        EXPECT_EQ(payloads, c.payloads);
        EXPECT_EQ(noShow, c.noShow);
    }
    EXPECT_EQ(fn<PsrCloseFn>("PsrClose")(handle), 1);

    // Without an index a seek restarts at the first unit and skips what ends before the target.
    File untimed = f;
    untimed.info = movieInfo(false);
    untimed.index.clear();
    const std::string noIndex = write(build(untimed), "untimed.cstr");
    handle = fn<PsrOpenFileFn>("PsrOpenFile")(noIndex.c_str(), nullptr);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(fn<PsrSeekFn>("PsrSeek")(handle, 250), 1);
    const std::vector<Unit> units = read(handle, 2);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].payload, "f1") << "a key frame before the target, unshown";
    EXPECT_TRUE(units[0].flags & UnitNoShow);
    EXPECT_EQ(units[1].payload, "f3");
    EXPECT_EQ(fn<PsrCloseFn>("PsrClose")(handle), 1);
}

// The decoding exports reach the named plugin's while a file naming it is open, and the host's
// decoders again once it is closed.
TEST_F(Packfilm, ForwardsTheNamedDecoderPlugin)
{
    PsrPluginInfo info{};
    EXPECT_EQ(LbrQueryPlugin("Packfilm.psr", &info) &
                  (CapFile | CapDecodeFrame | CapDecodeAudio | CapDecodeBs),
              uint32_t(CapFile | CapDecodeFrame | CapDecodeAudio | CapDecodeBs));
    File f;
    f.decoder = "Trackaudio.psr";
    f.info = movieInfo();
    f.units = {record(0, "sound", {0})};
    const std::string path = write(build(f));
    EXPECT_EQ(fn<PsrIsSupportFileFn>("PsrIsSupportFile")(path.c_str()), 1);

    PsrReadRecord* r = unit();
    std::memset(r, 0, PSR_READ_HEADER_BYTES);
    r->unitKind = UnitAudio;
    r->payloadBytes = 5;
    std::memcpy(r->payload, "hello", 5);
    uint8_t out[16] = {};
    const auto decodeAudio = fn<PsrDecodeAudioFn>("PsrDecodeAudio");
    EXPECT_EQ(decodeAudio(r, out, sizeof out), 0) << "nothing forwarded before an open";
    void* handle = fn<PsrOpenFileFn>("PsrOpenFile")(path.c_str(), nullptr);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(decodeAudio(r, out, sizeof out), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "hello");
    EXPECT_EQ(fn<PsrOpenFrameDecoderFn>("PsrOpenFrameDecoder")(), nullptr) << "Trackaudio has none";
    EXPECT_EQ(fn<PsrFrameDecoderFn>("PsrFrameDecoder")(nullptr, r, nullptr), -1);
    EXPECT_EQ(fn<PsrCloseFn>("PsrClose")(handle), 1);
    EXPECT_EQ(decodeAudio(r, out, sizeof out), 0) << "the hooks go with the file";
}

} // namespace
