// quenlo-cli play against quenlo-sim on a pseudo-terminal: what the board's
// trace shows arriving, in order, and the console lines; SIGTERM as the stop.
#include <gtest/gtest.h>

#include <regex>

#include "../sim/sim_process.h"
#include "playback_rig.h"

using playback_test::Bytes;
using playback_test::CommandsOf;
using playback_test::IsRelease;
using playback_test::TestFiles;
using quenlo::sim::test::SimProcess;
using quenlo::sim::test::TraceFrames;

namespace {

// The console lines of quenlo-cli's output (hex dumps and link progress left
// out), up to the end or to the first line that starts with `until`.
std::string Console(SimProcess& cli, const std::string& until = {}) {
    std::string console;
    for (std::string line = cli.ReadLine(10000); !line.empty(); line = cli.ReadLine(10000)) {
        if (line.back() != '\r' || line.rfind(">>", 0) == 0 || line.rfind("<<", 0) == 0 ||
            line.rfind("  ", 0) == 0 || line.rfind(" wait loss", 0) == 0)
            continue;
        console += line + "\n";
        if (!until.empty() && line.rfind(until, 0) == 0) break;
    }
    return console;
}

struct CliRun {
    TestFiles files;
    std::string trace = files.dir + "trace";
    SimProcess sim{QUENLO_SIM_PROGRAM};
    SimProcess cli{QUENLO_CLI};
    std::unique_ptr<CDataInfo> data;

    explicit CliRun(std::vector<std::string> options) {
        quenlo::LogCapture quiet;
        playback_test::PlayUi ui;
        data = quenlo::RunConversion(ui, files.bac, files.motions, 0);
        const std::string pty = sim.Start({"--trace", trace});
        std::vector<std::string> args = {"play", "--port", pty, "--rate", "0", files.bac};
        args.insert(args.end(), files.motions.begin(), files.motions.end());
        args.insert(args.end(), options.begin(), options.end());
        cli.Spawn(args);
    }
    std::vector<Bytes> Received() {
        sim.Stop();
        return TraceFrames(trace);
    }
};

TEST(CliPlay, PlayAllSendsEveryCommandInOrderThenReleases) {
    CliRun run({"--all", "--interval", "1"});
    const std::string console = Console(run.cli);
    EXPECT_EQ(run.cli.Wait(), 0);
    // A loaded machine can make a motion run late, which its own line then says.
    const std::string late = "( 警告: 再生に [^\r\n]*\r\n)?";
    const std::regex expected(
        "BAC解析中\r\n[\\s\\S]*変換成功\r\n.* 接続成功\r\nRCB-4HV初期化中\r\n"
        "モーション #0 再生\r\n モーターコマンド数 5\r\n frame=11 time=\\d+\"\\d\\d\r\n" +
        late + "モーション #1 再生\r\n モーターコマンド数 2\r\n frame=5 time=\\d+\"\\d\\d\r\n" +
        late + " end \\d+\"\\d\\d\r\nモーター解放中\r\nモーション再生終了\r\n");
    EXPECT_TRUE(std::regex_match(console, expected)) << console;

    const std::vector<Bytes> received = run.Received();
    std::vector<Bytes> commands = CommandsOf(*run.data, 0);
    for (const Bytes& c : CommandsOf(*run.data, 1)) commands.push_back(c);
    ASSERT_GE(received.size(), commands.size() + 2);
    EXPECT_EQ(std::vector<Bytes>(received.end() - 2 - commands.size(), received.end() - 2),
              commands);
    EXPECT_TRUE(IsRelease(received.end()[-2], received.end()[-1]));
}

TEST(CliPlay, SigtermStopsALoopAndReleasesTheServos) {
    CliRun run({"--motion", "1", "--loop"});
    // Stop once the motion has played at least once; the command on its way
    // completes, then the servos are released.
    Console(run.cli, " frame=5 ");
    EXPECT_EQ(run.cli.Stop(), 143);
    EXPECT_TRUE(Console(run.cli).ends_with(
        "\r\nモーター解放中\r\nモーション再生終了\r\n再生を中止しました\r\n"));
    const std::vector<Bytes> received = run.Received();
    ASSERT_GE(received.size(), 4u);
    EXPECT_TRUE(IsRelease(received.end()[-2], received.end()[-1]));
    const std::vector<Bytes> m1 = CommandsOf(*run.data, 1);
    EXPECT_TRUE(received.end()[-3] == m1[0] || received.end()[-3] == m1[1]);
}

TEST(CliPlay, ExitsWithOneWhenItCannotStart) {
    TestFiles files;
    SimProcess cli(QUENLO_CLI);
    cli.Spawn({"play", "--port", "/nonexistent/ttyQUENLO", files.bac, files.motions[0]});
    EXPECT_TRUE(Console(cli).ends_with(
        "変換成功\r\n/nonexistent/ttyQUENLO 接続失敗\r\nRCB-4HVと通信が確立していません\r\n"));
    EXPECT_EQ(cli.Wait(), 1);
}

// A closed standard output is never the board's line, and a full one is a failure.
TEST(CliPlay, ClosedOrFullStandardOutput) {
    TestFiles files;
    SimProcess sim(QUENLO_SIM_PROGRAM);
    const std::string pty = sim.Start({"--trace", files.dir + "trace"});
    const std::string cli = QUENLO_CLI;
    std::string said;
    EXPECT_EQ(
        quenlo::sim::test::RunCommand("{ " + cli + " connect --port " + pty + " >&-; }", &said), 0)
        << said;
    EXPECT_EQ(quenlo::sim::test::RunCommand("{ " + cli + " play --port " + pty + " " + files.bac +
                                                " " + files.motions[0] + " >/dev/full; }",
                                            &said),
              1);
    EXPECT_NE(said.find("quenlo-cli play: cannot write the output: "), std::string::npos) << said;
    // Every frame the board received is a command: no log text reached the line.
    for (const Bytes& frame : TraceFrames(files.dir + "trace"))
        EXPECT_EQ(frame.size(), frame.empty() ? 0u : frame[0]);
}

// A board that answers slower than the rate stretches the motion: the console
// says by how much and why, once per motion.
TEST(CliPlay, LateMotionIsReported) {
    TestFiles files;
    SimProcess sim(QUENLO_SIM_PROGRAM);
    const std::string pty = sim.Start({"--reply-delay", "60"});
    SimProcess cli(QUENLO_CLI);
    cli.Spawn({"play", "--port", pty, "--rate", "0", files.bac, files.motions[0]});
    const std::string console = Console(cli);
    EXPECT_EQ(cli.Wait(), 0);
    const size_t warning = console.find(" 警告: 再生に ");
    ASSERT_NE(warning, std::string::npos) << console;
    EXPECT_NE(console.find(" かかりました (設計 0\"11): "
                           "ボードの応答が再生レートの周期より遅いことが主な原因です\r\n",
                           warning),
              std::string::npos)
        << console;
    EXPECT_EQ(console.find(" 警告: ", warning + 1), std::string::npos);
}

}  // namespace
