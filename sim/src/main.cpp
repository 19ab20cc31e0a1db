// quenlo-sim: an RCB-4HV on a pseudo-terminal. Prints the terminal's path on
// its first line; a client opens that path like the board's serial port.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board_sim.h"
#include "quenlo/platform.h"
#include "quenlo/version.h"
#include "serial_baud.h"

namespace {

volatile sig_atomic_t g_stop = 0;

void OnSignal(int) {
    g_stop = 1;
}

const char kUsage[] =
    "usage: quenlo-sim [--speed-index 0|1|2] [--nack-bad-sum] [--silent-after N]\n"
    "                  [--partial-reply-at N] [--nack-at N] [--reply-delay MS]\n"
    "                  [--hangup-after N] [--trace FILE] [--rom-out FILE] [--rom-in FILE]\n"
    "                  [--link PATH] [--exit-after-reboot] [--run-rom [--passes N]]\n"
    "                  [--corrupt-rom-at ADDR] [--no-read] [--wire-time]\n"
    "       quenlo-sim --help | --version\n"
    "With --rom-in and --run-rom the image is replayed at once, without a terminal.\n";

struct Args {
    quenlo::sim::Options options;
    std::string trace, rom_out, rom_in, link;
    bool exit_after_reboot = false;
    bool run_rom = false;
    bool wire_time = false;
    uint32_t passes = 1;
};

// Decimal, or hexadecimal after 0x.
bool ParseNumber(const char* text, uint32_t& out) {
    char* end = nullptr;
    errno = 0;
    const bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* digits = hex ? text + 2 : text;
    if (!std::isxdigit(static_cast<unsigned char>(digits[0]))) return false;
    unsigned long v = std::strtoul(digits, &end, hex ? 16 : 10);
    if (errno || *end || v > 0xFFFFFFFFul) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool ParseArgs(int argc, char** argv, Args& a) {
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc) return false;
            out = argv[++i];
            return true;
        };
        auto number = [&](uint32_t& out) {
            const char* v;
            if (value(v) && ParseNumber(v, out)) return true;
            std::fprintf(stderr, "quenlo-sim: %s needs a number\n", opt.c_str());
            return false;
        };
        auto optional_number = [&](std::optional<uint32_t>& out) {
            uint32_t n;
            if (!number(n)) return false;
            out = n;
            return true;
        };
        const char* text = nullptr;
        uint32_t n = 0;
        if (opt == "--speed-index") {
            if (!number(n)) return false;
            if (n > 2) {
                std::fprintf(stderr, "quenlo-sim: --speed-index must be 0, 1 or 2\n");
                return false;
            }
            a.options.speed_index = static_cast<int>(n);
        } else if (opt == "--nack-bad-sum") {
            a.options.nack_bad_sum = true;
        } else if (opt == "--silent-after") {
            if (!optional_number(a.options.silent_after)) return false;
        } else if (opt == "--partial-reply-at") {
            if (!optional_number(a.options.partial_reply_at)) return false;
        } else if (opt == "--nack-at") {
            if (!optional_number(a.options.nack_at)) return false;
        } else if (opt == "--hangup-after") {
            if (!optional_number(a.options.hangup_after)) return false;
        } else if (opt == "--corrupt-rom-at") {
            if (!optional_number(a.options.corrupt_rom_at)) return false;
        } else if (opt == "--no-read") {
            a.options.no_read = true;
        } else if (opt == "--wire-time") {
            a.wire_time = true;
        } else if (opt == "--reply-delay") {
            if (!number(a.options.reply_delay_ms)) return false;
        } else if (opt == "--passes") {
            if (!number(a.passes)) return false;
        } else if (opt == "--trace" || opt == "--rom-out" || opt == "--rom-in" || opt == "--link") {
            if (!value(text)) {
                std::fprintf(stderr, "quenlo-sim: %s needs a path\n", opt.c_str());
                return false;
            }
            (opt == "--trace"     ? a.trace
             : opt == "--rom-out" ? a.rom_out
             : opt == "--rom-in"  ? a.rom_in
                                  : a.link) = text;
        } else if (opt == "--exit-after-reboot") {
            a.exit_after_reboot = true;
        } else if (opt == "--run-rom") {
            a.run_rom = true;
        } else if (opt == "--help" || opt == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (opt == "--version") {
            std::printf("quenlo-sim %s (%s)\n", QUENLO_VERSION, QUENLO_DATE);
            std::exit(0);
        } else {
            std::fprintf(stderr, "quenlo-sim: unknown option %s\n", opt.c_str());
            return false;
        }
    }
    return true;
}

