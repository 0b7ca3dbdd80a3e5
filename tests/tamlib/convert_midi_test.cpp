// PlbConvertMIDI, checked from outside: music written here is served by the player's music test
// plugin, and every file made is read by an independent reader (Python's mido) for its format,
// division, tempo, messages and duration. Failures and cancels leave only the file that was there.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <vector>

#include "../mediagen/sequence_layout.h"
#include "convert/midi_file.h"
#include "convert_support.h"
#include "convert_tools.h"
#include "music_stream_file.h"
#include "picture_compare.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"

namespace converttest {
namespace {

using nlohmann::json;
using musictest::Bytes;

constexpr const char* kMusic = "ConvMusic.psr";
constexpr uint32_t kPrologueTicks = 12; // the deltas 0, 4 and 8 of the track's first events

// What mido reads in a MIDI file; null when it cannot read it.
json mido(const fs::path& file)
{
    static const char* kScript = R"(
import json, sys, mido
f = mido.MidiFile(sys.argv[1])
t = f.tracks[0]
print(json.dumps({"type": f.type, "tracks": len(f.tracks), "division": f.ticks_per_beat,
  "messages": [m.type for m in t], "ticks": sum(m.time for m in t), "seconds": f.length,
  "tempo": [m.tempo for m in t if m.type == "set_tempo"],
  "signature": [[m.numerator, m.denominator] for m in t if m.type == "time_signature"],
  "sysex": [list(m.data) for m in t if m.type == "sysex"]}))
)";
    const auto out = runCommand("/usr/bin/python3 -c '" + std::string(kScript) + "' '" + file.string() + "'");
    return out ? json::parse(*out) : json();
}

// A stream file of the music test plugin.
fs::path writeMusic(const fs::path& folder, const std::vector<Bytes>& units, uint16_t division,
                    uint32_t tempo, uint32_t lengthMs)
{
    const fs::path path = folder / "song.tmus";
    writeFile(path, musictest::musicStreamFile(units, division, tempo, lengthMs));
    return path;
}

StrInfo describe(const fs::path& file)
{
    return converttest::describe(kMusic, file);
}

PlbMidiSettings midiSettings(const fs::path& out)
{
    PlbMidiSettings settings{};
    std::snprintf(settings.outputPath, sizeof settings.outputPath, "%s", out.c_str());
    return settings;
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A quarter note at division 96: on, and off 96 ticks later.
Bytes quarter(uint8_t key)
{
    return {0x00, 0x90, key, 0x64, 0x60, 0x80, key, 0x00};
}

// One second of music at division 96 and 500 000 us a quarter.
Bytes second(uint8_t key)
{
    return quarter(key) + quarter(uint8_t(key + 2));
}

class ConvertMidi : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!runCommand("/usr/bin/python3 -c 'import mido' 2>/dev/null"))
            GTEST_SKIP() << "Python's mido (python3-mido) is the independent reader of these tests";
    }
    TempFolder m_folder;
};

