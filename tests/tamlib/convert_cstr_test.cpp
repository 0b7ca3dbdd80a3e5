// PlbConvertCSTR and the Packfilm plugin together: every test movie (and a movie of the test disc)
// repacked and read back gives the same units (header fields and a CRC-32 of each payload, as the
// units command shows them), the same decoded frames and the same sound; seeks land on the frames
// the index says; the bytes do not change from run to run; failures and cancels leave no file.
// Scripted streams (the Replay test plugin) give the kinds, rates and sizes of the edge cases.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "../plugins/disc_probe.h"
#include "convert_support.h"
#include "convert_tools.h"
#include "discport/discport.h"
#include "streamkit/lbr.h"
#include "tamlib/convert.h"
#include "tamlib/unit_buffer.h"

namespace converttest {
namespace {

constexpr const char* kFilmfile = "Filmfile.psr";
constexpr const char* kPackfilm = "Packfilm.psr";
constexpr const char* kReplay = "Replay.psr";

const char* const kMovies[] = {
    "mv1_v2_320x240_15fps_xa37800s.str",
    "mv2_v3_320x240_15fps_xa37800s_ch1.str",
    "mv3_v2_256x224_15fps_xa18900m.str",
    "mv4_v3_160x112_15fps_x1_xa37800s.str",
};

uint32_t crcOf(const uint8_t* bytes, size_t length, uint32_t crc = 0)
{
    return uint32_t(::crc32(crc, bytes, uInt(length)));
}

// A unit as the units command shows it.
struct UnitLine
{
    uint32_t frameNumber, width, height, param, kind, flags, payloadBytes, crc;
    bool operator==(const UnitLine&) const = default;
};

std::ostream& operator<<(std::ostream& out, const UnitLine& u)
{
    return out << "{frame " << u.frameNumber << " " << u.width << "x" << u.height << " param " << u.param
               << " kind " << u.kind << " flags " << u.flags << " bytes " << u.payloadBytes << " crc "
               << u.crc << "}";
}

UnitLine lineOf(const PsrReadRecord& r)
{
    uint32_t crc = crcOf(nullptr, 0);
    uint32_t bytes = r.payloadBytes;
    if ((r.unitFlags & UnitOwned) && r.payloadBytes >= PSR_OWNED_REF_BYTES) {
        crc = crcOf(static_cast<const uint8_t*>(PsrOwnedBlock(&r)), PsrOwnedBlockSize(&r), crc);
        crc = crcOf(r.payload + PSR_OWNED_REF_BYTES, r.payloadBytes - PSR_OWNED_REF_BYTES, crc);
    } else {
        crc = crcOf(r.payload, bytes, crc);
    }
    return {r.frameNumber, r.width, r.height, r.param, r.unitKind, r.unitFlags, bytes, crc};
}

// What a whole read of a stream gives: its units, a CRC of each decoded frame (Y, Cb, Cr planes)
// and the decoded sound.
struct Playback
{
    std::vector<UnitLine> units;
    std::vector<uint32_t> frames;
    std::vector<uint8_t> sound;
};

Playback play(const char* plugin, const char* file, StrInfo info, int32_t drive = 0)
{
    Playback p;
    StreamState* stream = LbrOpenStream(plugin, file, drive, &info, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    EXPECT_NE(stream, nullptr) << plugin << " " << (file ? file : "(disc)");
    if (!stream)
        return p;
    tamlib::UnitBuffer buffer;
    PsrReadRecord* r = buffer.record();
    std::vector<uint8_t> pcm(1 << 16);
    while (LbrReadStream(stream, 0, r) == 1) {
        p.units.push_back(lineOf(*r));
        if ((r->unitKind & 0xF0) == UnitVideo) {
            const size_t luma = size_t(r->width) * r->height;
            std::vector<uint8_t> planes(luma * 3 / 2 + 64);
            uint8_t* y = planes.data();
            if (LbrDecodeFrameYuv(stream, r, y, y + luma, y + luma + luma / 4) == 1)
                p.frames.push_back(crcOf(planes.data(), planes.size()));
            else
                p.frames.push_back(0);
        } else {
            const int32_t n = LbrDecodeAudio(stream, r, pcm.data(), int32_t(pcm.size()));
            if (n > 0)
                p.sound.insert(p.sound.end(), pcm.data(), pcm.data() + n);
        }
        LbrFreeReadBuffer(stream, r);
    }
    LbrCloseStream(stream);
    return p;
}

// The description of a file the plugin also takes for one of its own.
StrInfo describeOwn(const char* plugin, const fs::path& file)
{
    PluginBinding* binding = LbrOpenPSR(plugin);
    EXPECT_NE(binding, nullptr) << plugin;
    if (binding) {
        EXPECT_EQ(LbrIsSupportFile(binding, file.c_str()), 1) << file;
        LbrClosePSR(binding);
    }
    return describe(plugin, file);
}

// The streams a plugin finds on the test disc, mounted as `drive`.
std::vector<StrInfo> discStreams(const char* plugin, int32_t drive)
{
    PluginBinding* binding = LbrOpenPSR(plugin);
    EXPECT_NE(binding, nullptr) << plugin;
    if (!binding)
        return {};
    const std::vector<StrInfo> streams = discprobe::probeDisc(binding, drive, true, discprobe::Feed::UntilDone);
    LbrClosePSR(binding);
    return streams;
}

int32_t mountTestDisc()
{
    return CdMountImage((fs::path(TAMRIN_TEST_DATA) / "disc" / "psxdisc_a.cue").c_str());
}

PlbCstrSettings settingsFor(const fs::path& out)
{
    PlbCstrSettings s{};
    std::strncpy(s.outputPath, out.c_str(), sizeof s.outputPath - 1);
    return s;
}

int32_t convert(const char* plugin, const fs::path& source, const fs::path& out,
                PlbProgressFn progress = nullptr, void* user = nullptr)
{
    const StrInfo info = describeOwn(plugin, source);
    const PlbCstrSettings settings = settingsFor(out);
    return PlbConvertCSTR(plugin, source.c_str(), &info, &settings, progress, user);
}

class ConvertCstr : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_TRUE(m_folder.made()); }
    fs::path file(const std::string& name) const { return m_folder.path() / name; }
    TempFolder m_folder;
};

TEST_F(ConvertCstr, EveryMovieRoundTripsUnitsFramesAndSound)
{
    for (const char* movie : kMovies) {
        SCOPED_TRACE(movie);
        const fs::path source = moviePath(movie), out = file("movie.cstr");
        ASSERT_EQ(convert(kFilmfile, source, out), PLB_CONV_OK);
        const StrInfo original = describeOwn(kFilmfile, source);
        const StrInfo packed = describeOwn(kPackfilm, out);
        const Playback a = play(kFilmfile, source.c_str(), original);
        const Playback b = play(kPackfilm, out.c_str(), packed);
        ASSERT_FALSE(a.units.empty());
        EXPECT_EQ(a.units, b.units);
        EXPECT_EQ(a.frames, b.frames);
        EXPECT_EQ(std::count(b.frames.begin(), b.frames.end(), 0u), 0) << "every frame decodes";
        EXPECT_TRUE(a.sound == b.sound) << a.sound.size() << " vs " << b.sound.size();
        // The description: every frame indexed, the length of frames and sound, the file's size.
        const size_t frames = size_t(std::count_if(a.units.begin(), a.units.end(),
                                                   [](const UnitLine& u) { return u.kind == UnitVideo; }));
        EXPECT_EQ(packed.frameCount, frames);
        EXPECT_EQ(packed.kind, original.kind);
        EXPECT_EQ(packed.width, original.width);
        EXPECT_EQ(packed.frameRate, original.frameRate);
        EXPECT_EQ(packed.dataBytes, fs::file_size(out));
        const uint32_t soundMs =
            uint32_t(b.sound.size() / 2 / original.channels * 10 / (original.sampleRate / 100));
        EXPECT_EQ(packed.durationMs,
                  std::max<uint32_t>(uint32_t(frames * 10000 / original.frameRate), soundMs));
        EXPECT_EQ(packed.outWidth, original.outWidth);
        // The extension block counts the sound: samples per channel and units.
        const std::string bytes = readFile(out);
        uint32_t samples = 0;
        uint16_t soundUnits = 0;
        std::memcpy(&samples, bytes.data() + 84, 4);
        std::memcpy(&soundUnits, bytes.data() + 88, 2);
        EXPECT_EQ(samples, b.sound.size() / 2 / original.channels);
        EXPECT_EQ(soundUnits, a.units.size() - frames);
        fs::remove(out);
    }
}

TEST_F(ConvertCstr, TwoRunsWriteTheSameBytesAndCopyingKeepsThem)
{
    const fs::path source = moviePath(kMovies[3]);
    const fs::path first = file("first.cstr"), second = file("second.cstr"), copy = file("copy.cstr");
    ASSERT_EQ(convert(kFilmfile, source, first), PLB_CONV_OK);
    ASSERT_EQ(convert(kFilmfile, source, second), PLB_CONV_OK);
    const std::string bytes = readFile(first);
    ASSERT_GT(bytes.size(), 116u);
    EXPECT_TRUE(bytes == readFile(second));
    EXPECT_EQ(bytes.substr(0, 5), std::string("\xC2\x0C\xB7\x04\x02", 5)) << "magic and version 2";
    EXPECT_EQ(bytes[5], '\0') << "the host decodes these frames: no decoder plugin named";

    // A compact movie file is copied byte for byte, and never over an existing file.
    ASSERT_EQ(convert(kPackfilm, first, copy), PLB_CONV_OK);
    EXPECT_TRUE(readFile(copy) == bytes);
    writeFile(copy, "keep me");
    EXPECT_EQ(convert(kPackfilm, first, copy), PLB_CONV_CSTR_FILE);
    EXPECT_EQ(readFile(copy), "keep me");
    EXPECT_EQ(convert(kPackfilm, first, first), PLB_CONV_CSTR_FILE) << "not onto itself";
    EXPECT_TRUE(readFile(first) == bytes);
}

// Seeks land on the frame the index names: the last frame that ends before the position (the
// first frame for positions within the first two), with the source's picture for that number.
TEST_F(ConvertCstr, SeeksLandOnTheIndexedFrames)
{
    const fs::path source = moviePath(kMovies[0]), out = file("seek.cstr");
    ASSERT_EQ(convert(kFilmfile, source, out), PLB_CONV_OK);
    const StrInfo info = describeOwn(kPackfilm, out);
    const Playback whole = play(kFilmfile, source.c_str(), describeOwn(kFilmfile, source));
    std::vector<uint32_t> frameCrc(info.frameCount + 1);
    for (const UnitLine& u : whole.units)
        if (u.kind == UnitVideo && u.frameNumber <= info.frameCount)
            frameCrc[u.frameNumber] = u.crc;

    struct Case
    {
        uint32_t ms;
        uint32_t frame;
    };
    // 15 frames a second: frame n ends at n * 66.6 ms.
    const Case cases[] = {{0, 1}, {66, 1}, {134, 2}, {1000, 14}, {1001, 15}, {2950, 44}, {0xFFFFFFFFu, 45}};
    StrInfo open = info;
    StreamState* stream = LbrOpenStream(kPackfilm, out.c_str(), 0, &open, LBR_WANT_VIDEO | LBR_WANT_AUDIO);
    ASSERT_NE(stream, nullptr);
    tamlib::UnitBuffer buffer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        ASSERT_EQ(LbrSeekStream(stream, c.ms), 1);
        ASSERT_EQ(LbrReadStream(stream, LBR_WANT_VIDEO, buffer.record()), 1);
        EXPECT_EQ(buffer.record()->frameNumber, c.frame);
        EXPECT_EQ(lineOf(*buffer.record()).crc, frameCrc.at(c.frame));
        EXPECT_EQ(buffer.record()->unitFlags & UnitNoShow, 0);
    }
    LbrCloseStream(stream);
}

