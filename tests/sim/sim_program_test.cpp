// quenlo-sim end to end: the program on a pty, driven through the system
// serial port as a client would drive the board.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "board_sim.h"
#include "frames.h"
#include "quenlo/platform.h"
#include "sim_process.h"

namespace quenlo::sim {
namespace {

using test::Bytes;
using test::ReadFile;
using test::SimProcess;
using test::TempDir;

// Sends a frame and collects the reply until `want` bytes or a time-out.
Bytes Exchange(SerialPort& port, const Bytes& frame, size_t want = 4, int timeout_ms = 1000) {
    EXPECT_EQ(port.Write(frame.data(), frame.size(), 1000), static_cast<long>(frame.size()));
    Bytes reply;
    uint8_t b = 0;
    while (reply.size() < want && port.ReadByte(b, timeout_ms) == 1) reply.push_back(b);
    return reply;
}

const Bytes kCheck = {0x03, 0xFE, 0x01};

TEST(SimProgram, AnswersOnlyAtItsOwnSpeed) {
    const uint32_t speeds[3] = {115200, 625000, 1250000};
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(index);
        SimProcess sim(QUENLO_SIM_EXE);
        std::string path = sim.Start({"--speed-index", std::to_string(index)});
        ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
        auto port = MakeSystemSerialPort();
        for (int line = 0; line < 3; ++line) {
            ASSERT_EQ(port->Open(path, speeds[line]), SerialError::None);
            if (line == index)
                EXPECT_EQ(Exchange(*port, kCheck), test::Ack(0xFE));
            else
                EXPECT_EQ(Exchange(*port, kCheck, 4, 100), Bytes{});
            port->Close();
        }
        EXPECT_EQ(sim.Stop(), 0);
    }
}

TEST(SimProgram, ServesSessionsInTurnAndWritesTheRomWhenStopped) {
    TempDir dir;
    SimProcess sim(QUENLO_SIM_EXE);
    std::string path = sim.Start(
        {"--link", dir / "board", "--rom-out", dir / "rom.bin", "--trace", dir / "trace.jsonl"});
    ASSERT_FALSE(path.empty());
    auto port = MakeSystemSerialPort();
    ASSERT_EQ(port->Open(dir / "board", 115200), SerialError::None);
    EXPECT_EQ(Exchange(*port, test::RomWrite(0x0000, {1, 2, 3})), test::Ack(0x00));
    port->Close();
    ASSERT_EQ(port->Open(dir / "board", 115200), SerialError::None);
    EXPECT_EQ(Exchange(*port, test::RomWrite(0x0010, {9})), test::Ack(0x00));
    port->Close();
    EXPECT_EQ(sim.Stop(), 0);

    Bytes expected = {1, 2, 3};
    expected.resize(0x10, 0xFF);
    expected.push_back(9);
    EXPECT_EQ(ReadFile(dir / "rom.bin"), expected);
    std::ifstream trace(dir / "trace.jsonl");
    std::string line;
    std::vector<std::string> lines;
    while (std::getline(trace, line)) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].rfind("{\"t_us\": ", 0), 0u);
    EXPECT_NE(
        lines[1].find(R"("rx": "08 00 32 10 00 00 09 53", "action": "rom write $000010+1, ack"})"),
        std::string::npos)
        << lines[1];
    struct stat st {};
    EXPECT_NE(lstat((dir / "board").c_str(), &st), 0);  // link removed at exit
}

TEST(SimProgram, InjectedFaultsReachTheLine) {
    SimProcess sim(QUENLO_SIM_EXE);
    std::string path = sim.Start({"--nack-at", "1", "--partial-reply-at", "2"});
    auto port = MakeSystemSerialPort();
    ASSERT_EQ(port->Open(path, 115200), SerialError::None);
    EXPECT_EQ(Exchange(*port, kCheck), test::Nack(0xFE));
    EXPECT_EQ(Exchange(*port, kCheck, 4, 200), (Bytes{0x04, 0xFE, 0x06}));
    EXPECT_EQ(Exchange(*port, kCheck, 4, 100), Bytes{});
    EXPECT_EQ(sim.Stop(), 0);
}

TEST(SimProgram, HangsUpAfterTheGivenFrame) {
    SimProcess sim(QUENLO_SIM_EXE);
    std::string path = sim.Start({"--hangup-after", "1", "--reply-delay", "20"});
    auto port = MakeSystemSerialPort();
    ASSERT_EQ(port->Open(path, 115200), SerialError::None);
    EXPECT_EQ(Exchange(*port, kCheck), test::Ack(0xFE));
    uint8_t b = 0;
    EXPECT_EQ(port->ReadByte(b, 3000), -1);
    EXPECT_EQ(sim.Wait(), 0);
}

// A boot program with a one-motion play loop, stored over the line.
test::RomProgram PlayOneMotion(const Bytes& f0, const Bytes& f1) {
    test::RomProgram p;
    p.Put(test::RamWord(0x0000, 0x0010));  // 15 ms frames
    const uint32_t loop = p.here();
    p.Wait(2).Put(test::Call(0x0B80)).Put(test::Jump(loop));
    p.At(0x0B80).Put(f0).Put(f1).Put(test::Return());
    return p;
}

