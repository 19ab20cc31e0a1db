#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "quenlo/platform.h"
#include "serial_baud.h"

namespace quenlo {
namespace {

// Unix98 pty slaves (/dev/pts/N).
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

int64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Remaining milliseconds until deadline, never negative.
int Remaining(int64_t deadline) {
    int64_t left = deadline - MonotonicMs();
    return left > 0 ? static_cast<int>(left) : 0;
}

class PosixSerialPort : public SerialPort {
  public:
    ~PosixSerialPort() override { Close(); }

    SerialError Open(const std::string& path, uint32_t baud) override {
        Close();
        path_ = path;
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return Fail(SerialError::Open, OpenReason(errno));
        termios t{};
        if (tcgetattr(fd_, &t) != 0)
            return Fail(SerialError::GetState, errno == ENOTTY || errno == EINVAL
                                                   ? "not a serial device"
                                                   : std::strerror(errno));
        // TIOCEXCL keeps other users out; the lock also keeps out privileged
        // ones, which TIOCEXCL lets through. Only the lock holder may clear
        // TIOCEXCL again, or a refused opener would unlock the owner's port.
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return Fail(SerialError::Open, OpenReason(errno));
        owner_ = true;
        if (ioctl(fd_, TIOCEXCL) != 0) return Fail(SerialError::Open, std::strerror(errno));
        // What the device was set to before, for Close to put back: a terminal
        // (or a port another program uses next) is not left raw at our speed.
        saved_ = tty::SaveState(fd_);
        if (baud == 0) return Fail(SerialError::BuildState, "no speed given");
        cfmakeraw(&t);
        t.c_cflag &= ~(CSIZE | PARODD | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | PARENB | CLOCAL | CREAD;
        t.c_iflag &= ~(IXON | IXOFF | IXANY);
        // One byte per read; with O_NONBLOCK an empty queue answers EAGAIN
        // and a hung-up line answers 0, so the two stay apart.
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        // termios only knows the standard rates and refuses a line left at a
        // custom one, so it gets 115200 here and termios2 sets any other.
        cfsetspeed(&t, B115200);
        t.c_cflag &= ~CIBAUD;  // a custom input speed left by termios2 is refused too
        if (tcsetattr(fd_, TCSANOW, &t) != 0 && !PtyTookAllButParity(t))
            return Fail(SerialError::SetState,
                        std::string("settings refused: ") + std::strerror(errno));
        if (baud != 115200 && tty::SetBaud(fd_, baud) != 0) {
            if (errno == EINVAL)
                return Fail(SerialError::BuildState, std::to_string(baud) + " baud cannot be set");
            return Fail(SerialError::SetState,
                        std::string("speed refused: ") + std::strerror(errno));
        }
        // A driver that cannot come within 3% of the rate would garble every frame.
        uint32_t actual = tty::GetBaud(fd_);
        if (actual == 0) return Fail(SerialError::GetState, "its speed cannot be read back");
        if (std::llabs(static_cast<long long>(actual) - baud) * 100 > 3LL * baud)
            return Fail(SerialError::BuildState, "it runs at " + std::to_string(actual) +
                                                     " baud when asked for " +
                                                     std::to_string(baud));

        int rts = TIOCM_RTS;
        if (ioctl(fd_, TIOCMBIC, &rts) != 0 && errno != ENOTTY && errno != EINVAL)
            return Fail(SerialError::SetState, std::string("RTS refused: ") + std::strerror(errno));

        // USB adapters otherwise hold received bytes back for their latency timer.
        serial_struct ss{};
        if (ioctl(fd_, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
            ss.flags |= ASYNC_LOW_LATENCY;
            if (ioctl(fd_, TIOCSSERIAL, &ss) == 0) low_latency_set_ = true;
        }

        // Deadlines are kept with poll on a non-blocking descriptor.
        int fl = fcntl(fd_, F_GETFL);
        if (fl < 0 || !(fl & O_NONBLOCK))
            return Fail(SerialError::SetTimeouts, "it does not stay non-blocking");
        // Bytes left over from an earlier session are not answers to ours.
        tcflush(fd_, TCIOFLUSH);
        return SerialError::None;
    }

    void Close() override {
        if (fd_ < 0) return;
        if (owner_) {
            if (low_latency_set_) {
                serial_struct ss{};
                if (ioctl(fd_, TIOCGSERIAL, &ss) == 0) {
                    ss.flags &= ~ASYNC_LOW_LATENCY;
                    (void)ioctl(fd_, TIOCSSERIAL, &ss);
                }
            }
            // Bytes still queued would go out at the restored speed, garbled;
            // the wait is bounded so that a hung device cannot hang the close.
            DrainOutput(kDrainLimitMs);
            if (saved_) tty::RestoreState(fd_, *saved_);
            // The exclusive flag outlives this descriptor while another one
            // stays open (a simulator on the pty), so it is cleared explicitly.
            ioctl(fd_, TIOCNXCL);
        }
        ::close(fd_);
        fd_ = -1;
        owner_ = false;
        low_latency_set_ = false;
        saved_.reset();
    }

    bool IsOpen() const override { return fd_ >= 0; }

    bool IsAlive() const override {
        if (fd_ < 0) return false;
        pollfd p{fd_, 0, 0};
        if (poll(&p, 1, 0) < 0 && errno != EINTR) return false;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
        // A device node that is gone, or now names another device.
        struct stat now {
        }, open{};
        return stat(path_.c_str(), &now) == 0 && fstat(fd_, &open) == 0 &&
               now.st_rdev == open.st_rdev;
    }

    void DiscardInput() override {
        if (fd_ >= 0) tcflush(fd_, TCIFLUSH);
    }

    long Write(const uint8_t* data, size_t n, int timeout_ms) override {
        if (fd_ < 0) return -1;
        const int64_t deadline = MonotonicMs() + (timeout_ms > 0 ? timeout_ms : 0);
        size_t done = 0;
        while (done < n) {
            ssize_t w = ::write(fd_, data + done, n - done);
            if (w > 0) {
                done += static_cast<size_t>(w);
                continue;
            }
            if (w < 0 && errno == EINTR) continue;
            if (w < 0 && errno != EAGAIN) return -1;
            pollfd p{fd_, POLLOUT, 0};
            int r = poll(&p, 1, Remaining(deadline));
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return -1;
            if (r == 0) break;  // deadline passed: report what went out
            if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT)) return -1;
        }
        return static_cast<long>(done);
    }

