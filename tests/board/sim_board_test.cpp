// CUsbIO against the board simulator: speed search, injected faults, and a ROM
// image that the simulated board runs on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

#include "board_sim.h"
#include "scripted_port.h"

using board_test::RecordingUi;
using quenlo::LogCapture;
using quenlo::ManualClock;
using quenlo::SerialError;
using quenlo::sim::BoardSim;
using quenlo::sim::Options;
using quenlo::sim::SimSerialPort;

namespace {

namespace fr = quenlo::sim::test;
using Bytes = std::vector<uint8_t>;

// The simulator's port, remembering the speed of every opening.
struct SpeedLog : SimSerialPort {
    using SimSerialPort::SimSerialPort;
    SerialError Open(const std::string& path, uint32_t baud) override {
        bauds.push_back(baud);
        return SimSerialPort::Open(path, baud);
    }
    std::vector<uint32_t> bauds;
};

struct SimRig {
    explicit SimRig(Options options = {}) : board(options) {
        auto p = std::make_unique<SpeedLog>(board, &clock);
        port = p.get();
        link = std::make_unique<CUsbIO>(std::move(p), clock);
    }
    ManualClock clock;
    BoardSim board;
    SpeedLog* port;
    std::unique_ptr<CUsbIO> link;
};

Options AtSpeed(int index) {
    Options o;
    o.speed_index = index;
    return o;
}

const uint8_t kAckCheck[3] = {0x03, 0xFE, 0x01};

TEST(SimSpeedSearch, FindsTheBoardAtEachSpeed) {
    // Board speed index -> Connect's answers, in order, the speeds of every
    // opening, and the image written once the board answers.
    const struct {
        int board;
        std::vector<int> answers;
        std::vector<uint32_t> bauds;
        uint16_t image;
    } cases[] = {
        {0, {0}, {115200}, 0x0000},
        {1, {1}, {115200, 625000}, 0x0040},
        {2, {2}, {115200, 625000, 1250000}, 0x0080},
        {3, {0}, {115200}, 0x0000},  // index 3 runs at 115200 as well
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.board);
        SimRig rig(AtSpeed(c.board));
        LogCapture log;
        for (int expected : c.answers) {
            EXPECT_EQ(rig.link->Connect("ttySIM0"), expected);
            EXPECT_EQ(rig.link->IsOpen(), expected >= 0);
        }
        EXPECT_EQ(rig.port->bauds, c.bauds);
        // Each unanswered attempt: one short wait for the acknowledge, and a
        // line that says which speed is tried.
        EXPECT_EQ(rig.clock.slept(), std::vector<uint32_t>(c.bauds.size() - 1, 100));
        size_t tried = 0;
        for (size_t at = 0;
             (at = log.out().find("Looking for the board at ", at)) != std::string::npos; ++at)
            ++tried;
        EXPECT_EQ(tried, c.bauds.size());
        EXPECT_NE(log.out().find("Looking for the board at " + std::to_string(c.bauds.back()) +
                                 " baud: acknowledge check, answer awaited 100 ms.\n"),
                  std::string::npos);
        // The board heard the check and the image, nothing else.
        ASSERT_EQ(rig.board.frames().size(), 2u);
        EXPECT_EQ(rig.board.frames()[0].bytes, Bytes(kAckCheck, kAckCheck + 3));
        EXPECT_EQ(rig.board.frames()[1].bytes, fr::RamWord(0, c.image));
        EXPECT_EQ(rig.board.RamWord(0), c.image);
    }
}

TEST(SimSpeedSearch, ASilentBoardIsAskedTwiceAtEachSpeed) {
    // One answer missed at any speed is ridden over by the second round.
    Options o;
    o.silent_after = 0;
    SimRig rig(o);
    rig.link->set_system_register(0x0040);  // connected at 625000 before
    EXPECT_EQ(rig.link->Connect("ttySIM0"), -1);
    EXPECT_EQ(rig.port->bauds,
              (std::vector<uint32_t>{625000, 1250000, 115200, 625000, 1250000, 115200}));
    EXPECT_EQ(rig.clock.slept(), std::vector<uint32_t>(6, 100));
    EXPECT_EQ(rig.board.frames().size(), 2u);  // the checks sent at its speed
}