TEST(SimProgram, ReplaysItsRomAfterTheReboot) {
    const Bytes f0 = test::Move({0, 1}, 20, {7000, 8000});
    const Bytes f1 = test::Move({1}, 4, {7600});
    SimProcess sim(QUENLO_SIM_EXE);
    std::string path = sim.Start({"--run-rom", "--passes", "2"});
    auto port = MakeSystemSerialPort();
    ASSERT_EQ(port->Open(path, 115200), SerialError::None);
    for (const Bytes& cmd : PlayOneMotion(f0, f1).Commands())
        ASSERT_EQ(Exchange(*port, cmd), test::Ack(0x00));
    EXPECT_EQ(Exchange(*port, test::Reboot()), test::Ack(0x00));

    // 200 ms wait, 20 x 15 ms, 4 x 15 ms, and round again.
    EXPECT_EQ(sim.ReadLine(), "move t=200ms servos=0000000003 speed=20 pos=7000,8000");
    EXPECT_EQ(sim.ReadLine(), "move t=500ms servos=0000000002 speed=4 pos=7600");
    EXPECT_EQ(sim.ReadLine(), "move t=760ms servos=0000000003 speed=20 pos=7000,8000");
    EXPECT_EQ(sim.ReadLine(), "move t=1060ms servos=0000000002 speed=4 pos=7600");
    EXPECT_EQ(sim.ReadLine(), "stop t=1120ms moves=4: 2 passes");
    EXPECT_EQ(sim.Wait(), 0);
}

TEST(SimProgram, ReplaysAnImageFileWithoutATerminal) {
    TempDir dir;
    const Bytes image = PlayOneMotion(test::Move({4}, 1, {5000}), test::Return()).Image();
    std::ofstream(dir / "image.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));

    SimProcess sim(QUENLO_SIM_EXE);
    sim.Spawn({"--rom-in", dir / "image.bin", "--run-rom"});
    EXPECT_EQ(sim.ReadLine(), "move t=200ms servos=0000000010 speed=1 pos=5000");
    EXPECT_EQ(sim.ReadLine(), "stop t=215ms moves=1: 1 passes");
    EXPECT_EQ(sim.Wait(), 0);

    SimProcess broken(QUENLO_SIM_EXE);
    std::ofstream(dir / "erased.bin", std::ios::binary) << std::string(16, '\xFF');
    broken.Spawn({"--rom-in", dir / "erased.bin", "--run-rom"});
    EXPECT_EQ(broken.ReadLine(), "stop t=0ms moves=0: erased ROM executed at $000000");
    EXPECT_EQ(broken.Wait(), 1);
}

TEST(SimProgram, RefusesFilesItCannotUseBeforeItStarts) {
    TempDir dir;
    const std::string fifo = dir / "fifo.bin", keep = dir / "keep.txt";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(keep) << "mine";
    const std::string big = dir / "big.bin";
    std::ofstream(big) << std::string(kRomSize + 1, '\xFF');
    const std::string sim = QUENLO_SIM_EXE;
    const struct {
        std::string args;
        std::string message;
    } cases[] = {
        // Read as a regular file and only up to the ROM's size: a folder once
        // aborted it, /dev/zero filled the memory and a FIFO blocked it.
        {"--rom-in " + dir / "", "cannot read " + dir / "" + ": a directory"},
        {"--rom-in /dev/zero", "cannot read /dev/zero: not a regular file"},
        {"--rom-in " + big, big + " is larger than the ROM (262144 bytes)"},
        {"--rom-in " + fifo, "cannot read " + fifo + ": not a regular file"},
        // Told at start, not after a session.
        {"--rom-out " + dir / "missing/rom.bin",
         "cannot write " + dir / "missing/rom.bin" + ": No such file or directory"},
        // --link once removed whatever stood at the path.
        {"--link " + keep, keep + " exists and is not a link to a terminal"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args);
        std::string out;
        EXPECT_EQ(test::RunCommand("timeout 10 " + sim + " " + c.args, &out), 1);
        EXPECT_EQ(out, "quenlo-sim: " + c.message + "\n");
    }
    EXPECT_EQ(ReadFile(keep), (Bytes{'m', 'i', 'n', 'e'}));

    // A link left by an earlier run is replaced, and removed at the end.
    ASSERT_EQ(symlink("/dev/pts/999999", (dir / "board").c_str()), 0);
    SimProcess linked(QUENLO_SIM_EXE);
    const std::string path = linked.Start({"--link", dir / "board"});
    char target[64] = {};
    ASSERT_GT(readlink((dir / "board").c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(target, path);
    EXPECT_EQ(linked.Stop(), 0);
    struct stat st {};
    EXPECT_NE(lstat((dir / "board").c_str(), &st), 0);
}

TEST(SimProgram, RefusesBadOptions) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"--speed-index", "3"}, {"--silent-after"}, {"--nack-at", "x"}, {"--frobnicate"}}) {
        SimProcess sim(QUENLO_SIM_EXE);
        sim.Spawn(args);
        EXPECT_EQ(sim.ReadLine(), "");  // no terminal was announced
        EXPECT_EQ(sim.Wait(), 2);
    }
}

}  // namespace
}  // namespace quenlo::sim
