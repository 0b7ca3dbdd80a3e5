// Output files that appear complete or not at all: in both forms (nameless until commit, and the
// hidden-name form of filesystems without nameless files), through commit, discard, failures, a
// file-size limit and the signals that stop a program. Signals and limits are tried on child
// processes, which must end the way the signal or the failed write says, and leave the folder
// exactly as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "../support/scratch_folder.h"
#include "tamrin_common/file_replace.h"
#include "tamrin_common/output_file.h"

namespace {

namespace fs = std::filesystem;
using tamrin_common::OutputFile;

// Every entry of the folder, hidden ones included, sorted.
std::vector<std::string> entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Runs each test once with nameless files and once with hidden names.
class OutputFiles : public ::testing::TestWithParam<bool>
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_folder.made());
        tamrin_common::preferNamedTemporaryFiles(named());
    }
    void TearDown() override { tamrin_common::preferNamedTemporaryFiles(false); }
    bool named() const { return GetParam(); }
    const fs::path& folder() const { return m_folder.path(); }

    // What the folder may hold while a file of `target` is being written: nothing more in the
    // nameless form, one hidden entry in the other.
    void expectWhileWriting(const OutputFile& file, const std::vector<std::string>& before)
    {
        std::vector<std::string> now = entries(folder());
        EXPECT_EQ(file.hasTemporaryName(), named());
        if (named()) {
            const auto hidden =
                std::find_if(now.begin(), now.end(), [](const std::string& n) { return n.find(".tmp-") != n.npos; });
            ASSERT_NE(hidden, now.end());
            EXPECT_EQ((*hidden)[0], '.');
            now.erase(hidden);
        }
        EXPECT_EQ(now, before);
    }

    testsupport::ScratchFolder m_folder{"output"};
};

TEST_P(OutputFiles, TheTargetAppearsWholeOnlyOnCommitAndReplacesTheOldOne)
{
    const fs::path target = folder() / "out.wav";
    std::string error;
    for (const std::string contents : {"first version", "second"}) {
        const std::vector<std::string> before = entries(folder());
        const std::string old = fs::exists(target) ? readFile(target) : "";
        OutputFile file;
        ASSERT_TRUE(file.create(target, error)) << error;
        ASSERT_TRUE(file.write("HEADER", 6, error)) << error;
        ASSERT_TRUE(file.write(contents.data(), contents.size(), error)) << error;
        ASSERT_TRUE(file.writeAt(0, "header", 6, error)) << error;
        expectWhileWriting(file, before);
        if (!old.empty()) {
            EXPECT_EQ(readFile(target), old);
        }
        ASSERT_TRUE(file.commit(error)) << error;
        EXPECT_FALSE(file.isOpen());
        EXPECT_EQ(readFile(target), "header" + contents);
        EXPECT_EQ(entries(folder()), std::vector<std::string>{"out.wav"});
    }
}

TEST_P(OutputFiles, DiscardedOrAbandonedFilesLeaveTheFolderAsItWas)
{
    const fs::path target = folder() / "kept.bmp";
    writeFile(target, "old");
    std::string error;
    {
        OutputFile abandoned;
        ASSERT_TRUE(abandoned.create(target, error)) << error;
        ASSERT_TRUE(abandoned.write("new bytes", 9, error)) << error;
    }
    OutputFile discarded;
    ASSERT_TRUE(discarded.create(target, error)) << error;
    ASSERT_TRUE(discarded.write("new", 3, error)) << error;
    discarded.discard();
    EXPECT_FALSE(discarded.isOpen());
    EXPECT_FALSE(discarded.commit(error));
    // A second create discards the first file.
    ASSERT_TRUE(discarded.create(target, error)) << error;
    ASSERT_TRUE(discarded.create(folder() / "other.bmp", error)) << error;
    discarded.discard();
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"kept.bmp"});
}