TEST(SimFaults, UnansweredFrameCostsTwoReadTimeoutsAndOnePause) {
    // A board that never answers, and one that sends three bytes and falls silent.
    for (bool partial : {false, true}) {
        Options o;
        if (partial)
            o.partial_reply_at = 1;
        else
            o.silent_after = 0;
        SimRig rig(o);
        ASSERT_EQ(rig.link->OpenPort("ttySIM0"), 0);
        LogCapture log;
        EXPECT_FALSE(rig.link->Transfer(kAckCheck, 3));
        EXPECT_EQ(rig.clock.slept(), (std::vector<uint32_t>{1000, 10, 1000}));
        const std::string line =
            std::string("Receive data is abnormal.(1) res[0]=") + (partial ? "4" : "0") + " \n";
        EXPECT_EQ(log.err(), line + line);
        EXPECT_EQ(log.out(), ">> 03 FE 01\r\n");         // no reply dump
        EXPECT_FALSE(rig.link->Transfer(kAckCheck, 3));  // it stays silent
    }
}

TEST(SimFaults, NackIsReportedAndTheNextCommandGoesThrough) {
    Options o;
    o.nack_at = 2;
    SimRig rig(o);
    ASSERT_EQ(rig.link->OpenPort("ttySIM0"), 0);
    const uint8_t data[2] = {0x01, 0x00};
    EXPECT_TRUE(rig.link->WriteRam(0, data, 2));
    LogCapture log;
    EXPECT_FALSE(rig.link->WriteRam(0, data, 2));
    EXPECT_EQ(log.err(), "The board refused the command (NACK).\n");
    EXPECT_EQ(log.out(), ">> 09 00 02 00 00 00 01 00 0C\r\n<< 04 00 15 19\r\n");
    EXPECT_TRUE(rig.link->WriteRam(0, data, 2));
}

TEST(SimFaults, SlowRepliesWithinOneRetryStillCount) {
    for (auto [delay, ok, failures] :
         {std::tuple{500u, true, 0}, {1500u, true, 1}, {2500u, false, 2}}) {
        Options o;
        o.reply_delay_ms = delay;
        SimRig rig(o);
        ASSERT_EQ(rig.link->OpenPort("ttySIM0"), 0);
        LogCapture log;
        EXPECT_EQ(rig.link->Transfer(kAckCheck, 3), ok) << delay;
        std::string lines;
        for (int i = 0; i < failures; ++i) lines += "Receive data is abnormal.(1) res[0]=0 \n";
        EXPECT_EQ(log.err(), lines) << delay;
    }
}

TEST(SimFaults, ALateReplyIsNotTakenForTheNextCommandsAnswer) {
    Options o;
    o.reply_delay_ms = 2500;  // beyond both read time-outs
    SimRig rig(o);
    ASSERT_EQ(rig.link->OpenPort("ttySIM0"), 0);
    LogCapture log;
    EXPECT_FALSE(rig.link->Transfer(kAckCheck, 3));
    rig.clock.Advance(1000);  // the first reply has arrived by now
    EXPECT_FALSE(rig.link->Transfer(kAckCheck, 3));
    EXPECT_EQ(log.out(), ">> 03 FE 01\r\n>> 03 FE 01\r\n");
}

