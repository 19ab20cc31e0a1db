// The pieces of the ROM program, assembled and stored through a link: waits,
// boot program, play loop, servo settings.
#include <gtest/gtest.h>

#include "scripted_port.h"

using board_test::DecodeRom;
using board_test::Narrative;
using board_test::Record;
using board_test::Rig;
using board_test::RomSpan;
using board_test::RomWrites;
using board_test::Store;
using board_test::Table;
using quenlo::LogCapture;
using quenlo::board::RomAssembler;
using quenlo::sim::test::AllServos;
using quenlo::sim::test::Call;
using quenlo::sim::test::Copy;
using quenlo::sim::test::Jump;
using quenlo::sim::test::RamWord;
using quenlo::sim::test::RomProgram;

namespace {

using Bytes = std::vector<uint8_t>;

// The board stopped, then the boot program stored, as a transfer begins.
bool WriteBoot(Rig& rig, RomAssembler& program, int records, const uint8_t* home) {
    if (!quenlo::board::StopSystem(*rig.link)) return false;
    program.BootProgram(records, home);
    return Store(*rig.link, program);
}

// The instructions stored back to back from `from` up to `to`.
std::vector<Bytes> Instructions(const RomWrites& rom, uint32_t from, uint32_t to) {
    std::vector<Bytes> out;
    for (uint32_t a = from; a < to;) {
        const uint8_t len = RomSpan(rom, a, 1)[0];
        if (len < 3 || len == 0xFF) break;
        out.push_back(RomSpan(rom, a, len));
        a += len;
    }
    return out;
}

TEST(RomWait, StoresCounterStepAndConditionalJump) {
    for (auto [ms, n] : {std::pair{50, 1}, {1999, 19}, {0, 1}, {500, 5}, {2000, 20}}) {
        Rig rig;
        LogCapture log;
        RomAssembler program;
        program.Wait(ms);
        ASSERT_TRUE(Store(*rig.link, program));
        EXPECT_EQ(log.out().substr(0, log.out().find(">>")),
                  " WAIT " + std::to_string(n * 100) + "ms set\r\n");
        EXPECT_EQ(program.cursor(), 25);
        const RomWrites rom = DecodeRom(rig.port->writes);
        EXPECT_EQ(rom.frames, 3);
        RomProgram wait;
        wait.Wait(static_cast<uint16_t>(n));
        EXPECT_EQ(RomSpan(rom, 0, 25), wait.Image());
    }
}

TEST(BootProgram, StopsTheBoardThenStoresEveryInstructionInOrder) {
    Rig rig;
    LogCapture log;
    const int32_t motors[2] = {0, 100};
    RomAssembler program;
    ASSERT_TRUE(WriteBoot(rig, program, quenlo::board::RecordCount(2, motors), nullptr));
    EXPECT_EQ(rig.port->writes.at(0), RamWord(0x0000, 0x8000));  // straight into RAM
    RomProgram boot;
    boot.Put(RamWord(0x0000, 0x0002)).Put(RamWord(0x0038, 0x03FF)).Put(RamWord(0x003A, 0x0000));
    boot.Put(quenlo::sim::test::RamWrite(0x000C, Bytes(22, 0)));  // AIO
    boot.Put(Copy(0x0044, 0x0800, 72)).Put(Copy(0x0090, 0x0880, 40));
    boot.Put(RamWord(0x008C, 0xFFFF)).Put(RamWord(0x0000, 0x0003));
    boot.Put(AllServos(0x8000, 1)).Put(AllServos(0x7FFF, 1)).Wait(5);
    boot.Put(AllServos(7500, 100)).Put(RamWord(0x0000, 0x8003));  // home without a command
    EXPECT_EQ(program.cursor(), static_cast<int>(boot.here()));
    EXPECT_EQ(RomSpan(DecodeRom(rig.port->writes), 0, boot.here()), boot.Image());
    EXPECT_EQ(Narrative(log.out()),
              "システム停止\nプログラム転送\n システムレジスタ $0002\n PIO設定\n AIO設定\n"
              " モーターテーブル\n モーター設定 0-1\n ジャンプベクター設定 $FFFF\n"
              " システムレジスタ $0003\n モーター(free)\n モーター(hold)\n WAIT 500ms set\r\n"
              " モーター(home)\n システムレジスタ $8003\n");
}

TEST(BootProgram, RecordsAreCopiedInChunksOfTwelve) {
    const struct {
        int records;
        std::vector<Bytes> copies;
        const char* lines;
    } cases[] = {
        {30,
         {Copy(0x0090, 0x0880, 240), Copy(0x0180, 0x0970, 240), Copy(0x0270, 0x0A60, 120)},
         " モーター設定 0-11\n モーター設定 12-23\n モーター設定 24-29\n"},
        {0, {Copy(0x0090, 0x0880, 0)}, " モーター設定 0--1\n"},  // still one, empty
    };
    for (const auto& c : cases) {
        Rig rig;
        LogCapture log;
        RomAssembler program;
        ASSERT_TRUE(WriteBoot(rig, program, c.records, nullptr));
        const auto ins =
            Instructions(DecodeRom(rig.port->writes), 0, static_cast<uint32_t>(program.cursor()));
        ASSERT_GT(ins.size(), 5 + c.copies.size());
        EXPECT_EQ(std::vector<Bytes>(ins.begin() + 5, ins.begin() + 5 + c.copies.size()), c.copies);
        EXPECT_EQ(ins[5 + c.copies.size()], RamWord(0x008C, 0xFFFF));
        EXPECT_NE(Narrative(log.out()).find(c.lines), std::string::npos);
    }
}

TEST(BootProgram, StopsAtTheFirstRefusedInstruction) {
    Rig rig;
    rig.port->nack_at = 3;  // the PIO set-up
    RomAssembler program;
    EXPECT_FALSE(WriteBoot(rig, program, 2, nullptr));
    EXPECT_EQ(rig.port->writes.size(), 3u);
    Rig silent;
    silent.port->auto_ack = false;
    EXPECT_FALSE(WriteBoot(silent, program, 2, nullptr));
    EXPECT_EQ(silent.port->writes.size(), 1u);
}

TEST(RomLayout, LengthFormulasMatchWhatIsStored) {
    const Bytes home = quenlo::sim::test::Move({0, 1}, 7, {10000, 7500});
    for (int records : {0, 1, 11, 12, 13, 24, 25, 36}) {
        for (const uint8_t* h : {static_cast<const uint8_t*>(nullptr), home.data()}) {
            RomAssembler program;
            program.BootProgram(records, h);
            const int boot = program.cursor();
            EXPECT_EQ(boot, quenlo::board::BootProgramLength(records, h ? 13 : 0)) << records;
            for (int motions : {0, 1, 7}) {
                program.BootProgram(records, h);
                program.MotionLoop(motions, 500);
                EXPECT_EQ(program.cursor() - boot, quenlo::board::MotionLoopLength(motions));
            }
        }
    }
}

TEST(MotionLoop, CallsEachSlotWithCyclingLedPatternThenJumpsBack) {
    Rig rig;
    RomAssembler program;
    ASSERT_TRUE(WriteBoot(rig, program, 0, nullptr));
    const uint32_t start = static_cast<uint32_t>(program.cursor());
    LogCapture log;
    program.MotionLoop(5, 1000);
    ASSERT_TRUE(Store(*rig.link, program));
    const uint16_t patterns[5] = {0x100, 0x200, 0x300, 0x000, 0x100};
    RomProgram loop;
    loop.At(start);
    for (int i = 0; i < 5; ++i) {
        loop.Put(RamWord(0x003A, 0x0000)).Wait(10).Put(RamWord(0x003A, patterns[i]));
        loop.Put(Call(0x0B80 + 0x1000 * static_cast<uint32_t>(i)));
    }
    loop.Put(Jump(start));
    EXPECT_EQ(program.cursor(), static_cast<int>(loop.here()));
    EXPECT_EQ(RomSpan(DecodeRom(rig.port->writes), start, loop.here() - start), loop.Image(start));
    std::string expected;
    for (int i = 0; i < 5; ++i) {
        char block[200];
        std::snprintf(block, sizeof block,
                      " LED(PIO) OFF\n WAIT 1000ms set\r\n LED(PIO) ON %d\r\n モーションコール %d\n"
                      " CALL $%08X set\r\n",
                      patterns[i], i + 1, 0x0B80 + 0x1000 * i);
        expected += block;
    }
    char tail[64];
    std::snprintf(tail, sizeof tail, " 繰り返し\n JUMP $%08X set\r\n", start);
    EXPECT_EQ(Narrative(log.out()), expected + tail);
}

TEST(MotionLoop, NoMotionsIsASingleJumpToItself) {
    Rig rig;
    RomAssembler program;
    ASSERT_TRUE(WriteBoot(rig, program, 3, nullptr));
    const uint32_t start = static_cast<uint32_t>(program.cursor());
    rig.port->writes.clear();
    program.MotionLoop(0, 0);
    ASSERT_TRUE(Store(*rig.link, program));
    ASSERT_EQ(rig.port->writes.size(), 1u);
    EXPECT_EQ(RomSpan(DecodeRom(rig.port->writes), start, 7), Jump(start));
}

TEST(ServoSettings, RecordsStayContiguousAndTheTablePointsAtTheirRamCopies) {
    Rig rig;
    // Servo numbers 3, 37 (left out), 0 and 35.
    const int32_t motors[4] = {101, 118, 0, 117};
    LogCapture log;
    RomAssembler program;
    program.ServoSettings(4, motors);
    ASSERT_TRUE(Store(*rig.link, program));
    EXPECT_EQ(log.err(),
              "Motor 118 (servo number 37) has no place in the servo table: left out.\n");
    EXPECT_EQ(Narrative(log.out()),
              "設定データ転送\n モーター 0\n モーター 1\n モーター 2\n モーターテーブル\n");
    const RomWrites rom = DecodeRom(rig.port->writes);
    EXPECT_EQ(rom.frames, 4);
    for (auto [k, id] : {std::pair{0, 1}, {1, 0}, {2, 17}})
        EXPECT_EQ(RomSpan(rom, 0x0880 + 20 * k, 20), Record(static_cast<uint8_t>(id))) << k;
    EXPECT_EQ(RomSpan(rom, 0x0880 + 60, 1), Bytes{0xFF});  // nothing beyond the third record
    EXPECT_EQ(RomSpan(rom, 0x0800, 72), Table({{3, 0x0090}, {0, 0x00A4}, {35, 0x00B8}}));
}

TEST(RomTail, ReturnStaysAtTheMotionWriteAddressAndRebootWritesFiveBytes) {
    Rig rig;
    RomAssembler program;
    LogCapture log;
    program.Return(0x1B80 + 26);
    ASSERT_TRUE(Store(*rig.link, program));
    EXPECT_EQ(rig.port->writes.at(0), quenlo::sim::test::RomWrite(0x1B9A, {0x03, 0x0D, 0x10}));
    EXPECT_EQ(program.cursor(), 0);
    ASSERT_TRUE(quenlo::board::RebootBoard(*rig.link));
    EXPECT_EQ(rig.port->writes.at(1), quenlo::sim::test::Reboot());
    EXPECT_EQ(Narrative(log.out()), " RETURN\r\nシステムリブート\nRom image forwarding end.\n");
    rig.port->nack_at = 3;
    program.Return(0x1B80 + 26);
    EXPECT_FALSE(Store(*rig.link, program));
}

}  // namespace
