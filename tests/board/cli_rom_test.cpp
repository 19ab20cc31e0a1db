// quenlo-cli rom -o and connect, run as a program: the saved image, loaded into a
// fresh simulated board, plays the converted motions.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "../sim/sim_process.h"
#include "board_sim.h"
#include "conversion.h"
#include "scripted_port.h"

using board_test::RecordingUi;
using quenlo::sim::test::ReadFile;
using quenlo::sim::test::SimProcess;
using quenlo::sim::test::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kExamples = QUENLO_EXAMPLES_DIR;

// Exit status; `output` (when given) gets standard output and error together.
int RunCli(const std::string& arguments, std::string* output = nullptr) {
    return quenlo::sim::test::RunCommand(std::string(QUENLO_CLI) + " " + arguments, output);
}

TEST(CliRom, ImageFilePlaysTheConvertedMotions) {
    const std::vector<std::string> motions = {kExamples + "/bow.tra", kExamples + "/wave.tra"};
    TempDir dir;
    ASSERT_EQ(RunCli("rom " + kExamples + "/robot.bac " + motions[0] + " " + motions[1] +
                     " --interval 2 -o " + dir / "image"),
              0);
    const Bytes image = ReadFile(dir / "image");

    RecordingUi ui;
    quenlo::LogCapture quiet;
    auto data = quenlo::RunConversion(ui, kExamples + "/robot.bac", motions, quenlo::kDefaultRate);
    ASSERT_TRUE(data);
    const quenlo::RomContent content = quenlo::MakeRomContent(*data, 2, 500);
    ASSERT_EQ(content.entries.size(), 2u);

    // The image ends with the RETURN of the last slot; unwritten bytes are 0xFF.
    size_t last_slot = 0;
    for (const Bytes& f : content.entries[1]) last_slot += f.size();
    ASSERT_EQ(image.size(), 0x1B80 + last_slot + 3);
    EXPECT_EQ(Bytes(image.end() - 3, image.end()), (Bytes{0x03, 0x0D, 0x10}));

    quenlo::sim::BoardSim board;
    board.LoadRom(image);
    const quenlo::sim::RunResult run = board.RunRom({});
    ASSERT_TRUE(run.ok) << run.stop_reason;
    std::vector<Bytes> played;
    for (size_t i = 3; i < run.moves.size(); ++i) played.push_back(run.moves[i].frame);
    std::vector<Bytes> expected;
    for (const auto& frames : content.entries)
        expected.insert(expected.end(), frames.begin(), frames.end());
    EXPECT_EQ(played, expected);
    EXPECT_EQ(run.moves.at(2).frame, content.entries[0][0]);  // the home pose
}

// quenlo-sim on a pseudo-terminal: the serial layer, the speed search and the
// transfer end to end. The board saves its ROM when it reboots and exits.
TEST(CliRom, TransferOverAPseudoTerminalWritesTheOfflineImage) {
    const std::string motions = kExamples + "/bow.tra " + kExamples + "/squat.tra";
    TempDir dir;
    ASSERT_EQ(RunCli("rom " + kExamples + "/robot.bac " + motions + " -o " + dir / "offline"), 0);
    // At 1250000 baud the board answers only the second speed search.
    SimProcess sim(QUENLO_SIM_PROGRAM);
    const std::string pty =
        sim.Start({"--exit-after-reboot", "--rom-out", dir / "board", "--speed-index", "2"});
    EXPECT_EQ(RunCli("rom " + kExamples + "/robot.bac " + motions + " --port " + pty), 0)
        << "on " << pty;
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_EQ(ReadFile(dir / "board"), ReadFile(dir / "offline"));
    EXPECT_FALSE(ReadFile(dir / "offline").empty());
}

TEST(CliRom, FailuresExitWithOne) {
    TempDir dir;
    EXPECT_EQ(
        RunCli("rom " + kExamples + "/robot.bac " + kExamples + "/missing.tra -o " + dir / "never"),
        1);
    EXPECT_EQ(
        RunCli("rom " + kExamples + "/robot.bac " + kExamples + "/bow.tra -o /nonexistent/x.bin"),
        1);
    EXPECT_EQ(RunCli("rom " + kExamples + "/robot.bac"), 2);  // neither --port nor -o
    EXPECT_EQ(RunCli("rom " + kExamples + "/robot.bac " + kExamples + "/bow.tra --rate 9 -o x"), 2);
    EXPECT_EQ(RunCli("connect --port /nonexistent/ttyQUENLO"), 1);
}

// Every subcommand answers --help; every mistake on the command line has one form.
TEST(CliArguments, HelpAndMistakes) {
    for (const char* command : {"info", "frames", "connect", "rom"}) {
        std::string out;
        EXPECT_EQ(RunCli(std::string(command) + " --help", &out), 0) << command;
        EXPECT_NE(out.find(std::string("Usage: quenlo-cli ") + command), std::string::npos) << out;
    }
    const std::pair<std::string, std::string> mistakes[] = {
        {"frames m.bac --rate 9", "quenlo-cli frames: --rate: takes a list index, 0 to 8\n"},
        {"rom m.bac --interval x -o f", "quenlo-cli rom: --interval: takes a list index, 0 to 4\n"},
        {"connect", "quenlo-cli connect: --port is required\n"},
        {"bogus", "quenlo-cli: unknown command 'bogus'\n"},
    };
    for (const auto& [arguments, first_line] : mistakes) {
        std::string out;
        EXPECT_EQ(RunCli(arguments, &out), 2) << arguments;
        const std::string command = first_line.substr(0, first_line.find(':'));
        EXPECT_EQ(out, first_line + "Run '" + command + " --help' for the arguments.\n");
    }
}

}  // namespace
