// The Scorefile plugin through libstreamkit on the generator's sequences: files described and
// refused, units of MIDI file events, seeks, and sequences found on a disc image and read from it.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../mediagen/sequence_layout.h"
#include "../support/scratch_folder.h"
#include "disc_probe.h"
#include "unit_reader.h"

namespace {

using mediagen::Bytes;
using mediagen::Sequence;
using mediagen::SequenceWriter;

constexpr const char* kPlugin = "Scorefile.psr";

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Scorefile : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_NE(m_binding, nullptr); }
    void TearDown() override
    {
        if (m_drive >= 0)
            CdUnmountImage(m_drive);
        LbrClosePSR(m_binding);
    }

    std::string write(const Bytes& bytes)
    {
        const std::string path = (m_folder.path() / std::to_string(m_files++)).string();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path;
    }
    // kind 0xFFFF when the file is refused.
    StrInfo describe(const std::string& path)
    {
        StrInfo info{};
        if (LbrGetStrFileInfo(m_binding, path.c_str(), &info) == 0)
            info.kind = 0xFFFF;
        return info;
    }
    StreamState* open(const char* path, StrInfo info)
    {
        return LbrOpenStream(kPlugin, path, path ? 0 : m_drive, &info, LBR_WANT_AUDIO);
    }

    testsupport::ScratchFolder m_folder{"scorefile"};
    PluginBinding* m_binding = LbrOpenPSR(kPlugin);
    int32_t m_drive = -1;
    int m_files = 0;
};

