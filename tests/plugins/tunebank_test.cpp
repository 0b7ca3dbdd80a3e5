// Tunebank.psr on chunk chains made by tests/mediagen/tunebank_layout.h: the streams of files and
// of disc images, the events delivered against the same events in MIDI file form, seeking, and
// the way out: a MIDI file read by an independent parser (Python's mido) and the synthesiser's
// sound.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>

#include "../mediagen/tunebank_layout.h"
#include "../support/scratch_folder.h"
#include "audio/music_synth.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "player/sequencer_events.h"
#include "streamkit/lbr.h"

namespace {

namespace fs = std::filesystem;
using mediagen::Bytes;
using mediagen::TuneBlock;
using mediagen::TuneEvent;

constexpr const char* kPlugin = "Tunebank.psr";

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TuneBlock songBlock(uint8_t key = 60)
{
    return TuneBlock{96, mediagen::tuneSong(key, 500000, 250000)};
}

// The standard output of a shell command; its exit status in `status`.
std::string run(const std::string& command, int* status)
{
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char chunk[4096];
    for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        out.append(chunk, n);
    *status = pipe ? pclose(pipe) : -1;
    return out;
}

std::string shellWord(const std::string& text)
{
    return std::string(1, '\'').append(text).append(1, '\'');
}

// Every unit of a stream, one after the other.
Bytes readEvents(const char* file, int32_t drive, StrInfo info)
{
    StreamState* stream = LbrOpenStream(kPlugin, file, drive, &info, LBR_WANT_AUDIO);
    EXPECT_NE(stream, nullptr);
    Bytes all;
    std::vector<uint8_t> buffer(PSR_READ_HEADER_BYTES + 16384);
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.data());
    while (stream && LbrReadStream(stream, LBR_WANT_AUDIO, record) == 1) {
        EXPECT_LE(record->payloadBytes, 1024u + 9 + 0x2000);
        all.insert(all.end(), record->payload, record->payload + record->payloadBytes);
    }
    if (stream)
        LbrCloseStream(stream);
    return all;
}

class TunebankTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        m_binding = LbrOpenPSR(kPlugin);
        ASSERT_NE(m_binding, nullptr);
        ASSERT_TRUE(m_folder.made());
    }
    void TearDown() override
    {
        if (m_binding)
            LbrClosePSR(m_binding);
    }
    std::string write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = (m_folder.path() / name).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    bool describe(const std::string& path, StrInfo* info)
    {
        std::memset(info, 0, sizeof *info);
        return LbrIsSupportFile(m_binding, path.c_str()) && LbrGetStrFileInfo(m_binding, path.c_str(), info);
    }

    PluginBinding* m_binding = nullptr;
    testsupport::ScratchFolder m_folder{"tunebank"};
};