TEST_F(ConvertCstr, DiscMoviePlaysWithoutTheDisc)
{
    const fs::path out = file("disc.cstr");
    const int32_t drive = mountTestDisc();
    ASSERT_GE(drive, 0) << CdImageError();
    const std::vector<StrInfo> streams = discStreams("Discmovie.psr", drive);
    ASSERT_FALSE(streams.empty());
    const StrInfo movie = streams.back();
    const Playback fromDisc = play("Discmovie.psr", nullptr, movie, drive);
    const int32_t before = PlbSetConvertDrive(drive);
    const PlbCstrSettings settings = settingsFor(out);
    EXPECT_EQ(PlbConvertCSTR("Discmovie.psr", nullptr, &movie, &settings, nullptr, nullptr), PLB_CONV_OK);
    PlbSetConvertDrive(before);
    CdUnmountImage(drive);

    const Playback packed = play(kPackfilm, out.c_str(), describeOwn(kPackfilm, out));
    ASSERT_FALSE(fromDisc.units.empty());
    EXPECT_EQ(packed.units, fromDisc.units);
    EXPECT_EQ(packed.frames, fromDisc.frames);
    EXPECT_TRUE(packed.sound == fromDisc.sound);
    EXPECT_EQ(readFile(out)[5], '\0') << "the host decodes these frames: no decoder plugin named";
}