TEST_F(ConvertMidi, FilesAsMidoReadsThem)
{
    const Bytes endOfTrack{0x00, 0xFF, 0x2F, 0x00};
    struct Case
    {
        const char* what;
        std::vector<Bytes> units;
        uint16_t division;
        uint32_t tempo;
        uint32_t ticks;                    // of the units' events
        std::vector<std::string> messages; // after the prologue's three
        bool endAdded;
    };
    const std::vector<std::string> fourNotes{"note_on", "note_off", "note_on", "note_off"};
    const auto notes = [&](int seconds) {
        std::vector<std::string> all;
        for (int i = 0; i < seconds; ++i)
            all.insert(all.end(), fourNotes.begin(), fourNotes.begin() + 4);
        return all;
    };
    const auto with = [](std::vector<std::string> a, std::initializer_list<const char*> b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const Case cases[] = {
        {"the plugin's own end of track",
         {second(60), second(64), second(67) + endOfTrack},
         96,
         500000,
         3 * 192,
         with(notes(3), {"end_of_track"}),
         false},
        {"no end of track: one is added",
         {second(60), second(62)},
         96,
         500000,
         2 * 192,
         with(notes(2), {"end_of_track"}),
         true},
        {"running status, a system-exclusive message, other meta events and real time",
         {Bytes{0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0x00, 0xFF, 0x01, 0x02,
                'h',  'i',  0x00, 0xB0, 0x07, 0x64, 0x10, 0x07, 0x50, 0x00, 0xF8},
          Bytes{0x00, 0x90, 0x3C, 0x40, 0x83, 0x00, 0x3C, 0x00} + endOfTrack},
         480,
         1000000,
         0x10 + 0x180,
         {"sysex", "text", "control_change", "control_change", "clock", "note_on", "note_on", "end_of_track"},
         false},
        {"an empty unit and no events at all", {Bytes{}}, 96, 500000, 0, {"end_of_track"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint32_t eventBytes = 0;
        for (const Bytes& unit : c.units)
            eventBytes += uint32_t(unit.size());
        const uint32_t lengthMs = uint32_t(uint64_t(c.ticks) * c.tempo / c.division / 1000);
        const fs::path music = writeMusic(m_folder.path(), c.units, c.division, c.tempo, lengthMs);
        const StrInfo info = describe(music);
        const fs::path out = m_folder.path() / "song.mid";
        const PlbMidiSettings settings = midiSettings(out);
        ASSERT_EQ(PlbConvertMIDI(kMusic, music.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);

        const std::string bytes = readFile(out);
        const uint32_t trackBytes = 26 + eventBytes + (c.endAdded ? 4 : 0);
        ASSERT_EQ(bytes.size(), 22 + trackBytes);
        EXPECT_EQ(bytes.substr(18, 4), std::string({char(trackBytes >> 24), char(trackBytes >> 16),
                                                    char(trackBytes >> 8), char(trackBytes)}));
        const std::string tempo{char(c.tempo >> 16), char(c.tempo >> 8), char(c.tempo)};
        EXPECT_EQ(bytes.substr(22 + 15, 3), tempo);

        const json read = mido(out);
        ASSERT_FALSE(read.is_null()) << "mido cannot read the file";
        EXPECT_EQ(read["type"], 0);
        EXPECT_EQ(read["tracks"], 1);
        EXPECT_EQ(read["division"], c.division);
        EXPECT_EQ(read["tempo"], json::array({c.tempo}));
        EXPECT_EQ(read["signature"], json::array({json::array({4, 4})})) << "no time signature: 4/4";
        EXPECT_EQ(read["sysex"][0], json::array({0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00})) << "XG on";
        std::vector<std::string> expected{"sysex", "set_tempo", "time_signature"};
        expected.insert(expected.end(), c.messages.begin(), c.messages.end());
        EXPECT_EQ(read["messages"].get<std::vector<std::string>>(), expected);
        EXPECT_EQ(read["ticks"], kPrologueTicks + c.ticks);
        // The tempo event comes at tick 4: the ticks before it run at the default 500 000 us.
        const double seconds =
            (4.0 * 500000 + double(kPrologueTicks - 4 + c.ticks) * c.tempo) / c.division / 1e6;
        EXPECT_NEAR(read["seconds"].get<double>(), seconds, 1e-6);
    }
}

// A generated sequence file through the sequence plugin: mido reads the events the generator
// wrote (after the prologue's three), its tempo change, its system-exclusive message whole, its
// time signature and its play time. The 200-byte text before the notes has a two-byte length.
TEST_F(ConvertMidi, SequenceFilesOfTheSequencePlugin)
{
    const mediagen::Sequence song = mediagen::scoreSong(3, 600000, 3);
    const fs::path file = m_folder.path() / "song.seq";
    writeFile(file, std::string(song.file.begin(), song.file.end()));
    const StrInfo info = converttest::describe("Scorefile.psr", file);
    const fs::path out = m_folder.path() / "song.mid";
    const PlbMidiSettings settings = midiSettings(out);
    ASSERT_EQ(PlbConvertMIDI("Scorefile.psr", file.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);

    const json read = mido(out);
    ASSERT_FALSE(read.is_null()) << "mido cannot read the file";
    EXPECT_EQ(read["division"], 96);
    std::vector<std::string> expected{"sysex", "set_tempo", "time_signature"};
    expected.insert(expected.end(), song.messages.begin(), song.messages.end());
    EXPECT_EQ(read["messages"].get<std::vector<std::string>>(), expected);
    EXPECT_EQ(read["tempo"], json(song.tempos));
    EXPECT_EQ(read["signature"], json::array({json::array({3, 4})}));
    EXPECT_EQ(read["sysex"][1], json::array({0x7E, 0x7F, 0x09, 0x01}));
    EXPECT_EQ(read["ticks"], kPrologueTicks + song.ticks);
    const double prologue = (4.0 * 500000 + double(kPrologueTicks - 4) * song.tempos[0]) / 96 / 1e6;
    EXPECT_NEAR(read["seconds"].get<double>(), prologue + double(song.timeSum) / 96 / 1e6, 1e-6);
    EXPECT_NEAR(double(info.durationMs), double(song.timeSum) / 96 / 1000, 1.0);
}

TEST_F(ConvertMidi, ProgressFollowsTheTicksAtTheTempo)
{
    // Four units of one second (192 ticks at 96 a quarter of 0.5 s); the stream says 3500 ms, so
    // the last unit's position stops at the length.
    const fs::path music =
        writeMusic(m_folder.path(), {second(60), second(62), second(64), second(66)}, 96, 500000, 3500);
    const StrInfo info = describe(music);
    const PlbMidiSettings settings = midiSettings(m_folder.path() / "p.mid");
    ProgressRecord log;
    ASSERT_EQ(PlbConvertMIDI(kMusic, music.c_str(), &info, &settings, recordProgress, &log), PLB_CONV_OK);
    const std::vector<std::pair<uint32_t, uint32_t>> expected{{0, 3500},    {1000, 3500}, {2000, 3500},
                                                              {3000, 3500}, {3500, 3500}, {3500, 3500}};
    EXPECT_EQ(log.calls, expected);
}

// Whatever goes wrong, nothing is left but the file that was there before.
TEST_F(ConvertMidi, FailuresAndCancelLeaveOnlyTheOldFile)
{
    struct Case
    {
        const char* what;
        int32_t result;
        const char* target = "kept.mid";
        size_t cancelAt = SIZE_MAX;
        uint16_t division = 96;
        const char* sourceSuffix = "";
    };
    std::vector<Case> all = {
        {.what = "cancel at the start", .result = PLB_CONV_OK, .cancelAt = 0},
        {.what = "cancel after a unit", .result = PLB_CONV_OK, .cancelAt = 1},
        {.what = "the final call answers 0", .result = PLB_CONV_OK, .cancelAt = 3},
        {.what = "no such source", .result = PLB_CONV_NO_STREAM, .sourceSuffix = ".none"},
        {.what = "no time division", .result = PLB_CONV_NO_STREAM, .division = 0},
        {.what = "no such folder", .result = PLB_CONV_WAVE_FILE, .target = "none/x.mid"},
        {.what = "no path", .result = PLB_CONV_WAVE_FILE, .target = ""},
    };
    const fs::path sources = m_folder.path() / "sources";
    fs::create_directory(sources);
    for (const Case& c : all) {
        SCOPED_TRACE(c.what);
        const fs::path music = writeMusic(sources, {second(60), second(62)}, c.division, 500000, 2000);
        const StrInfo info = describe(music);
        writeFile(m_folder.path() / "kept.mid", "the old file");
        PlbMidiSettings settings = midiSettings(m_folder.path() / c.target);
        if (!*c.target)
            settings.outputPath[0] = '\0';
        ProgressRecord log{{}, c.cancelAt};
        const std::string source = music.string() + c.sourceSuffix;
        EXPECT_EQ(PlbConvertMIDI(kMusic, source.c_str(), &info, &settings, recordProgress, &log), c.result);
        EXPECT_TRUE(readFile(m_folder.path() / "kept.mid") == "the old file");
        EXPECT_EQ(clitest::folderEntries(m_folder.path()), (std::vector<std::string>{"kept.mid", "sources"}));
    }
    EXPECT_EQ(PlbConvertMIDI(kMusic, "x", nullptr, nullptr, nullptr, nullptr), PLB_CONV_NO_STREAM);
    // A movie's sound is no music.
    StrInfo movie{};
    const fs::path film = fs::path(TAMRIN_TEST_DATA) / "movies" / "mv4_v3_160x112_15fps_x1_xa37800s.str";
    PluginBinding* binding = LbrOpenPSR("Filmfile.psr");
    ASSERT_NE(binding, nullptr);
    EXPECT_EQ(LbrGetStrFileInfo(binding, film.c_str(), &movie), 1);
    LbrClosePSR(binding);
    const PlbMidiSettings settings = midiSettings(m_folder.path() / "kept.mid");
    EXPECT_EQ(PlbConvertMIDI("Filmfile.psr", film.c_str(), &movie, &settings, nullptr, nullptr),
              PLB_CONV_NO_STREAM);
    EXPECT_TRUE(readFile(m_folder.path() / "kept.mid") == "the old file");
}

// A folder the user may not write in, and a file-size limit met in the middle: 7, and the old
// file is kept.
TEST_F(ConvertMidi, RefusedWritesLeaveTheOldFile)
{
    Bytes big;
    while (big.size() < 60000)
        big = big + Bytes{0x00, 0x90, 0x3C, 0x40};
    const fs::path music = writeMusic(m_folder.path(), std::vector<Bytes>(8, big), 96, 500000, 1000);
    const StrInfo info = describe(music);
    expectRefusedWritesKeepTheOldFile(m_folder.path(), "kept.mid", 128 << 10, PLB_CONV_WAVE_FILE,
                                      [&](const fs::path& target) {
                                          const PlbMidiSettings settings = midiSettings(target);
                                          return PlbConvertMIDI(kMusic, music.c_str(), &info, &settings, nullptr,
                                                                nullptr);
                                      });
    EXPECT_EQ(clitest::folderEntries(m_folder.path()),
              (std::vector<std::string>{"kept.mid", "locked", "song.tmus"}));
}

// Streams replayed unit by unit (the Replay test plugin gives the whole description): the time
// signature of the description (numerator high, power of the denominator low; 0 is 4/4) as mido
// reads it, and a unit larger than the usual 64 KiB area copied whole.
TEST_F(ConvertMidi, TimeSignatureAndLargeUnitsOfReplayedStreams)
{
    struct Case
    {
        const char* what;
        uint16_t signatureField;
        std::pair<int, int> signature;
        size_t notes; // note-on events of 4 bytes in the one unit, then the end of track
    };
    const Case cases[] = {
        {"no time signature", 0, {4, 4}, 10},
        {"6/8", 0x0603, {6, 8}, 10},
        {"3/2", 0x0301, {3, 2}, 10},
        {"a unit of 100 KB", 0, {4, 4}, 25000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StrInfo info{};
        info.kind = StrMusic;
        info.channels = c.signatureField;
        info.bitsPerSample = 96;
        info.sampleRate = 500000;
        Bytes unit;
        for (size_t i = 0; i < c.notes; ++i)
            unit = unit + Bytes{0x01, 0x90, uint8_t(0x30 + i % 32), 0x40};
        unit = unit + Bytes{0x00, 0xFF, 0x2F, 0x00};
        PsrReadRecord header{};
        header.unitKind = UnitAudio;
        header.payloadBytes = uint32_t(unit.size());
        std::string script = "RPLY";
        script.append(reinterpret_cast<const char*>(&info), sizeof info);
        script.append(reinterpret_cast<const char*>(&header), PSR_READ_HEADER_BYTES);
        script.append(unit.begin(), unit.end());
        const fs::path source = m_folder.path() / "music.rply";
        writeFile(source, script);
        const fs::path out = m_folder.path() / "replayed.mid";
        const PlbMidiSettings settings = midiSettings(out);
        ASSERT_EQ(PlbConvertMIDI("Replay.psr", source.c_str(), &info, &settings, nullptr, nullptr),
                  PLB_CONV_OK);
        EXPECT_EQ(fs::file_size(out), 22 + 26 + unit.size());
        const json read = mido(out);
        ASSERT_FALSE(read.is_null());
        EXPECT_EQ(read["signature"], json::array({json::array({c.signature.first, c.signature.second})}));
        EXPECT_EQ(read["messages"].size(), 3 + c.notes + 1);
        EXPECT_EQ(read["ticks"], kPrologueTicks + c.notes);
    }
}

// The tick count turned into milliseconds in 32 bits: exact where the product fits, within a
// few thousandths of the 64-bit result where it does not, held at the largest value beyond.
TEST(MidiTicks, MillisecondsAgainstSixtyFourBitArithmetic)
{
    struct Case
    {
        uint32_t ticks, tempo, division;
        bool exact;
    };
    const Case cases[] = {
        {96, 500000, 96, true},        {1, 500000, 96, true},
        {4000, 500000, 480, true},     {3, 333333, 7, true},
        {28800, 13244613, 48, false},  {123456789, 600000, 96, false},
        {0xFFFFFFFF, 1, 65535, false}, {0xFFFFFFFF, 16777215, 65535, false},
        {1000, 16777215, 1, false},    {0x12345678, 0x00ABCDEF, 1, false},
        {0, 500000, 96, true},         {96, 0, 96, true},
        {96, 500000, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.ticks << " ticks, tempo " << c.tempo << ", division " << c.division);
        const uint64_t exact =
            c.division == 0 ? 0 : uint64_t(c.ticks) * c.tempo / (uint64_t(c.division) * 1000);
        const uint32_t got = tamlib::convert::midiTicksToMs(c.ticks, c.tempo, c.division);
        if (exact > UINT32_MAX)
            EXPECT_EQ(got, UINT32_MAX);
        else if (c.exact)
            EXPECT_EQ(got, exact);
        else
            EXPECT_LE(std::fabs(double(got) - double(exact)), double(exact) * 0.005 + 1.0);
    }
}

} // namespace
} // namespace converttest