// Files: the chunk walk and the events of block 0, each case a block of compressed events or a
// whole file, with the events expected (empty: the file is refused); then the layout's song, whose
// running status, repeated delta byte, meta and system-exclusive events are delivered whole.
TEST_F(TunebankTest, FilesDeliverTheirFirstBlockInMidiFileEncoding)
{
    const Bytes end{0x00, 0xFF, 0x2F, 0x00};
    const auto chain = [](const Bytes& events) {
        const Bytes block = Bytes{6, 0, 0, 0, 96, 0} + events;
        return mediagen::tuneChunk("IECSsreV", {1, 0, 0, 0}) + mediagen::tuneChunk("IECSuqeS", {}) +
               mediagen::midiChunk({block});
    };
    Bytes hugeSysex{0x00, 0xF0, 0xC0, 0x01};
    hugeSysex.resize(hugeSysex.size() + 0x2001, 0x01);
    Bytes badTable = chain({0x00, 0xFF, 0x2F, 0x00});
    mediagen::put32(badTable.data() + 16 + 12 + 12, 0xFFFFFFFF); // the last block index
    Bytes shortSize = chain({0x00, 0xFF, 0x2F, 0x00});
    const Bytes cut(shortSize.begin(), shortSize.end() - 3);
    mediagen::put32(shortSize.data() + 16 + 8, 0); // the sequence chunk's size
    const struct
    {
        const char* what;
        Bytes file;
        Bytes events;
        uint32_t ms = 0; // checked when not 0
    } cases[] = {
        {"note off: the key only", chain({0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x00, 0xFF, 0x2F, 0x00}),
         Bytes{0x00, 0x90, 0x3C, 0x40, 0x10, 0x80, 0x3C, 0x00} + end},
        {"bit 7 on the velocity: no delta next",
         chain({0x00, 0x90, 0x3C, 0xC0, 0x80, 0x3C, 0x00, 0xFF, 0x2F, 0x00}),
         Bytes{0x00, 0x90, 0x3C, 0x40, 0x00, 0x80, 0x3C, 0x00} + end},
        {"the last event at the block end is kept", chain({0x00, 0x90, 0x3C, 0x40, 0x20, 0x80, 0x3C}),
         Bytes{0x00, 0x90, 0x3C, 0x40, 0x20, 0x80, 0x3C, 0x00} + end},
        {"an event cut short: the track ends before it", chain({0x00, 0x90, 0x3C, 0x40, 0x20, 0x80}),
         Bytes{0x00, 0x90, 0x3C, 0x40} + end},
        {"time before the first tempo runs at that tempo",
         chain({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, 0x60,
                0xFF, 0x2F, 0x00}),
         Bytes{0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00, 0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40, 0x60,
               0xFF, 0x2F, 0x00},
         2000},
        {"a foreign chunk before the MIDI chunk", mediagen::tuneChunk("IECSxxxx", {1, 2, 3}) + chain(end),
         end},
        {"data byte before any status", chain({0x00, 0x3C, 0x40, 0x00}), {}},
        {"bit 7 on a data byte that is not the last",
         chain({0x00, 0x90, 0xBC, 0x40, 0x00, 0xFF, 0x2F, 0x00}),
         {}},
        {"status 0xF4", chain({0x00, 0xF4, 0x00, 0x00}), {}},
        {"five-byte delta", chain({0x81, 0x81, 0x81, 0x81, 0x01, 0x90, 0x3C, 0x40, 0x00}), {}},
        {"tempo of two bytes", chain({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1, 0x00}), {}},
        {"system-exclusive over 8 KiB", chain(hugeSysex), {}},
        {"a tag without IECS", Bytes{'R', 'I', 'F', 'F'} + chain(end), {}},
        {"a chunk size of 0", shortSize, {}},
        {"a block table past the chunk", badTable, {}},
        {"block 0 not at events offset 6", mediagen::tunebankChain({{96, {}, 5}}), {}},
        {"MIDI chunk past the end of the file", cut, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = write("case.tbk", c.file);
        StrInfo info;
        ASSERT_EQ(describe(path, &info), !c.events.empty());
        if (!c.events.empty()) {
            EXPECT_EQ(readEvents(path.c_str(), 0, info), c.events);
            EXPECT_TRUE(c.ms == 0 || info.durationMs == c.ms) << info.durationMs;
        }
    }

    // The song of the layout: block 0 only, described and delivered whole.
    const TuneBlock song = songBlock();
    const std::string path = write("song.tbk", mediagen::tunebankChain({song, songBlock(40)}));
    StrInfo info;
    ASSERT_TRUE(describe(path, &info));
    EXPECT_EQ(info.kind, StrMusic);
    EXPECT_EQ(info.channels, 0x0402);
    EXPECT_EQ(info.bitsPerSample, 96);
    EXPECT_EQ(info.sampleRate, 500000u);
    EXPECT_EQ(info.dataBytes, 6 + mediagen::compressedEvents(song.events).size());
    EXPECT_EQ(info.durationMs, 3604u);
    EXPECT_EQ(info.startSector | info.sectorCount | info.reserved, 0u);
    EXPECT_EQ(readEvents(path.c_str(), 0, info), mediagen::midiFileEvents(song.events));
}

// A seek leaves the stream after the first event whose time reaches the position.
TEST_F(TunebankTest, SeeksAfterTheEventThatReachesThePosition)
{
    const TuneBlock song = songBlock();
    const std::string path = write("song.tbk", mediagen::tunebankChain({song}));
    StrInfo info;
    ASSERT_TRUE(describe(path, &info));
    StreamState* stream = LbrOpenStream(kPlugin, path.c_str(), 0, &info, LBR_WANT_AUDIO);
    ASSERT_NE(stream, nullptr);
    std::vector<uint8_t> buffer(PSR_READ_HEADER_BYTES + 16384);
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.data());
    // Event 7 ends the first note at 500 ms, 22 changes the tempo at 3042 ms, 24 ends the last note
    // at 3542 ms and 26 ends the track at 3604 ms.
    const std::pair<uint32_t, size_t> seeks[] = {{0, 0},     {1, 8},     {500, 8},  {2999, 23},
                                                 {3100, 25}, {3604, 27}, {5000, 27}};
    for (const auto& [ms, next] : seeks) {
        SCOPED_TRACE(ms);
        const bool inside = ms <= 3604;
        EXPECT_EQ(LbrSeekStream(stream, ms), inside ? 1 : 0);
        Bytes rest;
        while (LbrReadStream(stream, LBR_WANT_AUDIO, record) == 1)
            rest.insert(rest.end(), record->payload, record->payload + record->payloadBytes);
        const std::vector<TuneEvent> after(song.events.begin() + std::ptrdiff_t(next), song.events.end());
        EXPECT_EQ(rest, mediagen::midiFileEvents(after));
    }
    LbrCloseStream(stream);
}