TEST(SimFaults, ABoardThatFailsTheImageWriteIsNotConnected) {
    // The check is acknowledged; the image write that follows is not.
    const struct {
        const char* what;
        std::optional<uint32_t> Options::*fault;
        uint32_t frame;
        int answer;
        size_t frames;  // heard by the board: the third attempt is at another speed
    } cases[] = {
        {"silent", &Options::silent_after, 1, -1, 3},
        {"partial reply", &Options::partial_reply_at, 2, -1, 3},
        {"hung up", &Options::hangup_after, 1, -1, 1},
        // Refused once: the next attempt, at the board's speed, goes through.
        {"NACK", &Options::nack_at, 2, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Options o;
        o.*c.fault = c.frame;
        SimRig rig(o);
        LogCapture log;
        EXPECT_EQ(rig.link->Connect("ttySIM0"), c.answer);
        EXPECT_EQ(rig.link->IsOpen(), c.answer >= 0);
        EXPECT_EQ(rig.board.frames().size(), c.frames);
    }
}

// ---- ROM image run by the board ---------------------------------------------

quenlo::RomContent Robot(int motions) {
    quenlo::RomContent c;
    c.motors = {0, 100, 1, 101, 17, 117, 118};  // servos 0, 1, 2, 3, 34, 35; 37 left out
    const std::vector<int> servos{0, 1, 2, 3, 34, 35};
    for (int m = 0; m < motions; ++m) {
        std::vector<Bytes> frames;
        for (int k = 0; k <= m % 4; ++k) {
            std::vector<uint16_t> positions;
            for (int i = 0; i < 6; ++i)
                positions.push_back(static_cast<uint16_t>(6000 + 100 * m + 10 * k + i));
            frames.push_back(fr::Move(servos, static_cast<uint8_t>(5 + k), positions));
        }
        c.entries.push_back(frames);
    }
    c.interval_ms = 500;
    return c;
}

TEST(SimRomImage, TheBoardReplaysEveryMotionInOrder) {
    SimRig rig(AtSpeed(2));
    ASSERT_EQ(rig.link->Connect("ttySIM0"), 2);
    const quenlo::RomContent content = Robot(6);
    RecordingUi ui;
    LogCapture log;
    ASSERT_TRUE(quenlo::WriteRomImage(ui, *rig.link, content));
    EXPECT_EQ(rig.board.reboot_count(), 1);

    quenlo::sim::RunLimits limits;
    limits.passes = 2;
    const quenlo::sim::RunResult run = rig.board.RunRom(limits);
    ASSERT_TRUE(run.ok) << run.stop_reason;

    // Boot: free, hold, home (the first frame of motion 0); then every motion's
    // frames in order, twice round the loop.
    std::vector<Bytes> expected{fr::AllServos(0x8000, 1), fr::AllServos(0x7FFF, 1),
                                content.entries[0][0]};
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& frames : content.entries)
            expected.insert(expected.end(), frames.begin(), frames.end());
    std::vector<Bytes> played;
    for (const auto& m : run.moves) played.push_back(m.frame);
    EXPECT_EQ(played, expected);

    // The boot program's copies put the table and records where the table says.
    // Servo number -> record address and ICS ID.
    const std::map<int, std::pair<uint16_t, uint8_t>> placed{{0, {0x90, 0}},   {1, {0xA4, 0}},
                                                             {2, {0xB8, 1}},   {3, {0xCC, 1}},
                                                             {34, {0xE0, 17}}, {35, {0xF4, 17}}};
    for (int s = 0; s < 36; ++s) {
        const auto it = placed.find(s);
        EXPECT_EQ(rig.board.RamWord(0x44 + 2 * s), it == placed.end() ? 0xFFFF : it->second.first)
            << s;
        if (it != placed.end()) {
            EXPECT_EQ(rig.board.ram().at(it->second.first + 1u), it->second.second) << s;
        }
    }
    EXPECT_EQ(rig.board.RamWord(0x00F4 + 20), 0);  // no seventh record
    EXPECT_EQ(rig.board.RamWord(0), 0x8003);
}

// ---- Read-back, backup and restore ------------------------------------------

// The ROM read requests among the frames the board heard.
size_t RomReads(const BoardSim& board) {
    return static_cast<size_t>(std::count_if(board.frames().begin(), board.frames().end(),
                                             [](const quenlo::sim::ReceivedFrame& f) {
                                                 return f.bytes.size() == 11 && f.bytes[2] == 0x23;
                                             }));
}

struct Written {
    bool ok;
    std::vector<std::string> lines;
    std::string err;
};

Written Write(SimRig& rig, const quenlo::RomContent& content,
              const quenlo::RomTransferOptions& options = {}) {
    EXPECT_EQ(rig.link->Connect("ttySIM0"), 0);
    RecordingUi ui;
    LogCapture log;
    const bool ok = quenlo::WriteRomImage(ui, *rig.link, content, options);
    return {ok, ui.lines, log.err()};
}

std::vector<std::string> Tail(const std::vector<std::string>& lines, size_t n) {
    return {lines.end() - static_cast<std::ptrdiff_t>(std::min(n, lines.size())), lines.end()};
}

