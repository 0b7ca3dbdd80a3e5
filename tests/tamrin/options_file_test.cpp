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

uint32_t le(const Bytes& bytes, size_t offset, size_t size)
{
    uint32_t value = 0;
    for (size_t i = 0; i < size; ++i)
        value |= uint32_t(bytes.at(offset + i)) << (8 * i);
    return value;
}

void put(Bytes& bytes, size_t offset, size_t size, uint32_t value)
{
    for (size_t i = 0; i < size; ++i)
        bytes.at(offset + i) = uint8_t(value >> (8 * i));
}

std::string text(const Bytes& bytes, size_t offset, size_t size)
{
    std::string out;
    for (size_t i = offset; i < offset + size && bytes.at(i); ++i)
        out += char(bytes[i]);
    return out;
}

void putText(Bytes& bytes, size_t offset, size_t size, const std::string& value)
{
    std::fill(bytes.begin() + offset, bytes.begin() + offset + size, 0);
    std::copy(value.begin(), value.end(), bytes.begin() + offset);
}

Bytes written(const TamrinOptions& options)
{
    const auto bytes = writeOptions(options);
    return Bytes(bytes.begin(), bytes.end());
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
        m_env.mp3Available = false;
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(m_root / "locked", fs::perms::owner_all, ignored);
        fs::remove_all(m_root, ignored);
    }

    // A record read from `bytes` and the state it was read with.
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

// Every field of a first run's file at its offset, with its default value.
TEST_F(OptionsFileTest, FirstRunBytesAtTheirOffsets)
{
    const Bytes bytes = defaults();
    ASSERT_EQ(bytes.size(), 2732u);
    const std::string base = m_env.baseFolder.string();
    const struct
    {
        size_t offset;
        std::string value;
    } texts[] = {{0, base},
                 {260, base + "/Movie"},
                 {520, base + "/Audio"},
                 {780, base + "/Audio"},
                 {1040, base + "/Movie"},
                 {1300, base + "/Bitmap"}};
    for (const auto& t : texts) {
        EXPECT_EQ(text(bytes, t.offset, 260), t.value) << "offset " << t.offset;
        EXPECT_EQ(bytes[t.offset + 259], 0) << "offset " << t.offset;
    }
    const struct
    {
        size_t offset, size;
        uint32_t value;
    } numbers[] = {
        {1560, 4, 0},          {1564, 4, 1043}, {1568, 4, 1047},  {1572, 4, 40039}, {1576, 1, 0},
        {1577, 1, 0},          {1578, 2, 0},    {1580, 4, 44100}, {1584, 1, 0},     {1585, 1, 0},
        {1586, 2, 0},          {1588, 4, 0},    {1592, 4, 15},    {1610, 2, 0},     {1612, 2, 0},
        {1628, 2, 100},        {1630, 2, 128},  {1632, 2, 0},     {1634, 2, 2},     {1636, 2, 0},
        {1638, 2, 112},        {1640, 2, 128},  {1642, 2, 55},    {1644, 2, 70},    {1646, 2, 0},
        {1664, 4, 0},          {1668, 4, 0},    {1672, 2, 40062}, {1674, 2, 0},     {2688, 4, 0x63646976},
        {2692, 4, 0x32337669}, {2696, 4, 3},    {2700, 4, 10000}, {2704, 4, 0},     {2708, 4, 0}};
    for (const auto& n : numbers)
        EXPECT_EQ(le(bytes, n.offset, n.size), n.value) << "offset " << n.offset;
    const struct
    {
        size_t offset;
        const char* value;
    } names[] = {{1596, "AVI"}, {1603, "WAVE"}, {1614, "BMP"}, {1621, "MID"}};
    for (const auto& n : names)
        EXPECT_EQ(text(bytes, n.offset, 7), n.value) << "offset " << n.offset;
    for (size_t offset : {1648u, 1676u, 2712u})
        EXPECT_EQ(le(bytes, offset, 4), 0u) << "offset " << offset;
    for (const char* folder : {"Movie", "Audio", "Bitmap"})
        EXPECT_TRUE(fs::is_directory(m_env.baseFolder / folder)) << folder;
}

// The first of the preferred codecs that the converter can use; the last when none.
TEST_F(OptionsFileTest, FirstRunCodecChoice)
{
    const struct
    {
        const char* usable;
        uint32_t handler;
    } cases[] = {
        {"iv41 iv32", 0x31347669}, {"iv50 iv41", 0x30357669}, {"", 0x32337669}, {"MJPG", 0x32337669}};
    for (const auto& c : cases) {
        const std::string usable = c.usable;
        m_env.codecUsable = [&](uint32_t handler) {
            const char code[5] = {char(handler), char(handler >> 8), char(handler >> 16), char(handler >> 24),
                                  0};
            return usable.find(code) != std::string::npos;
        };
        EXPECT_EQ(defaultOptions(m_env).aviCompression.handler, c.handler) << c.usable;
    }
}

