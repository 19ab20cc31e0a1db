// Board command frames built by hand for the simulator tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <utility>
#include <vector>

namespace quenlo::sim::test {

using Bytes = std::vector<uint8_t>;

// The pieces one after the other.
inline Bytes Cat(std::initializer_list<Bytes> pieces) {
    Bytes out;
    for (const Bytes& p : pieces) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Sets the last byte to the sum of the others.
inline Bytes Sealed(Bytes f) {
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < f.size(); ++i) sum += f[i];
    f.back() = static_cast<uint8_t>(sum);
    return f;
}

// [length, body..., checksum]
inline Bytes Frame(std::initializer_list<uint8_t> body) {
    Bytes f(body.size() + 2, 0);
    f[0] = static_cast<uint8_t>(f.size());
    std::copy(body.begin(), body.end(), f.begin() + 1);
    return Sealed(std::move(f));
}

inline Bytes Memory(uint8_t sub, uint32_t address, const Bytes& data) {
    Bytes f(data.size() + 7, 0);
    f[0] = static_cast<uint8_t>(f.size());
    f[2] = sub;
    f[3] = static_cast<uint8_t>(address);
    f[4] = static_cast<uint8_t>(address >> 8);
    f[5] = static_cast<uint8_t>(address >> 16);
    std::copy(data.begin(), data.end(), f.begin() + 6);
    return Sealed(std::move(f));
}
inline Bytes RamWrite(uint32_t address, const Bytes& data) {
    return Memory(0x02, address, data);
}
inline Bytes RomWrite(uint32_t address, const Bytes& data) {
    return Memory(0x32, address, data);
}
inline Bytes RamWord(uint32_t address, uint16_t value) {
    return RamWrite(address, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}
// A memory read towards the line: sub-type 0x23 (ROM) or 0x20 (RAM).
inline Bytes Read(uint8_t sub, uint32_t address, uint8_t count) {
    return Frame({0x00, sub, 0x00, 0x00, 0x00, static_cast<uint8_t>(address),
                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address >> 16), count});
}
// The board's answer to a read: length, 0x00, the bytes, checksum.
inline Bytes ReadReply(const Bytes& data) {
    Bytes r{static_cast<uint8_t>(data.size() + 3), 0x00};
    r.insert(r.end(), data.begin(), data.end());
    r.push_back(0);
    return Sealed(std::move(r));
}
inline Bytes Reboot() {
    return RamWrite(0, {0x03, 0x00, 0x00, 0x00, 0x00});
}

inline Bytes Ack(uint8_t cmd) {
    return {0x04, cmd, 0x06, static_cast<uint8_t>(0x0A + cmd)};
}
inline Bytes Nack(uint8_t cmd) {
    return {0x04, cmd, 0x15, static_cast<uint8_t>(0x19 + cmd)};
}

// ROM program instructions.
inline Bytes Addr3(uint32_t a) {
    return {static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(a >> 16)};
}
inline Bytes Copy(uint32_t ram, uint32_t rom, uint8_t count) {
    Bytes a = Addr3(ram), b = Addr3(rom);
    return Frame({0x00, 0x03, a[0], a[1], a[2], b[0], b[1], b[2], count});
}
inline Bytes Call(uint32_t target) {
    Bytes a = Addr3(target);
    return Frame({0x0C, a[0], a[1], a[2], 0x00});
}
inline Bytes Jump(uint32_t target, uint8_t condition = 0x00) {
    Bytes a = Addr3(target);
    return Frame({0x0B, a[0], a[1], a[2], condition});
}
inline Bytes Return() {
    return {0x03, 0x0D, 0x10};
}
inline Bytes WaitStep() {
    return Frame({0x07, 0x82, 0x3C, 0x00, 0x00, 0x00, 0x80});
}

// Multi-servo move for the given servo numbers (ascending) and positions.
inline Bytes Move(const std::vector<int>& servos, uint8_t speed,
                  const std::vector<uint16_t>& positions) {
    Bytes f(2 * positions.size() + 9, 0);
    f[0] = static_cast<uint8_t>(f.size());
    f[1] = 0x10;
    for (int s : servos) f[2 + s / 8] |= static_cast<uint8_t>(1 << (s % 8));
    f[7] = speed;
    for (size_t i = 0; i < positions.size(); ++i) {
        f[8 + 2 * i] = static_cast<uint8_t>(positions[i]);
        f[9 + 2 * i] = static_cast<uint8_t>(positions[i] >> 8);
    }
    return Sealed(std::move(f));
}
inline Bytes AllServos(uint16_t position, uint8_t speed) {
    std::vector<int> servos;
    for (int s = 0; s < 35; ++s) servos.push_back(s);
    return Move(servos, speed, std::vector<uint16_t>(35, position));
}

// Lays instructions out in ROM and writes them with ROM write commands.
class RomProgram {
  public:
    uint32_t here() const { return here_; }
    RomProgram& At(uint32_t address) {
        here_ = address;
        return *this;
    }
    RomProgram& Put(const Bytes& instruction) {
        pieces_.push_back({here_, instruction});
        here_ += static_cast<uint32_t>(instruction.size());
        return *this;
    }
    // RAM 0x003C <- n, then the wait step and its conditional jump back.
    RomProgram& Wait(uint16_t n) {
        Put(RamWord(0x003C, n));
        uint32_t step = here_;
        Put(WaitStep());
        return Put(Jump(step, 0x04));
    }
    // The ROM write commands that store the program.
    std::vector<Bytes> Commands() const {
        std::vector<Bytes> out;
        for (const auto& [address, bytes] : pieces_) out.push_back(RomWrite(address, bytes));
        return out;
    }
    // The stored bytes from `from` to the end, gaps erased (0xFF).
    Bytes Image(uint32_t from = 0) const {
        Bytes out;
        for (const auto& [address, bytes] : pieces_) {
            if (out.size() < address + bytes.size() - from)
                out.resize(address + bytes.size() - from, 0xFF);
            std::copy(bytes.begin(), bytes.end(), out.begin() + (address - from));
        }
        return out;
    }

  private:
    uint32_t here_ = 0;
    std::vector<std::pair<uint32_t, Bytes>> pieces_;
};

}  // namespace quenlo::sim::test