void SleepMs(uint32_t ms) {
    timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &req, &req) == EINTR && !g_stop) {
    }
}

uint64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

void SleepUntilNs(uint64_t deadline) {
    const timespec at{static_cast<time_t>(deadline / 1'000'000'000u),
                      static_cast<long>(deadline % 1'000'000'000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR && !g_stop) {
    }
}

// A pty carries bytes at once; --wire-time holds each reply back until the
// request and the reply would have crossed a real line at the board's speed
// (11 bits a byte: start, 8 data, parity, stop).
class WireTime {
  public:
    explicit WireTime(uint32_t baud) : byte_ns_(11'000'000'000ull / baud) {}
    // Call when `received` bytes came in; answers when `replied` bytes are through.
    uint64_t Through(size_t received, size_t replied) {
        free_at_ = std::max(MonotonicNs(), free_at_) + (received + replied) * byte_ns_;
        return free_at_;
    }

  private:
    uint64_t byte_ns_;
    uint64_t free_at_ = 0;
};

bool WriteAll(int fd, const uint8_t* p, size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno == EAGAIN) {
            pollfd pf{fd, POLLOUT, 0};
            poll(&pf, 1, 100);
            continue;
        }
        if (w <= 0) return false;
        p += w, n -= static_cast<size_t>(w);
    }
    return true;
}

// Replays the ROM and prints one line per move; 0 when the passes completed.
int RunRom(quenlo::sim::BoardSim& board, uint32_t passes) {
    quenlo::sim::RunLimits limits;
    limits.passes = passes;
    quenlo::sim::RunResult r = board.RunRom(limits);
    for (const auto& m : r.moves) std::printf("move %s\n", quenlo::sim::FormatMove(m).c_str());
    std::printf("stop t=%llums moves=%zu: %s\n", static_cast<unsigned long long>(r.t_ms),
                r.moves.size(), r.stop_reason.c_str());
    std::fflush(stdout);
    return r.ok ? 0 : 1;
}

// Reads an image from a regular file, never more than the ROM holds plus one
// byte: a device may never end and a FIFO may never answer.
bool ReadRomIn(const std::string& path, std::vector<uint8_t>& image) {
    auto fail = [&](const char* why) {
        std::fprintf(stderr, "quenlo-sim: cannot read %s: %s\n", path.c_str(), why);
        return false;
    };
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return fail(std::strerror(errno));
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular) {
        close(fd);
        return fail(S_ISDIR(st.st_mode) ? "a directory" : "not a regular file");
    }
    image.assign(quenlo::sim::kRomSize + 1, 0);
    size_t got = 0;
    while (got < image.size()) {
        const ssize_t n = read(fd, image.data() + got, image.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int err = errno;
            close(fd);
            return fail(std::strerror(err));
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (got > quenlo::sim::kRomSize) {
        std::fprintf(stderr, "quenlo-sim: %s is larger than the ROM (%u bytes)\n", path.c_str(),
                     quenlo::sim::kRomSize);
        return false;
    }
    image.resize(got);
    return true;
}

// Opens --rom-out at start, so a path that cannot be written is told before a
// session rather than after it. Nothing is cut until the image is written.
int OpenRomOut(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        std::fprintf(stderr, "quenlo-sim: cannot write %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool WriteRomOut(const quenlo::sim::BoardSim& board, int fd, const std::string& path) {
    const std::vector<uint8_t> image = board.RomImage();
    struct stat st {};
    bool ok = fstat(fd, &st) == 0 && (!S_ISREG(st.st_mode) || ftruncate(fd, 0) == 0) &&
              WriteAll(fd, image.data(), image.size());
    int err = ok ? 0 : errno;
    if (close(fd) != 0 && ok) ok = false, err = errno;
    if (!ok)
        std::fprintf(stderr, "quenlo-sim: cannot write %s: %s\n", path.c_str(), std::strerror(err));
    return ok;
}

// --link makes a symbolic link to the terminal. Only such a link (one into
// /dev/pts/, left by an earlier run) may be replaced; anything else at the
// path belongs to someone else.
bool MakeLink(const std::string& link, const std::string& target) {
    struct stat st {};
    if (lstat(link.c_str(), &st) == 0) {
        char old[256] = {};
        const ssize_t n = S_ISLNK(st.st_mode) ? readlink(link.c_str(), old, sizeof old - 1) : -1;
        if (n <= 0 || std::string(old, static_cast<size_t>(n)).rfind("/dev/pts/", 0) != 0) {
            std::fprintf(stderr, "quenlo-sim: %s exists and is not a link to a terminal\n",
                         link.c_str());
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "quenlo-sim: cannot link %s: %s\n", link.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

// Removes the link at exit when it is still the one this run made.
void RemoveLink(const std::string& link, const std::string& target) {
    char now[256] = {};
    const ssize_t n = readlink(link.c_str(), now, sizeof now - 1);
    if (n > 0 && std::string(now, static_cast<size_t>(n)) == target) unlink(link.c_str());
}

// Lets the client read what was sent before the line drops, for up to a second.
void DrainTowardsClient(int slave) {
    // The pty hands written bytes on asynchronously; give them time to arrive.
    SleepMs(50);
    for (int i = 0; i < 100; ++i) {
        int queued = 0;
        if (ioctl(slave, TIOCINQ, &queued) != 0 || queued == 0) return;
        SleepMs(10);
    }
}

}  // namespace

int main(int argc, char** argv) {
    quenlo::EnsureStandardStreams();
    Args args;
    if (!ParseArgs(argc, argv, args)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    quenlo::sim::BoardSim board(args.options);
    if (!args.rom_in.empty()) {
        std::vector<uint8_t> image;
        if (!ReadRomIn(args.rom_in, image)) return 1;
        board.LoadRom(image);
        if (args.run_rom) return RunRom(board, args.passes);
    }
    int rom_out = -1;
    if (!args.rom_out.empty() && (rom_out = OpenRomOut(args.rom_out)) < 0) return 1;

    std::FILE* trace = nullptr;
    if (!args.trace.empty()) {
        trace = std::fopen(args.trace.c_str(), "w");
        if (!trace) {
            std::fprintf(stderr, "quenlo-sim: cannot write %s: %s\n", args.trace.c_str(),
                         std::strerror(errno));
            return 1;
        }
        board.SetTrace([trace](std::string_view line) {
            std::fwrite(line.data(), 1, line.size(), trace);
            std::fputc('\n', trace);
            std::fflush(trace);
        });
    }

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || !ptsname(master)) {
        std::fprintf(stderr, "quenlo-sim: no pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slave_path = ptsname(master);
    // Holding the slave open keeps the master readable between client
    // sessions (no EIO); no TIOCEXCL here, so a client can still take it.
    int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        std::fprintf(stderr, "quenlo-sim: cannot open %s: %s\n", slave_path.c_str(),
                     std::strerror(errno));
        return 1;
    }
    // Raw from the start: no echo of replies before a client configures the line.
    termios t{};
    if (tcgetattr(slave, &t) == 0) {
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
    }
    if (!args.link.empty() && !MakeLink(args.link, slave_path)) return 1;

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", slave_path.c_str());
    std::fflush(stdout);

    int status = 0;
    bool line_open = true;
    std::vector<uint8_t> reply;
    uint8_t buf[4096];
    WireTime wire(board.baud());
    if (board.hung_up()) {  // --hangup-after 0: a line that is dead from the start
        close(slave);
        close(master);
        line_open = false;
    }
    while (line_open && !g_stop) {
        pollfd p{master, POLLIN, 0};
        int r = poll(&p, 1, 100);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) {
            std::fprintf(stderr, "quenlo-sim: poll: %s\n", std::strerror(errno));
            status = 1;
            break;
        }
        if (r == 0) continue;
        ssize_t n = read(master, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EIO)) {
            if (errno == EIO) SleepMs(10);  // no slave open right now
            continue;
        }
        if (n <= 0) break;
        // The line's speed is the one the client set on its side of the pty.
        board.SetPeerBaud(quenlo::tty::GetBaud(master));
        const int reboots = board.reboot_count();
        reply.clear();
        board.Feed(buf, static_cast<size_t>(n), reply);
        if (args.wire_time) {
            const uint64_t through = wire.Through(static_cast<size_t>(n), reply.size());
            if (!reply.empty()) SleepUntilNs(through);
        }
        if (!reply.empty()) {
            if (board.options().reply_delay_ms) SleepMs(board.options().reply_delay_ms);
            WriteAll(master, reply.data(), reply.size());
        }
        if (board.hung_up()) {
            DrainTowardsClient(slave);
            close(slave);
            close(master);
            line_open = false;
            break;
        }
        if (board.reboot_count() != reboots && (args.run_rom || args.exit_after_reboot)) {
            DrainTowardsClient(slave);
            if (args.run_rom) {
                status = RunRom(board, args.passes);
                break;
            }
            if (args.exit_after_reboot) break;
        }
    }

    if (line_open) {
        close(slave);
        close(master);
    }
    if (rom_out >= 0 && !WriteRomOut(board, rom_out, args.rom_out)) status = 1;
    if (!args.link.empty()) RemoveLink(args.link, slave_path);
    if (trace) std::fclose(trace);
    return status;
}
