// The serial link: port set-up, speed search, framing, replies, memory writes,
// and the waits that a stop request cuts short.
#include "usbio.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "servo_table.h"

using quenlo::LogErr;
using quenlo::LogOut;
using namespace quenlo::board;

namespace {

constexpr uint8_t kAcknowledgeCheck[3] = {0x03, kCmdAckCheck, 0x01};

}  // namespace

CUsbIO::CUsbIO(std::unique_ptr<quenlo::SerialPort> port, quenlo::Clock& clock)
    : port_(std::move(port)), clock_(clock) {}

CUsbIO::~CUsbIO() {
    CUsbIO::ClosePort();
}

void CUsbIO::ClosePort() {
    if (port_ && port_->IsOpen()) port_->Close();
}

bool CUsbIO::IsOpen() const {
    return port_ && port_->IsOpen();
}

int CUsbIO::OpenPort(const char* name) {
    if (!name) {
        LogErr("There is not doing about COM.\n");
        return -1;
    }
    LogOut("open port %s.\n", name);
    if (!port_) {
        LogErr("Port could not open. %s\n", name);
        return -1;
    }
    // Opening again must not leave the previous device open.
    ClosePort();
    port_lost_ = false;
    board_silent_ = false;
    switch (port_->Open(quenlo::SerialDevicePath(name), kSerialSpeeds[speed_index()])) {
        case quenlo::SerialError::None:
            return 0;
        case quenlo::SerialError::Open:
            LogErr("Port could not open. %s\n", name);
            break;
        case quenlo::SerialError::GetState:
            LogErr("cannot GetCommState\n");
            break;
        case quenlo::SerialError::BuildState:
            LogErr("cannot BuildCommDCB\n");
            break;
        case quenlo::SerialError::SetState:
            LogErr("SetCommState failed.\n");
            break;
        case quenlo::SerialError::SetTimeouts:
            LogErr("SetCommTimeouts failed.\n");
            break;
    }
    ClosePort();
    return -1;
}

int CUsbIO::Connect(const char* name) {
    ClosePort();
    // Two rounds over the three speeds, each starting at the current one: an
    // answer missed once (a busy machine, an adapter's hiccup) is ridden over,
    // and a silent board is told after six short waits.
    const int first = speed_index() % kSpeedsTried;
    for (int k = 0; k < 2 * kSpeedsTried && !stop_requested(); ++k) {
        const int speed = (first + k) % kSpeedsTried;
        if (k > 0)  // the first attempt keeps the image as it is (index 3 included)
            system_register_ = static_cast<uint16_t>((system_register_ & ~kSysSpeedBits) |
                                                     (speed << kSysSpeedShift));
        if (OpenPort(name) != 0) return -1;
        LogOut("Looking for the board at %u baud: acknowledge check, answer awaited %d ms.\n",
               static_cast<unsigned>(kSerialSpeeds[speed_index()]), kProbeTimeoutMs);
        // A board that acknowledges the check but not the image (silent, hung
        // up, a partial reply, NACK) is not connected.
        const uint8_t image[2] = {static_cast<uint8_t>(system_register_),
                                  static_cast<uint8_t>(system_register_ >> 8)};
        const bool acknowledged =
            Exchange(kAcknowledgeCheck, sizeof kAcknowledgeCheck, kProbeTimeoutMs, 1);
        failed_in_row_ = acknowledged ? 0 : failed_in_row_ + 1;
        if (!acknowledged) ++failed_exchanges_;
        if (acknowledged && WriteRam(kRamSystemRegister, image, 2)) return speed_index();
        ClosePort();
    }
    return -1;
}

void CUsbIO::LogBytes(const char* prefix, const uint8_t* bytes, int n) {
    std::string line = prefix;
    line.reserve(line.size() + static_cast<size_t>(n) * 3 + n / 16 * 4 + 2);
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < n; ++i) {
        line += ' ';
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 15];
        if ((i + 1) % 16 == 0 && i + 1 < n) line += "\r\n  ";
    }
    line += "\r\n";
    quenlo::LogWrite(quenlo::Stream::Out, line);
}

bool CUsbIO::IsAlive() const {
    return port_ && port_->IsOpen() && port_->IsAlive();
}

void CUsbIO::BeginSession() {
    in_session_ = true;
    board_silent_ = false;
}

void CUsbIO::set_home_command(const uint8_t* command) {
    home_command_[0] = 0;
    if (command && command[0] > 0) std::memcpy(home_command_, command, command[0]);
}

bool CUsbIO::SleepMs(uint32_t ms) {
    if (!stop_.stop_possible()) {
        clock_.SleepMs(ms);
        return true;
    }
    while (ms > 0 && !stop_.stop_requested()) {
        const uint32_t step = std::min<uint32_t>(ms, kStopCheckMs);
        clock_.SleepMs(step);
        ms -= step;
    }
    return !stop_.stop_requested();
}

bool CUsbIO::SleepUntilUs(uint64_t deadline_us) {
    if (!stop_.stop_possible()) {
        clock_.SleepUntilUs(deadline_us);
        return true;
    }
    for (uint64_t now = clock_.NowUs(); now < deadline_us && !stop_.stop_requested();
         now = clock_.NowUs())
        clock_.SleepUntilUs(std::min<uint64_t>(deadline_us, now + kStopCheckMs * 1000u));
    return !stop_.stop_requested();
}

