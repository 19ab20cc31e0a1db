// Output files written whole or not at all: a temporary file in the target's
// folder renamed over it, or a device or FIFO written directly.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "quenlo/platform.h"

namespace quenlo {
namespace {

uint64_t SystemRandom() {
    uint64_t value = 0;
    if (getrandom(&value, sizeof value, 0) == sizeof value) return value;
    std::random_device device;
    return (uint64_t{device()} << 32) ^ device();
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n, size -= static_cast<size_t>(n);
    }
    return true;
}

// The temporary files a signal removes. The handler may run on any thread, so
// each slot's path is a copy, and a slot is only ever in a passing state
// (being filled, or its file being renamed) on a thread that holds the signals
// back: the handler, elsewhere, waits those few steps out.
enum SlotState : int { kFree, kFilling, kHeld, kRenaming };
struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX];
};
constexpr int kSlots = 16;
Slot g_slots[kSlots];
std::atomic<bool> g_committed{false};
char g_said[256];
char g_unwritten[PATH_MAX + 64];
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// Holds SIGINT and SIGTERM back on this thread while it lives.
class SignalsHeld {
  public:
    SignalsHeld() {
        sigset_t stops;
        sigemptyset(&stops);
        sigaddset(&stops, SIGINT);
        sigaddset(&stops, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stops, &old_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t old_;
};

// With the signals held back. A path too long or a full table goes unguarded.
int HoldSlot(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].state.store(kHeld);
        return i;
    }
    return -1;
}

void SayRaw(const char* text) {
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t n = ::write(2, text, left);
        if (n <= 0) return;
        text += n, left -= static_cast<size_t>(n);
    }
}

extern "C" void EndOnSignal(int signal) {
    for (Slot& slot : g_slots) {
        int state;
        while ((state = slot.state.load()) == kFilling || state == kRenaming) sched_yield();
        if (state == kHeld) ::unlink(slot.path);
    }
    SayRaw(g_said);
    SayRaw(signal == SIGINT ? "SIGINT" : "SIGTERM");
    if (!g_committed.load()) SayRaw(g_unwritten);
    SayRaw("\n");
    _exit(128 + signal);
}

}  // namespace

void EndOnSignalWithoutOutputs(const std::string& said, const std::string& unwritten) {
    SignalsHeld held;
    std::snprintf(g_said, sizeof g_said, "%s", said.c_str());
    std::snprintf(g_unwritten, sizeof g_unwritten, "%s", unwritten.c_str());
    g_committed.store(false);
    struct sigaction action {};
    action.sa_handler = EndOnSignal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

OutputFile::OutputFile(std::string path, std::function<uint64_t()> random)
    : path_(std::move(path)), random_(random ? std::move(random) : SystemRandom) {}

OutputFile::~OutputFile() {
    Discard();
}

bool OutputFile::Fail(const std::string& reason) {
    Discard();
    failed_ = true;
    error_ = "cannot write " + path_ + ": " + reason;
    return false;
}

void OutputFile::Discard() {
    if (fd_ >= 0) ::close(fd_), fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str()), temporary_.clear();
    if (slot_ >= 0) g_slots[slot_].state.store(kFree), slot_ = -1;
}

bool OutputFile::Open() {
    if (fd_ >= 0) return true;
    if (failed_) return false;
    if (path_.empty()) return Fail("no file name");
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0) {
        const int error = errno;
        struct stat link {};
        if (error == ENOENT && ::lstat(path_.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
            return Fail("a link to a missing file");
        if (error != ENOENT) return Fail(std::strerror(error));
        target_ = path_;
    } else if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
        // Devices and pipes cannot be replaced, only written to.
        fd_ = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        return fd_ >= 0 || Fail(std::strerror(errno));
    } else if (S_ISDIR(st.st_mode)) {
        return Fail("a directory");
    } else if (!S_ISREG(st.st_mode)) {
        return Fail("not a regular file, a character device or a FIFO");
    } else {
        // The file a link names is replaced, never the link itself.
        char resolved[PATH_MAX];
        if (!::realpath(path_.c_str(), resolved)) return Fail(std::strerror(errno));
        target_ = resolved;
        // A file its owner made read-only stays as it is.
        if (::access(target_.c_str(), W_OK) != 0) return Fail(std::strerror(errno));
    }

    // A fresh name each time, never an existing file or link: O_EXCL with
    // O_NOFOLLOW refuses whatever was planted under the name.
    const std::string folder = Folder(target_);
    const std::string base = BaseName(target_).substr(0, 200);
    SignalsHeld held;  // a signal finds every temporary file that exists
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%012llx.tmp",
                      static_cast<unsigned long long>(random_() & 0xFFFFFFFFFFFFull));
        const std::string name = folder + "/." + base + suffix;
        fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporary_ = name;
            slot_ = HoldSlot(name);
            break;
        }
        if (errno != EEXIST) return Fail(std::strerror(errno));
    }
    if (fd_ < 0) return Fail("no free temporary file name in " + folder);
    if (S_ISREG(st.st_mode)) {
        // The replacement keeps the old file's permissions and, where allowed,
        // its owner; without that right it belongs to whoever wrote it.
        if (::fchown(fd_, st.st_uid, st.st_gid) == 0 || errno == EPERM)
            ::fchmod(fd_, st.st_mode & 0777);
    }
    return true;
}

bool OutputFile::Write(const void* data, size_t size) {
    if (failed_ || (fd_ < 0 && !Open())) return false;
    return WriteAll(fd_, static_cast<const uint8_t*>(data), size) || Fail(std::strerror(errno));
}

bool OutputFile::Commit() {
    if (failed_ || (fd_ < 0 && !Open())) return false;
    if (temporary_.empty()) {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0 || Fail(std::strerror(errno));
    }
    // A backup is precious: on disk before it replaces anything.
    if (::fsync(fd_) != 0) return Fail(std::strerror(errno));
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) return Fail(std::strerror(errno));
    {
        // Renamed or not, a signal finds the slot telling which.
        SignalsHeld held;
        if (slot_ >= 0) g_slots[slot_].state.store(kRenaming);
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            const int error = errno;
            if (slot_ >= 0) g_slots[slot_].state.store(kHeld);
            return Fail(std::strerror(error));
        }
        g_committed.store(true);
        if (slot_ >= 0) g_slots[slot_].state.store(kFree), slot_ = -1;
        temporary_.clear();
    }
    // The rename itself lasts once the folder is synced.
    const int folder = ::open(Folder(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        const bool synced = ::fsync(folder) == 0 || errno == EINVAL;
        const int error = errno;
        ::close(folder);
        if (!synced)
            return Fail(std::string("the folder could not be synced: ") + std::strerror(error));
    }
    return true;
}

bool WriteOutputFile(const std::string& path, const void* data, size_t size, std::string* error) {
    OutputFile file(path);
    if (file.Open() && file.Write(data, size) && file.Commit()) return true;
    if (error) *error = file.error();
    return false;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace quenlo
