// Ripped XA files through Discvoice's file side, driven through libstreamkit as the application
// drives a file plugin: the file test counts the streams, each is described and opened by its
// number in `reserved`, and its sound, decoded by the host, is compared with the independent
// decoder's reference. Every rip layout is made from the test files (tests/mediagen).
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
const std::string kMulti = "xa_multi_4ch_37800_stereo";

Bytes data(const std::string& relative)
{
    return mediagen::readAll(mediagen::testData(relative));
}

// The PCM bytes of a reference (ffmpeg's 44-byte WAVE header dropped).
Bytes referencePcm(const std::string& name)
{
    const Bytes wave = data("references/" + name);
    return wave.size() > 44 ? Bytes(wave.begin() + 44, wave.end()) : Bytes();
}

// `bytes` written over `base` at `at`.
Bytes patched(Bytes base, size_t at, const Bytes& bytes)
{
    std::copy(bytes.begin(), bytes.end(), base.begin() + std::ptrdiff_t(at));
    return base;
}

struct Played
{
    std::vector<Bytes> units;
    Bytes pcm;
};

Played play(StreamState* stream)
{
    Played out;
    std::vector<uint8_t> buffer(PSR_READ_HEADER_BYTES + 2304), pcm(8064);
    auto* record = reinterpret_cast<PsrReadRecord*>(buffer.data());
    while (out.units.size() < 10000 && LbrReadStream(stream, 0, record) == 1) {
        out.units.emplace_back(record->payload, record->payload + record->payloadBytes);
        const int32_t written = LbrDecodeAudio(stream, record, pcm.data(), int32_t(pcm.size()));
        EXPECT_GT(written, 0);
        out.pcm.insert(out.pcm.end(), pcm.begin(), pcm.begin() + std::max(written, 0));
    }
    return out;
}

class XaFile : public testing::Test
{
  protected:
    void SetUp() override { ASSERT_NE(m_binding, nullptr); }
    void TearDown() override { LbrClosePSR(m_binding); }

    std::string write(const std::string& name, const Bytes& bytes)
    {
        const fs::path path = m_folder.path() / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return path.string();
    }
    std::optional<StrInfo> describe(const std::string& path, uint16_t number)
    {
        StrInfo info{};
        info.reserved = number; // a cleared record but for the stream's number
        if (LbrGetStrFileInfo(m_binding, path.c_str(), &info) != 1)
            return std::nullopt;
        return info;
    }
    // Stream `number` of the file opened as described; null when refused.
    StreamState* open(const std::string& path, uint16_t number)
    {
        std::optional<StrInfo> info = describe(path, number);
        return info ? LbrOpenStream(kPlugin, path.c_str(), 0, &*info, LBR_WANT_AUDIO) : nullptr;
    }
    Bytes playedPcm(const std::string& path, uint16_t number)
    {
        StreamState* stream = open(path, number);
        Bytes pcm = stream ? play(stream).pcm : Bytes();
        LbrCloseStream(stream);
        return pcm;
    }

    testsupport::ScratchFolder m_folder{"xafile"};
    PluginBinding* m_binding = LbrOpenPSR(kPlugin);
};

