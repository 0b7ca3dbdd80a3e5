// The Scorefile plugin through libstreamkit, on sequences from the generator
// (mediagen/sequence_layout.h): files described and refused, units that carry the events in MIDI
// file encoding, seeks, and sequences found on a generated disc image and read from it.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../mediagen/sequence_layout.h"
#include "../support/scratch_folder.h"
#include "disc_builder.h"
#include "disc_probe.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"
#include "unit_reader.h"

namespace {

namespace fs = std::filesystem;
using mediagen::Bytes;
using mediagen::Sequence;
using mediagen::SequenceWriter;

constexpr const char* kPlugin = "Scorefile.psr";

class Scorefile : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.made());
        m_binding = LbrOpenPSR(kPlugin);
        ASSERT_NE(m_binding, nullptr);
    }
    void TearDown() override
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
        if (m_binding)
            LbrClosePSR(m_binding);
    }

    std::string write(const Bytes& bytes, const std::string& name = "song.seq")
    {
        const fs::path path = m_folder.path() / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path.string();
    }

    // The file's description; kind 0xFFFF when it is refused.
    StrInfo describe(const std::string& path)
    {
        StrInfo info{};
        if (LbrGetStrFileInfo(m_binding, path.c_str(), &info) == 0)
            info.kind = 0xFFFF;
        return info;
    }

    testsupport::ScratchFolder m_folder{"scorefile"};
    PluginBinding* m_binding = nullptr;
    int32_t m_drive = -1;
};

// Every unit's payload, one after the other. A unit ends once it holds more than 1024 bytes, so
// none is larger than that and its last event (`largestEvent` bytes at most).
Bytes unitBytes(StreamState* stream, size_t largestEvent = 300, size_t* units = nullptr)
{
    Bytes all;
    size_t count = 0;
    for (const movietest::Unit& u : movietest::readUnits(stream)) {
        EXPECT_EQ(u.frame, 0u);
        EXPECT_FALSE(u.payload.empty());
        EXPECT_LE(u.payload.size(), 1024 + largestEvent);
        ++count;
        all.insert(all.end(), u.payload.begin(), u.payload.end());
    }
    if (units)
        *units = count;
    return all;
}

void expectDescription(const StrInfo& info, const Sequence& s, uint32_t sector, uint32_t offset)
{
    const auto bytes = uint32_t(s.file.size());
    EXPECT_EQ(info.kind, StrMusic);
    EXPECT_EQ(info.reserved, offset);
    EXPECT_EQ(info.startSector, sector);
    EXPECT_EQ(info.sectorCount, (bytes + offset + 2047) / 2048);
    EXPECT_EQ(info.durationMs, s.durationMs());
    EXPECT_EQ(info.channels, s.numerator << 8 | s.power);
    EXPECT_EQ(info.bitsPerSample, s.resolution);
    EXPECT_EQ(info.sampleRate, s.tempos.front());
    EXPECT_EQ(info.dataBytes, bytes);
    EXPECT_EQ(info.frameCount + info.width + info.height + info.frameRate + info.audioFormat, 0u);
}

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Scorefile, DescribesSequenceFilesAndRefusesOthers)
{
    const Sequence song = mediagen::scoreSong();
    const Sequence waltz = SequenceWriter(480, 600000, 3, 2)
                               .channel(0, 0x90, 60, 80)
                               .tempo(960, 300000)
                               .channel(480, 0x80, 60, 0)
                               .end(480);
    struct Case
    {
        const char* name;
        Bytes file;
        const Sequence* described; // null: refused
    } const cases[] = {
        {"song", song.file, &song},
        {"3/4, tempo change", waltz.file, &waltz},
        {"bytes after the end of the track are not counted", song.file + Bytes{0x00, 0x90, 0x3C}, &song},
        {"magic", Bytes{'p', 'Q', 'E', 'T'} + Bytes(song.file.begin() + 4, song.file.end()), nullptr},
        {"header cut", Bytes(song.file.begin(), song.file.begin() + 14), nullptr},
        {"resolution 0",
         Bytes(song.file.begin(), song.file.begin() + 8) + Bytes{0, 0} +
             Bytes(song.file.begin() + 10, song.file.end()),
         nullptr},
        {"undefined status", Bytes(song.file.begin(), song.file.begin() + 15) + Bytes{0x00, 0xF4}, nullptr},
        {"data byte before any status",
         Bytes(song.file.begin(), song.file.begin() + 15) + Bytes{0x00, 0x3C, 0x40}, nullptr},
        {"five-byte delta",
         Bytes(song.file.begin(), song.file.begin() + 15) + Bytes{0x81, 0x81, 0x81, 0x81, 0x01}, nullptr},
        {"data byte with its top bit",
         Bytes(song.file.begin(), song.file.begin() + 15) + Bytes{0x00, 0x90, 0x3C, 0xC0}, nullptr},
        {"above 1 MiB", song.file + Bytes((1u << 20) - song.file.size() + 1, 0), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.file);
        EXPECT_EQ(LbrIsSupportFile(m_binding, path.c_str()), 1) << "any file is looked at";
        const StrInfo info = describe(path);
        if (c.described)
            expectDescription(info, *c.described, 0, 0);
        else
            EXPECT_EQ(info.kind, 0xFFFF);
    }
    // A sequence cut in an event, with no end of the track: described up to its last whole event.
    const Sequence open = SequenceWriter(96, 500000).channel(0, 0x90, 60, 80).channel(96, 0x80, 60, 0).open();
    const StrInfo cut = describe(write(open.file + Bytes{0x10, 0x90, 0x3C}));
    EXPECT_EQ(cut.dataBytes, open.file.size());
    EXPECT_EQ(cut.durationMs, 500u);
    EXPECT_EQ(LbrIsSupportFile(m_binding, m_folder.path().c_str()), 0) << "a folder";
}

