// ROM replay: hand-built programs stored through ROM write commands, then
// executed in simulated time.
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "board_sim.h"
#include "frames.h"

namespace quenlo::sim {
namespace {

using test::Bytes;
using test::RomProgram;

// Stores a program through ROM write commands, each acknowledged.
void Store(BoardSim& board, const RomProgram& program) {
    board.SetPeerBaud(board.baud());
    for (const Bytes& cmd : program.Commands()) {
        Bytes reply;
        board.Feed(cmd.data(), cmd.size(), reply);
        ASSERT_EQ(reply, test::Ack(0x00));
    }
}

class Rom : public testing::Test {
  protected:
    void Store(const RomProgram& program) { sim::Store(board_, program); }
    RunResult Run(uint32_t passes, uint64_t max_instructions = 1'000'000) {
        RunLimits limits;
        limits.passes = passes;
        limits.max_instructions = max_instructions;
        return board_.RunRom(limits);
    }

    BoardSim board_;
};

TEST_F(Rom, PlayLoopReplaysEveryStoredMotionFrameInOrderAndTime) {
    const Bytes m0f0 = test::Move({0, 1}, 10, {7000, 8000});
    const Bytes m0f1 = test::Move({0, 1, 20}, 5, {7100, 8100, 3500});
    const Bytes m1f0 = test::AllServos(7500, 2);
    const Bytes table(72, 0xFF);

    RomProgram p;
    p.Put(test::RamWord(0x0000, 0x0020));  // frame period code 2: 20 ms
    p.Put(test::Copy(0x0044, 0x0800, 72));
    const uint32_t loop = p.here();
    p.Put(test::RamWord(0x003A, 0x0100)).Wait(3).Put(test::Call(0x0B80));
    p.Put(test::RamWord(0x003A, 0x0200)).Put(test::Call(0x1B80));
    p.Put(test::Jump(loop));
    p.At(0x0800).Put(table);
    p.At(0x0B80).Put(m0f0).Put(m0f1).Put(test::Return());
    p.At(0x1B80).Put(m1f0).Put(test::Return());
    Store(p);

    RunResult r = Run(2);
    ASSERT_TRUE(r.ok) << r.stop_reason;
    EXPECT_EQ(r.passes, 2u);
    EXPECT_EQ(r.stop_reason, "2 passes");
    ASSERT_EQ(r.moves.size(), 6u);
    const std::vector<Bytes> stored = {m0f0, m0f1, m1f0, m0f0, m0f1, m1f0};
    // wait 300, 10 x 20, 5 x 20, 2 x 20, then the loop again
    const std::vector<uint64_t> starts = {300, 500, 600, 940, 1140, 1240};
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.moves[i].frame, stored[i]);
        EXPECT_EQ(r.moves[i].t_ms, starts[i]);
    }
    EXPECT_EQ(r.t_ms, 1280u);
    EXPECT_EQ(r.moves[1].bitmap, 0x100003u);
    EXPECT_EQ(r.moves[1].positions, (std::vector<uint16_t>{7100, 8100, 3500}));
    EXPECT_EQ(r.moves[1].rom_address, 0x0B80u + m0f0.size());
    EXPECT_EQ(r.moves[2].bitmap, 0x07FFFFFFFFu);
    EXPECT_EQ(r.moves[2].positions.size(), 35u);
    EXPECT_EQ(FormatMove(r.moves[0]), "t=300ms servos=0000000003 speed=10 pos=7000,8000");
    // The program's RAM writes and copies took effect.
    EXPECT_EQ(board_.RamWord(0x003A), 0x0200);
    EXPECT_EQ(board_.RamWord(0x0044), 0xFFFF);
}

TEST_F(Rom, AWaitOfNTicksTakesNTimes100Ms) {
    for (uint16_t n : {0, 1, 5, 19}) {
        SCOPED_TRACE(n);
        RomProgram p;
        p.Wait(n).Put(test::Move({3}, 1, {7500})).Put(test::Jump(0));
        Store(p);
        RunResult r = Run(1);
        ASSERT_TRUE(r.ok) << r.stop_reason;
        ASSERT_EQ(r.moves.size(), 1u);
        EXPECT_EQ(r.moves[0].t_ms, n * 100u);
        EXPECT_EQ(board_.RamWord(0x003C), 0);
    }
}

