// Writing commands stopped halfway: by Ctrl-C (SIGINT) while they write, and by a file-size limit
// (ulimit -f 64) that their output passes. Either way the output folder must be left exactly as
// it was: an earlier file of the same name intact, and no partial or temporary file beside it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>

#include "cli_runner.h"
#include "long_disc.h"
#include "movie_facts.h"
#include "tamlib/cdaz.h"

namespace clitest {
namespace {

using namespace std::chrono_literals;

constexpr rlim_t kLimitBytes = 64 * 1024; // ulimit -f 64

// Every entry of the folder, hidden ones included, sorted.
std::vector<std::string> listing(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// tamrin-cli started in the background, with the default action for every signal that matters
// here and, when asked, a file-size limit; its output goes to files of `logs`.
class Child
{
  public:
    Child(const std::vector<std::string>& args, const fs::path& logs, rlim_t limit = RLIM_INFINITY)
        : m_out(logs / "out.txt"), m_err(logs / "err.txt")
    {
        std::vector<std::string> strings{cliProgram().string()};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : strings)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            for (int number : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ})
                ::signal(number, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            rlimit size = {limit, limit};
            ::setrlimit(RLIMIT_FSIZE, &size);
            const int in = ::open("/dev/null", O_RDONLY);
            const int out = ::open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
                ::_exit(120);
            ::execv(argv[0], argv.data());
            ::_exit(121);
        }
    }
    ~Child()
    {
        if (m_pid > 0 && !m_reaped) {
            ::kill(m_pid, SIGKILL);
            wait();
        }
    }

    // True once the program holds a file open in `folder` (its unfinished output), false when it
    // ended first or nothing showed within ten seconds.
    bool writingInto(const fs::path& folder)
    {
        const std::string prefix = folder.string() + "/";
        return holds([&](const fs::path& target) { return target.string().starts_with(prefix); });
    }
    // The same for a file that it reads.
    bool reading(const fs::path& file)
    {
        return holds([&](const fs::path& target) { return target == file; });
    }

    void signal(int number) { ::kill(m_pid, number); }

    // The wait status.
    int wait()
    {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_reaped = true;
        return status;
    }
    std::string err() const { return readFile(m_err); }

  private:
    template <typename Match> bool holds(const Match& match)
    {
        const fs::path fds = "/proc/" + std::to_string(m_pid) + "/fd";
        for (auto start = std::chrono::steady_clock::now(); std::chrono::steady_clock::now() - start < 10s;) {
            std::error_code error;
            for (const auto& fd : fs::directory_iterator(fds, error)) {
                const fs::path target = fs::read_symlink(fd.path(), error);
                if (!error && match(target))
                    return true;
            }
            if (error)
                return false; // the program has ended
            std::this_thread::sleep_for(200us);
        }
        return false;
    }

    fs::path m_out, m_err;
    pid_t m_pid = -1;
    bool m_reaped = false;
};

bool endedBy(int status, int signal)
{
    return WIFSIGNALED(status) && WTERMSIG(status) == signal;
}

class InterruptedWrites : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        if (!filmfileBuilt())
            GTEST_SKIP() << "Filmfile.psr is not built";
        fs::create_directories(m_out);
        writeFile(m_out / "old.wav", "earlier file");
    }
    // A movie long enough to be stopped while it is written: the sectors of the first test
    // movie ten times over (or `copies` times) behind its header.
    fs::path longMovie(int copies = 10)
    {
        const std::string movie = readFile(dataDir() / "movies" / kMovies[0].file);
        std::string repeated = movie.substr(0, 44);
        for (int i = 0; i < copies; ++i)
            repeated += movie.substr(44);
        const fs::path path = m_work.path() / "long.str";
        writeFile(path, repeated);
        return path;
    }
    const fs::path& out() const { return m_out; }
    const fs::path& logs() const { return m_work.path(); }

    // Runs `args` under the file-size limit: a failure that names the limit, and the folder as
    // it was.
    void expectLimitLeavesTheFolder(const std::vector<std::string>& args)
    {
        const std::vector<std::string> before = listing(m_out);
        Child child(args, logs(), kLimitBytes);
        const int status = child.wait();
        ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << ": " << child.err();
        EXPECT_EQ(WEXITSTATUS(status), kExitFailure) << child.err();
        EXPECT_NE(child.err().find("file-size limit"), std::string::npos) << child.err();
        EXPECT_EQ(listing(m_out), before);
        EXPECT_EQ(readFile(m_out / "old.wav"), "earlier file");
    }

    // Starts `args`, stops it with Ctrl-C once it writes into the folder: ended by the signal,
    // the folder as it was.
    void expectInterruptLeavesTheFolder(const std::vector<std::string>& args)
    {
        const std::vector<std::string> before = listing(m_out);
        Child child(args, logs());
        ASSERT_TRUE(child.writingInto(m_out)) << "never caught writing: " << child.err();
        child.signal(SIGINT);
        const int status = child.wait();
        EXPECT_TRUE(endedBy(status, SIGINT)) << status << ": " << child.err();
        EXPECT_EQ(listing(m_out), before);
        EXPECT_EQ(readFile(m_out / "old.wav"), "earlier file");
    }

    testsupport::ScratchFolder m_work{"interrupted"};
    fs::path m_out = m_work.path() / "out";
};