// Changed values at their offsets, and the same bytes after reading them back.
TEST_F(OptionsFileTest, ChangedFieldsRoundTrip)
{
    TamrinOptions options = defaultOptions(m_env);
    setFieldText(options.mp3Folder, "/music/mp3");
    options.existingFiles = kExistingSkip;
    options.batchPriority = kPriorityAbove;
    options.playMode = kPlayAll;
    options.aviNoAudio = 1;
    options.waveChannels = 2;
    options.waveBitsPerSample = 8;
    options.waveSampleRate = 22050;
    options.listFilter = kShowVideo | kShowStill;
    setFieldText(options.videoConversion, "CSTR");
    setFieldText(options.audioConversion, "");
    options.sortKey = -3;
    options.flags = kNoDiscSuggestion;
    options.volume = 250;
    options.mp3BitRate = PLB_MP3_VBR | 4;
    options.mp3Emphasis = 3;
    options.popupLeft = -40;
    options.previewSize = kPreviewEnlarged;
    options.previewFlags = kPreviewOnTop | kPreviewKeepSize;
    options.unused1676[5] = 0x5A; // kept although unread
    options.aviCompression.handler = 0x47504A4D;

    const Bytes bytes = written(options);
    EXPECT_EQ(text(bytes, 780, 260), "/music/mp3");
    const struct
    {
        size_t offset, size;
        uint32_t value;
    } numbers[] = {{1564, 4, 1041},   {1568, 4, 1048},
                   {1572, 4, 40041},  {1576, 1, 1},
                   {1585, 1, 2},      {1586, 2, 8},
                   {1588, 4, 22050},  {1592, 4, 9},
                   {1610, 2, 0xFFFD}, {1612, 2, 2},
                   {1628, 2, 250},    {1630, 2, 0x4004},
                   {1646, 2, 3},      {1664, 4, uint32_t(-40)},
                   {1672, 2, 40063},  {1674, 2, 6},
                   {1681, 1, 0x5A},   {2692, 4, 0x47504A4D}};
    for (const auto& n : numbers)
        EXPECT_EQ(le(bytes, n.offset, n.size), n.value) << "offset " << n.offset;
    EXPECT_EQ(text(bytes, 1596, 7), "CSTR");
    EXPECT_EQ(text(bytes, 1603, 7), "");

    OptionsState state{};
    EXPECT_EQ(written(read(bytes, &state)), bytes);
    EXPECT_EQ(state, OptionsState::Loaded);

    // Through the file on disc as well.
    const fs::path path = m_root / "config" / "Tamrin.ini";
    std::string error;
    ASSERT_TRUE(saveOptionsFile(path, options, &error)) << error;
    TamrinOptions loaded;
    EXPECT_EQ(loadOptionsFile(path, m_env, loaded), OptionsState::Loaded);
    EXPECT_EQ(written(loaded), bytes);
}

// A record of an older version: old filter command, no still-image and music defaults, no volume
// and preview size, MP3 as the audio default.
TEST_F(OptionsFileTest, OlderRunIsBroughtUpToDate)
{
    Bytes bytes(2732, 0);
    putText(bytes, 0, 260, "/home/user/streams");
    putText(bytes, 260, 260, "/home/user/movies");
    putText(bytes, 520, 260, "/home/user/audio");
    putText(bytes, 780, 260, "/home/user/audio");
    putText(bytes, 1040, 260, "/home/user/movies");
    putText(bytes, 1300, 260, "/home/user/pictures");
    put(bytes, 1564, 4, 1040);
    put(bytes, 1568, 4, 1047);
    put(bytes, 1572, 4, 40040);
    put(bytes, 1592, 4, 40049);
    putText(bytes, 1596, 7, "AVI");
    putText(bytes, 1603, 7, "MP3");
    put(bytes, 1630, 2, 192);
    put(bytes, 1638, 2, 112);
    put(bytes, 1640, 2, 128);
    put(bytes, 2688, 4, 0x63646976);
    put(bytes, 2692, 4, 0x30357669);

    OptionsState state{};
    TamrinOptions options = read(bytes, &state);
    EXPECT_EQ(state, OptionsState::Loaded);
    EXPECT_EQ(fieldText(options.openFolder), "/home/user/streams");
    EXPECT_EQ(fieldText(options.bmpFolder), "/home/user/pictures");
    EXPECT_EQ(options.existingFiles, kExistingOverwrite);
    EXPECT_EQ(options.playMode, kPlayRepeat);
    EXPECT_EQ(options.listFilter, kShowVideo);
    EXPECT_EQ(fieldText(options.stillConversion), "BMP");
    EXPECT_EQ(fieldText(options.musicConversion), "MID");
    EXPECT_EQ(fieldText(options.audioConversion), "WAVE"); // no MP3 encoder here
    EXPECT_EQ(options.volume, 100);
    EXPECT_EQ(options.previewSize, kPreviewSame);
    EXPECT_EQ(options.mp3BitRate, 192);
    EXPECT_EQ(options.aviCompression.handler, 0x30357669u);
    EXPECT_FALSE(fs::exists(m_env.baseFolder)) << "folders of the file are not defaults";

    m_env.mp3Available = true;
    EXPECT_EQ(fieldText(read(bytes).audioConversion), "MP3");

    for (const auto& [stored, loaded] : {std::pair{40048u, 15u}, {40050u, 6u}, {12u, 12u}}) {
        put(bytes, 1592, 4, stored);
        EXPECT_EQ(read(bytes).listFilter, loaded) << stored;
    }
}