// The units hold the events in MIDI file encoding: running status expanded, FF 51 03 tempo,
// system-exclusive and long meta events whole, units of at most 1024 bytes and one event.
TEST_F(Scorefile, UnitsCarryTheEventsInMidiFileEncoding)
{
    const Sequence song = mediagen::scoreSong(100);
    const Sequence escape = SequenceWriter(96, 500000)
                                .sysex(0, 0xF7, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7})
                                .sysex(0, 0xF0, Bytes(3000, 0x11) + Bytes{0xF7})
                                .channel(10, 0xB0, 7, 100)
                                .end(96);
    Bytes songUnits;
    for (const Sequence* s : {&song, &escape}) {
        StrInfo info = describe(write(s->file));
        StreamState* stream = LbrOpenStream(kPlugin, write(s->file).c_str(), 0, &info, LBR_WANT_AUDIO);
        ASSERT_NE(stream, nullptr);
        size_t units = 0;
        const Bytes got = unitBytes(stream, s == &song ? 300 : 3010, &units);
        EXPECT_EQ(got, s->midi);
        EXPECT_EQ(units, s == &song ? 4u : 2u);
        if (s == &song)
            songUnits = got;
        LbrCloseStream(stream);
    }
    // The second note on: 48 ticks, running status in the file, its status byte in the unit.
    const auto contains = [](const Bytes& in, const Bytes& part) {
        return std::search(in.begin(), in.end(), part.begin(), part.end()) != in.end();
    };
    EXPECT_TRUE(contains(song.file, {0x30, 0x40, 0x64}));
    EXPECT_TRUE(contains(songUnits, {0x30, 0x90, 0x40, 0x64}));
    // The tempo event FF 51 tt tt tt comes out as FF 51 03 tt tt tt.
    EXPECT_TRUE(contains(song.file, {0x00, 0xFF, 0x51, 0x03, 0xD0, 0x90, 0x00}));
    EXPECT_TRUE(contains(songUnits, {0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}));

    // A damaged event: the three events before it are delivered, then the stream ends.
    const Bytes damaged =
        Bytes(song.file.begin(), song.file.begin() + 30) + Bytes{0x00, 0xF9, 0x00, 0x90, 0x3C, 0x40};
    StrInfo info = describe(write(song.file));
    StreamState* stream =
        LbrOpenStream(kPlugin, write(damaged, "damaged.seq").c_str(), 0, &info, LBR_WANT_AUDIO);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(unitBytes(stream), Bytes(song.midi.begin(), song.midi.begin() + 15));
    LbrCloseStream(stream);
}