// The disc's audio track comes from a plugin that decodes its own sound: the file names it, and
// the sound played through the compact movie plugin is the plugin's.
TEST_F(ConvertCstr, NamesTheDecoderPluginWhoseHooksTheSoundNeeds)
{
    const fs::path out = file("track.cstr");
    const int32_t drive = mountTestDisc();
    ASSERT_GE(drive, 0) << CdImageError();
    const std::vector<StrInfo> tracks = discStreams("Trackaudio.psr", drive);
    ASSERT_EQ(tracks.size(), 1u);
    const Playback fromDisc = play("Trackaudio.psr", nullptr, tracks[0], drive);
    const int32_t before = PlbSetConvertDrive(drive);
    const PlbCstrSettings settings = settingsFor(out);
    EXPECT_EQ(PlbConvertCSTR("Trackaudio.psr", nullptr, &tracks[0], &settings, nullptr, nullptr),
              PLB_CONV_OK);
    PlbSetConvertDrive(before);
    CdUnmountImage(drive);

    const std::string bytes = readFile(out);
    ASSERT_GT(bytes.size(), 116u);
    EXPECT_EQ(std::string(bytes.c_str() + 5), "Trackaudio.psr");
    const StrInfo packedInfo = describeOwn(kPackfilm, out);
    EXPECT_EQ(packedInfo.frameCount, 0u);
    EXPECT_EQ(packedInfo.durationMs, 225u * 2352 / 4 * 10 / (packedInfo.sampleRate / 100))
        << "225 sectors of sound";
    const Playback packed = play(kPackfilm, out.c_str(), packedInfo);
    ASSERT_FALSE(fromDisc.sound.empty());
    EXPECT_EQ(packed.units, fromDisc.units);
    EXPECT_TRUE(packed.sound == fromDisc.sound);
}