// Every channel of every test file in every rip layout: listed with the manifest's rate and
// channels, its number kept, decoded bit for bit as the reference; nothing past the last stream.
TEST_F(XaFile, ListsEachChannelAndPlaysItAsTheReference)
{
    struct Source
    {
        std::string stem;
        uint16_t streams;
        uint32_t sampleRate;
        uint16_t channels;
    };
    const Source sources[] = {
        {"xa1_37800_stereo", 1, 37800, 2}, {"xa2_18900_mono", 1, 18900, 1}, {kMulti, 4, 37800, 2}};
    const std::function<Bytes(const Bytes&)> layouts[] = {
        [](const Bytes& raw) { return raw; },
        [](const Bytes& raw) { return mediagen::xaAs2336(raw); },
        [](const Bytes& raw) { return mediagen::withCdxaHeader(raw); },
        [](const Bytes& raw) { return mediagen::withCdxaHeader(mediagen::xaAs2336(raw)); },
    };
    for (const Source& source : sources) {
        for (size_t layout = 0; layout < std::size(layouts); ++layout) {
            SCOPED_TRACE(source.stem + " layout " + std::to_string(layout));
            const std::string path = write("rip.xa", layouts[layout](data("audio/" + source.stem + ".xa")));
            ASSERT_EQ(LbrIsSupportFile(m_binding, path.c_str()), source.streams);
            for (uint16_t k = 0; k < source.streams; ++k) {
                const auto info = describe(path, k);
                ASSERT_TRUE(info) << k;
                EXPECT_EQ(info->reserved, k);
                EXPECT_EQ(info->sampleRate, source.sampleRate);
                EXPECT_EQ(info->channels, source.channels);
                const std::string reference =
                    source.streams == 1 ? source.stem : source.stem + "_f1_c" + std::to_string(k);
                EXPECT_TRUE(playedPcm(path, k) == referencePcm(reference + ".wav")) << k;
            }
            EXPECT_EQ(open(path, source.streams), nullptr);
        }
    }
}

// How sectors make streams: a channel of silence is not listed and the others keep dense
// numbers; a key after an end-of-file bit starts a stream of its own past empty sectors.
TEST_F(XaFile, SilenceAndRepeatedKeys)
{
    Bytes multi = data("audio/" + kMulti + ".xa");
    for (size_t i = 1; i < multi.size() / 2352; i += 4)
        mediagen::silenceXaSector(multi, i); // channel 1
    const std::string silent = write("silent.xa", multi);
    ASSERT_EQ(LbrIsSupportFile(m_binding, silent.c_str()), 3);
    EXPECT_TRUE(playedPcm(silent, 1) == referencePcm(kMulti + "_f1_c2.wav"));

    const Bytes once = data("audio/xa2_18900_mono.xa");
    Bytes twice = once;
    twice.resize(once.size() + 3 * 2352, 0);
    twice.insert(twice.end(), once.begin(), once.end());
    const std::string again = write("again.xa", twice);
    ASSERT_EQ(LbrIsSupportFile(m_binding, again.c_str()), 2);
    for (uint16_t k = 0; k < 2; ++k)
        EXPECT_TRUE(playedPcm(again, k) == referencePcm("xa2_18900_mono.wav")) << k;
}

// A seek counts the stream's own sectors whatever the interleave: 1000 ms of 37800 Hz stereo is
// unit 378 x 100 / 2016 = 18; 0 restarts; far past the end leaves nothing.
TEST_F(XaFile, SeeksByUnitsOfTheStream)
{
    StreamState* stream = open(write("multi.xa", data("audio/" + kMulti + ".xa")), 2);
    ASSERT_NE(stream, nullptr);
    const Played whole = play(stream);
    ASSERT_EQ(whole.units.size(), 57u);
    for (const auto& [ms, unit] : {std::pair{1000u, 18u}, {0u, 0u}, {3039u, 56u}, {0xFFFFFFFEu, 57u}}) {
        ASSERT_EQ(LbrSeekStream(stream, ms), 1);
        const Played rest = play(stream);
        ASSERT_EQ(rest.units.size(), 57 - unit) << ms;
        EXPECT_TRUE(rest.units.empty() || rest.units.front() == whole.units[unit]) << ms;
    }
    LbrCloseStream(stream);
}