TEST_F(Scorefile, SeeksByTheTempoInForce)
{
    // Quarter notes of 96 ticks: 500 ms before the tempo event at 500 ms, 250 ms after it.
    const Sequence song = mediagen::scoreSong();
    ASSERT_EQ(song.durationMs(), 2750u);
    const std::string path = write(song.file);
    StrInfo info = describe(path);
    const auto openStream = [&] { return LbrOpenStream(kPlugin, path.c_str(), 0, &info, LBR_WANT_AUDIO); };
    StreamState* stream = openStream();
    ASSERT_NE(stream, nullptr);
    struct Case
    {
        uint32_t ms;
        Bytes next; // the first events read after the seek
    } const cases[] = {
        {250, {0x30, 0x80, 60, 64}}, // after the second note on, 48 ticks in
        {240, {0x30, 0x80, 60, 64}}, // the event that reaches the time is passed
        // A quarter after the tempo halved: the unit states the tempo in force first.
        {750, {0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90, 0x00, 0x91, 62, 90}},
        {0, song.midi},
        {2500, {0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90, 0x60, 0xFF, 0x2F, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        ASSERT_EQ(LbrSeekStream(stream, c.ms), 1);
        const Bytes rest = unitBytes(stream);
        ASSERT_GE(rest.size(), c.next.size());
        EXPECT_EQ(Bytes(rest.begin(), rest.begin() + std::ptrdiff_t(c.next.size())), c.next);
    }
    LbrCloseStream(stream);
    // Past the end: nothing more to read.
    void* handle = reinterpret_cast<PsrOpenFileFn>(dlsym(LbrGetPluginInst(m_binding), "PsrOpenFile"))(
        path.c_str(), &info);
    ASSERT_NE(handle, nullptr);
    const auto seek = reinterpret_cast<PsrSeekFn>(dlsym(LbrGetPluginInst(m_binding), "PsrSeek"));
    const auto read = reinterpret_cast<PsrReadFn>(dlsym(LbrGetPluginInst(m_binding), "PsrRead"));
    movietest::RecordBuffer record;
    EXPECT_EQ(seek(handle, 2751), 0);
    EXPECT_EQ(read(handle, record.get()), 0);
    EXPECT_EQ(seek(handle, 0), 1);
    EXPECT_EQ(read(handle, record.get()), 1);
    reinterpret_cast<PsrCloseFn>(dlsym(LbrGetPluginInst(m_binding), "PsrClose"))(handle);
}

// A data track with: a song whose header crosses from sector 10 into 11; a sequence of 48 ms; a
// song at the end of sector 24 whose events cross into the next sectors; a song with a system-
// exclusive event longer than the bytes the probe keeps between sectors; and a song still open
// where the track ends. Only the two whole songs of 100 ms or more are found, and read from the
// disc they give the events of the files.
TEST_F(Scorefile, FindsSequencesInDataTracks)
{
    const Sequence first = mediagen::scoreSong(1);
    const Sequence brief = SequenceWriter(96, 500000).channel(0, 0x90, 60, 80).channel(9, 0x80, 60, 0).end(0);
    const Sequence second = mediagen::scoreSong(3, 400000);
    const Sequence huge = SequenceWriter(96, 500000).sysex(0, 0xF0, Bytes(5000, 0x22) + Bytes{0xF7}).end(960);
    const Sequence open =
        SequenceWriter(96, 500000).channel(0, 0x90, 60, 80).channel(960, 0x80, 60, 0).open();
    ASSERT_EQ(brief.durationMs(), 46u);

    discbuild::DiscBuilder b;
    b.addForeign(10);
    mediagen::placeData(b, 10, 2040, first.file);
    mediagen::placeData(b, 20, 5, brief.file);
    mediagen::placeData(b, 24, 1950, second.file);
    mediagen::placeData(b, 30, 100, huge.file);
    mediagen::placeData(b, 40, 2000, open.file);
    b.addAudioTrack(20);
    const auto image = b.write();
    ASSERT_TRUE(image);
    m_drive = CdMountImage(image->cue.c_str());
    ASSERT_GE(m_drive, 0) << CdImageError();

    const std::vector<StrInfo> found = discprobe::probeDisc(m_binding, m_drive);
    ASSERT_EQ(found.size(), 2u);
    {
        SCOPED_TRACE("header across sectors");
        expectDescription(found[0], first, 10, 2040);
    }
    {
        SCOPED_TRACE("events across sectors");
        expectDescription(found[1], second, 24, 1950);
    }
    for (size_t i = 0; i < found.size(); ++i) {
        StrInfo info = found[i];
        StreamState* stream = LbrOpenStream(kPlugin, nullptr, m_drive, &info, LBR_WANT_AUDIO);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(unitBytes(stream), (i == 0 ? first : second).midi);
        LbrCloseStream(stream);
    }

    // Descriptions that do not point at a sequence, or at more than a sequence can be, open nothing.
    StrInfo shifted = found[0];
    shifted.reserved = 2039;
    StrInfo beyond = found[0];
    beyond.reserved = 2048;
    StrInfo large = found[0];
    large.sectorCount = 600;
    for (StrInfo* info : {&shifted, &beyond, &large}) {
        StreamState* stream = LbrOpenStream(kPlugin, nullptr, m_drive, info, LBR_WANT_AUDIO);
        EXPECT_EQ(stream, nullptr) << info->reserved << " " << info->sectorCount;
        if (stream)
            LbrCloseStream(stream);
    }
}

// The final call of a stopped scan drops a sequence in progress; a gap in the sector numbers ends
// it too, while one sent again whole after the gap is found.
TEST_F(Scorefile, ProbeDropsWhatIsCutOff)
{
    const auto call =
        reinterpret_cast<PsrIsSupportCDSectorFn>(dlsym(LbrGetPluginInst(m_binding), "PsrIsSupportCDSector"));
    const CdTocEntry toc[1] = {{1, CD_TOC_DATA_TRACK, {}, 0, 100}};
    const Sequence song = mediagen::scoreSong(80);
    ASSERT_GT(song.file.size(), 2048u);
    Bytes sectors(3 * 2048, 0);
    std::copy(song.file.begin(), song.file.end(), sectors.begin() + 100);
    for (const bool gap : {false, true}) {
        void* probe = LbrIsSupportCDBegin(m_binding, 1, toc);
        ASSERT_NE(probe, nullptr);
        EXPECT_EQ(call(probe, toc[0], 5, sectors.data()), 1);
        if (!gap) {
            EXPECT_EQ(call(probe, toc[0], 0, nullptr), 0);
        }
        const uint32_t again = gap ? 7 : 6;
        for (uint32_t i = 0; i < 3; ++i)
            EXPECT_EQ(call(probe, toc[0], again + i, sectors.data() + 2048 * i), 1);
        const std::vector<StrInfo> found = discprobe::results(m_binding, probe);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].startSector, again);
        EXPECT_EQ(found[0].reserved, 100);
    }
}

} // namespace
