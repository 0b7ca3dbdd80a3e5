// Ripped XA files through the Discvoice plugin, driven through libstreamkit as the application
// drives a file plugin: the file test gives the number of streams, each stream is described and
// opened by its number in `reserved`, played and decoded by the host, and compared with the
// independent decoder's references. Every layout a rip comes in (2352- or 2336-byte sectors,
// with or without the RIFF/CDXA header) is made from the test files by tests/mediagen; damaged
// files are refused by all three calls. The command-line tool shows and plays the same streams.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "../mediagen/xa_file_layout.h"
#include "../support/scratch_folder.h"
#include "streamkit/lbr.h"

namespace {

namespace fs = std::filesystem;
using mediagen::Bytes;

constexpr const char* kPlugin = "Discvoice.psr";
constexpr size_t kRecordBytes = PSR_READ_HEADER_BYTES + 2304;

struct Source
{
    const char* file;
    std::vector<const char*> references; // one a stream, in the order of the streams
    uint32_t sampleRate;
    uint16_t channels;
    uint32_t sectors; // of each stream
};

const Source kSources[] = {
    {"xa1_37800_stereo.xa", {"xa1_37800_stereo.wav"}, 37800, 2, 75},
    {"xa2_18900_mono.xa", {"xa2_18900_mono.wav"}, 18900, 1, 15},
    {"xa_multi_4ch_37800_stereo.xa",
     {"xa_multi_4ch_37800_stereo_f1_c0.wav", "xa_multi_4ch_37800_stereo_f1_c1.wav",
      "xa_multi_4ch_37800_stereo_f1_c2.wav", "xa_multi_4ch_37800_stereo_f1_c3.wav"},
     37800,
     2,
     57},
};

struct Layout
{
    const char* name;
    std::function<Bytes(const Bytes&)> make;
};

const Layout kLayouts[] = {
    {"raw", [](const Bytes& raw) { return raw; }},
    {"2336", [](const Bytes& raw) { return mediagen::xaAs2336(raw); }},
    {"cdxa", [](const Bytes& raw) { return mediagen::withCdxaHeader(raw); }},
    {"cdxa-2336", [](const Bytes& raw) { return mediagen::withCdxaHeader(mediagen::xaAs2336(raw)); }},
};

Bytes testFile(const char* name)
{
    return mediagen::readAll(mediagen::testData(std::string("audio/") + name));
}

std::vector<int16_t> reference(const char* name)
{
    const fs::path path = mediagen::testData(std::string("references/") + name);
    std::vector<int16_t> left = mediagen::waveChannel(path, 0), right = mediagen::waveChannel(path, 1);
    if (right.empty())
        return left;
    std::vector<int16_t> both;
    for (size_t i = 0; i < left.size() && i < right.size(); ++i) {
        both.push_back(left[i]);
        both.push_back(right[i]);
    }
    return both;
}

struct Played
{
    size_t units = 0;
    std::vector<int16_t> pcm;
    std::vector<std::vector<uint8_t>> payloads;
};

Played play(StreamState* stream)
{
    Played out;
    std::vector<uint8_t> buffer(kRecordBytes), pcm(8064);
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.data());
    while (out.units < 100000 && LbrReadStream(stream, 0, record) == 1) {
        ++out.units;
        out.payloads.emplace_back(record->payload, record->payload + record->payloadBytes);
        const int32_t written = LbrDecodeAudio(stream, record, pcm.data(), int32_t(pcm.size()));
        EXPECT_GT(written, 0) << "unit " << out.units;
        for (int32_t i = 0; i + 1 < written; i += 2)
            out.pcm.push_back(int16_t(mediagen::le16(pcm.data() + i)));
    }
    return out;
}

class XaFile : public testing::Test
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
        if (m_binding)
            LbrClosePSR(m_binding);
    }

    std::string write(const std::string& name, const Bytes& bytes)
    {
        const fs::path path = m_folder.path() / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                    std::streamsize(bytes.size()));
        return path.string();
    }

    // The description of stream `number`, as a lister asks for it; nothing when refused.
    std::optional<StrInfo> describe(const std::string& path, uint16_t number)
    {
        StrInfo info{};
        info.reserved = number;
        if (LbrGetStrFileInfo(m_binding, path.c_str(), &info) != 1)
            return std::nullopt;
        return info;
    }

    static StreamState* open(const std::string& path, StrInfo info)
    {
        return LbrOpenStream(kPlugin, path.c_str(), 0, &info, LBR_WANT_AUDIO);
    }

    // A file the plugin refuses by every call: the file test, the description and the opening.
    void expectRefused(const std::string& path)
    {
        EXPECT_EQ(LbrIsSupportFile(m_binding, path.c_str()), 0);
        EXPECT_FALSE(describe(path, 0));
        StreamState* stream = open(path, StrInfo{});
        EXPECT_EQ(stream, nullptr);
        if (stream)
            LbrCloseStream(stream);
    }

    testsupport::ScratchFolder m_folder{"xafile"};
    PluginBinding* m_binding = nullptr;
};