struct CancelAt
{
    int call; // the progress call that answers 0
    int calls = 0;
    std::vector<std::pair<uint32_t, uint32_t>> reports;
};

int32_t cancelling(uint32_t position, uint32_t length, void* user)
{
    auto* c = static_cast<CancelAt*>(user);
    c->reports.emplace_back(position, length);
    return ++c->calls == c->call ? 0 : 1;
}

// Cancels at the first call, in the middle and at the final call, and failures to create or
// write the file: none leaves a file, and an existing file keeps its bytes.
TEST_F(ConvertCstr, CancelAndFailuresLeaveNoFile)
{
    const fs::path source = moviePath(kMovies[3]);
    CancelAt count{-1, 0, {}};
    ASSERT_EQ(convert(kFilmfile, source, file("count.cstr"), cancelling, &count), PLB_CONV_OK);
    ASSERT_GT(count.calls, 3);
    // From (0, length) to (length, length), never backwards, the length that of the file written.
    const uint32_t length = describeOwn(kPackfilm, file("count.cstr")).durationMs;
    EXPECT_EQ(count.reports.front(), std::make_pair(0u, describeOwn(kFilmfile, source).durationMs));
    EXPECT_EQ(count.reports.back(), std::make_pair(length, length));
    for (size_t i = 1; i + 1 < count.reports.size(); ++i)
        EXPECT_GE(count.reports[i].first, count.reports[i - 1].first) << i;
    for (int call : {1, count.calls / 2, count.calls}) {
        SCOPED_TRACE(call);
        const fs::path out = file("cancel.cstr");
        writeFile(out, "before");
        CancelAt cancel{call, 0, {}};
        EXPECT_EQ(convert(kFilmfile, source, out, cancelling, &cancel), PLB_CONV_OK);
        EXPECT_EQ(cancel.calls, call) << "no call after the cancel";
        EXPECT_EQ(readFile(out), "before");
    }

    const fs::path locked = file("locked");
    fs::create_directory(locked);
    ::chmod(locked.c_str(), 0500);
    if (::access(locked.c_str(), W_OK) != 0) { // not when the tests run with every right
        EXPECT_EQ(convert(kFilmfile, source, locked / "x.cstr"), PLB_CONV_CSTR_FILE);
        EXPECT_TRUE(fs::is_empty(locked));
    }
    ::chmod(locked.c_str(), 0700);
    EXPECT_EQ(convert(kFilmfile, source, file("missing") / "x.cstr"), PLB_CONV_CSTR_FILE);

    const StrInfo info = describeOwn(kFilmfile, source);
    const PlbCstrSettings empty{};
    const PlbCstrSettings good = settingsFor(file("never.cstr"));
    EXPECT_EQ(PlbConvertCSTR(kFilmfile, source.c_str(), &info, &empty, nullptr, nullptr), PLB_CONV_CSTR_FILE);
    EXPECT_EQ(PlbConvertCSTR(kFilmfile, source.c_str(), &info, nullptr, nullptr, nullptr),
              PLB_CONV_CSTR_FILE);
    EXPECT_EQ(PlbConvertCSTR(kFilmfile, source.c_str(), nullptr, &good, nullptr, nullptr),
              PLB_CONV_NO_STREAM);
    EXPECT_EQ(PlbConvertCSTR(kFilmfile, "/no/such.str", &info, &good, nullptr, nullptr), PLB_CONV_NO_STREAM);
    EXPECT_FALSE(fs::exists(file("never.cstr")));
}

