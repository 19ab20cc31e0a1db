// The serial link: port set-up, speed search, framing, replies, memory writes.
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
    for (int k = 0; k < 3; ++k) {
        if (OpenPort(name) != 0) return -1;
        // A board that acknowledges the check but not the image (silent, hung
        // up, a partial reply, NACK) is not connected.
        const uint8_t image[2] = {static_cast<uint8_t>(system_register_),
                                  static_cast<uint8_t>(system_register_ >> 8)};
        if (Transfer(kAcknowledgeCheck, sizeof kAcknowledgeCheck) &&
            WriteRam(kRamSystemRegister, image, 2))
            return speed_index();
        ClosePort();
        system_register_ =
            static_cast<uint16_t>((system_register_ & ~kSysSpeedBits) | (k << kSysSpeedShift));
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

bool CUsbIO::SendFrame(const uint8_t* frame, int length) {
    if (!frame || length < 0) length = 0;
    LogBytes(">>", frame, length);
    long written = -1;
    if (length > 0 && IsOpen()) {
        port_->DiscardInput();
        written = port_->Write(frame, static_cast<size_t>(length), kWriteTimeoutMs);
    }
    if (written != length || length == 0) {
        LogErr("The data transmission is abnormal.\n");
        return false;
    }
    return true;
}

bool CUsbIO::Transfer(const uint8_t* frame, int length) {
    const bool ok = Exchange(frame, length);
    failed_in_row_ = ok ? 0 : failed_in_row_ + 1;
    if (!ok) ++failed_exchanges_;
    return ok;
}

bool CUsbIO::Exchange(const uint8_t* frame, int length) {
    if (!SendFrame(frame, length)) return false;

    uint8_t res[256] = {};
    int got = 0;
    int failures = 0;
    while (got < kReplyLength) {
        uint8_t byte = 0;
        if (port_->ReadByte(byte, kReplyTimeoutMs) == 1) {
            res[got++] = byte;
            continue;
        }
        LogErr("Receive data is abnormal.(1) res[0]=%d \n", res[0]);
        if (++failures >= 2) return false;
        clock_.SleepMs(10);
    }
    LogBytes("<<", res, res[0]);
    // The board answers a command it refuses with NACK in place of ACK.
    if (res[2] == kNack) {
        LogErr("The board refused the command (NACK).\n");
        return false;
    }
    return true;
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

void CUsbIO::WaitFrames(int frames, uint32_t start_ms) {
    const int duration = frames * frame_period_ms();
    if (duration == 0) return;
    const int elapsed = static_cast<int>(clock_.NowMs() - start_ms);
    LogOut(" wait loss %dms\r\n", elapsed);
    if (duration - elapsed >= 1) clock_.SleepMs(static_cast<uint32_t>(duration - elapsed));
}

uint64_t CUsbIO::WaitFramesAfter(int frames, uint64_t due_us) {
    const uint64_t next = due_us + uint64_t(std::max(frames, 0)) * frame_period_ms() * 1000u;
    const uint64_t now = clock_.NowUs();
    if (next == due_us) return std::max(due_us, now);
    LogOut(" wait loss %dms\r\n", now > due_us ? static_cast<int>((now - due_us) / 1000) : 0);
    if (next <= now) return now;
    clock_.SleepUntilUs(next);
    return next;
}