    int ReadByte(uint8_t& out, int timeout_ms) override {
        if (fd_ < 0) return -1;
        const int64_t deadline = MonotonicMs() + (timeout_ms > 0 ? timeout_ms : 0);
        bool line_error = false;
        while (true) {
            ssize_t r = ::read(fd_, &out, 1);
            if (r == 1) return 1;
            if (r == 0) return -1;  // the line hung up
            if (errno == EINTR) continue;
            if (errno != EAGAIN || line_error) return -1;
            pollfd p{fd_, POLLIN, 0};
            int left = Remaining(deadline);
            int pr = poll(&p, 1, left);
            if (pr < 0 && errno == EINTR) continue;
            if (pr < 0) return -1;
            if (pr == 0) return 0;
            if (p.revents & POLLNVAL) return -1;
            // A hang-up with nothing left to read is an error, not a time-out.
            line_error = (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN);
        }
    }

  private:
    static constexpr int kDrainLimitMs = 200;

    // tcdrain has no time limit, so the driver's output queue is watched instead.
    void DrainOutput(int limit_ms) const {
        const int64_t deadline = MonotonicMs() + limit_ms;
        int queued = 0;
        while (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 && Remaining(deadline) > 0) {
            timespec ms{0, 1000000};
            nanosleep(&ms, nullptr);
        }
    }

    // A pty has no parity: the kernel drops PARENB and the C library then
    // reports the whole change as refused although everything else was applied.
    bool PtyTookAllButParity(const termios& want) const {
        struct stat st {};
        if (errno != EINVAL || fstat(fd_, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
        const unsigned m = major(st.st_rdev);
        if (m < kPtySlaveMajorFirst || m > kPtySlaveMajorLast) return false;
        termios got{};
        if (tcgetattr(fd_, &got) != 0) return false;
        return (got.c_cflag & ~PARENB) == (want.c_cflag & ~PARENB) && got.c_iflag == want.c_iflag &&
               got.c_oflag == want.c_oflag && got.c_lflag == want.c_lflag;
    }

    std::string OpenReason(int err) const { return SerialOpenReason(path_, err); }

    // Each failure keeps its own line above this layer; this one adds the
    // device and the system's reason, so the cases can be told apart.
    SerialError Fail(SerialError e, const std::string& reason) {
        LogErr("serial port %s: %s\n", path_.c_str(), reason.c_str());
        Close();
        return e;
    }

    int fd_ = -1;
    bool owner_ = false;
    bool low_latency_set_ = false;
    std::optional<tty::SavedState> saved_;
    std::string path_;
};

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

std::string SerialOpenReason(const std::string& path, int error) {
    switch (error) {
        case EACCES:
        case EPERM: {
            // Serial devices belong to a group whose members may use them.
            std::string owner = "dialout";
            struct stat st {};
            if (stat(path.c_str(), &st) == 0 && st.st_gid != 0)
                if (const struct group* g = getgrgid(st.st_gid)) owner = g->gr_name;
            return "permission denied; add your user to the group " + owner +
                   " (sudo usermod -aG " + owner + " $USER) and log in again";
        }
        case EBUSY:
        case EWOULDBLOCK:
            return "busy: another program has it open";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "no such device";
        default:
            return std::strerror(error);
    }
}

std::string SerialDevicePath(const std::string& name) {
    // A name that is a file here is taken as given, not looked for under /dev.
    struct stat st {};
    if (name.empty() || name.find('/') != std::string::npos || ::stat(name.c_str(), &st) == 0)
        return name;
    return "/dev/" + name;
}

}  // namespace quenlo
