// SIGINT and SIGTERM sent to quenlo-cli while it works with quenlo-sim, at a
// point read from its output: exit statuses, last lines, what reached the
// board, and the files left behind.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "../sim/sim_process.h"

using quenlo::sim::test::ReadFile;
using quenlo::sim::test::RunCommand;
using quenlo::sim::test::SimProcess;
using quenlo::sim::test::TempDir;
using quenlo::sim::test::TraceFrames;

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kExamples = QUENLO_EXAMPLES_DIR;
const std::string kRobot = kExamples + "/robot.bac";

// quenlo-cli with its standard output read line by line; standard error goes
// to a file.
struct Cli {
    SimProcess process{"/bin/sh"};
    std::string err;
    Cli(const std::string& arguments, std::string err_file) : err(std::move(err_file)) {
        process.Spawn({"-c", "exec " + std::string(QUENLO_CLI) + " " + arguments + " 2>" + err});
    }
    // Reads up to the first line that starts with `prefix`; false at the end.
    bool Await(const std::string& prefix) {
        for (std::string line = process.ReadLine(20000); !line.empty();
             line = process.ReadLine(20000))
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    }
    // The console lines of the rest of the output (frames and progress left out).
    std::string Rest() {
        std::string out;
        for (std::string line = process.ReadLine(20000); !line.empty();
             line = process.ReadLine(20000))
            if (line.back() == '\r' && line.rfind(">>", 0) != 0 && line.rfind("<<", 0) != 0 &&
                line.rfind("  ", 0) != 0)
                out += line + "\n";
        return out;
    }
    std::string Errors() const {
        const Bytes bytes = ReadFile(err);
        return std::string(bytes.begin(), bytes.end());
    }
    void Send(int signal) { process.Signal(signal); }
};

bool EndsWith(const std::string& out, const std::string& tail) {
    return out.size() >= tail.size() &&
           out.compare(out.size() - tail.size(), tail.size(), tail) == 0;
}

// The last line of a text, without its line end.
std::string LastLine(const std::string& text) {
    const size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) return {};
    const size_t start = text.rfind('\n', end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end + 1 - (start == std::string::npos ? 0 : start + 1));
}

// The release, the last bytes on the line: the system register written, then
// every servo set free. (The board may take them as one chunk it drops when the
// program closing the port has already put the line's old speed back.)
bool EndsWithRelease(const std::vector<Bytes>& frames) {
    Bytes line;
    for (const Bytes& f : frames) line.insert(line.end(), f.begin(), f.end());
    if (line.size() < 88) return false;
    const Bytes ram(line.end() - 88, line.end() - 79), free(line.end() - 79, line.end());
    return ram[0] == 9 && ram[1] == 0x00 && ram[2] == 0x02 && free[0] == 79 && free[1] == 0x10 &&
           free[7] == 1 && free[8] == 0x00 && free[9] == 0x80;
}