TEST_F(InterruptedWrites, AudioOfALongDiscTrack)
{
    LongDisc disc;
    ASSERT_TRUE(disc.write(16));
    if (!fs::exists(outDir() / "PsrPlugins" / "Trackaudio.psr"))
        GTEST_SKIP() << "Trackaudio.psr is not built";
    // Eighty minutes of CD sound: some 850 MB of WAVE data, stopped after the first few.
    const std::vector<std::string> args = {"audio",   disc.cue, "--plugin", "Trackaudio.psr",       "--start",
                                           "0",       "--sectors", std::to_string(kLongAudioSectors), "--out",
                                           (out() / "old.wav").string(), "--no-progress"};
    expectInterruptLeavesTheFolder(args);
    expectLimitLeavesTheFolder(args);
}

// convert takes Ctrl-C as a cancel: it ends on its own, with a failure, and removes its output
// (the earlier file it was to replace stays).
TEST_F(InterruptedWrites, WaveConversionOfALongDiscTrack)
{
    LongDisc disc;
    ASSERT_TRUE(disc.write(16));
    if (!fs::exists(outDir() / "PsrPlugins" / "Trackaudio.psr"))
        GTEST_SKIP() << "Trackaudio.psr is not built";
    const std::vector<std::string> args = {"convert", disc.cue, "--plugin", "Trackaudio.psr", "--start", "0",
                                           "--sectors", std::to_string(kLongAudioSectors), "--to", "wave",
                                           "--out", (out() / "old.wav").string(), "--force", "--no-progress"};
    const std::vector<std::string> before = listing(out());
    Child child(args, logs());
    ASSERT_TRUE(child.writingInto(out())) << "never caught writing: " << child.err();
    child.signal(SIGINT);
    const int status = child.wait();
    ASSERT_TRUE(WIFEXITED(status)) << status << ": " << child.err();
    EXPECT_EQ(WEXITSTATUS(status), kExitFailure);
    EXPECT_NE(child.err().find("interrupted"), std::string::npos) << child.err();
    EXPECT_EQ(listing(out()), before);
    EXPECT_EQ(readFile(out() / "old.wav"), "earlier file");

    // Into a folder with a source after it: that one is not started.
    std::vector<std::string> two = args;
    two.insert(two.begin() + 2, disc.cue);
    two[two.size() - 3] = out().string();
    Child second(two, logs());
    ASSERT_TRUE(second.writingInto(out())) << "never caught writing: " << second.err();
    second.signal(SIGINT);
    const int secondStatus = second.wait();
    EXPECT_TRUE(WIFEXITED(secondStatus) && WEXITSTATUS(secondStatus) == kExitFailure) << second.err();
    EXPECT_NE(second.err().find("1 source was not converted"), std::string::npos) << second.err();
    EXPECT_EQ(listing(out()), before);

    expectLimitLeavesTheFolder(args);
}

// A batch stopped in its second item: the first file stays whole, the second leaves nothing, the
// third is not started, and the results say so.
TEST_F(InterruptedWrites, ConversionBatchKeepsTheFinishedFiles)
{
    const fs::path folder = out() / "batch";
    const fs::path first = folder / (fs::path(kMovies[3].file).stem().string() + ".avi");
    // mv4, the long movie (its AVI takes about a second), mv3.
    const std::vector<std::string> args = {
        "convert", (dataDir() / "movies" / kMovies[3].file).string(), fs::canonical(longMovie(40)).string(),
        (dataDir() / "movies" / kMovies[2].file).string(), "--to", "avi", "--out", folder.string(), "--json",
        "--no-progress"};
    Child child(args, logs());
    // The long movie is read before the batch starts (to find its stream), then by the second
    // conversion once the first file is complete.
    for (auto start = std::chrono::steady_clock::now();
         !fs::exists(first) && std::chrono::steady_clock::now() - start < 10s;)
        std::this_thread::sleep_for(200us);
    ASSERT_TRUE(child.reading(fs::canonical(args[2]))) << "never caught reading the second: " << child.err();
    ASSERT_TRUE(child.writingInto(folder)) << "never caught writing the second: " << child.err();
    child.signal(SIGINT);
    const int status = child.wait();
    ASSERT_TRUE(WIFEXITED(status)) << status << ": " << child.err();
    EXPECT_EQ(WEXITSTATUS(status), kExitFailure);
    EXPECT_NE(child.err().find("1 source was not converted"), std::string::npos) << child.err();
    EXPECT_EQ(listing(folder), std::vector<std::string>{first.filename().string()});
    const std::string bytes = readFile(first);
    ASSERT_GE(bytes.size(), 8u);
    uint32_t riffSize = 0;
    std::memcpy(&riffSize, bytes.data() + 4, 4);
    EXPECT_EQ(uint64_t(riffSize) + 8, bytes.size()) << "the first file is complete";
    const nlohmann::json results = nlohmann::json::parse(readFile(logs() / "out.txt"));
    ASSERT_EQ(results.size(), 2u) << results;
    EXPECT_EQ(results[0]["result"], 0);
    EXPECT_EQ(results[0]["cancelled"], false);
    EXPECT_EQ(results[1]["cancelled"], true);
}

