// The pieces of the ROM image: waits, boot program, play loop, servo settings.
#include <gtest/gtest.h>

#include "scripted_port.h"

using board_test::DecodeRom;
using board_test::Narrative;
using board_test::Rig;
using board_test::RomSpan;
using board_test::RomWrites;
using board_test::Sum;
using quenlo::LogCapture;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes WithSum(Bytes b) {
    b.push_back(Sum(b));
    return b;
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

Bytes Ram16(uint32_t address, uint16_t value) {
    return WithSum({0x09, 0x00, 0x02, static_cast<uint8_t>(address),
                    static_cast<uint8_t>(address >> 8), 0x00, static_cast<uint8_t>(value),
                    static_cast<uint8_t>(value >> 8)});
}

Bytes Copy(uint32_t target, uint32_t source, uint8_t n) {
    return WithSum({0x0B, 0x00, 0x03, static_cast<uint8_t>(target),
                    static_cast<uint8_t>(target >> 8), 0x00, static_cast<uint8_t>(source),
                    static_cast<uint8_t>(source >> 8), 0x00, n});
}

Bytes Jump(uint8_t code, uint32_t target, uint8_t condition) {
    return WithSum({0x07, code, static_cast<uint8_t>(target), static_cast<uint8_t>(target >> 8),
                    static_cast<uint8_t>(target >> 16), condition});
}

TEST(RomWait, StoresCounterStepAndConditionalJump) {
    for (auto [ms, n] : {std::pair{50, 1}, {1999, 19}, {0, 1}, {500, 5}, {2000, 20}}) {
        Rig rig;
        LogCapture log;
        ASSERT_TRUE(rig.link->WriteRomWait(ms));
        EXPECT_EQ(log.out().substr(0, log.out().find(">>")),
                  " WAIT " + std::to_string(n * 100) + "ms set\r\n");
        EXPECT_EQ(rig.link->rom_cursor(), 25);
        const RomWrites rom = DecodeRom(rig.port->writes);
        EXPECT_EQ(rom.frames, 3);
        EXPECT_EQ(RomSpan(rom, 0, 25), [&] {
            Bytes all = Ram16(0x003C, static_cast<uint16_t>(n));
            for (uint8_t b : WithSum({0x09, 0x07, 0x82, 0x3C, 0x00, 0x00, 0x00, 0x80}))
                all.push_back(b);
            for (uint8_t b : Jump(0x0B, 9, 0x04)) all.push_back(b);
            return all;
        }());
    }
}

TEST(BootProgram, StopsTheBoardThenStoresEveryInstructionInOrder) {
    Rig rig;
    LogCapture log;
    const int32_t motors[2] = {0, 100};
    ASSERT_TRUE(rig.link->WriteBootProgram(CUsbIO::RecordCount(2, motors), nullptr));
    EXPECT_EQ(rig.port->writes.at(0), Ram16(0x0000, 0x8000));  // straight into RAM
    const RomWrites rom = DecodeRom(rig.port->writes);
    const auto ins = Instructions(rom, 0, static_cast<uint32_t>(rig.link->rom_cursor()));
    ASSERT_EQ(ins.size(), 15u);
    EXPECT_EQ(ins[0], Ram16(0x0000, 0x0002));
    EXPECT_EQ(ins[1], Ram16(0x0038, 0x03FF));
    EXPECT_EQ(ins[2], Ram16(0x003A, 0x0000));
    Bytes aio{0x1D, 0x00, 0x02, 0x0C, 0x00, 0x00};
    aio.resize(28, 0);
    EXPECT_EQ(ins[3], WithSum(aio));
    EXPECT_EQ(ins[4], Copy(0x0044, 0x0800, 72));
    EXPECT_EQ(ins[5], Copy(0x0090, 0x0880, 40));
    EXPECT_EQ(ins[6], Ram16(0x008C, 0xFFFF));
    EXPECT_EQ(ins[7], Ram16(0x0000, 0x0003));
    EXPECT_EQ(ins[8].size(), 79u);
    EXPECT_EQ(ins[8][7], 1);
    EXPECT_EQ(ins[8][8], 0x00);
    EXPECT_EQ(ins[8][9], 0x80);
    EXPECT_EQ(ins[9][7], 1);
    EXPECT_EQ(ins[9][8], 0xFF);
    EXPECT_EQ(ins[9][9], 0x7F);
    EXPECT_EQ(ins[10], Ram16(0x003C, 5));  // 500 ms wait
    EXPECT_EQ(ins[12], Jump(0x0B, 254 + 9, 0x04));
    EXPECT_EQ(ins[13].size(), 79u);  // home without a command: 7500 at speed 100
    EXPECT_EQ(ins[13][7], 100);
    EXPECT_EQ(ins[13][8], 0x4C);
    EXPECT_EQ(ins[13][9], 0x1D);
    EXPECT_EQ(ins[14], Ram16(0x0000, 0x8003));
    EXPECT_EQ(Narrative(log.out()),
              "システム停止\nプログラム転送\n システムレジスタ $0002\n PIO設定\n AIO設定\n"
              " モーターテーブル\n モーター設定 0-1\n ジャンプベクター設定 $FFFF\n"
              " システムレジスタ $0003\n モーター(free)\n モーター(hold)\n WAIT 500ms set\r\n"
              " モーター(home)\n システムレジスタ $8003\n");
}

TEST(BootProgram, RecordsAreCopiedInChunksOfTwelve) {
    Rig rig;
    LogCapture log;
    ASSERT_TRUE(rig.link->WriteBootProgram(30, nullptr));
    const RomWrites rom = DecodeRom(rig.port->writes);
    const auto ins = Instructions(rom, 0, static_cast<uint32_t>(rig.link->rom_cursor()));
    EXPECT_EQ(ins.at(5), Copy(0x0090, 0x0880, 240));
    EXPECT_EQ(ins.at(6), Copy(0x0180, 0x0970, 240));
    EXPECT_EQ(ins.at(7), Copy(0x0270, 0x0A60, 120));
    EXPECT_EQ(ins.at(8), Ram16(0x008C, 0xFFFF));
    const std::string text = Narrative(log.out());
    EXPECT_NE(text.find(" モーター設定 0-11\n モーター設定 12-23\n モーター設定 24-29\n"),
              std::string::npos);
}

TEST(BootProgram, NoServosStillStoresOneEmptyCopy) {
    Rig rig;
    LogCapture log;
    ASSERT_TRUE(rig.link->WriteBootProgram(0, nullptr));
    const auto ins =
        Instructions(DecodeRom(rig.port->writes), 0, static_cast<uint32_t>(rig.link->rom_cursor()));
    EXPECT_EQ(ins.at(5), Copy(0x0090, 0x0880, 0));
    EXPECT_EQ(ins.at(6), Ram16(0x008C, 0xFFFF));
    EXPECT_NE(Narrative(log.out()).find(" モーター設定 0--1\n"), std::string::npos);
}

TEST(BootProgram, StopsAtTheFirstRefusedInstruction) {
    Rig rig;
    rig.port->nack_at = 3;  // the PIO set-up
    EXPECT_FALSE(rig.link->WriteBootProgram(2, nullptr));
    EXPECT_EQ(rig.port->writes.size(), 3u);
    Rig silent;
    silent.port->auto_ack = false;
    EXPECT_FALSE(silent.link->WriteBootProgram(2, nullptr));
    EXPECT_EQ(silent.port->writes.size(), 1u);
}

TEST(RomLayout, LengthFormulasMatchWhatIsStored) {
    const Bytes home =
        WithSum({0x0D, 0x10, 0x03, 0x00, 0x00, 0x00, 0x00, 0x07, 0x10, 0x27, 0x4C, 0x1D});
    for (int records : {0, 1, 11, 12, 13, 24, 25, 36}) {
        for (const uint8_t* h : {static_cast<const uint8_t*>(nullptr), home.data()}) {
            Rig rig;
            ASSERT_TRUE(rig.link->WriteBootProgram(records, h));
            const int boot = rig.link->rom_cursor();
            EXPECT_EQ(boot, CUsbIO::BootProgramLength(records, h ? 13 : 0)) << records;
            if (h) {  // the home pose is stored as it is, with its own speed
                const auto ins = Instructions(DecodeRom(rig.port->writes), 0, boot);
                EXPECT_EQ(ins.at(ins.size() - 2), home);
            }
            for (int motions : {0, 1, 7}) {
                rig.link->WriteBootProgram(records, h);
                ASSERT_TRUE(rig.link->WriteMotionLoop(motions, 500));
                EXPECT_EQ(rig.link->rom_cursor() - boot, CUsbIO::MotionLoopLength(motions));
            }
        }
    }
}

TEST(MotionLoop, CallsEachSlotWithCyclingLedPatternThenJumpsBack) {
    Rig rig;
    ASSERT_TRUE(rig.link->WriteBootProgram(0, nullptr));
    const uint32_t start = static_cast<uint32_t>(rig.link->rom_cursor());
    LogCapture log;
    ASSERT_TRUE(rig.link->WriteMotionLoop(5, 1000));
    const auto ins = Instructions(DecodeRom(rig.port->writes), start,
                                  static_cast<uint32_t>(rig.link->rom_cursor()));
    ASSERT_EQ(ins.size(), 5u * 6 + 1);
    const uint16_t patterns[5] = {0x100, 0x200, 0x300, 0x000, 0x100};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ins[6 * i], Ram16(0x003A, 0x0000));
        EXPECT_EQ(ins[6 * i + 1], Ram16(0x003C, 10));
        EXPECT_EQ(ins[6 * i + 4], Ram16(0x003A, patterns[i]));
        EXPECT_EQ(ins[6 * i + 5], Jump(0x0C, 0x0B80 + 0x1000 * i, 0x00));
    }
    EXPECT_EQ(ins.back(), Jump(0x0B, start, 0x00));
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
    ASSERT_TRUE(rig.link->WriteBootProgram(3, nullptr));
    const uint32_t start = static_cast<uint32_t>(rig.link->rom_cursor());
    rig.port->writes.clear();
    ASSERT_TRUE(rig.link->WriteMotionLoop(0, 0));
    ASSERT_EQ(rig.port->writes.size(), 1u);
    EXPECT_EQ(RomSpan(DecodeRom(rig.port->writes), start, 7), Jump(0x0B, start, 0x00));
}

