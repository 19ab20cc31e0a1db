// libFuzzer target: arbitrary bytes on the line and arbitrary ROM images.
// Besides crashes it checks what must always hold: replies follow each other
// whole, each as long as its first byte says and ending in its checksum (a
// four-byte answer, or n + 3 bytes for a read), except that a fault may cut
// the last to three bytes; the image never grows past the ROM, and a replay
// always stops within its limits.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "board_sim.h"

namespace {

void Require(bool ok) {
    if (!ok) std::abort();
}

void RequireWholeReplies(const std::vector<uint8_t>& reply) {
    size_t i = 0;
    while (i < reply.size()) {
        const size_t length = reply[i];
        Require(length >= 4);
        if (reply.size() - i < length) {
            Require(reply.size() - i == 3);  // the partial reply of a fault
            return;
        }
        unsigned sum = 0;
        for (size_t k = i; k + 1 < i + length; ++k) sum += reply[k];
        Require(static_cast<uint8_t>(sum) == reply[i + length - 1]);
        // An answer to anything but a memory command acknowledges or refuses.
        if (length == 4 && reply[i + 1] != 0x00)
            Require(reply[i + 2] == quenlo::sim::kAck || reply[i + 2] == quenlo::sim::kNack);
        i += length;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    using namespace quenlo::sim;
    Options o;
    o.nack_bad_sum = data[0] & 1;
    if (data[0] & 2) o.partial_reply_at = data[1] & 7;
    if (data[0] & 4) o.silent_after = data[1] >> 4;
    if (data[0] & 16) o.no_read = true;
    if (data[0] & 32) o.corrupt_rom_at = data[1] * 16u;
    BoardSim board(o);
    uint64_t now = 0;
    board.SetTimeSource([&now] { return now; });
    board.SetPeerBaud(board.baud());

    RunLimits limits;
    limits.passes = 3;
    limits.max_instructions = 20'000;
    limits.max_moves = 1'000;
    if (data[0] & 8) {
        // The input is a ROM image, as quenlo-sim --rom-in reads it.
        board.LoadRom(std::vector<uint8_t>(data + 2, data + size));
    } else {
        // The input is line traffic, in chunks whose sizes come from the bytes.
        size_t pos = 2;
        std::vector<uint8_t> reply;
        while (pos < size) {
            size_t n = 1 + data[pos - 1] % 64;
            if (n > size - pos) n = size - pos;
            reply.clear();
            board.Feed(data + pos, n, reply);
            RequireWholeReplies(reply);
            pos += n;
            now += data[pos - 1] * 1000u;
        }
    }
    Require(board.RomImage().size() <= kRomSize);
    RunResult r = board.RunRom(limits);
    Require(r.instructions <= limits.max_instructions);
    Require(r.moves.size() <= limits.max_moves);
    Require(!r.stop_reason.empty());
    return 0;
}
