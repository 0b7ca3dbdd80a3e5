// The options file: the bytes at their offsets, the round trip, files of older or damaged runs and
// a save that cannot be made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "options_file.h"

namespace fs = std::filesystem;
using namespace tamrin;

namespace {

using Bytes = std::vector<uint8_t>;

// A little-endian number of `size` bytes at `offset`.
struct Field
{
    size_t offset, size;
    uint32_t value;
};

uint32_t le(const Bytes& bytes, size_t offset, size_t size)
{
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= uint32_t(bytes.at(offset + i)) << (8 * i);
    return value;
}

void put(Bytes& bytes, const Field& field)
{
    for (size_t i = 0; i < field.size; ++i)
        bytes.at(field.offset + i) = uint8_t(field.value >> (8 * i));
}

std::string text(const Bytes& bytes, size_t offset, size_t size)
{
    std::string out;
    for (size_t i = offset; i < offset + size && bytes.at(i); ++i)
        out += char(bytes[i]);
    return out;
}

Bytes written(const TamrinOptions& options)
{
    const auto bytes = writeOptions(options);
    return Bytes(bytes.begin(), bytes.end());
}

Bytes fileBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

class OptionsFileTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tamrin-options-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_root = pattern;
        fs::permissions(m_root, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
        m_env.baseFolder = m_root / "base";
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(m_root / "locked", fs::perms::owner_all, ignored);
        fs::remove_all(m_root, ignored);
    }

    TamrinOptions read(const Bytes& bytes, OptionsState* state = nullptr)
    {
        TamrinOptions options;
        const OptionsState got = readOptions(bytes, m_env, options);
        if (state)
            *state = got;
        return options;
    }

    Bytes defaults() { return written(defaultOptions(m_env)); }

    fs::path m_root;
    OptionsEnvironment m_env;
};

// Every field of a first run's file at its offset, with its default value; the codec is the first
// of iv50, iv41, iv32 that the converter can use, else iv32.
TEST_F(OptionsFileTest, FirstRunBytesAtTheirOffsets)
{
    const Bytes bytes = defaults();
    ASSERT_EQ(bytes.size(), 2732u);
    const std::string base = m_env.baseFolder.string();
    for (const auto& [offset, value] : {std::pair<size_t, std::string>{0, base},
                                        {260, base + "/Movie"},
                                        {520, base + "/Audio"},
                                        {780, base + "/Audio"},
                                        {1040, base + "/Movie"},
                                        {1300, base + "/Bitmap"},
                                        {1596, "AVI"},
                                        {1603, "WAVE"},
                                        {1614, "BMP"},
                                        {1621, "MID"}})
        EXPECT_EQ(text(bytes, offset, offset < 1560 ? 260 : 7), value) << "offset " << offset;
    // clang-format off
    const Field numbers[] = {
        {1560, 4, 0},   {1564, 4, 1043}, {1568, 4, 1047}, {1572, 4, 40039}, {1576, 4, 0}, {1580, 4, 44100},
        {1584, 4, 0},   {1588, 4, 0},    {1592, 4, 15},   {1610, 4, 0},     {1628, 2, 100}, {1630, 2, 128},
        {1632, 2, 0},   {1634, 2, 2},    {1636, 2, 0},    {1638, 2, 112},   {1640, 2, 128}, {1642, 2, 55},
        {1644, 2, 70},  {1646, 2, 0},    {1648, 4, 0},    {1664, 4, 0},     {1668, 4, 0},   {1672, 2, 40062},
        {1674, 2, 0},   {1676, 4, 0},    {2684, 4, 0},    {2688, 4, 0x63646976 /* vidc */},
        {2692, 4, 0x32337669 /* iv32 */}, {2696, 4, 3},   {2700, 4, 10000}, {2704, 4, 0}, {2708, 4, 0}, {2728, 4, 0}};
    // clang-format on
    for (const Field& n : numbers)
        EXPECT_EQ(le(bytes, n.offset, n.size), n.value) << "offset " << n.offset;
    for (const char* folder : {"Movie", "Audio", "Bitmap"})
        EXPECT_TRUE(fs::is_directory(m_env.baseFolder / folder)) << folder;

    for (const auto& [usable, handler] :
         {std::pair{"iv41 iv32", 0x31347669u}, {"iv50 iv41", 0x30357669u}, {"MJPG", 0x32337669u}}) {
        m_env.codecUsable = [usable](uint32_t h) {
            const char code[5] = {char(h), char(h >> 8), char(h >> 16), char(h >> 24), 0};
            return std::strstr(usable, code) != nullptr;
        };
        EXPECT_EQ(defaultOptions(m_env).aviCompression.handler, handler) << usable;
    }
}

