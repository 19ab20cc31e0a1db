#include "board_sim.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdio>

namespace quenlo::sim {
namespace {

constexpr uint8_t kCmdMemory = 0x00;
constexpr uint8_t kCmdCompare = 0x07;
constexpr uint8_t kCmdJump = 0x0B;
constexpr uint8_t kCmdCall = 0x0C;
constexpr uint8_t kCmdReturn = 0x0D;
constexpr uint8_t kCmdServos = 0x10;
constexpr uint8_t kCmdAckCheck = 0xFE;
constexpr uint8_t kSubRam = 0x02;
constexpr uint8_t kSubRomToRam = 0x03;
constexpr uint8_t kSubRom = 0x32;
constexpr uint8_t kSubRamToLine = 0x20;
constexpr uint8_t kSubRomToLine = 0x23;
constexpr size_t kLongestRead = 248;
constexpr uint32_t kTimerAddress = 0x003C;
constexpr uint32_t kTimerTickMs = 100;
// A frame that stalls this long between bytes is abandoned, so one bad length
// byte cannot swallow the following commands.
constexpr uint64_t kInterByteGapUs = 100'000;

uint8_t Sum(const uint8_t* p, size_t n) {
    unsigned s = 0;
    for (size_t i = 0; i < n; ++i) s += p[i];
    return static_cast<uint8_t>(s);
}

uint32_t Addr24(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

template <typename... Args>
std::string Fmt(const char* fmt, Args... args) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

bool IsReboot(const uint8_t* data, size_t n, uint32_t address) {
    static constexpr uint8_t kReboot[5] = {0x03, 0x00, 0x00, 0x00, 0x00};
    return address == 0 && n == 5 && std::equal(data, data + 5, kReboot);
}

uint32_t FramePeriodMs(uint16_t system_register) {
    static constexpr uint32_t kPeriods[4] = {10, 15, 20, 25};
    return kPeriods[(system_register >> 4) & 3];
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

std::string FormatMove(const Move& move) {
    std::string s =
        Fmt("t=%llums servos=%010llX speed=%u pos=", static_cast<unsigned long long>(move.t_ms),
            static_cast<unsigned long long>(move.bitmap), unsigned{move.speed});
    for (size_t i = 0; i < move.positions.size(); ++i) {
        if (i) s += ',';
        s += std::to_string(move.positions[i]);
    }
    return s;
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

RunResult BoardSim::RunRom(const RunLimits& limits) {
    RunResult r;
    std::vector<uint32_t> stack;
    uint32_t pc = 0;
    bool timer_running = false;
    auto stop = [&](bool ok, std::string why) {
        r.ok = ok;
        r.stop_reason = std::move(why);
        return r;
    };

    while (true) {
        if (r.instructions >= limits.max_instructions)
            return stop(false, Fmt("instruction limit %llu reached at $%06X",
                                   static_cast<unsigned long long>(limits.max_instructions), pc));
        if (pc >= kRomSize) return stop(false, Fmt("program ran past the end of ROM at $%06X", pc));
        // An image read from a file does not say what was written; FF FF
        // (length 255, command 255) is what erased ROM looks like there.
        if (!rom_written_[pc] || (rom_[pc] == 0xFF && pc + 1 < kRomSize && rom_[pc + 1] == 0xFF))
            return stop(false, Fmt("erased ROM executed at $%06X", pc));
        const uint32_t len = rom_[pc];
        if (len < 3 || pc + len > kRomSize)
            return stop(false, Fmt("invalid instruction length %u at $%06X", len, pc));
        const uint8_t* f = &rom_[pc];
        if (Sum(f, len - 1) != f[len - 1])
            return stop(false, Fmt("bad checksum in instruction at $%06X", pc));
        ++r.instructions;
        const uint8_t cmd = f[1];
        uint32_t next = pc + len;

        if (cmd == kCmdMemory && len >= 7 && f[2] == kSubRam) {
            const uint32_t address = Addr24(&f[3]);
            if (address + (len - 7) > kRamSize)
                return stop(false, Fmt("RAM write outside RAM at $%06X", pc));
            std::copy(f + 6, f + len - 1, ram_.begin() + address);
        } else if (cmd == kCmdMemory && len == 11 && f[2] == kSubRomToRam) {
            const uint32_t target = Addr24(&f[3]), source = Addr24(&f[6]), count = f[9];
            if (target + count > kRamSize || source + count > kRomSize)
                return stop(false, Fmt("copy out of range at $%06X", pc));
            std::copy_n(rom_.begin() + source, count, ram_.begin() + target);
        } else if (cmd == kCmdCompare && len == 9 && f[2] == 0x82 &&
                   Addr24(&f[3]) == kTimerAddress && f[6] == 0x00 && f[7] == 0x80) {
            // The wait step: the timer counts down once per tick until it runs out.
            uint16_t timer = RamWord(kTimerAddress);
            if (timer > 0) {
                r.t_ms += kTimerTickMs;
                --timer;
                ram_[kTimerAddress] = timer & 0xFF;
                ram_[kTimerAddress + 1] = timer >> 8;
            }
            timer_running = timer != 0;
        } else if ((cmd == kCmdJump || cmd == kCmdCall) && len == 7) {
            const uint32_t target = Addr24(&f[2]);
            const uint8_t cond = f[5];
            if (target >= kRomSize) return stop(false, Fmt("jump outside ROM at $%06X", pc));
            if (cmd == kCmdCall && cond == 0x00) {
                if (stack.size() >= limits.max_call_depth)
                    return stop(false, Fmt("call stack overflow at $%06X", pc));
                stack.push_back(next);
                next = target;
            } else if (cmd == kCmdJump && cond == 0x00) {
                if (target <= pc && ++r.passes >= limits.passes)
                    return stop(true, Fmt("%u passes", unsigned{r.passes}));
                next = target;
            } else if (cmd == kCmdJump && cond == 0x04) {
                if (timer_running) next = target;
            } else {
                return stop(false, Fmt("unsupported condition $%02X at $%06X", unsigned{cond}, pc));
            }
        } else if (cmd == kCmdReturn && len == 3) {
            if (stack.empty()) return stop(false, Fmt("RETURN without CALL at $%06X", pc));
            next = stack.back();
            stack.pop_back();
        } else if (cmd == kCmdServos && len >= 9 && (len - 9) % 2 == 0) {
            Move m;
            m.t_ms = r.t_ms;
            m.rom_address = pc;
            for (int i = 0; i < 5; ++i) m.bitmap |= uint64_t{f[2 + i]} << (8 * i);
            const size_t n = (len - 9) / 2;
            if (static_cast<size_t>(std::popcount(m.bitmap)) != n)
                return stop(false, Fmt("servo count does not match bitmap at $%06X", pc));
            m.speed = f[7];
            for (size_t i = 0; i < n; ++i)
                m.positions.push_back(static_cast<uint16_t>(f[8 + 2 * i] | f[9 + 2 * i] << 8));
            m.duration_ms = m.speed * FramePeriodMs(RamWord(0));
            m.frame.assign(f, f + len);
            r.t_ms += m.duration_ms;
            r.moves.push_back(std::move(m));
            if (r.moves.size() >= limits.max_moves)
                return stop(false, Fmt("move limit %llu reached",
                                       static_cast<unsigned long long>(limits.max_moves)));
        } else {
            return stop(false, Fmt("invalid instruction $%02X at $%06X", unsigned{cmd}, pc));
        }
        pc = next;
    }
}

// ---- SimSerialPort -----------------------------------------------------------

SimSerialPort::SimSerialPort(BoardSim& board, Clock* clock) : board_(board), clock_(clock) {
    if (!clock_) {
        own_clock_ = std::make_unique<ManualClock>();
        clock_ = own_clock_.get();
    }
    Clock* c = clock_;
    board_.SetTimeSource([c] { return c->NowUs(); });
}

SerialError SimSerialPort::Open(const std::string& path, uint32_t baud) {
    Close();
    if (fail_next_open_ != SerialError::None) {
        SerialError e = fail_next_open_;
        fail_next_open_ = SerialError::None;
        return e;
    }
    if (board_.hung_up()) return SerialError::Open;
    open_ = true;
    path_ = path;
    baud_ = baud;
    ++open_count_;
    board_.SetPeerBaud(baud);
    return SerialError::None;
}

void SimSerialPort::Close() {
    if (!open_) return;
    open_ = false;
    pending_.clear();
    next_ = 0;
    board_.SetPeerBaud(0);
    board_.ResetReceiver();
}

long SimSerialPort::Write(const uint8_t* data, size_t n, int /*timeout_ms*/) {
    if (!open_ || board_.hung_up()) return -1;
    std::vector<uint8_t> reply;
    board_.Feed(data, n, reply);
    const uint32_t ready = clock_->NowMs() + board_.options().reply_delay_ms;
    for (uint8_t b : reply) pending_.push_back({b, ready});
    return static_cast<long>(n);
}

int SimSerialPort::ReadByte(uint8_t& out, int timeout_ms) {
    if (!open_) return -1;
    const uint32_t timeout = timeout_ms > 0 ? static_cast<uint32_t>(timeout_ms) : 0;
    if (next_ < pending_.size()) {
        const Pending& p = pending_[next_];
        const int32_t wait = static_cast<int32_t>(p.ready_ms - clock_->NowMs());
        if (wait > 0) {
            if (static_cast<uint32_t>(wait) > timeout) {
                if (timeout) clock_->SleepMs(timeout);
                return 0;
            }
            clock_->SleepMs(static_cast<uint32_t>(wait));
        }
        out = p.byte;
        if (++next_ == pending_.size()) pending_.clear(), next_ = 0;
        return 1;
    }
    if (board_.hung_up()) return -1;
    if (timeout) clock_->SleepMs(timeout);
    return 0;
}

void SimSerialPort::DiscardInput() {
    const uint32_t now = clock_->NowMs();
    while (next_ < pending_.size() && static_cast<int32_t>(pending_[next_].ready_ms - now) <= 0)
        ++next_;
    if (next_ == pending_.size()) pending_.clear(), next_ = 0;
}

}  // namespace quenlo::sim