// Every channel of every test file in every layout: listed with the manifest's rate and channels,
// its number kept, and decoded bit for bit as the reference decoder did; no stream past the last.
TEST_F(XaFile, ListsEachChannelAndPlaysItAsTheReference)
{
    for (const Source& source : kSources) {
        const Bytes raw = testFile(source.file);
        ASSERT_FALSE(raw.empty()) << source.file;
        for (const Layout& layout : kLayouts) {
            SCOPED_TRACE(std::string(source.file) + " " + layout.name);
            const std::string path = write(std::string(layout.name) + "-" + source.file, layout.make(raw));
            const auto streams = uint16_t(source.references.size());
            ASSERT_EQ(LbrIsSupportFile(m_binding, path.c_str()), streams);
            for (uint16_t k = 0; k < streams; ++k) {
                SCOPED_TRACE(k);
                const auto info = describe(path, k);
                ASSERT_TRUE(info);
                EXPECT_EQ(info->kind, StrAudio);
                EXPECT_EQ(info->reserved, k);
                EXPECT_EQ(info->sampleRate, source.sampleRate);
                EXPECT_EQ(info->channels, source.channels);
                EXPECT_EQ(info->durationMs,
                          uint64_t(source.sectors) * 4032 * 1000 / source.channels / source.sampleRate);
                EXPECT_EQ(info->dataBytes, source.sectors * 2304);
                EXPECT_EQ(info->startSector, 0u);
                EXPECT_EQ(info->sectorCount, 0u);

                StreamState* stream = open(path, *info);
                ASSERT_NE(stream, nullptr);
                const Played played = play(stream);
                LbrCloseStream(stream);
                EXPECT_EQ(played.units, source.sectors);
                const std::vector<int16_t> expected = reference(source.references[k]);
                ASSERT_FALSE(expected.empty());
                EXPECT_TRUE(played.pcm == expected) << played.pcm.size() << " samples, reference "
                                                    << expected.size();
            }
            EXPECT_FALSE(describe(path, streams));
            StrInfo beyond{};
            beyond.reserved = streams;
            EXPECT_EQ(open(path, beyond), nullptr);
        }
    }
}

// How sectors make streams: a channel that is only silence is not listed and the others keep
// dense numbers; a key after an end-of-file bit starts a stream of its own; empty sectors
// between the sound are passed over.
TEST_F(XaFile, StreamsOfAFile)
{
    Bytes multi = testFile("xa_multi_4ch_37800_stereo.xa");
    for (size_t i = 1; i < multi.size() / 2352; i += 4)
        mediagen::silenceXaSector(multi, i); // channel 1
    const std::string silent = write("silent-channel.xa", multi);
    ASSERT_EQ(LbrIsSupportFile(m_binding, silent.c_str()), 3);
    const auto third = describe(silent, 1);
    ASSERT_TRUE(third);
    StreamState* stream = open(silent, *third);
    ASSERT_NE(stream, nullptr);
    EXPECT_TRUE(play(stream).pcm == reference("xa_multi_4ch_37800_stereo_f1_c2.wav"));
    LbrCloseStream(stream);

    const Bytes once = testFile("xa2_18900_mono.xa");
    Bytes twice = once;
    twice.resize(once.size() + 3 * 2352, 0);
    twice.insert(twice.end(), once.begin(), once.end());
    const std::string again = write("again.xa", twice);
    ASSERT_EQ(LbrIsSupportFile(m_binding, again.c_str()), 2);
    for (uint16_t k = 0; k < 2; ++k) {
        const auto info = describe(again, k);
        ASSERT_TRUE(info);
        StreamState* s = open(again, *info);
        ASSERT_NE(s, nullptr);
        const Played played = play(s);
        LbrCloseStream(s);
        EXPECT_EQ(played.units, 15u) << k;
        EXPECT_TRUE(played.pcm == reference("xa2_18900_mono.wav")) << k;
    }
}