// Changed values land at their offsets and read back as the same bytes.
TEST_F(OptionsFileTest, ChangedFieldsRoundTrip)
{
    TamrinOptions options = defaultOptions(m_env);
    setFieldText(options.mp3Folder, "/music/mp3");
    setFieldText(options.videoConversion, "CSTR");
    setFieldText(options.audioConversion, ""); // no conversion
    options.existingFiles = kExistingSkip;
    options.batchPriority = kPriorityAbove;
    options.waveSampleRate = 22050;
    options.listFilter = kShowVideo | kShowStill;
    options.sortKey = -3;
    options.volume = 250;
    options.mp3BitRate = PLB_MP3_VBR | 4;
    options.popupLeft = -40;
    options.previewFlags = kPreviewOnTop | kPreviewKeepSize;
    options.unused1676[5] = 0x5A; // kept although unread
    const Bytes bytes = written(options);
    EXPECT_EQ(text(bytes, 780, 260), "/music/mp3");
    EXPECT_EQ(text(bytes, 1596, 7), "CSTR");
    EXPECT_EQ(text(bytes, 1603, 7), "");
    // clang-format off
    for (const Field& n : {Field{1564, 4, 1041}, {1568, 4, 1048}, {1588, 4, 22050}, {1592, 4, 9}, {1610, 2, 0xFFFD},
                           {1628, 2, 250}, {1630, 2, 0x4004}, {1664, 4, uint32_t(-40)}, {1674, 2, 6}, {1681, 1, 0x5A}})
        // clang-format on
        EXPECT_EQ(le(bytes, n.offset, n.size), n.value) << "offset " << n.offset;
    OptionsState state{};
    EXPECT_EQ(written(read(bytes, &state)), bytes);
    EXPECT_EQ(state, OptionsState::Loaded);
}

// A record of an older version: the filter as a menu command, no still-image and music defaults,
// no volume and preview size, MP3 as the audio default (WAVE without the encoder).
TEST_F(OptionsFileTest, OlderRunIsBroughtUpToDate)
{
    Bytes bytes(2732, 0);
    for (size_t offset = 0; offset < 1560; offset += 260)
        std::memcpy(&bytes[offset], "/home/user", 10);
    // clang-format off
    for (const Field& f : {Field{1564, 4, 1040}, {1568, 4, 1047}, {1572, 4, 40040}, {1592, 4, 40049},
                           {1596, 4, 0x00495641 /* AVI */}, {1603, 4, 0x0033504D /* MP3 */}, {1630, 2, 192},
                           {1638, 2, 112}, {1640, 2, 128}, {2688, 4, 0x63646976}, {2692, 4, 0x30357669}})
        // clang-format on
        put(bytes, f);
    OptionsState state{};
    TamrinOptions options = read(bytes, &state);
    EXPECT_EQ(state, OptionsState::Loaded);
    EXPECT_EQ(fieldText(options.bmpFolder), "/home/user");
    EXPECT_EQ(options.existingFiles, kExistingOverwrite);
    EXPECT_EQ(options.playMode, kPlayRepeat);
    EXPECT_EQ(options.listFilter, kShowVideo);
    EXPECT_EQ(fieldText(options.stillConversion), "BMP");
    EXPECT_EQ(fieldText(options.musicConversion), "MID");
    EXPECT_EQ(fieldText(options.audioConversion), "WAVE");
    EXPECT_EQ(options.volume, 100);
    EXPECT_EQ(options.previewSize, kPreviewSame);
    EXPECT_EQ(options.mp3BitRate, 192);
    EXPECT_EQ(options.aviCompression.handler, 0x30357669u);
    EXPECT_FALSE(fs::exists(m_env.baseFolder)) << "the file's folders are used, no default is made";

    m_env.mp3Available = true;
    EXPECT_EQ(fieldText(read(bytes).audioConversion), "MP3");
    for (const auto& [stored, loaded] : {std::pair{40048u, 15u}, {40050u, 6u}, {12u, 12u}}) {
        put(bytes, {1592, 4, stored});
        EXPECT_EQ(read(bytes).listFilter, loaded) << stored;
    }
}

