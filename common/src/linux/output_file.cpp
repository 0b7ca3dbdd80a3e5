// OutputFile on Linux: unnamed files (O_TMPFILE) linked into place through /proc/self/fd when
// complete; hidden named files where the filesystem cannot make unnamed ones, listed for a
// signal handler that removes them when the program is stopped.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "tamrin_common/output_file.h"

namespace tamrin_common {

namespace {

// The hidden names that exist right now. The handler reads this list, so it is fixed memory and
// each entry is published through its state only once its path is complete.
constexpr int kSlots = 32;
constexpr size_t kPathBytes = 4096;
enum SlotState : int
{
    kFree = 0,
    kFilling = 1,
    kLive = 2
};
struct Slot
{
    std::atomic<int> state{kFree};
    char path[kPathBytes];
};
Slot g_slots[kSlots];
static_assert(std::atomic<int>::is_always_lock_free, "the list is read from a signal handler");

// A slot for `path`, or -1 when none is free or the path is too long (the file is then not
// removed on a signal, which only the rarest program would reach).
int claimSlot(const std::string& path)
{
    if (path.size() >= kPathBytes)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (g_slots[i].state.compare_exchange_strong(expected, kFilling)) {
            std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
            g_slots[i].state.store(kLive, std::memory_order_release);
            return i;
        }
    }
    return -1;
}

void releaseSlot(int& slot)
{
    if (slot >= 0)
        g_slots[slot].state.store(kFree, std::memory_order_release);
    slot = -1;
}

// Signals that end a program and that a program may catch to end in order; each one's handler
// from before ours is called after the hidden files are gone.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kStopSignalCount = int(sizeof kStopSignals / sizeof kStopSignals[0]);
struct sigaction g_previous[kStopSignalCount];
bool g_installed[kStopSignalCount];
std::mutex g_installLock;

extern "C" void onStopSignal(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    for (Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == kLive)
            ::unlink(slot.path);
    int index = 0;
    while (index < kStopSignalCount && kStopSignals[index] != signal)
        ++index;
    if (index < kStopSignalCount) {
        const struct sigaction& previous = g_previous[index];
        if (previous.sa_flags & SA_SIGINFO) {
            if (previous.sa_sigaction)
                previous.sa_sigaction(signal, info, context);
        } else if (previous.sa_handler == SIG_DFL) {
            // The default action, as if this handler had never been there: the signal is blocked
            // while the handler runs and ends the program as soon as it returns.
            struct sigaction standard = {};
            standard.sa_handler = SIG_DFL;
            sigemptyset(&standard.sa_mask);
            ::sigaction(signal, &standard, nullptr);
            ::raise(signal);
        } else if (previous.sa_handler != SIG_IGN) {
            previous.sa_handler(signal);
        }
    }
    errno = savedErrno;
}

bool isOurs(const struct sigaction& action)
{
    return (action.sa_flags & SA_SIGINFO) && action.sa_sigaction == onStopSignal;
}

bool isPlain(const struct sigaction& action, void (*handler)(int))
{
    return !(action.sa_flags & SA_SIGINFO) && action.sa_handler == handler;
}

// Puts the handler in place for each stop signal, unless the signal is ignored or the program
// has put its own handler over ours (it then ends in order and its writers discard their
// files). A handler that someone reset to the default action is put back.
void protectHiddenFiles()
{
    std::lock_guard lock(g_installLock);
    sigset_t stops, saved;
    sigemptyset(&stops);
    for (int signal : kStopSignals)
        sigaddset(&stops, signal);
    pthread_sigmask(SIG_BLOCK, &stops, &saved);
    for (int i = 0; i < kStopSignalCount; ++i) {
        struct sigaction current = {};
        if (::sigaction(kStopSignals[i], nullptr, &current) != 0 || isOurs(current) ||
            isPlain(current, SIG_IGN))
            continue;
        if (g_installed[i] && !isPlain(current, SIG_DFL))
            continue;
        struct sigaction mine = {};
        mine.sa_sigaction = onStopSignal;
        mine.sa_flags = SA_SIGINFO | (current.sa_flags & SA_RESTART);
        mine.sa_mask = stops;
        g_previous[i] = current;
        if (::sigaction(kStopSignals[i], &mine, nullptr) == 0)
            g_installed[i] = true;
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

// A file-size limit ends a program with SIGXFSZ by default; ignored, the write that would pass
// the limit fails with EFBIG and is reported like any failed write. A handler of the program's
// own stays.
void ignoreFileSizeSignal()
{
    struct sigaction current = {};
    if (::sigaction(SIGXFSZ, nullptr, &current) == 0 && isPlain(current, SIG_DFL)) {
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGXFSZ, &ignore, nullptr);
    }
}

std::atomic<bool> g_preferNamed{false};

// Unnamed files are given their name through /proc/self/fd (linkat with AT_EMPTY_PATH needs a
// privilege that most programs do not have).
bool procFdUsable()
{
    static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
    return usable;
}

// Errors of open(O_TMPFILE) that mean "not on this filesystem" (or not on this kernel, which
// takes the flag for O_DIRECTORY).
bool noUnnamedFiles(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

std::atomic<unsigned> g_counter{0};

std::string hiddenName(const std::filesystem::path& target)
{
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".tmp-";
    hidden += std::to_string(::getpid());
    hidden += '-';
    hidden += std::to_string(g_counter++);
    return (folder / hidden).string();
}

constexpr int kNameAttempts = 100;

void syncFolderOf(const std::filesystem::path& target)
{
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

void preferNamedTemporaryFiles(bool named)
{
    g_preferNamed.store(named);
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::fail(const std::string& what, int error, std::string& text)
{
    text = what + ": ";
    if (error == EFBIG)
        text += "the file would pass the file-size limit of this program (ulimit -f)";
    else
        text += std::strerror(error);
    discard();
    // Callers behind a C interface that returns only a failure value pass the reason on in errno.
    errno = error;
    return false;
}

bool OutputFile::create(const std::filesystem::path& target, std::string& error, Durability durability,
                        unsigned permissions, bool exact)
{
    discard();
    m_target = target;
    m_durability = durability;
    m_permissions = permissions;
    m_exactPermissions = exact;
    // The finished file replaces the target by renaming: a device or a folder of that name would
    // be replaced, not written to.
    struct stat existing = {};
    if (::stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        error = target.string() + " exists and is not a regular file";
        return false;
    }
    ignoreFileSizeSignal();
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const mode_t mode = mode_t(permissions & 07777);
    int fd = -1;
    if (!g_preferNamed.load() && procFdUsable()) {
        fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        if (fd < 0 && !noUnnamedFiles(errno))
            return fail("cannot create a file in " + folder.string(), errno, error);
    }
    if (fd < 0) {
        protectHiddenFiles();
        for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
            const std::string name = hiddenName(target);
            // Listed before it exists, so that no moment passes in which a signal would miss it.
            m_slot = claimSlot(name);
            fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd >= 0) {
                m_temporary = name;
                break;
            }
            const int openError = errno;
            releaseSlot(m_slot);
            if (openError != EEXIST)
                return fail("cannot create a file in " + folder.string(), openError, error);
        }
        if (fd < 0) {
            error = "cannot find a free temporary name in " + folder.string();
            return false;
        }
    }
    m_fd = fd;
    if (exact && ::fchmod(m_fd, mode) != 0)
        return fail("cannot create " + target.string(), errno, error);
    return true;
}

bool OutputFile::write(const void* bytes, size_t length, std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    const auto* cursor = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        const ssize_t wrote = ::write(m_fd, cursor, length);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return fail("cannot write " + m_target.string(), wrote < 0 ? errno : EIO, error);
        cursor += wrote;
        length -= size_t(wrote);
    }
    return true;
}

bool OutputFile::writeAt(uint64_t offset, const void* bytes, size_t length, std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    const auto* cursor = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        const ssize_t wrote = ::pwrite(m_fd, cursor, length, off_t(offset));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return fail("cannot write " + m_target.string(), wrote < 0 ? errno : EIO, error);
        cursor += wrote;
        offset += uint64_t(wrote);
        length -= size_t(wrote);
    }
    return true;
}

bool OutputFile::commit(std::string& error)
{
    if (m_fd < 0) {
        error = "no file is open";
        return false;
    }
    if (m_durability == Durability::Synced && ::fsync(m_fd) != 0)
        return fail("cannot write " + m_target.string(), errno, error);

    if (m_temporary.empty()) {
        // Linked straight to the target's name when there is no file of that name; otherwise to
        // a hidden name first, which then replaces the target in one step.
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        // Through /proc, or for a program with the privilege for it, through the descriptor.
        const auto link = [&](const char* name) {
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0)
                return true;
            const int first = errno;
            if (first != EEXIST && ::linkat(m_fd, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0)
                return true;
            errno = first;
            return false;
        };
        if (!link(m_target.c_str())) {
            if (errno != EEXIST)
                return fail("cannot create " + m_target.string(), errno, error);
            protectHiddenFiles();
            std::string name;
            bool linked = false;
            for (int attempt = 0; attempt < kNameAttempts && !linked; ++attempt) {
                name = hiddenName(m_target);
                m_slot = claimSlot(name);
                linked = link(name.c_str());
                const int linkError = errno;
                if (!linked) {
                    releaseSlot(m_slot);
                    if (linkError != EEXIST)
                        return fail("cannot create " + m_target.string(), linkError, error);
                }
            }
            if (!linked) {
                error = "cannot find a free temporary name for " + m_target.string();
                discard();
                return false;
            }
            if (::rename(name.c_str(), m_target.c_str()) != 0) {
                const int renameError = errno;
                ::unlink(name.c_str());
                releaseSlot(m_slot);
                return fail("cannot create " + m_target.string(), renameError, error);
            }
            releaseSlot(m_slot);
        }
        ::close(m_fd);
        m_fd = -1;
    } else {
        // A failing close can be the first report of a failed write (NFS, quota).
        const int closed = ::close(m_fd);
        m_fd = -1;
        if (closed != 0)
            return fail("cannot write " + m_target.string(), errno, error);
        if (::rename(m_temporary.c_str(), m_target.c_str()) != 0)
            return fail("cannot create " + m_target.string(), errno, error);
        m_temporary.clear();
        releaseSlot(m_slot);
    }
    if (m_durability == Durability::Synced)
        syncFolderOf(m_target);
    return true;
}

void OutputFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    releaseSlot(m_slot);
}

} // namespace tamrin_common