TEST_P(OutputFiles, TargetsThatCannotBeWrittenAreRefused)
{
    std::string error;
    OutputFile file;
    EXPECT_FALSE(file.create(folder() / "no such folder" / "x.bmp", error));
    EXPECT_NE(error.find("cannot create a file in"), std::string::npos) << error;
    EXPECT_NE(error.find("no such folder"), std::string::npos) << error;
    EXPECT_FALSE(file.write("x", 1, error));
    EXPECT_EQ(error, "no file is open");

    fs::create_directory(folder() / "a folder");
    EXPECT_FALSE(file.create(folder() / "a folder", error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_TRUE(fs::is_directory(folder() / "a folder"));

    // The target turns into a folder while the file is written: the commit fails and leaves
    // both the folder and no trace of the file.
    ASSERT_TRUE(file.create(folder() / "late", error)) << error;
    ASSERT_TRUE(file.write("x", 1, error));
    fs::create_directories(folder() / "late" / "inside");
    EXPECT_FALSE(file.commit(error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    EXPECT_EQ(entries(folder()), (std::vector<std::string>{"a folder", "late"}));
    EXPECT_TRUE(fs::exists(folder() / "late" / "inside"));
}

TEST_P(OutputFiles, ReplacedWholeFilesGetFixedPermissionsAndSayWhyTheyFail)
{
    const fs::path target = folder() / "Settings.ini";
    const mode_t mask = ::umask(077);
    EXPECT_TRUE(tamrin_common::replaceFile(target, std::string_view("a=1\n")));
    ::umask(mask);
    EXPECT_EQ(readFile(target), "a=1\n");
    struct stat info = {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);

    std::string error;
    EXPECT_FALSE(tamrin_common::replaceFile(folder() / "missing" / "x.ini", std::string_view("b"), &error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"Settings.ini"});
}

// Runs `child` in a child process and returns its wait status. The child reports through its
// exit code; a child that throws or fails an assertion exits with 100.
template <class Child> int inChild(Child child)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        int code = 100;
        try {
            code = child();
        } catch (...) {
        }
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

TEST_P(OutputFiles, AFileSizeLimitIsAWriteErrorAndLeavesNothing)
{
    const fs::path target = folder() / "big.wav";
    writeFile(target, "old");
    const std::vector<std::string> before = entries(folder());
    // The child keeps the default action of SIGXFSZ, which would end it at the limit.
    const int status = inChild([&] {
        std::signal(SIGXFSZ, SIG_DFL);
        rlimit limit = {64 * 1024, 64 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        OutputFile file;
        if (!file.create(target, error))
            return 1;
        const std::vector<char> block(16 * 1024, 'x');
        for (int i = 0; i < 8; ++i)
            if (!file.write(block.data(), block.size(), error))
                return error.find("file-size limit") != std::string::npos ? 42 : 2;
        return 3;
    });
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 42);
    EXPECT_EQ(entries(folder()), before);
    EXPECT_EQ(readFile(target), "old");
}

volatile std::sig_atomic_t g_ownHandlerCalls = 0;
extern "C" void ownHandler(int)
{
    g_ownHandlerCalls = g_ownHandlerCalls + 1;
}

// A child that starts a file, writes part of it, tells the parent, and waits to be stopped.
// `prepare` runs first (to install the program's own handler); `after` runs if the signal lets
// the child go on, and gives its exit code.
template <class Prepare, class After>
int interruptedWriter(const fs::path& target, int signal, Prepare prepare, After after)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        prepare();
        std::string error;
        OutputFile file;
        if (!file.create(target, error) || !file.write("partial", 7, error))
            ::_exit(1);
        if (::write(ready[1], "r", 1) != 1)
            ::_exit(1);
        const timespec pause = {0, 5'000'000};
        for (int i = 0; i < 400 && g_ownHandlerCalls == 0; ++i)
            ::nanosleep(&pause, nullptr);
        ::_exit(after(file));
    }
    ::close(ready[1]);
    char byte = 0;
    const bool started = ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (started)
        ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return started ? status : -1;
}

TEST_P(OutputFiles, StopSignalsEndTheProgramAsBeforeAndLeaveNoFile)
{
    const fs::path target = folder() / "out.wav";
    writeFile(target, "old");
    const std::vector<std::string> before = entries(folder());
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const int status = interruptedWriter(
            target, signal, [] {}, [](OutputFile&) { return 5; });
        ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal << ", status " << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(entries(folder()), before) << "signal " << signal;
        EXPECT_EQ(readFile(target), "old");
    }
    // SIGKILL cannot be caught: only a nameless file is certain to go with the program.
    if (!named()) {
        const int status = interruptedWriter(
            target, SIGKILL, [] {}, [](OutputFile&) { return 5; });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        EXPECT_EQ(entries(folder()), before);
    }
}

TEST_P(OutputFiles, AProgramThatCatchesTheSignalItselfFinishesItsFile)
{
    const fs::path target = folder() / "out.yuv";
    // As a program that takes Ctrl-C as a request to stop long work: its handler goes over the
    // one that guards the files, and the work ends in order.
    const int status = interruptedWriter(
        target, SIGINT,
        [&] {
            std::signal(SIGINT, SIG_DFL);
            OutputFile earlier;
            std::string error;
            earlier.create(folder() / "earlier", error);
            struct sigaction own = {};
            own.sa_handler = ownHandler;
            sigemptyset(&own.sa_mask);
            ::sigaction(SIGINT, &own, nullptr);
        },
        [](OutputFile& file) {
            std::string error;
            return g_ownHandlerCalls == 1 && file.commit(error) ? 7 : 8;
        });
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 7);
    EXPECT_EQ(readFile(target), "partial");
    EXPECT_EQ(entries(folder()), std::vector<std::string>{"out.yuv"});
}

INSTANTIATE_TEST_SUITE_P(BothForms, OutputFiles, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("HiddenName") : std::string("Nameless");
                         });

} // namespace
