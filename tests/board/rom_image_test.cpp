// The ROM transfer as the main window runs it: order, console lines, layout check.
#include <gtest/gtest.h>

#include <stop_token>

#include "scripted_port.h"

using board_test::DecodeRom;
using board_test::RecordingUi;
using board_test::Rig;
using board_test::RomSpan;
using board_test::RomWrites;
using quenlo::LogCapture;
using quenlo::RomContent;

namespace {

using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

// A multi-servo command for servo numbers 0 to 3.
Bytes Frame(uint8_t speed, uint16_t position) {
    return quenlo::sim::test::Move({0, 1, 2, 3}, speed, std::vector<uint16_t>(4, position));
}

// A frame of exactly `length` bytes; the layout check looks only at lengths.
Bytes Filler(int length) {
    Bytes f(static_cast<size_t>(length), 0);
    f[0] = static_cast<uint8_t>(length);
    return f;
}

RomContent Robot() {
    RomContent c;
    c.motors = {0, 100, 1, 101, 118};  // the last has no place on the board
    c.entries = {
        {Frame(20, 7000), Frame(30, 8000)},
        {Frame(10, 7500)},
        {Frame(5, 6000), Frame(5, 6100), Frame(5, 6200)},
    };
    c.interval_ms = 500;
    return c;
}

TEST(WriteRomImage, WritesEveryPartInOrderAndRebootsTheBoard) {
    Rig rig;
    RecordingUi ui;
    LogCapture log;
    const RomContent content = Robot();
    ASSERT_TRUE(quenlo::WriteRomImage(ui, *rig.link, content));
    EXPECT_EQ(ui.lines,
              (Lines{"初期設定実行部転送OK\r\n", "モーション再生部転送OK\r\n",
                     "モーター設定実行部転送OK\r\n", "モーション 1 コマンド 2 転送OK\r\n",
                     "モーション 2 コマンド 1 転送OK\r\n", "モーション 3 コマンド 3 転送OK\r\n",
                     "ベリファイ中\r\n", "ベリファイOK\r\n", "転送が終わりました\r\n",
                     "勝手に実行します\r\n", "このツールを終了してください\r\n"}));
    EXPECT_EQ(log.err(),
              "Motor 118 (servo number 37) has no place in the servo table: left out.\n");

    const RomWrites rom = DecodeRom(rig.port->writes);
    for (size_t i = 0; i < content.entries.size(); ++i) {
        Bytes slot;
        for (const Bytes& f : content.entries[i]) slot.insert(slot.end(), f.begin(), f.end());
        slot.insert(slot.end(), {0x03, 0x0D, 0x10, 0xFF});  // RETURN, then nothing
        EXPECT_EQ(RomSpan(rom, 0x0B80 + 0x1000 * static_cast<uint32_t>(i), slot.size()), slot)
            << "slot " << i;
    }
    // Nothing is stored between the play loop and 0x0800.
    const uint32_t end = static_cast<uint32_t>(quenlo::board::BootProgramLength(4, 17) +
                                               quenlo::board::MotionLoopLength(3));
    EXPECT_EQ(RomSpan(rom, end, 0x0800 - end), Bytes(0x0800 - end, 0xFF));
    EXPECT_EQ(rig.port->writes.back(),
              (Bytes{0x0C, 0x00, 0x02, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x11}));
}

TEST(WriteRomImage, EmptyFirstMotionMeansNoHomeCommandAndAnEmptySlot) {
    Rig rig;
    RecordingUi ui;
    RomContent content = Robot();
    content.entries[0].clear();
    ASSERT_TRUE(quenlo::WriteRomImage(ui, *rig.link, content));
    EXPECT_EQ(ui.lines.at(3), "モーション 1 コマンド 0 転送OK\r\n");
    const RomWrites rom = DecodeRom(rig.port->writes);
    EXPECT_EQ(RomSpan(rom, 0x0B80, 4), (Bytes{0x03, 0x0D, 0x10, 0xFF}));
    EXPECT_EQ(RomSpan(rom, static_cast<uint32_t>(quenlo::board::BootProgramLength(4, 0)) - 9, 9)[0],
              0x09);
}

TEST(WriteRomImage, RefusedWriteInterruptsTheTransferAtOnce) {
    for (int refused : {1, 20, 45, 0}) {
        Rig rig;
        RecordingUi ui;
        LogCapture log;
        const RomContent content = Robot();
        // Count the writes of a good transfer to refuse the last one (the reboot).
        if (refused == 0) {
            Rig probe;
            RecordingUi quiet;
            ASSERT_TRUE(quenlo::WriteRomImage(quiet, *probe.link, content));
            refused = static_cast<int>(probe.port->writes.size());
        }
        rig.port->nack_at = refused;
        EXPECT_FALSE(quenlo::WriteRomImage(ui, *rig.link, content));
        EXPECT_EQ(rig.port->writes.size(), static_cast<size_t>(refused));
        EXPECT_EQ(ui.lines.back(), "転送が中断しました\r\n");
        EXPECT_EQ(std::count(ui.lines.begin(), ui.lines.end(), "勝手に実行します\r\n"), 0);
        EXPECT_NE(log.err().find("NACK"), std::string::npos);
    }
}

// A stop request ends the transfer after the block on its way: the board keeps
// what was written, is not rebooted into it, and the console says so. A board
// that falls silent is named before the interruption.
TEST(WriteRomImage, AStopEndsTheTransferAfterTheCurrentBlock) {
    struct StoppingUi : RecordingUi {
        std::stop_source stop;
        void ConsoleWrite(std::string_view text) override {
            RecordingUi::ConsoleWrite(text);
            if (text == "初期設定実行部転送OK\r\n") stop.request_stop();
        }
    };
    Rig rig;
    StoppingUi ui;
    LogCapture log;
    quenlo::RomTransferOptions options;
    options.stop_after_block = ui.stop.get_token();
    const RomContent content = Robot();
    EXPECT_FALSE(quenlo::WriteRomImage(ui, *rig.link, content, options));
    EXPECT_EQ(ui.lines, (Lines{"初期設定実行部転送OK\r\n",
                               "転送を中止しました: ボードのROMのプログラムは不完全です\r\n"}));
    // The board stop, the boot program and the play loop's first instruction.
    const int boot_writes = DecodeRom(rig.port->writes).frames - 1;
    EXPECT_EQ(rig.port->writes.size(), 1u + static_cast<size_t>(boot_writes) + 1u);
    EXPECT_EQ(RomSpan(DecodeRom(rig.port->writes), 0x0800, 1), Bytes{0xFF});  // no servo table
    EXPECT_EQ(log.out().find("システムリブート"), std::string::npos);

    Rig silent;
    RecordingUi told;
    // The board answers the stop and the first instruction, then nothing.
    silent.port->auto_ack = false;
    silent.port->reply_script = {{0x04, 0x00, 0x06, 0x0A}, {0x04, 0x00, 0x06, 0x0A}};
    EXPECT_FALSE(quenlo::WriteRomImage(told, *silent.link, content));
    EXPECT_EQ(silent.port->writes.size(), 3u);
    EXPECT_EQ(told.lines, (Lines{"ボードが応答しません\r\n", "転送が中断しました\r\n"}));
}

TEST(WriteRomImage, LayoutCheckAllowsExactlyWhatFits) {
    {
        // No servos and no home: 367 bytes of boot program, 50 per motion and a JUMP.
        Rig rig;
        RecordingUi ui;
        RomContent content;
        content.entries.resize(33);
        ASSERT_TRUE(quenlo::WriteRomImage(ui, *rig.link, content));
    }
    {
        Rig rig;
        RecordingUi ui;
        RomContent content;
        content.entries.resize(34);
        EXPECT_FALSE(quenlo::WriteRomImage(ui, *rig.link, content));
        EXPECT_EQ(
            ui.lines,
            Lines{"初期設定実行部とモーション再生部が 26 バイト超過するため転送できません\r\n"});
        EXPECT_TRUE(rig.port->writes.empty());
    }
    for (int extra : {0, 1}) {
        Rig rig;
        RecordingUi ui;
        RomContent content = Robot();
        std::vector<Bytes> big(20, Filler(200));
        big.push_back(Filler(93 + extra));  // 4093 bytes and the RETURN fill the slot
        content.entries[1] = big;
        content.entries[2] = big;
        const bool ok = quenlo::WriteRomImage(ui, *rig.link, content);
        EXPECT_EQ(ok, extra == 0);
        if (extra) {
            EXPECT_EQ(ui.lines, (Lines{"モーション 2 が 1 バイト超過するため転送できません\r\n",
                                       "モーション 3 が 1 バイト超過するため転送できません\r\n"}));
            EXPECT_TRUE(rig.port->writes.empty());
        } else {
            EXPECT_EQ(ui.lines.at(4), "モーション 2 コマンド 21 転送OK\r\n");
        }
    }
}

TEST(WriteRomImage, MalformedFrameIsRefusedBeforeAnyWrite) {
    const Bytes bad[] = {Bytes{}, Bytes{0x02, 0x00}, Bytes{0x20, 0x10, 0x00}, Filler(249)};
    for (const Bytes& frame : bad) {
        Rig rig;
        RecordingUi ui;
        RomContent content = Robot();
        content.entries[2].insert(content.entries[2].begin() + 1, frame);
        EXPECT_FALSE(quenlo::WriteRomImage(ui, *rig.link, content));
        EXPECT_EQ(ui.lines, Lines{"モーション 3 コマンド 2 が壊れているため転送できません\r\n"});
        EXPECT_TRUE(rig.port->writes.empty());
    }
}

TEST(WriteRomImage, DuplicatedServosThatOverrunTheRecordAreaAreRefused) {
    Rig rig;
    RecordingUi ui;
    RomContent content = Robot();
    content.motors.assign(40, 0);  // 40 records of 20 bytes do not fit 0x0880..0x0B80
    EXPECT_FALSE(quenlo::WriteRomImage(ui, *rig.link, content));
    EXPECT_EQ(ui.lines.at(0), "モーター設定が 32 バイト超過するため転送できません\r\n");
    EXPECT_TRUE(rig.port->writes.empty());
}

}  // namespace
