// A serial port for CUsbIO tests: records every write and serves reply bytes,
// either scripted one by one or as an acknowledge after each written frame.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../sim/frames.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "usbio.h"

namespace board_test {

inline constexpr int kTimeout = -1;    // a scripted read that times out
inline constexpr int kLineError = -2;  // a scripted read that fails (the line hung up)

// The board's answer to the last write, a ROM read request, from the ROM
// written before it.
inline std::vector<uint8_t> RomReadReply(const std::vector<std::vector<uint8_t>>& writes);

class ScriptedPort : public quenlo::SerialPort {
  public:
    quenlo::SerialError Open(const std::string& path, uint32_t baud) override {
        opens.push_back({path, baud});
        if (open_error != quenlo::SerialError::None) return open_error;
        open = true;
        return quenlo::SerialError::None;
    }
    void Close() override { open = false, ++closes; }
    bool IsOpen() const override { return open; }
    long Write(const uint8_t* data, size_t n, int) override {
        writes.emplace_back(data, data + n);
        if (short_write) return static_cast<long>(n) - 1;
        if (nack_at == static_cast<int>(writes.size())) {
            for (int b : {0x04, int{data[1]}, 0x15, 0x19 + data[1]}) reads.push_back(b & 0xFF);
        } else if (!reply_script.empty()) {
            for (int b : reply_script.front()) reads.push_back(b);
            reply_script.pop_front();
        } else if (answer_reads && n == 11 && data[1] == 0x00 && data[2] == 0x23) {
            for (uint8_t b : RomReadReply(writes)) reads.push_back(b);
        } else if (auto_ack) {
            for (int b : {0x04, 0xFE, 0x06, 0x08}) reads.push_back(b);
        }
        return static_cast<long>(n);
    }
    void DiscardInput() override {
        discarded += static_cast<int>(reads.size());
        reads.clear();
    }
    int ReadByte(uint8_t& out, int timeout_ms) override {
        last_timeout = timeout_ms;
        if (reads.empty()) return 0;
        int b = reads.front();
        reads.pop_front();
        if (b == kLineError) return -1;
        if (b < 0) return 0;
        out = static_cast<uint8_t>(b);
        return 1;
    }

    struct OpenCall {
        std::string path;
        uint32_t baud;
    };
    std::vector<OpenCall> opens;
    int closes = 0;
    bool open = false;
    quenlo::SerialError open_error = quenlo::SerialError::None;
    bool auto_ack = true;
    bool answer_reads = true;  // ROM reads answered from the ROM written before them
    bool short_write = false;
    int nack_at = 0;                            // the write (counted from 1) that gets NACK
    std::deque<std::vector<int>> reply_script;  // replies for the next writes, in order
    std::deque<int> reads;                      // bytes waiting to be read
    std::vector<std::vector<uint8_t>> writes;
    int last_timeout = 0;
    int discarded = 0;  // bytes dropped before a write
};

// A port owned by the link under test, with a handle for the test.
struct Rig {
    Rig() {
        auto p = std::make_unique<ScriptedPort>();
        port = p.get();
        p->open = true;
        link = std::make_unique<CUsbIO>(std::move(p), clock);
    }
    quenlo::ManualClock clock;
    ScriptedPort* port;
    std::unique_ptr<CUsbIO> link;
};

// Writes what the assembler holds, with its log lines, as a transfer does;
// false at the first write that fails.
inline bool Store(CUsbIO& link, quenlo::board::RomAssembler& program) {
    for (const quenlo::board::RomWrite& w : program.Take()) {
        quenlo::LogWrite(quenlo::Stream::Out, w.before);
        const bool ok = link.WriteRom(w.address, w.bytes.data(), static_cast<int>(w.bytes.size()));
        quenlo::LogWrite(quenlo::Stream::Out, w.after);
        if (!ok) return false;
    }
    return true;
}

// The ROM the written frames describe: address -> byte, and the number of
// frames with sub-type 0x32.
struct RomWrites {
    std::map<uint32_t, uint8_t> bytes;
    int frames = 0;
};

inline RomWrites DecodeRom(const std::vector<std::vector<uint8_t>>& writes) {
    RomWrites rom;
    for (const auto& w : writes) {
        if (w.size() < 7 || w[1] != 0x00 || w[2] != 0x32) continue;
        ++rom.frames;
        const uint32_t address = w[3] | w[4] << 8 | w[5] << 16;
        for (size_t i = 6; i + 1 < w.size(); ++i)
            rom.bytes[address + static_cast<uint32_t>(i - 6)] = w[i];
    }
    return rom;
}

inline std::vector<uint8_t> RomSpan(const RomWrites& rom, uint32_t address, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i) {
        auto it = rom.bytes.find(address + static_cast<uint32_t>(i));
        out.push_back(it == rom.bytes.end() ? 0xFF : it->second);
    }
    return out;
}

inline std::vector<uint8_t> RomReadReply(const std::vector<std::vector<uint8_t>>& writes) {
    const std::vector<uint8_t>& request = writes.back();
    const uint32_t address = request[6] | request[7] << 8 | request[8] << 16;
    std::vector<uint8_t> reply{static_cast<uint8_t>(request[9] + 3), 0x00};
    for (uint8_t b : RomSpan(DecodeRom(writes), address, request[9])) reply.push_back(b);
    reply.push_back(0);
    return quenlo::sim::test::Sealed(std::move(reply));
}

// A servo record as stored for ICS ID `id`.
inline std::vector<uint8_t> Record(uint8_t id) {
    return {0x00, id, 0, 0, 0, 0, 0x4C, 0x1D, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x00};
}

// The servo table: servo number -> record address, 0xFFFF where none.
inline std::vector<uint8_t> Table(std::initializer_list<std::pair<int, uint16_t>> entries) {
    std::vector<uint8_t> t(72, 0xFF);
    for (auto [servo, address] : entries)
        t[2 * servo] = address & 0xFF, t[2 * servo + 1] = address >> 8;
    return t;
}

// Standard output without the hex dumps.
inline std::string Narrative(const std::string& out) {
    std::istringstream in(out);
    std::string line, kept;
    while (std::getline(in, line))
        if (line.rfind(">>", 0) != 0 && line.rfind("<<", 0) != 0 && line.rfind("   ", 0) != 0)
            kept += line + "\n";
    return kept;
}

// A console that keeps every line.
class RecordingUi : public quenlo::OperatorUi {
  public:
    void ConsoleWrite(std::string_view text) override { lines.emplace_back(text); }
    bool Confirm(std::string_view, std::string_view) override { return true; }
    void SetBusy(bool) override {}
    std::vector<std::string> lines;
};

}  // namespace board_test