// The trace grows while the board reads what is still on the line.
std::vector<Bytes> FramesWithRelease(const std::string& trace) {
    std::vector<Bytes> frames;
    for (int i = 0; i < 500 && !EndsWithRelease(frames = TraceFrames(trace)); ++i) usleep(10'000);
    return frames;
}

TEST(CliSignals, PlayStopsReleasesAndSaysSo) {
    const std::string first = "再生を中止します: ";
    const struct {
        std::vector<int> signals;
        std::vector<std::string> sim;
        int status;
        std::string last;
    } cases[] = {
        // The move on its way completes, the servos are released.
        {{SIGINT}, {}, 130, "モーター解放中\r\nモーション再生終了\r\n再生を中止しました\r\n"},
        {{SIGTERM}, {}, 143, "モーター解放中\r\nモーション再生終了\r\n再生を中止しました\r\n"},
        // A board silent from the first motion command: a second signal
        // cuts the wait for its answer, and the release still goes out.
        {{SIGINT, SIGINT},
         {"--silent-after", "35"},
         130,
         "モーター解放中\r\nモーション再生終了\r\n"
         "再生を中止しました: モーター解放を送りました (応答は待っていません)\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signals.size() * 1000 + c.signals[0]);
        TempDir dir;
        SimProcess sim(QUENLO_SIM_PROGRAM);
        std::vector<std::string> sim_args = c.sim;
        sim_args.insert(sim_args.end(), {"--trace", dir / "trace"});
        const std::string pty = sim.Start(sim_args);
        Cli cli("play --port " + pty + " --loop " + kRobot + " " + kExamples + "/bow.tra",
                dir / "err");
        ASSERT_TRUE(cli.Await("モーション #0 再生"));
        cli.Send(c.signals[0]);
        // A second signal sent before the first was taken would merge with it.
        if (c.signals.size() > 1) {
            ASSERT_TRUE(cli.Await(first));
            cli.Send(c.signals[1]);
        }
        const std::string out = cli.Rest();
        EXPECT_EQ(cli.process.Wait(), c.status);
        EXPECT_TRUE(EndsWith(out, c.last)) << out;
        // The last line is a failure's: standard error has it too.
        EXPECT_EQ(LastLine(cli.Errors()), "quenlo-cli: " + LastLine(out)) << cli.Errors();
        EXPECT_TRUE(EndsWithRelease(FramesWithRelease(dir / "trace")));
        sim.Stop();
    }
}

// One Ctrl-C: the transfer goes on to the read-back and the reboot. Two: it
// stops after a block, and the console says how to restore the board.
TEST(CliSignals, RomWritesFinishOrSayHowToRestore) {
    TempDir dir;
    const std::string cli = QUENLO_CLI;
    ASSERT_EQ(RunCommand(cli + " rom " + kRobot + " " + kExamples + "/bow.tra " + kExamples +
                         "/wave.tra -o " + dir / "image"),
              0);
    ASSERT_EQ(RunCommand(cli + " rom " + kRobot + " " + kExamples + "/squat.tra " + kExamples +
                         "/walk.tra " + kExamples + "/bow.tra -o " + dir / "earlier"),
              0);
    const Bytes image = ReadFile(dir / "image"), earlier = ReadFile(dir / "earlier");
    ASSERT_GT(earlier.size(), image.size());
    const std::string finish = "転送は最後まで続けます: ";
    {
        SimProcess sim(QUENLO_SIM_PROGRAM);
        const std::string pty = sim.Start(
            {"--rom-in", dir / "earlier", "--rom-out", dir / "once", "--exit-after-reboot"});
        Cli cli("rom-write --port " + pty + " " + dir / "image", dir / "err");
        ASSERT_TRUE(cli.Await("転送をはじめます"));
        cli.Send(SIGINT);
        const std::string out = cli.Rest();
        EXPECT_EQ(cli.process.Wait(), 130);
        EXPECT_NE(out.find(finish), std::string::npos) << out;
        EXPECT_NE(out.find("ベリファイOK\r\n転送が終わりました\r\n"), std::string::npos) << out;
        EXPECT_TRUE(EndsWith(out, "勝手に実行します\r\nこのツールを終了してください\r\n")) << out;
        EXPECT_EQ(sim.Wait(), 0);  // it exits once rebooted
        const Bytes rom = ReadFile(dir / "once");
        ASSERT_GE(rom.size(), image.size());
        EXPECT_EQ(Bytes(rom.begin(), rom.begin() + image.size()), image);
    }
    {
        SimProcess sim(QUENLO_SIM_PROGRAM);
        const std::string pty =
            sim.Start({"--rom-in", dir / "earlier", "--rom-out", dir / "twice"});
        Cli cli("rom " + kRobot + " " + kExamples + "/bow.tra " + kExamples + "/wave.tra --port " +
                    pty + " --backup " + dir / "backup",
                dir / "err");
        ASSERT_TRUE(cli.Await("転送をはじめます"));
        cli.Send(SIGINT);
        ASSERT_TRUE(cli.Await(finish));
        cli.Send(SIGINT);
        const std::string out = cli.Rest();
        EXPECT_EQ(cli.process.Wait(), 130);
        const std::string restore =
            "元に戻すには: quenlo-cli rom-write --port " + pty + " " + dir / "backup";
        EXPECT_TRUE(EndsWith(
            out, "転送を中止しました: ボードのROMのプログラムは不完全です\r\n" + restore + "\r\n"))
            << out;
        EXPECT_TRUE(EndsWith(cli.Errors(), "quenlo-cli: " + restore + "\n")) << cli.Errors();
        EXPECT_EQ(out.find("システムリブート"), std::string::npos) << out;
        EXPECT_EQ(sim.Stop(), 0);
        // Not the new program; the earlier one past the new one's end.
        const Bytes rom = ReadFile(dir / "twice");
        ASSERT_GE(rom.size(), earlier.size());
        EXPECT_NE(Bytes(rom.begin(), rom.begin() + image.size()), image);
        EXPECT_EQ(Bytes(rom.begin() + image.size(), rom.begin() + earlier.size()),
                  Bytes(earlier.begin() + image.size(), earlier.end()));
        EXPECT_EQ(ReadFile(dir / "backup"), Bytes(earlier.begin(), earlier.begin() + image.size()));
    }
}

// Reading and connecting stop at once; no temporary file is left.
TEST(CliSignals, ReadAndConnectStopAtOnce) {
    TempDir dir, err;
    SimProcess sim(QUENLO_SIM_PROGRAM);
    const std::string pty = sim.Start({});
    Cli read("rom-read --port " + pty + " -o " + dir / "rom.bin", err / "read");
    ASSERT_TRUE(read.Await(pty + " 接続成功"));
    read.Send(SIGINT);
    read.Rest();
    EXPECT_EQ(read.process.Wait(), 130);
    EXPECT_TRUE(EndsWith(read.Errors(), "quenlo-cli rom-read: stopped by SIGINT; " +
                                            dir / "rom.bin" + " is not written\n"))
        << read.Errors();
    DIR* folder = opendir((dir / "").c_str());
    ASSERT_TRUE(folder);
    std::vector<std::string> left;
    while (const dirent* e = readdir(folder))
        if (e->d_name[0] != '.') left.emplace_back(e->d_name);
    closedir(folder);
    EXPECT_EQ(left, std::vector<std::string>{});
    sim.Stop();

    SimProcess silent(QUENLO_SIM_PROGRAM);
    const std::string quiet = silent.Start({"--silent-after", "0"});
    Cli connect("connect --port " + quiet, err / "connect");
    ASSERT_TRUE(connect.Await("Looking for the board"));
    connect.Send(SIGTERM);
    connect.Rest();
    EXPECT_EQ(connect.process.Wait(), 143);
    EXPECT_TRUE(EndsWith(connect.Errors(), "quenlo-cli connect: stopped by SIGTERM\n"))
        << connect.Errors();
}

}  // namespace