// Disc: chains across sector boundaries (one whose first tag is split by one), found in the user
// data; a version chunk followed by another chain's start, and a MIDI chunk whose second of three
// blocks is not taken.
TEST_F(TunebankTest, FindsTheBlocksOfChainsOnADisc)
{
    discbuild::DiscBuilder b;
    b.addForeign(4);
    const TuneBlock refused{96, mediagen::tuneSong(50, 400000, 300000), 5};
    const Bytes first = mediagen::tuneChunk("IECSsreV", {1, 0, 0, 0}) +
                        mediagen::tunebankChain({songBlock(62), refused, songBlock(64)});
    mediagen::placeData(b, 4, 2000, first);
    const Bytes second = mediagen::tunebankChain({songBlock(40), songBlock(48)});
    mediagen::placeData(b, 9, 2044, second);
    b.addForeign(3);
    const auto image = b.write();
    ASSERT_TRUE(image);
    const int32_t drive = CdMountImage(image->cue.c_str());
    ASSERT_GE(drive, 0);

    const std::vector<StrInfo> found = discprobe::probeDisc(m_binding, drive);
    // Each stream: the chain's address, the MIDI chunk's place in it, the block, the song's key.
    const std::tuple<uint64_t, const Bytes*, size_t, size_t, uint8_t> expected[] = {
        {4 * 2048 + 2000, &first, 52, 0, 62},
        {9 * 2048 + 2044, &second, 36, 0, 40},
        {9 * 2048 + 2044, &second, 36, 1, 48}};
    ASSERT_EQ(found.size(), std::size(expected));
    for (size_t i = 0; i < found.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& [chain, bytes, midi, block, key] = expected[i];
        const uint64_t address = chain + midi + mediagen::le32(bytes->data() + midi + 16 + 4 * block);
        const TuneBlock song = songBlock(key);
        EXPECT_EQ(found[i].kind, StrMusic);
        EXPECT_EQ(found[i].startSector, address / 2048);
        EXPECT_EQ(found[i].reserved, address % 2048);
        EXPECT_EQ(found[i].dataBytes, 6 + mediagen::compressedEvents(song.events).size());
        EXPECT_EQ(found[i].sectorCount, (address % 2048 + found[i].dataBytes + 2047) / 2048);
        EXPECT_EQ(found[i].durationMs, 3604u);
        EXPECT_EQ(readEvents(nullptr, drive, found[i]), mediagen::midiFileEvents(song.events));
    }
    CdUnmountImage(drive);
}

