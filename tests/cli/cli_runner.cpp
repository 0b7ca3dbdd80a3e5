#include "cli_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

extern char** environ;

namespace clitest {

namespace {

// The child's environment: ours with the `extra` variables, and sanitizer reports turned into a
// status of their own.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extra)
{
    const auto replaced = [&](std::string_view text) {
        return std::any_of(extra.begin(), extra.end(), [&](const std::string& entry) {
            const size_t equals = entry.find('=');
            return equals != std::string::npos &&
                   text.starts_with(std::string_view(entry).substr(0, equals + 1));
        });
    };
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view text(*entry);
        if (text.starts_with("ASAN_OPTIONS=") || text.starts_with("UBSAN_OPTIONS=") || replaced(text))
            continue;
        env.emplace_back(text);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    const std::string status = std::to_string(kSanitizerStatus);
    env.push_back("ASAN_OPTIONS=exitcode=" + status);
    env.push_back("UBSAN_OPTIONS=exitcode=" + status + ":halt_on_error=1:print_stacktrace=1");
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings)
{
    std::vector<char*> list;
    for (std::string& s : strings)
        list.push_back(s.data());
    list.push_back(nullptr);
    return list;
}

} // namespace

fs::path outDir()
{
    return TAMRIN_OUT_DIR;
}

fs::path cliProgram()
{
    return outDir() / "tamrin-cli";
}

fs::path dataDir()
{
    return TAMRIN_TEST_DATA;
}

RunResult run(const fs::path& program, const std::vector<std::string>& args,
              const std::vector<std::string>& environment)
{
    RunResult result;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);

    std::vector<std::string> argStrings{program.string()};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv = pointers(argStrings);
    std::vector<std::string> envStrings = childEnvironment(environment);
    std::vector<char*> envp = pointers(envStrings);

    pid_t pid = 0;
    const int spawnError = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawnError != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(spawnError);
        return result;
    }

    // Both pipes are drained together, so that a full stderr cannot block a long stdout.
    std::array<pollfd, 2> fds{{{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}}};
    std::array<std::string*, 2> sinks{&result.out, &result.err};
    int open = 2;
    char buffer[65536];
    while (open > 0) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, size_t(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return result;
}

RunResult runCli(const std::vector<std::string>& args, const std::vector<std::string>& environment)
{
    return run(cliProgram(), args, environment);
}

nlohmann::json parseJson(const RunResult& result)
{
    try {
        return nlohmann::json::parse(result.out);
    } catch (const nlohmann::json::exception& error) {
        ADD_FAILURE() << "stdout is not JSON (" << error.what() << "):\n"
                      << result.out << "\nstderr:\n"
                      << result.err;
        return nullptr;
    }
}

bool filmfileBuilt()
{
    return fs::exists(outDir() / "PsrPlugins" / "Filmfile.psr");
}

std::vector<fs::path> movieFiles()
{
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dataDir() / "movies", error)) {
        if (entry.path().extension() == ".str")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

TempFolder::TempFolder()
{
    std::string pattern = (fs::temp_directory_path() / "tamrin-cli-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
    m_path = pattern;
}

TempFolder::~TempFolder()
{
    std::error_code error;
    fs::remove_all(m_path, error);
}

fs::path makeInstallation(const fs::path& folder, bool withPluginFolder)
{
    // Copies, not links: the program finds its folder through /proc/self/exe, which resolves
    // links to the original output folder.
    fs::copy_file(cliProgram(), folder / "tamrin-cli");
    for (const char* library : {"libtamlib.so", "libtamlib-http.so", "libstreamkit.so", "libdiscport.so"})
        fs::copy_file(outDir() / library, folder / library);
    if (withPluginFolder)
        fs::create_directory(folder / "PsrPlugins");
    return folder / "tamrin-cli";
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string crcLines(const std::string& out)
{
    std::string lines;
    size_t at = 0;
    while ((at = out.find("frame ", at)) != std::string::npos) {
        const size_t end = out.find('\n', at);
        lines += out.substr(at, end == std::string::npos ? std::string::npos : end - at + 1);
        at = end;
    }
    return lines;
}

} // namespace clitest