// A field with a value it cannot have gets its default; every other byte keeps its stored value.
TEST_F(OptionsFileTest, DamagedFieldsFallBackOneByOne)
{
    TamrinOptions reference = defaultOptions(m_env);
    setFieldText(reference.openFolder, "/kept");
    reference.playMode = kPlayAll;
    reference.mp3ChannelMode = 0;
    const Bytes good = written(reference), fallback = defaults();
    // from..to is the span that falls back: the field, both ends of the VBR range, or the whole
    // compression record. Texts without their zero are filled with a letter (size 0).
    const struct
    {
        Field bad;
        size_t from, to;
    } cases[] = {
        // clang-format off
        {{260, 0, 'x'}, 260, 520},   {{520, 1, 'a'}, 520, 780} /* relative */, {{1300, 1, 0}, 1300, 1560},
        {{1560, 4, uint32_t(-1)}, 1560, 1564}, {{1568, 4, 1049}, 1568, 1572}, {{1577, 1, 3}, 1577, 1578},
        {{1578, 2, 12}, 1578, 1580}, {{1580, 4, 999}, 1580, 1584}, {{1588, 4, 384001}, 1588, 1592},
        {{1592, 4, 16}, 1592, 1596}, {{1596, 4, 0x00564157 /* WAV */}, 1596, 1603}, {{1603, 0, 'W'}, 1603, 1610},
        {{1614, 4, 0x00495641 /* AVI */}, 1614, 1621}, {{1628, 2, 401}, 1628, 1630}, {{1628, 2, 0xFFFF}, 1628, 1630},
        {{1630, 2, 100}, 1630, 1632}, {{1630, 2, 0x400A}, 1630, 1632}, {{1632, 2, 3}, 1632, 1634},
        {{1646, 2, 2}, 1646, 1648},  {{1638, 2, 192}, 1638, 1642}, {{1668, 4, 0x7FFFFFFF}, 1668, 1672},
        {{1672, 2, 40064}, 1672, 1674}, {{1674, 2, 8}, 1674, 1676}, {{2688, 4, 0x73647561 /* auds */}, 2688, 2732},
        {{2700, 4, 10001}, 2688, 2732},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.bad.offset));
        Bytes bytes = good;
        if (c.bad.size == 0)
            std::fill(bytes.begin() + c.from, bytes.begin() + c.to, uint8_t(c.bad.value));
        else
            put(bytes, c.bad);
        const Bytes result = written(read(bytes));
        for (size_t i = 0; i < result.size(); ++i) {
            ASSERT_EQ(result[i], i >= c.from && i < c.to ? fallback[i] : good[i]) << "byte " << i;
        }
    }
}

// Files that are not one whole record give NotLoaded; a short one keeps the fields it holds whole,
// a longer one is not a record of ours.
TEST_F(OptionsFileTest, ShortAndLongFiles)
{
    TamrinOptions reference = defaultOptions(m_env);
    setFieldText(reference.openFolder, "/streams");
    reference.batchPriority = kPriorityAbove;
    const Bytes full = written(reference), fallback = defaults();
    Bytes longer = full;
    longer.push_back(0);
    const struct
    {
        Bytes bytes;
        bool keepsFolder, keepsPriority;
    } cases[] = {{{}, false, false},
                 {Bytes(full.begin(), full.begin() + 100), false, false},
                 {Bytes(full.begin(), full.begin() + 259), false, false},
                 {Bytes(full.begin(), full.begin() + 260), true, false},
                 {Bytes(full.begin(), full.end() - 1), true, true},
                 {longer, false, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes.size()) + " bytes");
        OptionsState state{};
        const TamrinOptions options = read(c.bytes, &state);
        EXPECT_EQ(state, OptionsState::NotLoaded);
        EXPECT_EQ(fieldText(options.openFolder), c.keepsFolder ? "/streams" : m_env.baseFolder.string());
        EXPECT_EQ(options.batchPriority, c.keepsPriority ? kPriorityAbove : kPriorityBelow);
        if (!c.keepsFolder) {
            EXPECT_EQ(written(options), fallback);
        }
    }
    // Files: 100 bytes, none, a folder in the file's place.
    TamrinOptions options;
    std::ofstream(m_root / "short.ini", std::ios::binary)
        .write(reinterpret_cast<const char*>(full.data()), 100);
    fs::create_directory(m_root / "folder.ini");
    for (const char* name : {"short.ini", "missing.ini", "folder.ini"}) {
        EXPECT_EQ(loadOptionsFile(m_root / name, m_env, options), OptionsState::NotLoaded) << name;
        EXPECT_EQ(written(options), fallback) << name;
    }
}