// The way out: the MIDI converter's file as mido reads it, and the synthesiser's sound.
TEST_F(TunebankTest, ConvertsToAMidiFileAndPlaysForItsLength)
{
    const TuneBlock song = songBlock();
    const std::string path = write("song.tbk", mediagen::tunebankChain({song}));
    StrInfo info;
    ASSERT_TRUE(describe(path, &info));
    // 584 ticks at the first tempo (the second tempo's own delta included), 216 at the second.
    const double seconds = (584.0 * 500000 + 216.0 * 250000) / 96 / 1e6;

    std::string error;
    auto made = tamrin::audio::makeMusicSynth(44100, "", &error);
    ASSERT_TRUE(made) << error;
    ASSERT_TRUE(made->setTiming(info.bitsPerSample, info.sampleRate));
    const Bytes events = readEvents(path.c_str(), 0, info);
    Bytes records(65536);
    records.resize(tamrin::player::convertSequencerEvents(events, records));
    ASSERT_FALSE(records.empty());
    std::vector<int16_t> pcm;
    ASSERT_TRUE(made->render(records, pcm));
    // The end of the track, 24 ticks after the last message, makes no sound.
    EXPECT_NEAR(double(pcm.size()) / 2 / 44100, seconds - 24 * 0.25 / 96, 0.002);
    double sum = 0;
    for (int16_t s : pcm)
        sum += double(s) * s;
    EXPECT_GT(std::sqrt(sum / double(pcm.size())), 100.0);

    const fs::path cli = fs::path(TAMRIN_OUT_DIR) / "tamrin-cli";
    if (!fs::exists(cli) || std::system("/usr/bin/python3 -c 'import mido' 2>/dev/null") != 0)
        GTEST_SKIP() << "tamrin-cli and Python's mido are needed for the MIDI file";
    const fs::path midi = m_folder.path() / "song.mid";
    int status = 0;
    run(shellWord(cli.string()) + " convert --to midi --out " + shellWord(midi.string()) + " " +
            shellWord(path) + " 2>&1",
        &status);
    ASSERT_EQ(status, 0);
    const std::string script =
        "import collections, json, sys, mido\nt = mido.MidiFile(sys.argv[1]).tracks[0]\n"
        "print(json.dumps({'types': collections.Counter(m.type for m in t), 'last': t[-1].type,"
        " 'seconds': mido.MidiFile(sys.argv[1]).length,"
        " 'tempo': [m.tempo for m in t if m.type == 'set_tempo']}))";
    const std::string out =
        run("/usr/bin/python3 -c \"" + script + "\" " + shellWord(midi.string()), &status);
    ASSERT_EQ(status, 0) << out;
    const auto read = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(read.is_discarded()) << out;
    // The converter's prologue adds a system-exclusive message, a tempo and the time signature.
    const nlohmann::json types = {
        {"sysex", 2}, {"set_tempo", 3}, {"time_signature", 1}, {"program_change", 1}, {"control_change", 1},
        {"text", 1},  {"note_on", 9},   {"note_off", 9},       {"pitchwheel", 2},     {"end_of_track", 1}};
    EXPECT_EQ(read["types"], types);
    EXPECT_EQ(read["last"], "end_of_track");
    EXPECT_EQ(read["tempo"], (std::vector<uint32_t>{500000, 500000, 250000}));
    // The prologue's 12 ticks at the stream's tempo come first.
    EXPECT_NEAR(read["seconds"].get<double>(), seconds + 12 * 0.5 / 96, 0.001);
}

} // namespace