// A field with a value it cannot have gets its default; the fields around it keep theirs.
TEST_F(OptionsFileTest, DamagedFieldsFallBackOneByOne)
{
    TamrinOptions reference = defaultOptions(m_env);
    setFieldText(reference.openFolder, "/kept");
    reference.playMode = kPlayAll;
    reference.mp3ChannelMode = 0;
    const Bytes good = written(reference);
    const Bytes fallback = defaults();
    const struct
    {
        const char* what;
        size_t offset, size;
        uint32_t value;
    } cases[] = {
        {"AVI folder without its zero", 260, 0, 'x'},
        {"relative WAVE folder", 520, 1, 'a'},
        {"empty BMP folder", 1300, 1, 0},
        {"negative filter index", 1560, 4, uint32_t(-1)},
        {"priority", 1568, 4, 1049},
        {"AVI channels", 1577, 1, 3},
        {"AVI bits", 1578, 2, 12},
        {"AVI rate", 1580, 4, 999},
        {"WAVE rate", 1588, 4, 384001},
        {"list filter", 1592, 4, 16},
        {"video conversion", 1596, 4, 0x00564157}, // "WAV"
        {"audio conversion without its zero", 1603, 0, 'W'},
        {"still conversion", 1614, 4, 0x00495641}, // "AVI"
        {"volume", 1628, 2, 401},
        {"negative volume", 1628, 2, 0xFFFF},
        {"MP3 rate", 1630, 2, 100},
        {"MP3 quality", 1630, 2, 0x400A},
        {"MP3 format", 1632, 2, 3},
        {"MP3 emphasis", 1646, 2, 2},
        {"VBR range upside down", 1638, 2, 192},
        {"pop-up position", 1668, 4, 0x7FFFFFFF},
        {"preview size", 1672, 2, 40064},
        {"preview flags", 1674, 2, 8},
        {"compressor type", 2688, 4, 0x73647561}, // "auds"
        {"codec quality", 2700, 4, 10001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes bytes = good;
        if (c.size == 0)
            std::fill(bytes.begin() + c.offset, bytes.begin() + c.offset + (c.offset < 1560 ? 260 : 7),
                      c.value);
        else
            put(bytes, c.offset, c.size, c.value);
        const Bytes result = written(read(bytes));
        const size_t width = c.size == 0 ? (c.offset < 1560 ? 260 : 7) : c.size;
        // The damaged field (the whole record for the compression) holds its default...
        const size_t from = c.offset >= 2688 ? 2688 : c.offset < 1560 ? c.offset / 260 * 260 : c.offset;
        const size_t to = c.offset >= 2688 ? 2732 : c.offset < 1560 ? from + 260 : c.offset + width;
        EXPECT_TRUE(std::equal(result.begin() + from, result.begin() + to, fallback.begin() + from));
        // ...and every other byte is as it was stored (the VBR range falls back as a pair).
        for (size_t i = 0; i < result.size(); ++i)
            if ((i < from || i >= to) && !(c.offset == 1638 && i >= 1640 && i < 1642)) {
                ASSERT_EQ(result[i], good[i]) << "byte " << i;
            }
    }
}

// Files that are not one whole record: NotLoaded; a short one keeps the fields it holds whole.
TEST_F(OptionsFileTest, ShortAndLongFiles)
{
    TamrinOptions reference = defaultOptions(m_env);
    setFieldText(reference.openFolder, "/streams");
    setFieldText(reference.aviFolder, "/movies");
    reference.batchPriority = kPriorityAbove;
    reference.volume = 80;
    const Bytes full = written(reference);
    const Bytes fallback = defaults();

    OptionsState state{};
    EXPECT_EQ(written(read(Bytes(full.begin(), full.begin() + 100), &state)), fallback);
    EXPECT_EQ(state, OptionsState::NotLoaded);
    EXPECT_EQ(written(read(Bytes(), &state)), fallback);
    EXPECT_EQ(state, OptionsState::NotLoaded);

    // 519 bytes: the open folder whole, the AVI folder cut.
    TamrinOptions options = read(Bytes(full.begin(), full.begin() + 519), &state);
    EXPECT_EQ(state, OptionsState::NotLoaded);
    EXPECT_EQ(fieldText(options.openFolder), "/streams");
    EXPECT_EQ(fieldText(options.aviFolder), fieldText(defaultOptions(m_env).aviFolder));

    // 2731 bytes: all but the last field of the compression record.
    options = read(Bytes(full.begin(), full.end() - 1), &state);
    EXPECT_EQ(state, OptionsState::NotLoaded);
    EXPECT_EQ(options.batchPriority, kPriorityAbove);
    EXPECT_EQ(options.volume, 80);

    // 2733 bytes are not a record of ours.
    Bytes longer = full;
    longer.push_back(0);
    EXPECT_EQ(written(read(longer, &state)), fallback);
    EXPECT_EQ(state, OptionsState::NotLoaded);

    // The same through files; a folder where the file should be reads as no file.
    const fs::path path = m_root / "Tamrin.ini";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(full.data()), 100);
    EXPECT_EQ(loadOptionsFile(path, m_env, options), OptionsState::NotLoaded);
    EXPECT_EQ(written(options), fallback);
    EXPECT_EQ(loadOptionsFile(m_root / "missing.ini", m_env, options), OptionsState::NotLoaded);
    EXPECT_EQ(written(options), fallback);
    fs::create_directory(m_root / "folder.ini");
    EXPECT_EQ(loadOptionsFile(m_root / "folder.ini", m_env, options), OptionsState::NotLoaded);
}