TEST(ServoSettings, RecordsStayContiguousAndTheTablePointsAtTheirRamCopies) {
    Rig rig;
    // Servo numbers 3, 37 (left out), 0 and 35.
    const int32_t motors[4] = {101, 118, 0, 117};
    LogCapture log;
    ASSERT_TRUE(rig.link->WriteServoSettings(4, motors));
    EXPECT_EQ(log.err(),
              "Motor 118 (servo number 37) has no place in the servo table: left out.\n");
    EXPECT_EQ(Narrative(log.out()),
              "設定データ転送\n モーター 0\n モーター 1\n モーター 2\n モーターテーブル\n");
    const RomWrites rom = DecodeRom(rig.port->writes);
    EXPECT_EQ(rom.frames, 4);
    for (auto [k, id] : {std::pair{0, 1}, {1, 0}, {2, 17}}) {
        const Bytes record{0x00, static_cast<uint8_t>(id),
                           0,    0,
                           0,    0,
                           0x4C, 0x1D,
                           0,    0,
                           0,    0,
                           0,    0,
                           0xFF, 0xFF,
                           0x00, 0xFF,
                           0xFF, 0x00};
        EXPECT_EQ(RomSpan(rom, 0x0880 + 20 * k, 20), record) << k;
    }
    EXPECT_EQ(RomSpan(rom, 0x0880 + 60, 1), Bytes{0xFF});  // nothing beyond the third record
    Bytes table(72, 0xFF);
    auto put = [&](int servo, uint16_t a) {
        table[2 * servo] = a & 0xFF, table[2 * servo + 1] = a >> 8;
    };
    put(3, 0x0090);
    put(0, 0x00A4);
    put(35, 0x00B8);
    EXPECT_EQ(RomSpan(rom, 0x0800, 72), table);
    // The boot program copies exactly these records.
    EXPECT_EQ(CUsbIO::RecordCount(4, motors), 3);
}

TEST(RomTail, ReturnStaysAtTheMotionWriteAddressAndRebootWritesFiveBytes) {
    Rig rig;
    rig.link->set_motion_write_address(0x1B80 + 26);
    LogCapture log;
    ASSERT_TRUE(rig.link->WriteReturn());
    EXPECT_EQ(rig.port->writes.at(0),
              WithSum({0x0A, 0x00, 0x32, 0x9A, 0x1B, 0x00, 0x03, 0x0D, 0x10}));
    EXPECT_EQ(rig.link->motion_write_address(), 0x1B80 + 26);
    ASSERT_TRUE(rig.link->RebootBoard());
    EXPECT_EQ(rig.port->writes.at(1),
              WithSum({0x0C, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Narrative(log.out()), " RETURN\r\nシステムリブート\nRom image forwarding end.\n");
    rig.port->nack_at = 3;
    EXPECT_FALSE(rig.link->WriteReturn());
}

}  // namespace