TEST_F(InterruptedWrites, PlanarFramesOfALongMovie)
{
    const std::vector<std::string> args = {"frames", longMovie().string(),         "--yuv",
                                           "--out",  (out() / "old.wav").string(), "--no-progress"};
    expectInterruptLeavesTheFolder(args);
    expectLimitLeavesTheFolder(args);
}

TEST_F(InterruptedWrites, PictureFilesAreWholeOrAbsent)
{
    const fs::path pictures = out() / "pictures";
    fs::create_directories(pictures);
    const std::vector<std::string> args = {"frames", longMovie().string(), "--out", pictures.string(),
                                           "--no-progress"};
    // A 320x240 picture is larger than the limit: not one is written.
    expectLimitLeavesTheFolder(args);
    EXPECT_TRUE(listing(pictures).empty());

    // Stopped after a few pictures: those are whole files, and nothing else is there.
    Child child(args, logs());
    for (auto start = std::chrono::steady_clock::now();
         listing(pictures).size() < 3 && std::chrono::steady_clock::now() - start < 10s;)
        std::this_thread::sleep_for(200us);
    child.signal(SIGINT);
    EXPECT_TRUE(endedBy(child.wait(), SIGINT)) << child.err();
    const std::vector<std::string> left = listing(pictures);
    EXPECT_GE(left.size(), 3u);
    for (const std::string& name : left) {
        EXPECT_TRUE(name.ends_with(".bmp") && name[0] != '.') << name;
        const std::string bytes = readFile(pictures / name);
        ASSERT_GE(bytes.size(), 6u) << name;
        uint32_t declared = 0;
        std::memcpy(&declared, bytes.data() + 2, 4);
        EXPECT_EQ(declared, bytes.size()) << name;
    }
}

TEST_F(InterruptedWrites, CdazEditKeepsTheOldOrTheNewFileWhole)
{
    // A CDAZ of some 400 KB (many streams with names of their own), so that saving it takes a
    // moment and passes the limit.
    const fs::path cdaz = out() / "big.cdaz";
    CdazRecord* record = PlbAllocCDAZ("big.cdaz", "Before", "STR", nullptr, 0, 0);
    ASSERT_NE(record, nullptr);
    for (uint32_t i = 0; i < 3000; ++i) {
        StrInfo info{};
        info.kind = StrVideo;
        info.startSector = i * 100;
        info.sectorCount = 50;
        info.durationMs = 1000;
        const std::string name = "stream " + std::to_string(i) + std::string(120, char('a' + i % 26));
        ASSERT_EQ(1, PlbSetStreamCDAZ(record, name.c_str(), &info, "A.PSR", 100, "author", ""));
    }
    PlbSetCDAZAnaSector(record, -1);
    ASSERT_EQ(1, PlbSaveCDAZ(out().c_str(), "big.cdaz", record));
    PlbFreeCDAZ(record);
    const std::string before = readFile(cdaz);
    ASSERT_GT(before.size(), kLimitBytes);

    const std::vector<std::string> args = {"cdaz", "edit", cdaz.string(), "--title", "After"};
    expectLimitLeavesTheFolder(args);
    EXPECT_EQ(readFile(cdaz), before);

    // Ctrl-C at random moments of the edit: each time the file is the old one or the edited
    // one, whole, and nothing else is in the folder.
    std::mt19937 random(7);
    const std::vector<std::string> names = listing(out());
    for (int round = 0; round < 12; ++round) {
        Child child(args, logs());
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
        child.signal(SIGINT);
        const int status = child.wait();
        EXPECT_TRUE(endedBy(status, SIGINT) || (WIFEXITED(status) && WEXITSTATUS(status) == kExitOk))
            << status << ": " << child.err();
        EXPECT_EQ(listing(out()), names) << "round " << round;
        int32_t loadStatus = 0;
        CdazRecord* loaded = PlbReadCDAZ(out().c_str(), "big.cdaz", &loadStatus).record;
        ASSERT_NE(loaded, nullptr) << "round " << round << ": status " << std::hex << loadStatus;
        char title[PLB_CDAZ_TITLE_BYTES] = {};
        EXPECT_EQ(3000, PlbGetCDAZInfo(loaded, nullptr, title, nullptr, nullptr, nullptr));
        EXPECT_TRUE(std::string(title) == "Before" || std::string(title) == "After") << title;
        PlbFreeCDAZ(loaded);
    }
}

} // namespace
} // namespace clitest