// A write that fails in the middle (the file-size limit, as a full disc would) is a failure, in
// a child process since the limit cannot be raised again.
TEST_F(ConvertCstr, AWriteFailingMidWayLeavesNoFile)
{
    const fs::path source = moviePath(kMovies[0]), target = file("limited.cstr");
    writeFile(target, "the old file");
    const StrInfo info = describeOwn(kFilmfile, source);
    const PlbCstrSettings settings = settingsFor(target);
    expectRefused(Refusal::FileSizeLimit, 256 << 10, PLB_CONV_CSTR_FILE, [&] { // a quarter of the file
        return PlbConvertCSTR(kFilmfile, source.c_str(), &info, &settings, nullptr, nullptr);
    });
    EXPECT_EQ(readFile(target), "the old file");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()), 1);
}

// ---- scripted streams ---------------------------------------------------------------------

struct Scripted
{
    uint32_t frameNumber;
    uint8_t kind = UnitVideo;
    uint16_t param = 0;
    uint8_t flags = 0;
    uint32_t payload = 64;
    uint32_t width = 320;
};

fs::path writeScript(const fs::path& path, const std::vector<Scripted>& units, bool timed)
{
    StrInfo info{};
    info.kind = StrVideo | StrAudio | (timed ? StrTimed : 0);
    info.width = 320;
    info.height = 240;
    info.frameRate = 150;
    info.frameCount = uint32_t(units.size());
    std::string bytes = "RPLY";
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    uint8_t fill = 1;
    for (const Scripted& u : units) {
        PsrReadRecord h{};
        h.frameNumber = u.frameNumber;
        h.width = (u.kind & 0xF0) == UnitVideo ? u.width : 0;
        h.height = (u.kind & 0xF0) == UnitVideo ? 240 : 0;
        h.param = u.param;
        h.unitKind = u.kind;
        h.unitFlags = u.flags;
        h.payloadBytes = u.payload;
        bytes.append(reinterpret_cast<const char*>(&h), PSR_READ_HEADER_BYTES);
        bytes.append(u.payload, char(fill++));
    }
    writeFile(path, bytes);
    return path;
}

struct IndexEntry
{
    uint8_t type;
    uint32_t ms;
    uint32_t offset;
};

// The index of a version 2 or 3 file written by the converter (typed entries, times when timed).
std::vector<IndexEntry> indexOf(const std::string& f, bool timed)
{
    auto u32 = [&](size_t at) {
        uint32_t v;
        std::memcpy(&v, f.data() + at, 4);
        return v;
    };
    const uint32_t count = u32(0x18 + 0x10), at = u32(0x4C);
    const bool typed = (uint8_t(f[0x54 + 6]) & 1) != 0;
    std::vector<IndexEntry> index;
    size_t p = at;
    for (uint32_t i = 0; i < count; ++i) {
        IndexEntry e{};
        if (typed)
            e.type = uint8_t(f[p++]);
        if (timed) {
            e.ms = u32(p);
            p += 4;
        }
        e.offset = u32(p);
        p += 4;
        index.push_back(e);
    }
    return index;
}

