// Memory reads: the memory-move command with the serial line as destination.
// The board answers length (n + 3), 0x00, the n bytes and a checksum.
#include <algorithm>
#include <cstring>

#include "servo_table.h"
#include "usbio.h"

using quenlo::LogErr;
using namespace quenlo::board;

namespace {

constexpr int kRequestLength = 11;
constexpr int kReplyOverhead = 3;  // length, 00, the bytes, sum

}  // namespace

bool CUsbIO::ReadRam(uint32_t address, uint8_t* buffer, int n) {
    return ReadMemory(kRamToLine, address, buffer, n);
}

bool CUsbIO::ReadRom(uint32_t address, uint8_t* buffer, int n) {
    return ReadMemory(kRomToLine, address, buffer, n);
}

bool CUsbIO::ReadMemory(uint8_t kind, uint32_t address, uint8_t* buffer, int n) {
    if (n < 0 || (n > 0 && !buffer) || address >= kAddressLimit ||
        n > static_cast<int>(kAddressLimit - address)) {
        LogErr("The memory read at $%06X of %d bytes is outside the board's addresses.\n", address,
               n);
        return false;
    }
    int done = 0;
    while (done < n) {
        int take = std::min(kReadChunk, n - done);
        // A one-byte reply (04 00 15 19) could not be told from a NACK, so no
        // request asks for a single byte.
        if (n - done - take == 1) --take;
        const uint32_t at = address + static_cast<uint32_t>(done);
        if (take == 1) {
            const uint32_t from = at + 1 < kAddressLimit ? at : at - 1;
            uint8_t two[2];
            if (!ReadRequest(kind, from, two, 2)) return false;
            buffer[done] = two[at - from];
        } else if (!ReadRequest(kind, at, buffer + done, take)) {
            return false;
        }
        done += take;
    }
    return true;
}

bool CUsbIO::ReadRequest(uint8_t kind, uint32_t address, uint8_t* buffer, int n) {
    uint8_t request[kRequestLength] = {kRequestLength,
                                       kCmdMemory,
                                       kind,
                                       0x00,
                                       0x00,
                                       0x00,
                                       static_cast<uint8_t>(address),
                                       static_cast<uint8_t>(address >> 8),
                                       static_cast<uint8_t>(address >> 16),
                                       static_cast<uint8_t>(n)};
    request[kRequestLength - 1] = Checksum(request, kRequestLength - 1);
    if (!MaySend() || !SendFrame(request, kRequestLength)) return false;

    // Reads until `want` bytes are in, with the link's deadlines: the whole
    // reply allows one time-out; a line error ends it at once.
    uint8_t reply[256] = {};
    int got = 0;
    int timeouts = 0;
    bool line_error = false;
    bool stopped = false;
    auto read_up_to = [&](int want) {
        while (got < want && !line_error && !stopped && timeouts < 2) {
            uint8_t byte = 0;
            const int r = ReadByte(byte, kReplyTimeoutMs);
            if (r == 1) {
                reply[got++] = byte;
            } else if (r == -2) {
                stopped = true;
            } else if (r < 0) {
                line_error = true;
                if (!port_->IsAlive()) port_lost_ = true;
            } else if (++timeouts < 2) {
                stopped = !SleepMs(10);
            }
        }
        return got >= want;
    };

    const int expected = n + kReplyOverhead;
    const bool complete = read_up_to(1) && read_up_to(std::max<int>(reply[0], 1));
    if (got > 0) LogBytes("<<", reply, got);
    if (stopped) return false;
    if (!complete) {
        if (line_error)
            LogErr("The line failed during the memory read at $%06X.\n", address);
        else
            LogErr("No complete reply to the memory read at $%06X (%d of %d bytes).\n", address,
                   got, got > 0 ? reply[0] : expected);
        return false;
    }
    if (reply[0] == kReplyLength && reply[2] == kNack) {
        LogErr("The board refused the memory read at $%06X (NACK).\n", address);
        return false;
    }
    if (reply[0] != expected) {
        LogErr("The reply to the memory read at $%06X announces %d bytes, not %d.\n", address,
               reply[0], expected);
        return false;
    }
    if (reply[1] != 0x00) {
        LogErr("The reply to the memory read at $%06X has $%02X as its second byte, not $00.\n",
               address, reply[1]);
        return false;
    }
    const uint8_t sum = Checksum(reply, expected - 1);
    if (reply[expected - 1] != sum) {
        LogErr("The reply to the memory read at $%06X has checksum $%02X, not $%02X.\n", address,
               reply[expected - 1], sum);
        return false;
    }
    std::memcpy(buffer, reply + 2, static_cast<size_t>(n));
    return true;
}
