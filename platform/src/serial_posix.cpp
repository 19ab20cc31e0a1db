#include <fcntl.h>
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
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) return SerialError::Open;
        termios t{};
        if (tcgetattr(fd_, &t) != 0) return Fail(SerialError::GetState);
        // TIOCEXCL keeps other users out; the lock also keeps out privileged
        // ones, which TIOCEXCL lets through. Only the lock holder may clear
        // TIOCEXCL again, or a refused opener would unlock the owner's port.
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return Fail(SerialError::Open);
        owner_ = true;
        if (ioctl(fd_, TIOCEXCL) != 0) return Fail(SerialError::Open);
        if (baud == 0) return Fail(SerialError::BuildState);
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
            return Fail(SerialError::SetState);
        if (baud != 115200 && tty::SetBaud(fd_, baud) != 0)
            return Fail(errno == EINVAL ? SerialError::BuildState : SerialError::SetState);
        // A driver that cannot come within 3% of the rate would garble every frame.
        uint32_t actual = tty::GetBaud(fd_);
        if (actual == 0) return Fail(SerialError::GetState);
        if (std::llabs(static_cast<long long>(actual) - baud) * 100 > 3LL * baud)
            return Fail(SerialError::BuildState);

        int rts = TIOCM_RTS;
        if (ioctl(fd_, TIOCMBIC, &rts) != 0 && errno != ENOTTY && errno != EINVAL)
            return Fail(SerialError::SetState);

        // USB adapters otherwise hold received bytes back for their latency timer.
        serial_struct ss{};
        if (ioctl(fd_, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
            ss.flags |= ASYNC_LOW_LATENCY;
            (void)ioctl(fd_, TIOCSSERIAL, &ss);
        }

        // Deadlines are kept with poll on a non-blocking descriptor.
        int fl = fcntl(fd_, F_GETFL);
        if (fl < 0 || !(fl & O_NONBLOCK)) return Fail(SerialError::SetTimeouts);
        // Bytes left over from an earlier session are not answers to ours.
        tcflush(fd_, TCIOFLUSH);
        return SerialError::None;
    }

    void Close() override {
        if (fd_ < 0) return;
        // The exclusive flag outlives this descriptor while another one stays
        // open (a simulator on the pty), so it is cleared explicitly.
        if (owner_) ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        fd_ = -1;
        owner_ = false;
    }

    bool IsOpen() const override { return fd_ >= 0; }

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

    SerialError Fail(SerialError e) {
        int saved = errno;
        Close();
        errno = saved;
        return e;
    }

    int fd_ = -1;
    bool owner_ = false;
};

}  // namespace

std::unique_ptr<SerialPort> MakeSystemSerialPort() {
    return std::make_unique<PosixSerialPort>();
}

std::string SerialDevicePath(const std::string& name) {
    if (name.find('/') != std::string::npos) return name;
    return "/dev/" + name;
}

}  // namespace quenlo
