// libFuzzer target: arbitrary bytes on the line and arbitrary ROM images.
// Besides crashes it checks what must always hold: every reply is a whole or
// (once) partial four-byte answer echoing a command byte, the image never
// grows past the ROM, and a replay always stops within its limits.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "board_sim.h"

namespace {

void Require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    using namespace quenlo::sim;
    Options o;
    o.nack_bad_sum = data[0] & 1;
    if (data[0] & 2) o.partial_reply_at = data[1] & 7;
    if (data[0] & 4) o.silent_after = data[1] >> 4;
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
            Require(reply.size() % 4 == 0 || reply.size() % 4 == 3);
            for (size_t i = 0; i + 2 < reply.size(); i += 4)
                Require(reply[i] == 4 && (reply[i + 2] == kAck || reply[i + 2] == kNack));
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
