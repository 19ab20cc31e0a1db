// Replays a ROM program as the board does after a reboot, in simulated time.
#include <bit>

#include "board_sim.h"
#include "sim_protocol.h"

namespace quenlo::sim {
namespace {

uint32_t FramePeriodMs(uint16_t system_register) {
    static constexpr uint32_t kPeriods[4] = {10, 15, 20, 25};
    return kPeriods[(system_register >> 4) & 3];
}

}  // namespace

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

}  // namespace quenlo::sim