// Refused by the file test, the description and the opening alike.
TEST_F(XaFile, RefusesDamagedFilesAndOtherSectors)
{
    const Bytes raw = data("audio/xa1_37800_stereo.xa"), riff = mediagen::withCdxaHeader(raw);
    const auto le32 = [](size_t v) {
        return Bytes{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    };
    const Bytes short2336 = mediagen::xaAs2336(raw);
    Bytes silent = raw;
    for (size_t i = 0; i < 75; ++i)
        mediagen::silenceXaSector(silent, i);
    const std::pair<const char*, Bytes> cases[] = {
        {"last sector cut", Bytes(raw.begin(), raw.end() - 1)},
        {"2336-byte sectors, last cut", Bytes(short2336.begin(), short2336.end() - 100)},
        {"RIFF data past the end", patched(riff, 40, le32(raw.size() + 2352))},
        {"RIFF data not whole sectors", patched(riff, 40, le32(raw.size() - 1))},
        {"RIFF without data", patched(riff, 36, {'d', 'a', 't', '_'})},
        {"RIFF chunk past the end", patched(riff, 16, le32(0xFFFFFFF0u))},
        {"RIFF of another kind", patched(riff, 8, {'W', 'A', 'V', 'E'})},
        {"a data sector among the sound", patched(raw, 10 * 2352 + 0x12, {0x08})},
        {"a sector without sync", patched(raw, 5 * 2352 + 3, {0})},
        {"only silence", silent},
        {"only empty sectors", Bytes(8 * 2336, 0)},
        {"a movie", data("movies/mv4_v3_160x112_15fps_x1_xa37800s.str")},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string path = write("damaged.xa", bytes);
        EXPECT_EQ(LbrIsSupportFile(m_binding, path.c_str()), 0) << name;
        EXPECT_FALSE(describe(path, 0)) << name;
        StrInfo info{};
        StreamState* stream = LbrOpenStream(kPlugin, path.c_str(), 0, &info, LBR_WANT_AUDIO);
        EXPECT_EQ(stream, nullptr) << name;
        LbrCloseStream(stream);
    }
}

// tamrin-cli: probe lists the four channels by number; audio FILE#K and convert --all of a
// folder write the reference decoder's very files; a number past the last fails.
TEST_F(XaFile, CommandLineShowsAndPlaysEachStream)
{
    const fs::path cli = fs::path(TAMRIN_OUT_DIR) / "tamrin-cli";
    if (!fs::exists(cli))
        GTEST_SKIP() << "tamrin-cli is not built";
    const std::string path = write("multi.xa", data("audio/" + kMulti + ".xa"));
    std::string out;
    const auto run = [&](std::string arguments) {
        std::string command = "'";
        command.append(cli.string()).append("' ").append(arguments).append(" 2>/dev/null");
        FILE* pipe = ::popen(command.c_str(), "r");
        char chunk[4096];
        for (size_t n; pipe && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
            out.append(chunk, n);
        return pipe ? ::pclose(pipe) : -1;
    };
    ASSERT_EQ(run("probe --json '" + path + "'"), 0);
    const nlohmann::json probed = nlohmann::json::parse(out, nullptr, false);
    ASSERT_EQ(probed.is_discarded() ? 0 : probed[0]["streams"].size(), 4u) << out;
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(probed[0]["streams"][k]["reserved"], k);

    const fs::path waves = m_folder.path() / "waves";
    ASSERT_EQ(run("audio --no-progress --out '" + path + ".wav' '" + path + "#3'"), 0);
    EXPECT_TRUE(mediagen::readAll(path + ".wav") == data("references/" + kMulti + "_f1_c2.wav"));
    EXPECT_NE(run("audio --no-progress --out '" + path + ".wav' '" + path + "#5'"), 0);
    ASSERT_EQ(run("convert --no-progress --all --to wave --out '" + waves.string() + "' '" +
                  m_folder.path().string() + "'"),
              0);
    for (int k = 0; k < 4; ++k) {
        const fs::path made = waves / ("multi-stream" + std::to_string(k + 1) + ".wav");
        EXPECT_TRUE(mediagen::readAll(made) ==
                    data("references/" + kMulti + "_f1_c" + std::to_string(k) + ".wav"));
    }
}

} // namespace