// Whatever the bytes, the record read is one that reads back as itself, with valid values.
TEST_F(OptionsFileTest, RandomBytes)
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
            EXPECT_EQ(stored[1595] | stored[1594], 0); // filter at most 15
            EXPECT_LE(options.listFilter, kShowAll);
            EXPECT_TRUE(options.playMode >= kPlayOne && options.playMode <= kPlayAll);
            EXPECT_TRUE(options.volume > 0 && options.volume <= 400);
            EXPECT_TRUE(options.previewSize >= kPreviewHalf && options.previewSize <= kPreviewEnlarged);
            EXPECT_EQ(options.openFolder[0], '/');
        }
    }
}

// A folder too long for its field is stored empty, not cut, and reads back as its default.
TEST_F(OptionsFileTest, OverlongFolderIsNotCut)
{
    TamrinOptions options = defaultOptions(m_env);
    std::memset(options.aviFolder, 'a', sizeof options.aviFolder); // no room for the zero
    options.aviFolder[0] = '/';
    EXPECT_FALSE(setFieldText(options.bmpFolder, "/" + std::string(259, 'b')));
    const Bytes bytes = written(options);
    EXPECT_EQ(text(bytes, 260, 260), "");
    EXPECT_EQ(text(bytes, 1300, 260), "");
    EXPECT_EQ(written(read(bytes)), defaults());
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
    std::ifstream in(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the old file");
    EXPECT_EQ(std::distance(fs::directory_iterator(locked), fs::directory_iterator()), 1);

    std::string error;
    EXPECT_FALSE(saveOptionsFile({}, options, &error));
    EXPECT_FALSE(error.empty());
}

// One run after another: the first starts from defaults and stores them with its changes, the
// next reads them; a run over a damaged file starts sensibly and stores a valid record.
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
    ProgramOptions third(path, m_env);
    EXPECT_EQ(third.state(), OptionsState::Loaded);
    ASSERT_TRUE(third.save());
    EXPECT_EQ(ProgramOptions(path, m_env).state(), OptionsState::Loaded);
    std::ifstream in(path, std::ios::binary);
    const Bytes stored{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(written(read(stored)), stored);
}

// The file's place: Tamrin.ini in the configuration folder, which TAMRIN_HOME replaces.
TEST(OptionsFilePath, InTheConfigurationFolder)
{
    const char* home = std::getenv("TAMRIN_HOME");
    ASSERT_TRUE(home && *home);
    EXPECT_EQ(optionsFilePath(), fs::path(home) / "Tamrin.ini");
}

} // namespace