TEST(SimReadBack, EveryWrittenByteIsReadBackBeforeTheReboot) {
    const quenlo::RomContent content = Robot(3);
    {
        SimRig rig;
        const Written t = Write(rig, content);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(
            Tail(t.lines, 6),
            (std::vector<std::string>{"モーション 3 コマンド 3 転送OK\r\n", "ベリファイ中\r\n",
                                      "ベリファイOK\r\n", "転送が終わりました\r\n",
                                      "勝手に実行します\r\n", "このツールを終了してください\r\n"}));
        EXPECT_EQ(rig.board.reboot_count(), 1);
        // Every byte written was read once: program, table, records and slots.
        size_t written = 0;
        for (const auto& range : rig.link->written_rom()) written += range.bytes.size();
        size_t read = 0;
        for (const auto& f : rig.board.frames())
            if (f.bytes.size() == 11 && f.bytes[2] == 0x23) read += f.bytes[9];
        EXPECT_EQ(read, written);
        size_t image = 0;
        for (uint32_t a = 0; a < rig.board.RomImage().size(); ++a) image += rig.board.RomWritten(a);
        EXPECT_EQ(written, image);
    }
    {
        SimRig rig;
        quenlo::RomTransferOptions no_verify;
        no_verify.verify = false;
        const Written t = Write(rig, content, no_verify);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(RomReads(rig.board), 0u);
        EXPECT_EQ(std::count(t.lines.begin(), t.lines.end(), "ベリファイ中\r\n"), 0);
    }
}

TEST(SimReadBack, DifferenceOrLostBoardStopsBeforeTheReboot) {
    const quenlo::RomContent content = Robot(3);
    // The second motion's third byte is stored inverted.
    const uint32_t bad = 0x1B80 + 2;
    const uint8_t wrote = content.entries[1][0][2];
    Options corrupt;
    corrupt.corrupt_rom_at = bad;
    SimRig rig(corrupt);
    const Written t = Write(rig, content);
    EXPECT_FALSE(t.ok);
    char line[96];
    std::snprintf(line, sizeof line, "ベリファイエラー $%06X 書き込み %02X 読み出し %02X\r\n", bad,
                  wrote, static_cast<uint8_t>(~wrote));
    EXPECT_EQ(Tail(t.lines, 3),
              (std::vector<std::string>{"ベリファイ中\r\n", line, "転送が中断しました\r\n"}));
    EXPECT_NE(t.err.find("Verify failed at $001B82"), std::string::npos);
    EXPECT_EQ(rig.board.reboot_count(), 0);

    // A board that stops answering after the first read has been answered:
    // the image cannot be vouched for, so no reboot either.
    SimRig probe;
    Write(probe, content);
    Options lost;
    lost.silent_after =
        static_cast<uint32_t>(std::find_if(probe.board.frames().begin(), probe.board.frames().end(),
                                           [](const auto& f) { return f.bytes[2] == 0x23; }) -
                              probe.board.frames().begin() + 1);
    SimRig silent(lost);
    const Written s = Write(silent, content);
    EXPECT_FALSE(s.ok);
    EXPECT_EQ(Tail(s.lines, 3),
              (std::vector<std::string>{"ベリファイ中\r\n", "ベリファイできませんでした\r\n",
                                        "転送が中断しました\r\n"}));
    EXPECT_EQ(RomReads(silent.board), 2u);
    EXPECT_EQ(silent.board.reboot_count(), 0);
}

TEST(SimReadBack, BoardWithoutReadsStillGetsItsProgram) {
    Options o;
    o.no_read = true;
    SimRig rig(o);
    const Written t = Write(rig, Robot(2));
    EXPECT_TRUE(t.ok);
    EXPECT_EQ(Tail(t.lines, 5),
              (std::vector<std::string>{"ベリファイ中\r\n", "ベリファイできませんでした\r\n",
                                        "転送が終わりました\r\n", "勝手に実行します\r\n",
                                        "このツールを終了してください\r\n"}));
    EXPECT_NE(t.err.find("could not verify"), std::string::npos);
    EXPECT_EQ(RomReads(rig.board), 1u);  // no further reads tried
    EXPECT_EQ(rig.board.reboot_count(), 1);
}

// An earlier program, longer than the one about to be written.
Bytes EarlierRom() {
    SimRig rig;
    Write(rig, Robot(5));
    return rig.board.RomImage();
}