TEST_F(ConvertCstr, ScriptedKindsRatesAndFrameNumbers)
{
    struct Case
    {
        const char* what;
        std::vector<Scripted> units;
        uint8_t version;
        std::vector<uint32_t> times;   // index end times (timed streams)
        std::vector<size_t> entryUnit; // the unit each index entry points at
    };
    const Case cases[] = {
        {"15 fps frames of rate 150",
         {{1, UnitVideo, 150}, {2, UnitVideo, 150}, {3, UnitVideo, 150}},
         2,
         {66, 133, 200},
         {0, 1, 2}},
        {"plugin-only units share the next frame's entry",
         {{1, UnitVideoPluginOnly}, {1}, {0, UnitAudio}, {2, UnitVideoPluginOnly}, {2}},
         3,
         {66, 133},
         {0, 3}},
        {"a frame of its own rate", {{1}, {2, UnitVideo, 300}, {3}}, 2, {66, 100, 166}, {0, 1, 2}},
        {"frame number 65536 stays a frame", {{65535}, {65536}, {65537}}, 3, {66, 133, 200}, {0, 1, 2}},
        {"kinds, flags and sizes of their own",
         {{1, 0x11, 0, UnitKey, 64, 160}, {0, 0x21, 0, 0, 32}, {2, UnitVideo, 0, 0, 0}},
         3,
         {66, 133},
         {0, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path script = writeScript(file("s.rply"), c.units, true), out = file("s.cstr");
        StrInfo info = describeOwn(kReplay, script);
        const PlbCstrSettings settings = settingsFor(out);
        ASSERT_EQ(PlbConvertCSTR(kReplay, script.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);
        const std::string bytes = readFile(out);
        EXPECT_EQ(uint8_t(bytes[4]), c.version);
        const std::vector<IndexEntry> index = indexOf(bytes, true);
        ASSERT_EQ(index.size(), c.times.size());
        // Unit record offsets, from a walk of the file as the units were written.
        Playback source = play(kReplay, script.c_str(), info);
        const Playback packed = play(kPackfilm, out.c_str(), describeOwn(kPackfilm, out));
        for (UnitLine& u : source.units) {
            u.frameNumber &= 0xFFFF; // the format keeps 16 bits of the number
            if (u.param == info.frameRate)
                u.param = 0; // and a frame's own rate only when it is not the stream's
        }
        EXPECT_EQ(source.units, packed.units);
        std::vector<uint32_t> offsets;
        for (size_t at = 116, u = 0; u < c.units.size(); ++u) {
            offsets.push_back(uint32_t(at));
            uint16_t length, mask;
            std::memcpy(&length, bytes.data() + at + 2, 2);
            std::memcpy(&mask, bytes.data() + at + 4, 2);
            at += 6 + 2 * size_t(std::popcount(unsigned(mask))) + length;
        }
        for (size_t i = 0; i < index.size(); ++i) {
            EXPECT_EQ(index[i].ms, c.times[i]) << i;
            EXPECT_EQ(index[i].offset, offsets.at(c.entryUnit[i])) << i;
        }
    }
}

TEST_F(ConvertCstr, UnitsTheFormatCannotHoldFailWithoutAFile)
{
    const std::vector<std::vector<Scripted>> cases = {
        {{1}, {2, UnitVideo, 0, 0, 65536}},
        {{1, UnitVideo, 0, 0, 64, 70000}},
    };
    for (const auto& units : cases) {
        const fs::path script = writeScript(file("big.rply"), units, false), out = file("big.cstr");
        StrInfo info = describeOwn(kReplay, script);
        const PlbCstrSettings settings = settingsFor(out);
        EXPECT_EQ(PlbConvertCSTR(kReplay, script.c_str(), &info, &settings, nullptr, nullptr),
                  PLB_CONV_CSTR_FILE);
        EXPECT_FALSE(fs::exists(out));
    }
    // A hostile frame count sizes nothing: the index holds the frames there are.
    const fs::path script = file("count.rply"), out = file("count.cstr");
    writeScript(script, {{1}, {2}}, false);
    StrInfo info = describeOwn(kReplay, script);
    info.frameCount = 0xFFFFFFFFu;
    const PlbCstrSettings settings = settingsFor(out);
    EXPECT_EQ(PlbConvertCSTR(kReplay, script.c_str(), &info, &settings, nullptr, nullptr), PLB_CONV_OK);
    EXPECT_EQ(describeOwn(kPackfilm, out).frameCount, 2u);
}

} // namespace
} // namespace converttest