TEST_F(Rom, MoveTimeIsSpeedTimesTheFramePeriodOfTheSystemRegister) {
    const uint32_t periods[4] = {10, 15, 20, 25};
    for (uint16_t code = 0; code < 4; ++code) {
        SCOPED_TRACE(code);
        RomProgram p;
        p.Put(test::RamWord(0x0000, static_cast<uint16_t>(0x8003 | code << 4)));
        p.Put(test::AllServos(0x8000, 1)).Put(test::Move({0}, 255, {7500}));
        p.Put(test::Move({0}, 0, {7500})).Put(test::Jump(0));
        Store(p);
        RunResult r = Run(1);
        ASSERT_TRUE(r.ok) << r.stop_reason;
        ASSERT_EQ(r.moves.size(), 3u);
        EXPECT_EQ(r.moves[1].t_ms, periods[code]);
        EXPECT_EQ(r.moves[1].duration_ms, 255 * periods[code]);
        EXPECT_EQ(r.moves[2].t_ms, 256 * periods[code]);
        EXPECT_EQ(r.moves[2].duration_ms, 0u);
    }
}

TEST_F(Rom, NestedCallsReturnToTheirCallers) {
    RomProgram p;
    p.Put(test::Call(0x0100)).Put(test::Move({1}, 1, {1})).Put(test::Jump(0));
    p.At(0x0100).Put(test::Call(0x0200)).Put(test::Move({1}, 1, {2})).Put(test::Return());
    p.At(0x0200).Put(test::Move({1}, 1, {3})).Put(test::Return());
    Store(p);
    RunResult r = Run(3);
    ASSERT_TRUE(r.ok) << r.stop_reason;
    std::vector<uint16_t> order;
    for (const Move& m : r.moves) order.push_back(m.positions[0]);
    EXPECT_EQ(order, (std::vector<uint16_t>{3, 2, 1, 3, 2, 1, 3, 2, 1}));
}

TEST_F(Rom, AnEmptyPlayLoopJumpsToItself) {
    RomProgram p;
    p.Put(test::RamWord(0x0000, 0x8003));
    p.Put(test::Jump(p.here()));
    Store(p);
    RunResult r = Run(3);
    EXPECT_TRUE(r.ok) << r.stop_reason;
    EXPECT_EQ(r.passes, 3u);
    EXPECT_TRUE(r.moves.empty());
}

TEST_F(Rom, RunawayAndBrokenProgramsStopWithAReason) {
    auto program = [](std::initializer_list<Bytes> instructions) {
        RomProgram p;
        for (const Bytes& i : instructions) p.Put(i);
        return p;
    };
    const struct {
        RomProgram program;
        const char* reason;
    } cases[] = {
        {program({}), "erased ROM executed at $000000"},
        {program({test::Return()}), "RETURN without CALL at $000000"},
        {program({test::Jump(0xFFFFFF)}), "jump outside ROM at $000000"},
        {program({test::Call(0)}), "call stack overflow at $000000"},
        {program({test::Move({0}, 1, {7500}), {0x07, 0x0B, 0x00, 0x00, 0x00, 0x00, 0x00}}),
         "bad checksum in instruction at $00000B"},
        // Two bitmap bits, one position.
        {program({test::Frame({0x10, 0x03, 0, 0, 0, 0, 1, 0x4C, 0x1D})}),
         "servo count does not match bitmap at $000000"},
        {program({test::Frame({0x42, 0x00})}), "invalid instruction $42 at $000000"},
        {program({test::Jump(0, 0x01)}), "unsupported condition $01 at $000000"},
        {program({test::RomWrite(0x10, {1})}), "invalid instruction $00 at $000000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        BoardSim fresh;
        sim::Store(fresh, c.program);
        RunResult r = fresh.RunRom({});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.stop_reason, c.reason);
    }

    // A loop that never reaches enough passes ends at the instruction limit.
    RomProgram p;
    p.Put(test::Move({0}, 0, {7500})).Put(test::Jump(0));
    Store(p);
    RunResult r = Run(1'000'000, 1000);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.stop_reason, "instruction limit 1000 reached at $000000");
    EXPECT_EQ(r.instructions, 1000u);
}

}  // namespace
}  // namespace quenlo::sim
