// play: a front over the library's player. The pictures go to a headless sink that counts them
// (the desktop viewer paints them instead); positions and the end come as notifications, shown
// on a status line or written as JSON lines. On a terminal, space pauses and resumes, the left
// and right arrows seek 5 s, q quits.
#include "commands_play.h"

#include "command_set.h"
#include "stream_input.h"

#include <CLI/CLI.hpp>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <thread>

#include "interrupt.h"
#include "stream_input.h"
#include "tamlib/player.h"

namespace tamrin::cli {

namespace {

constexpr uint32_t kNotifyIntervalMs = 100;
constexpr int32_t kStretch = 4;
constexpr uint32_t kSeekStepMs = 5000;

// Counts the pictures; the player keeps them.
struct Screen
{
    std::atomic<uint32_t> frames{0};
};

// Notifications to stdout (JSON) or to the status line; the end is remembered.
struct Reporter
{
    bool json = false;
    std::mutex mutex;
    std::atomic<uint32_t> ends{0};
    std::atomic<uint32_t> lastMs{0};

    static int32_t position(void* context, uint32_t frame, uint32_t ms)
    {
        auto* self = static_cast<Reporter*>(context);
        self->lastMs.store(ms);
        if (self->json) {
            std::lock_guard lock(self->mutex);
            std::printf("{\"event\":\"position\",\"ms\":%u,\"frame\":%u}\n", ms, frame);
            std::fflush(stdout);
        }
        return 1;
    }
    static int32_t end(void* context)
    {
        auto* self = static_cast<Reporter*>(context);
        self->ends.fetch_add(1);
        if (self->json) {
            std::lock_guard lock(self->mutex);
            std::printf("{\"event\":\"end\"}\n");
            std::fflush(stdout);
        }
        return 1;
    }
};

// The terminal in raw mode while it lives; the previous mode comes back after.
class RawKeys
{
  public:
    RawKeys() : m_active(::isatty(STDIN_FILENO) == 1 && ::tcgetattr(STDIN_FILENO, &m_saved) == 0)
    {
        if (!m_active)
            return;
        termios raw = m_saved;
        raw.c_lflag &= tcflag_t(~(ICANON | ECHO));
        raw.c_cc[VMIN] = 0;
        raw.c_cc[VTIME] = 0;
        m_active = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~RawKeys()
    {
        if (m_active)
            ::tcsetattr(STDIN_FILENO, TCSANOW, &m_saved);
    }
    bool active() const { return m_active; }

    // A key within `ms`: ' ', 'q', 'L' (left arrow), 'R' (right arrow), or 0.
    char next(int ms) const
    {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        if (::poll(&fd, 1, ms) <= 0)
            return 0;
        char bytes[8];
        const ssize_t n = ::read(STDIN_FILENO, bytes, sizeof bytes);
        if (n == 1)
            return bytes[0] == 'Q' ? 'q' : bytes[0];
        if (n >= 3 && bytes[0] == 0x1b && bytes[1] == '[')
            return bytes[2] == 'D' ? 'L' : bytes[2] == 'C' ? 'R' : 0;
        return 0;
    }

  private:
    termios m_saved{};
    bool m_active;
};

std::string clock(uint32_t ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%u:%02u.%01u", ms / 60000, ms / 1000 % 60, ms / 100 % 10);
    return text;
}

bool parseSize(const std::string& text, int32_t& width, int32_t& height)
{
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos)
        return false;
    const char* begin = text.data();
    const auto w = std::from_chars(begin, begin + x, width);
    const auto h = std::from_chars(begin + x + 1, begin + text.size(), height);
    return w.ec == std::errc() && w.ptr == begin + x && h.ec == std::errc() && h.ptr == begin + text.size() &&
           width >= 1 && width <= LBR_MAX_PICTURE_SIDE && height >= 1 && height <= LBR_MAX_PICTURE_SIDE;
}

} // namespace

void addPlayCommand(CommandSet& commands)
{
    auto options = std::make_shared<PlayOptions>();
    CLI::App* play = commands.add(nullptr, "play",
                                  "Play a stream with its sound: a movie or sound file, IMAGE#N, IMAGE --stream K or "
                                  "a drive. On a terminal: space pauses and resumes, left and right seek 5 s, q quits.",
                                  [options] { return runPlay(*options); });
    play->add_option("source", options->source, "The file, disc image or drive to play.")->required();
    addStreamOptions(play, options->plugin, options->disc);
    play->add_option("--driver", options->driver,
                     "Sound output: alsa (the default), null, or alsa-seq (the music of a sequenced-music "
                     "stream to an ALSA sequencer port).")
        ->check(CLI::IsMember({"alsa", "null", "alsa-seq"}));
    play->add_option("--device", options->device,
                     "ALSA device name (default: the default device); for alsa-seq the sequencer port, "
                     "CLIENT:PORT or a port's name.");
    play->add_flag("--untimed", options->untimed,
                   "Play as fast as the stream decodes, without sound (the null device, untimed).");
    play->add_option("--tempo", options->tempo, "Speed in percent.")->check(wholeRange(10, 1000));
    play->add_option("--volume", options->volume, "Volume in percent.")->check(wholeRange(0, 400));
    play->add_option("--from", options->fromMs, "Start at this position, in ms.");
    play->add_option("--size", options->size, "Size of the pictures, WxH (default: the stream's).");
    play->add_flag("--json", options->json, "One JSON object a line for each notification, a summary last.");
}

int runPlay(const PlayOptions& options)
{
    int32_t width = 0, height = 0;
    if (!options.size.empty() && !parseSize(options.size, width, height)) {
        reportError("play", "--size must be WxH, each side from 1 to " + std::to_string(LBR_MAX_PICTURE_SIDE));
        return kExitUsage;
    }
    StreamInput input;
    StreamRequest request;
    request.argument = options.source;
    request.plugin = options.plugin;
    request.disc = options.disc;
    request.progress = !options.json;
    if (!input.accept(request))
        return kExitFailure;
    const Acceptance& accepted = input.accepted();
    StrInfo info = accepted.info;

    Screen screen;
    Reporter reporter;
    reporter.json = options.json;
    const PlbFrameSink sink{&screen,
                            [](void* context, const FrameDib*, const PlbRect*, uint32_t) {
                                static_cast<Screen*>(context)->frames.fetch_add(1);
                            },
                            width, height};
    const PlbNotifySink notify{&reporter, &Reporter::position, &Reporter::end};
    const std::string fileName = input.isDisc() ? std::string() : input.fileName();
    auto open = [&](const char* driver) {
        const PlbPlayerOptions playerOptions{driver, options.device.c_str(), input.isDisc() ? input.drive() : -1};
        return PlbOpenPlayerEx(accepted.plugin.c_str(), input.isDisc() ? nullptr : fileName.c_str(), &info, &sink,
                               &notify, kNotifyIntervalMs, kStretch, &playerOptions);
    };
    std::string driver = options.untimed ? "null-untimed" : options.driver;
    // Music is rendered to 44100 Hz stereo; the rate field of a music stream is its tempo.
    const bool music = (info.kind & StrMusic) && !(info.kind & StrAudio);
    const uint32_t rate = music ? 44100 : info.sampleRate;
    const uint16_t channels = music || info.channels == 2 ? 2 : 1;
    if (driver == "alsa" && (info.kind & (StrAudio | StrMusic)) &&
        !PlbProbeSoundOutput("alsa", options.device.c_str(), rate, channels)) {
        std::cerr << "tamrin-cli: warning: the sound device cannot be opened; playing on the null device\n";
        driver = "null";
    }
    Player* player = open(driver.c_str());
    if (!player) {
        reportError(input.subject(), "the stream cannot be played (it cannot be opened, or a video stream has "
                                     "no frame rate)");
        return kExitFailure;
    }
    char problem[512];
    if (PlbGetSoundProblem(player, problem, sizeof problem) > 0)
        std::cerr << "tamrin-cli: warning: " << problem << "; playing without sound\n";
    if (options.volume != 100)
        PlbSetVolume(player, options.volume);
    if (options.tempo != 100)
        PlbSetTempo(player, options.tempo);
    if (options.fromMs)
        PlbSeekPlayer(player, options.fromMs);

    const auto start = std::chrono::steady_clock::now();
    InterruptStops interrupt;
    const RawKeys keys;
    const bool statusLine = !options.json && ::isatty(STDERR_FILENO) == 1;
    PlbPlayPlayer(player);
    bool quit = false;
    while (!quit && reporter.ends.load() == 0 && !interrupt.stopped()) {
        const char key = keys.active() ? keys.next(100) : 0;
        if (!keys.active())
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (key == 'q')
            quit = true;
        else if (key == ' ')
            PlbGetPlayerStatus(player) == PLB_STATE_PLAYING ? PlbPausePlayer(player) : PlbPlayPlayer(player);
        else if (key == 'L' || key == 'R') {
            const uint32_t at = PlbGetPlayPosition(player, nullptr);
            const uint32_t to = key == 'L' ? (at > kSeekStepMs ? at - kSeekStepMs : 0) : at + kSeekStepMs;
            const bool playing = PlbGetPlayerStatus(player) == PLB_STATE_PLAYING;
            PlbSeekPlayer(player, to);
            if (playing)
                PlbPlayPlayer(player);
        }
        if (statusLine) {
            uint32_t length = 0, shown = 0, dropped = 0;
            const uint32_t at = PlbGetPlayPosition(player, &length);
            PlbGetPlayerCounts(player, &shown, &dropped);
            std::fprintf(stderr, "\r%s / %s  frames %u shown, %u dropped%s\x1b[K", clock(at).c_str(),
                         clock(length).c_str(), shown, dropped,
                         PlbGetPlayerStatus(player) == PLB_STATE_PAUSED ? "  (paused)" : "");
        }
    }
    const auto wallMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    uint32_t length = 0, shown = 0, dropped = 0;
    const uint32_t at = PlbGetPlayPosition(player, &length);
    PlbGetPlayerCounts(player, &shown, &dropped);
    PlbClosePlayer(player);
    if (statusLine)
        std::fprintf(stderr, "\n");
    if (options.json) {
        std::printf("{\"event\":\"summary\",\"framesShown\":%u,\"framesDropped\":%u,\"positionMs\":%u,"
                    "\"lengthMs\":%u,\"wallMs\":%lld,\"endMessages\":%u}\n",
                    shown, dropped, at, length, (long long)wallMs, reporter.ends.load());
    } else {
        std::printf("%s: played %s of %s in %.1f s, %u frames shown, %u dropped\n", input.subject().c_str(),
                    clock(at).c_str(), clock(length).c_str(), double(wallMs) / 1000.0, shown, dropped);
    }
    return kExitOk;
}

} // namespace tamrin::cli