int CUsbIO::ReadByte(uint8_t& byte, int wait_ms) {
    if (!stop_.stop_possible()) return port_->ReadByte(byte, wait_ms);
    for (int left = wait_ms;;) {
        if (stop_.stop_requested()) return -2;
        const int step = std::min(left, kStopCheckMs);
        const int r = port_->ReadByte(byte, step);
        left -= step;
        if (r != 0 || left <= 0) return r;
    }
}

bool CUsbIO::SendFrame(const uint8_t* frame, int length) {
    if (!frame || length < 0) length = 0;
    LogBytes(">>", frame, length);
    long written = -1;
    if (length > 0 && IsOpen()) {
        port_->DiscardInput();
        // A stop cuts the write's wait short, but what the line takes now still goes.
        written = 0;
        for (int left = kWriteTimeoutMs; written < length;) {
            const int step = stop_.stop_possible() ? std::min(left, kStopCheckMs) : left;
            const long w = port_->Write(frame + written, static_cast<size_t>(length - written),
                                        stop_requested() ? 0 : step);
            if (w < 0) {
                written = -1;
                break;
            }
            written += w;
            left -= step;
            if (left <= 0 || stop_requested()) break;
        }
    }
    frame_sent_ = written == length && length > 0;
    if (!frame_sent_) {
        LogErr("The data transmission is abnormal.\n");
        if (port_ && port_->IsOpen() && !port_->IsAlive()) port_lost_ = true;
        return false;
    }
    return true;
}

bool CUsbIO::Transfer(const uint8_t* frame, int length) {
    frame_sent_ = false;
    const bool ok = MaySend() && Exchange(frame, length, kReplyTimeoutMs, 2);
    failed_in_row_ = ok ? 0 : failed_in_row_ + 1;
    if (!ok) ++failed_exchanges_;
    return ok;
}

bool CUsbIO::Exchange(const uint8_t* frame, int length, int wait_ms, int waits) {
    if (!SendFrame(frame, length)) return false;
    uint8_t res[256] = {};
    const Reply reply = ReadReply(res, wait_ms, waits);
    if (reply == Reply::None && in_session_) board_silent_ = true;
    if (reply != Reply::Whole && reply != Reply::Refused) return false;
    LogBytes("<<", res, res[0]);
    // The board answers a command it refuses with NACK in place of ACK.
    if (reply == Reply::Refused) {
        LogErr("The board refused the command (NACK).\n");
        return false;
    }
    return true;
}

CUsbIO::Reply CUsbIO::ReadReply(uint8_t (&res)[256], int wait_ms, int waits) {
    int got = 0;
    int failures = 0;
    while (got < kReplyLength) {
        uint8_t byte = 0;
        const int r = ReadByte(byte, wait_ms);
        if (r == 1) {
            res[got++] = byte;
            continue;
        }
        if (r == -2) return Reply::Stopped;
        if (r < 0 && !port_->IsAlive()) port_lost_ = true;
        LogErr("Receive data is abnormal.(1) res[0]=%d \n", res[0]);
        // Silence is when no byte came in any wait; a line error is the port's.
        if (++failures >= waits) return got > 0 || r < 0 ? Reply::Partial : Reply::None;
        if (!SleepMs(10)) return Reply::Stopped;
    }
    return res[2] == kNack ? Reply::Refused : Reply::Whole;
}

bool CUsbIO::WriteMemory(uint8_t kind, uint32_t address, const uint8_t* data, int n) {
    if (n < 0 || n > kLongestWrite || (n > 0 && !data)) {
        LogErr("The data does not fit one command (%d bytes).\n", n);
        return false;
    }
    const int length = n + kWriteOverhead;
    std::unique_ptr<uint8_t[]> command(new (std::nothrow) uint8_t[length]);
    if (!command) {
        LogErr("The memory doesn't suffice.\n");
        return false;
    }
    command[0] = static_cast<uint8_t>(length);
    command[1] = kCmdMemory;
    command[2] = kind;
    command[3] = static_cast<uint8_t>(address);
    command[4] = static_cast<uint8_t>(address >> 8);
    command[5] = static_cast<uint8_t>(address >> 16);
    if (n > 0) std::memcpy(command.get() + 6, data, static_cast<size_t>(n));
    command[length - 1] = Checksum(command.get(), length - 1);
    return Transfer(command.get(), length);
}

bool CUsbIO::WriteRam(uint32_t address, const uint8_t* data, int n) {
    return WriteMemory(kLineToRam, address, data, n);
}

bool CUsbIO::WriteRom(uint32_t address, const uint8_t* data, int n) {
    if (!WriteMemory(kLineToRom, address, data, n)) return false;
    NoteRomWrite(address, data, n);
    return true;
}

void CUsbIO::NoteRomWrite(uint32_t address, const uint8_t* data, int n) {
    if (n <= 0) return;
    const uint32_t end = address + static_cast<uint32_t>(n);
    // A rewrite updates the ranges written before, so each expects the last bytes.
    for (RomRange& r : written_rom_) {
        const uint32_t r_end = r.address + static_cast<uint32_t>(r.bytes.size());
        for (uint32_t a = std::max(address, r.address); a < std::min(end, r_end); ++a)
            r.bytes[a - r.address] = data[a - address];
    }
    if (!written_rom_.empty()) {
        RomRange& last = written_rom_.back();
        if (last.address + last.bytes.size() == address) {
            last.bytes.insert(last.bytes.end(), data, data + n);
            return;
        }
    }
    written_rom_.push_back({address, std::vector<uint8_t>(data, data + n)});
}

int CUsbIO::frame_period_ms() const {
    return kFramePeriodMs[PeriodCode(system_register_)];
}