// A seek counts units of the stream's own sectors, whatever the interleave: 1000 ms of 37800 Hz
// stereo is unit 378 x 100 / 2016 = 18; 0 restarts; far past the end leaves nothing to read.
TEST_F(XaFile, SeeksByUnitsOfTheStream)
{
    const std::string path = write("multi.xa", testFile("xa_multi_4ch_37800_stereo.xa"));
    const auto info = describe(path, 2);
    ASSERT_TRUE(info);
    StreamState* stream = open(path, *info);
    ASSERT_NE(stream, nullptr);
    const Played whole = play(stream);
    ASSERT_EQ(whole.units, 57u);
    struct Case
    {
        uint32_t ms;
        size_t firstUnit;
    };
    for (const Case& c : {Case{1000, 18}, Case{0, 0}, Case{3039, 56}, Case{0xFFFFFFFEu, 57}}) {
        SCOPED_TRACE(c.ms);
        ASSERT_EQ(LbrSeekStream(stream, c.ms), 1);
        const Played rest = play(stream);
        ASSERT_EQ(rest.units, 57 - c.firstUnit);
        if (rest.units) {
            EXPECT_EQ(rest.payloads.front(), whole.payloads[c.firstUnit]);
        }
    }
    LbrCloseStream(stream);
}

TEST_F(XaFile, RefusesDamagedFilesAndOtherSectors)
{
    const Bytes raw = testFile("xa1_37800_stereo.xa");
    const Bytes riff = mediagen::withCdxaHeader(raw);
    struct Case
    {
        const char* name;
        std::function<Bytes()> make;
    };
    const Case cases[] = {
        {"last sector cut", [&] { return Bytes(raw.begin(), raw.end() - 1); }},
        {"a byte after the last sector", [&] { Bytes b = raw; b.push_back(0); return b; }},
        {"2336-byte sectors, last cut", [&] { Bytes b = mediagen::xaAs2336(raw); b.resize(b.size() - 100); return b; }},
        {"RIFF data past the end", [&] { Bytes b = riff; mediagen::put32(b.data() + 40, uint32_t(raw.size() + 2352)); return b; }},
        {"RIFF data not whole sectors", [&] { Bytes b = riff; mediagen::put32(b.data() + 40, uint32_t(raw.size() - 1)); return b; }},
        {"RIFF without data", [&] { Bytes b = riff; std::memcpy(b.data() + 36, "dat_", 4); return b; }},
        {"RIFF chunk past the end", [&] { Bytes b = riff; mediagen::put32(b.data() + 16, 0xFFFFFFF0u); return b; }},
        {"RIFF of another kind", [&] { Bytes b = riff; std::memcpy(b.data() + 8, "WAVE", 4); return b; }},
        {"a data sector among the sound", [&] { Bytes b = raw; b[10 * 2352 + 0x12] = 0x08; return b; }},
        {"a sector without sync", [&] { Bytes b = raw; b[5 * 2352 + 3] = 0; return b; }},
        {"only silence", [&] { Bytes b = raw; for (size_t i = 0; i < 75; ++i) mediagen::silenceXaSector(b, i); return b; }},
        {"only empty sectors", [] { return Bytes(8 * 2336, 0); }},
        {"less than a sector", [&] { return Bytes(raw.begin(), raw.begin() + 2000); }},
        {"a movie", [] { return mediagen::readAll(mediagen::testData("movies/mv4_v3_160x112_15fps_x1_xa37800s.str")); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        expectRefused(write("damaged.xa", c.make()));
    }
}

// The command-line tool: probe lists the four channels by number, and audio FILE#K writes the
// reference decoder's very file; a number past the last is refused.
TEST_F(XaFile, CommandLineShowsAndPlaysEachStream)
{
    const fs::path cli = fs::path(TAMRIN_OUT_DIR) / "tamrin-cli";
    if (!fs::exists(cli))
        GTEST_SKIP() << "tamrin-cli is not built";
    const std::string path = write("multi.xa", testFile("xa_multi_4ch_37800_stereo.xa"));
    const auto run = [&](const std::string& arguments, std::string& out) {
        std::string command = "'";
        command += cli.string();
        command += "' ";
        command += arguments;
        command += " 2>/dev/null";
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return -1;
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            out.append(chunk, n);
        return ::pclose(pipe);
    };
    std::string out;
    ASSERT_EQ(run("probe --json '" + path + "'", out), 0);
    const nlohmann::json probed = nlohmann::json::parse(out, nullptr, false);
    ASSERT_FALSE(probed.is_discarded()) << out;
    ASSERT_EQ(probed[0]["plugin"], "DISCVOICE.PSR");
    ASSERT_EQ(probed[0]["streams"].size(), 4u) << out;
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(probed[0]["streams"][k]["reserved"], k);

    const fs::path wave = m_folder.path() / "c2.wav";
    ASSERT_EQ(run("audio --no-progress --out '" + wave.string() + "' '" + path + "#3'", out), 0) << out;
    EXPECT_EQ(mediagen::readAll(wave), mediagen::readAll(mediagen::testData("references/xa_multi_4ch_37800_stereo_f1_c2.wav")));
    EXPECT_NE(run("audio --no-progress --out '" + wave.string() + "' '" + path + "#5'", out), 0);
}

} // namespace