// The payloads of the units left, one after the other (the stream is closed). A unit ends once it
// holds more than 1024 bytes: none is larger than that and its last event.
Bytes unitBytes(StreamState* stream, size_t largestEvent = 300, size_t* units = nullptr)
{
    Bytes all;
    const auto read = movietest::readUnits(stream);
    for (const movietest::Unit& u : read) {
        EXPECT_TRUE(u.frame == 0 && !u.payload.empty() && u.payload.size() <= 1024 + largestEvent);
        all = all + u.payload;
    }
    if (units)
        *units = read.size();
    LbrCloseStream(stream);
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

TEST_F(Scorefile, DescribesSequenceFilesAndRefusesOthers)
{
    const Sequence song = mediagen::scoreSong();
    const Sequence waltz =
        SequenceWriter(480, 600000, 3, 2).channel(0, 0x90, 60, 80).tempo(960, 300000).end(480);
    const Bytes head(song.file.begin(), song.file.begin() + 15);
    const Bytes rest(song.file.begin() + 15, song.file.end());
    const Sequence open = SequenceWriter(96, 500000).channel(0, 0x90, 60, 80).channel(96, 0x80, 60, 0).open();
    struct Case
    {
        const char* name;
        Bytes file;
        const Sequence* described; // null: refused
    } const cases[] = {
        {"song", song.file, &song},
        {"3/4, tempo change", waltz.file, &waltz},
        {"bytes after the end of the track", song.file + Bytes{0x00, 0x90, 0x3C}, &song},
        {"cut in an event, no end of the track", open.file + Bytes{0x10, 0x90, 0x3C}, &open},
        {"magic", Bytes{'p', 'Q', 'E', 'T'} + Bytes(head.begin() + 4, head.end()) + rest, nullptr},
        {"header cut", Bytes(head.begin(), head.end() - 1), nullptr},
        {"resolution 0",
         Bytes(head.begin(), head.begin() + 8) + Bytes{0, 0} + Bytes(head.begin() + 10, head.end()) + rest,
         nullptr},
        {"undefined status", head + Bytes{0x00, 0xF4}, nullptr},
        {"data byte before any status", head + Bytes{0x00, 0x3C, 0x40}, nullptr},
        {"five-byte delta", head + Bytes{0x81, 0x81, 0x81, 0x81, 0x01}, nullptr},
        {"data byte with its top bit", head + Bytes{0x00, 0x90, 0x3C, 0xC0}, nullptr},
        {"above 1 MiB", song.file + Bytes((1u << 20) - song.file.size() + 1, 0), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.file);
        EXPECT_EQ(LbrIsSupportFile(m_binding, path.c_str()), 1) << "any file is looked at";
        if (c.described)
            expectDescription(describe(path), *c.described, 0, 0);
        else
            EXPECT_EQ(describe(path).kind, 0xFFFF);
    }
    EXPECT_EQ(LbrIsSupportFile(m_binding, m_folder.path().c_str()), 0) << "a folder";
}

TEST_F(Scorefile, UnitsCarryTheEventsInMidiFileEncoding)
{
    const Sequence song = mediagen::scoreSong(100);
    const Sequence escape = SequenceWriter(96, 500000)
                                .sysex(0, 0xF7, {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7})
                                .sysex(0, 0xF0, Bytes(3000, 0x11) + Bytes{0xF7})
                                .channel(10, 0xB0, 7, 100)
                                .end(96);
    size_t units = 0;
    const std::string songPath = write(song.file);
    const Bytes songUnits = unitBytes(open(songPath.c_str(), describe(songPath)), 300, &units);
    EXPECT_EQ(songUnits, song.midi);
    EXPECT_EQ(units, 4u);
    const std::string escapePath = write(escape.file);
    EXPECT_EQ(unitBytes(open(escapePath.c_str(), describe(escapePath)), 3010, &units), escape.midi);
    EXPECT_EQ(units, 2u) << "the long system-exclusive event ends the first unit";

    // The second note on (48 ticks) in running status, and the tempo event FF 51 tt tt tt.
    const auto contains = [](const Bytes& in, const Bytes& part) {
        return std::search(in.begin(), in.end(), part.begin(), part.end()) != in.end();
    };
    EXPECT_TRUE(contains(song.file, {0x30, 0x40, 0x64}) && contains(songUnits, {0x30, 0x90, 0x40, 0x64}));
    EXPECT_TRUE(contains(song.file, {0x00, 0xFF, 0x51, 0x03, 0xD0, 0x90, 0x00}) &&
                contains(songUnits, {0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}));

    // A damaged event: the three events before it are delivered, then the stream ends.
    const std::string damaged =
        write(Bytes(song.file.begin(), song.file.begin() + 30) + Bytes{0x00, 0xF9, 0x00});
    EXPECT_EQ(unitBytes(open(damaged.c_str(), describe(songPath))),
              Bytes(song.midi.begin(), song.midi.begin() + 15));
}

TEST_F(Scorefile, SeeksByTheTempoInForce)
{
    // 96 ticks a quarter: 500 ms before the tempo event at 500 ms, 250 ms after it.
    const Sequence song = mediagen::scoreSong();
    ASSERT_EQ(song.durationMs(), 2750u);
    const std::string path = write(song.file);
    const Bytes tempo = {0x00, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90}; // the tempo in force first
    struct Case
    {
        uint32_t ms;
        int32_t result;
        Bytes next; // the first events read after the seek
    } const cases[] = {
        {250, 1, {0x30, 0x80, 60, 64}}, // after the second note on, 48 ticks in
        {240, 1, {0x30, 0x80, 60, 64}}, // the event that reaches the time is passed
        {750, 1, tempo + Bytes{0x00, 0x91, 62, 90}},
        {2500, 1, tempo + Bytes{0x60, 0xFF, 0x2F, 0x00}},
        {0, 1, song.midi},
        {2751, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        StreamState* stream = open(path.c_str(), describe(path));
        ASSERT_NE(stream, nullptr);
        movietest::readUnits(stream, 0, 1);
        EXPECT_EQ(LbrSeekStream(stream, c.ms), c.result);
        const Bytes rest = unitBytes(stream);
        EXPECT_EQ(Bytes(rest.begin(), rest.begin() + std::ptrdiff_t(std::min(rest.size(), c.next.size()))),
                  c.next);
        EXPECT_EQ(rest.empty(), c.next.empty());
    }
}

// A data track with a song whose header crosses from sector 10 into 11, a sequence of 46 ms, a
// song at the end of sector 24 whose events cross into the next sectors, a song with a system-
// exclusive event longer than the bytes the probe keeps between sectors, and a song still open
// where the track ends: the two whole songs are found, and read from the disc as from files.
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
    expectDescription(found[0], first, 10, 2040);
    expectDescription(found[1], second, 24, 1950);
    EXPECT_EQ(unitBytes(this->open(nullptr, found[0])), first.midi);
    EXPECT_EQ(unitBytes(this->open(nullptr, found[1])), second.midi);

    // Descriptions that do not point at a header, or span more than a sequence may, open nothing.
    for (const auto& [reserved, count] : {std::pair{2039, 1u}, {2048, 1u}, {2040, 600u}}) {
        StrInfo info = found[0];
        info.reserved = uint16_t(reserved);
        info.sectorCount = count;
        EXPECT_EQ(this->open(nullptr, info), nullptr) << reserved << " " << count;
    }

    // A gap in the sector numbers drops the sequence in progress; sent again whole, it is found.
    const auto sectorCall =
        reinterpret_cast<PsrIsSupportCDSectorFn>(dlsym(LbrGetPluginInst(m_binding), "PsrIsSupportCDSector"));
    const CdTocEntry toc[1] = {{1, CD_TOC_DATA_TRACK, {}, 0, 100}};
    void* probe = LbrIsSupportCDBegin(m_binding, 1, toc);
    const Bytes data = Bytes(100, 0) + mediagen::scoreSong(80).file + Bytes(4096, 0);
    for (const uint32_t lba : {5u, 7u, 8u, 9u})
        EXPECT_EQ(sectorCall(probe, toc[0], lba, data.data() + (lba == 5 ? 0 : 2048 * (lba - 7))), 1);
    const std::vector<StrInfo> again = discprobe::results(m_binding, probe);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].startSector, 7u);
}

} // namespace
