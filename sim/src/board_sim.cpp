// The board's receiving side: frames and checksums, RAM and ROM writes,
// memory reads, acknowledges, and the injected faults.
#include "board_sim.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "sim_protocol.h"

namespace quenlo::sim {
namespace {

// A frame that stalls this long between bytes is abandoned, so one bad length
// byte cannot swallow the following commands.
constexpr uint64_t kInterByteGapUs = 100'000;

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

bool IsReboot(const uint8_t* data, size_t n, uint32_t address) {
    static constexpr uint8_t kReboot[5] = {0x03, 0x00, 0x00, 0x00, 0x00};
    return address == 0 && n == 5 && std::equal(data, data + 5, kReboot);
}

}  // namespace

uint32_t SpeedIndexBaud(int index) {
    switch (index) {
        case 0:
        case 3:
            return 115200;
        case 1:
            return 625000;
        case 2:
            return 1250000;
        default:
            return 0;
    }
}

struct BoardSim::Outcome {
    std::vector<uint8_t> reply;
    std::string action;
    bool answered = false;  // reply holds a whole answer (a read), not an acknowledge
};

BoardSim::BoardSim(Options options)
    : options_(options), ram_(kRamSize, 0), rom_(kRomSize, 0xFF), rom_written_(kRomSize, false) {}

void BoardSim::SetTimeSource(std::function<uint64_t()> now_us) {
    now_us_ = std::move(now_us);
}

void BoardSim::SetTrace(TraceSink sink) {
    trace_ = std::move(sink);
}

void BoardSim::SetPeerBaud(uint32_t baud) {
    if (baud != peer_baud_) rx_.clear();
    peer_baud_ = baud;
}

uint64_t BoardSim::NowUs() const {
    if (now_us_) return now_us_();
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
}

void BoardSim::Trace(uint64_t t_us, const uint8_t* data, size_t n, std::string_view action) {
    if (!trace_) return;
    std::string line = "{\"t_us\": " + std::to_string(t_us) + ", \"rx\": \"" + Hex(data, n) +
                       "\", \"action\": \"" + std::string(action) + "\"}";
    trace_(line);
}

uint16_t BoardSim::RamWord(uint32_t address) const {
    if (address + 1 >= kRamSize) return 0;
    return static_cast<uint16_t>(ram_[address] | ram_[address + 1] << 8);
}

bool BoardSim::RomWritten(uint32_t address) const {
    return address < kRomSize && rom_written_[address];
}

std::vector<uint8_t> BoardSim::RomImage() const {
    std::vector<uint8_t> image(rom_end_, 0xFF);
    for (size_t i = 0; i < rom_end_; ++i)
        if (rom_written_[i]) image[i] = rom_[i];
    return image;
}

void BoardSim::LoadRom(const std::vector<uint8_t>& image) {
    size_t n = std::min<size_t>(image.size(), kRomSize);
    for (size_t i = 0; i < n; ++i) rom_[i] = image[i], rom_written_[i] = true;
    rom_end_ = std::max(rom_end_, n);
}

void BoardSim::Feed(const uint8_t* data, size_t n, std::vector<uint8_t>& reply) {
    if (n == 0 || hung_up()) return;
    uint64_t now = NowUs();
    if (!SpeedMatches()) {
        Trace(now, data, n,
              Fmt("dropped: line at %u baud, board at %u", unsigned{peer_baud_}, unsigned{baud()}));
        return;
    }
    if (!rx_.empty() && now - last_rx_us_ > kInterByteGapUs) {
        Trace(now, rx_.data(), rx_.size(), "dropped: incomplete frame");
        rx_.clear();
    }
    last_rx_us_ = now;
    rx_.insert(rx_.end(), data, data + n);
    size_t pos = 0;
    while (pos < rx_.size() && !hung_up_) {
        size_t len = rx_[pos];
        if (len < 3) {
            Trace(now, &rx_[pos], 1, "dropped: length below 3");
            ++pos;
            continue;
        }
        if (rx_.size() - pos < len) break;
        std::vector<uint8_t> frame(rx_.begin() + pos, rx_.begin() + pos + len);
        pos += len;
        bool sum_ok = Sum(frame.data(), len - 1) == frame[len - 1];
        Outcome out = Handle(frame, sum_ok, now);
        Trace(now, frame.data(), frame.size(), out.action);
        reply.insert(reply.end(), out.reply.begin(), out.reply.end());
    }
    rx_.erase(rx_.begin(), rx_.begin() + pos);
    if (hung_up_) rx_.clear();
}

BoardSim::Outcome BoardSim::Handle(const std::vector<uint8_t>& f, bool sum_ok, uint64_t now) {
    const uint32_t number = ++frame_count_;
    frames_.push_back({now, f, sum_ok});
    const uint8_t cmd = f[1];
    const size_t len = f.size();
    Outcome out;
    bool refused = false;

    if (!sum_ok) {
        out.action = "bad checksum";
        refused = true;
    } else if (options_.nack_at && number == *options_.nack_at) {
        out.action = "injected nack";
        refused = true;
    } else if (cmd == kCmdMemory && len >= 7 &&
               (f[2] == kSubRam || f[2] == kSubRom || f[2] == kSubRomToRam)) {
        const uint32_t address = Addr24(&f[3]);
        const uint8_t* data = &f[6];
        const size_t n = len - 7;
        if (f[2] == kSubRam) {
            if (address + n > kRamSize) {
                out.action = Fmt("refused: ram write $%06X+%zu out of range", address, n);
                refused = true;
            } else if (IsReboot(data, n, address)) {
                ++reboots_;
                std::fill(ram_.begin(), ram_.end(), 0);
                out.action = "reboot";
            } else {
                std::copy(data, data + n, ram_.begin() + address);
                out.action = Fmt("ram write $%04X+%zu", address, n);
            }
        } else if (f[2] == kSubRom) {
            if (address + n > kRomSize) {
                out.action = Fmt("refused: rom write $%06X+%zu out of range", address, n);
                refused = true;
            } else {
                std::copy(data, data + n, rom_.begin() + address);
                if (options_.corrupt_rom_at && *options_.corrupt_rom_at >= address &&
                    *options_.corrupt_rom_at - address < n)
                    rom_[*options_.corrupt_rom_at] =
                        static_cast<uint8_t>(~data[*options_.corrupt_rom_at - address]);
                std::fill(rom_written_.begin() + address, rom_written_.begin() + address + n, true);
                if (n) rom_end_ = std::max<size_t>(rom_end_, address + n);
                out.action = Fmt("rom write $%06X+%zu", address, n);
            }
        } else if (len != 11) {
            out.action = "refused: malformed copy";
            refused = true;
        } else {
            const uint32_t source = Addr24(&f[6]);
            const uint32_t count = f[9];
            if (address + count > kRamSize || source + count > kRomSize) {
                out.action = "refused: copy out of range";
                refused = true;
            } else {
                std::copy_n(rom_.begin() + source, count, ram_.begin() + address);
                out.action = Fmt("copy rom $%06X to ram $%04X+%u", source, address, count);
            }
        }
    } else if (cmd == kCmdMemory && len >= 3 && (f[2] == kSubRamToLine || f[2] == kSubRomToLine)) {
        const bool rom = f[2] == kSubRomToLine;
        if (options_.no_read) {
            out.action = "read not answered";
            out.answered = true;
        } else if (len != 11 || f[3] || f[4] || f[5] || f[9] == 0 || f[9] > kLongestRead) {
            out.action = "refused: malformed read";
            refused = true;
        } else {
            const uint32_t source = Addr24(&f[6]);
            const uint32_t count = f[9];
            const std::vector<uint8_t>& memory = rom ? rom_ : ram_;
            if (source + count > memory.size()) {
                out.action = Fmt("refused: %s read $%06X+%u out of range", rom ? "rom" : "ram",
                                 source, count);
                refused = true;
            } else {
                out.reply.push_back(static_cast<uint8_t>(count + 3));
                out.reply.push_back(0x00);
                out.reply.insert(out.reply.end(), memory.begin() + source,
                                 memory.begin() + source + count);
                out.reply.push_back(Sum(out.reply.data(), out.reply.size()));
                out.answered = true;
                out.action = Fmt("%s read $%06X+%u", rom ? "rom" : "ram", source, count);
            }
        }
    } else if (cmd == kCmdServos) {
        servo_commands_.push_back({now, f, true});
        out.action = "servo positions";
    } else if (cmd == kCmdAckCheck) {
        out.action = "acknowledge check";
    } else {
        out.action = Fmt("command $%02X not simulated", unsigned{cmd});
    }

    // The answer, and what the line does to it.
    if (out.answered) {
        if (out.reply.empty()) out.action += ", no reply";
    } else if (refused && !sum_ok && !options_.nack_bad_sum) {
        out.action += ", no reply";
    } else {
        const uint8_t code = refused ? kNack : kAck;
        out.reply = {0x04, cmd, code, static_cast<uint8_t>(0x04 + cmd + code)};
        out.action += refused ? ", nack" : ", ack";
    }
    if (silenced_ || (options_.silent_after && number > *options_.silent_after)) {
        out.reply.clear();
        out.action += " (silent)";
    } else if (options_.partial_reply_at && number == *options_.partial_reply_at) {
        if (out.reply.size() > 3) out.reply.resize(3);
        silenced_ = true;
        out.action += " (partial reply)";
    }
    if (options_.hangup_after && number >= *options_.hangup_after) {
        hung_up_ = true;
        out.action += ", hangup";
    }
    return out;
}

}  // namespace quenlo::sim