// Whatever the bytes, the record read holds valid values and reads back as itself; texts are
// stored padded with zeros, and a folder too long for its field is stored empty, never cut.
TEST_F(OptionsFileTest, RandomBytesAndOverlongTexts)
{
    m_env.createFolders = false;
    for (uint32_t seed : {1u, 7u, 42u, 1234u, 99999u}) {
        std::mt19937 random(seed);
        for (size_t size : {size_t(2732), size_t(100), size_t(1700), size_t(2731)}) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(size) + " bytes");
            Bytes bytes(size);
            for (auto& b : bytes)
                b = uint8_t(random() % 4 == 0 ? 0 : random());
            const TamrinOptions options = read(bytes);
            const Bytes stored = written(options);
            EXPECT_EQ(written(read(stored)), stored);
            EXPECT_EQ(stored[259], 0);
            EXPECT_LE(options.listFilter, kShowAll);
            EXPECT_TRUE(options.playMode >= kPlayOne && options.playMode <= kPlayAll);
            EXPECT_TRUE(options.volume > 0 && options.volume <= 400);
            EXPECT_TRUE(options.previewSize >= kPreviewHalf && options.previewSize <= kPreviewEnlarged);
        }
    }
    TamrinOptions options = defaultOptions(m_env);
    std::memset(options.aviFolder, 'a', sizeof options.aviFolder); // no room for the zero
    options.aviFolder[0] = '/';
    EXPECT_FALSE(setFieldText(options.bmpFolder, "/" + std::string(259, 'b')));
    const Bytes bytes = written(options);
    EXPECT_EQ(text(bytes, 260, 260), "");
    EXPECT_EQ(text(bytes, 1300, 260), "");
    EXPECT_EQ(written(read(bytes)), defaults());
}

// One run after another through the file: the first starts from defaults and stores its changes,
// the next reads them; a run over random bytes stores a valid record.
TEST_F(OptionsFileTest, RunsOneAfterAnother)
{
    const fs::path path = m_root / "config" / "Tamrin.ini";
    {
        ProgramOptions first(path, m_env);
        EXPECT_EQ(first.state(), OptionsState::NotLoaded);
        EXPECT_EQ(written(first.record()), defaults());
        first.record().volume = 30;
        first.record().listFilter = kShowWave;
        ASSERT_TRUE(first.save());
    }
    EXPECT_EQ(fs::file_size(path), 2732u);
    ProgramOptions second(path, m_env);
    EXPECT_EQ(second.state(), OptionsState::Loaded);
    EXPECT_EQ(second.record().volume, 30);
    EXPECT_EQ(second.record().listFilter, kShowWave);

    std::mt19937 random(3);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < 2732; ++i)
        out.put(char(random()));
    out.close();
    ASSERT_TRUE(ProgramOptions(path, m_env).save());
    const Bytes stored = fileBytes(path);
    EXPECT_EQ(written(read(stored)), stored);

    const char* home = std::getenv("TAMRIN_HOME"); // the tests' configuration folder
    ASSERT_TRUE(home && *home);
    EXPECT_EQ(optionsFilePath(), fs::path(home) / "Tamrin.ini");
    EXPECT_EQ(systemOptionsEnvironment().baseFolder, fs::path(home)); // output folders below it
}

// A folder that may not be written: a clear failure, the old file as it was, nothing else left.
TEST_F(OptionsFileTest, SaveRefusedKeepsTheOldFile)
{
    const fs::path locked = m_root / "locked";
    fs::create_directory(locked);
    const fs::path path = locked / "Tamrin.ini";
    std::ofstream(path) << "the old file";
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    const TamrinOptions options = defaultOptions(m_env);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a child process, where the superuser can become "nobody", for whom permissions apply.
    const auto save = [&] {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            std::_Exit(99);
        std::string error;
        const bool saved = saveOptionsFile(path, options, &error);
        std::_Exit(!saved && !error.empty() ? 0 : 1);
    };
    EXPECT_EXIT(save(), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(fileBytes(path), Bytes({'t', 'h', 'e', ' ', 'o', 'l', 'd', ' ', 'f', 'i', 'l', 'e'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);

    std::string error;
    EXPECT_FALSE(saveOptionsFile({}, options, &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