TEST(SimBackup, HoldsTheRomTheImageOverwritesOrNothingIsWritten) {
    const Bytes earlier = EarlierRom();
    const quenlo::RomContent content = Robot(2);
    const uint32_t end = quenlo::RomImageEnd(content);
    ASSERT_LT(end, earlier.size());
    {
        SimRig rig;
        rig.board.LoadRom(earlier);
        Bytes kept;
        quenlo::RomTransferOptions options;
        size_t progress = 0;
        options.backup = [&](const Bytes& rom) { return kept = rom, true; };
        options.progress = [&](size_t done, size_t total) {
            EXPECT_LE(done, total);
            progress = done;
        };
        const Written t = Write(rig, content, options);
        ASSERT_TRUE(t.ok);
        EXPECT_EQ(kept, Bytes(earlier.begin(), earlier.begin() + end));
        EXPECT_EQ(t.lines.at(0), "バックアップ中\r\n");
        EXPECT_EQ(t.lines.at(1), "バックアップOK\r\n");
        EXPECT_GT(progress, 0u);
        // The image ends exactly where the backup does.
        Bytes now = rig.board.RomImage();
        EXPECT_EQ(Bytes(now.begin() + end, now.end()), Bytes(earlier.begin() + end, earlier.end()));
        EXPECT_NE(now[end - 1], 0xFF);
    }
    // Kept nowhere, or not readable: the board hears reads only.
    for (bool readable : {true, false}) {
        Options o;
        o.no_read = !readable;
        SimRig rig(o);
        rig.board.LoadRom(earlier);
        quenlo::RomTransferOptions options;
        options.backup = [](const Bytes&) { return false; };
        const Written t = Write(rig, content, options);
        EXPECT_FALSE(t.ok);
        EXPECT_EQ(Tail(t.lines, 3), (std::vector<std::string>{"バックアップ中\r\n",
                                                              "バックアップできませんでした\r\n",
                                                              "転送しません\r\n"}));
        EXPECT_EQ(rig.board.frames().size(), 2 + RomReads(rig.board));  // check, image, reads
        EXPECT_EQ(rig.board.RomImage(), earlier);
    }
}

TEST(SimRestore, WritesTheSavedImageBackExactlyOrRefusesIt) {
    const Bytes earlier = EarlierRom();
    SimRig rig;
    Write(rig, Robot(1));
    // A restore of the earlier image brings it back whole, then reboots.
    RecordingUi ui;
    LogCapture log;
    ASSERT_TRUE(quenlo::RestoreRomImage(ui, *rig.link, earlier));
    EXPECT_EQ(rig.board.RomImage(), earlier);
    EXPECT_EQ(rig.board.reboot_count(), 2);
    const std::string written =
        "ROMイメージ " + std::to_string(earlier.size()) + " バイト転送OK\r\n";
    EXPECT_EQ(ui.lines, (std::vector<std::string>{written, "ベリファイ中\r\n", "ベリファイOK\r\n",
                                                  "転送が終わりました\r\n", "勝手に実行します\r\n",
                                                  "このツールを終了してください\r\n"}));
    // In writes of 248 bytes (the transfer before wrote none that long).
    EXPECT_EQ(std::count_if(rig.board.frames().begin(), rig.board.frames().end(),
                            [](const auto& f) { return f.bytes.size() == 255; }),
              static_cast<std::ptrdiff_t>(earlier.size() / 248));

    const size_t limit = quenlo::board::RomLayoutEnd();
    EXPECT_EQ(limit, 0x21B80u);  // 33 slots fit the play loop
    for (const auto& [image, line] :
         {std::pair{Bytes{}, std::string("ROMイメージが空のため転送できません\r\n")},
          {Bytes(limit + 2, 0xFF), "ROMイメージが 2 バイト超過するため転送できません\r\n"}}) {
        const size_t frames = rig.board.frames().size();
        ui.lines.clear();
        EXPECT_FALSE(quenlo::RestoreRomImage(ui, *rig.link, image));
        EXPECT_EQ(ui.lines, std::vector<std::string>{line});
        EXPECT_EQ(rig.board.frames().size(), frames);
    }
    // The largest image there can be is accepted.
    ui.lines.clear();
    EXPECT_TRUE(quenlo::RestoreRomImage(ui, *rig.link, Bytes(limit, 0xFF)));
}

}  // namespace
