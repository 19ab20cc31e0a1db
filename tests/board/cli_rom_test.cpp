// quenlo-cli rom -o and connect, run as a program: the saved image, loaded into a
// fresh simulated board, plays the converted motions.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "board_sim.h"
#include "conversion.h"
#include "scripted_port.h"

using board_test::RecordingUi;

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kExamples = QUENLO_EXAMPLES_DIR;

int RunCli(const std::string& arguments) {
    const std::string command = std::string(QUENLO_CLI) + " " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string TempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + name + std::to_string(getpid());
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(CliRom, ImageFilePlaysTheConvertedMotions) {
    const std::vector<std::string> motions = {kExamples + "/bow.tra", kExamples + "/wave.tra"};
    const std::string image_path = TempPath("quenlo-rom-image-");
    ASSERT_EQ(RunCli("rom " + kExamples + "/robot.bac " + motions[0] + " " + motions[1] +
                     " --interval 2 -o " + image_path),
              0);
    const Bytes image = ReadFile(image_path);
    std::remove(image_path.c_str());

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
    const size_t program_end = static_cast<size_t>(
        CUsbIO::BootProgramLength(
            CUsbIO::RecordCount(static_cast<int>(content.motors.size()), content.motors.data()),
            content.entries[0][0][0]) +
        CUsbIO::MotionLoopLength(2));
    EXPECT_EQ(image.at(program_end), 0xFF);

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

#ifdef QUENLO_SIM_PROGRAM
// quenlo-sim on a pseudo-terminal: the serial layer, the speed search and the
// transfer end to end. The board saves its ROM when it reboots and exits.
TEST(CliRom, TransferOverAPseudoTerminalWritesTheOfflineImage) {
    const std::string motions = kExamples + "/bow.tra " + kExamples + "/squat.tra";
    const std::string offline = TempPath("quenlo-rom-offline-");
    const std::string board_rom = TempPath("quenlo-rom-board-");
    ASSERT_EQ(RunCli("rom " + kExamples + "/robot.bac " + motions + " -o " + offline), 0);

    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string program = QUENLO_SIM_PROGRAM;
    // At 1250000 baud the board answers only the second speed search.
    std::string a1 = "--exit-after-reboot", a2 = "--rom-out", a3 = board_rom;
    std::string a4 = "--speed-index", a5 = "2";
    char* argv[] = {program.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), nullptr};
    pid_t sim = 0;
    ASSERT_EQ(posix_spawn(&sim, program.c_str(), &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string pty;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') pty += c;
    close(out[0]);

    const int rc = RunCli("rom " + kExamples + "/robot.bac " + motions + " --port " + pty);
    if (rc != 0) kill(sim, SIGTERM);
    int status = 0;
    waitpid(sim, &status, 0);
    EXPECT_EQ(rc, 0) << "on " << pty;
    EXPECT_EQ(ReadFile(board_rom), ReadFile(offline));
    EXPECT_FALSE(ReadFile(offline).empty());
    std::remove(offline.c_str());
    std::remove(board_rom.c_str());
}
#endif

TEST(CliRom, FailuresExitWithOne) {
    EXPECT_EQ(RunCli("rom " + kExamples + "/robot.bac " + kExamples + "/missing.tra -o " +
                     TempPath("quenlo-never-")),
              1);
    EXPECT_EQ(
        RunCli("rom " + kExamples + "/robot.bac " + kExamples + "/bow.tra -o /nonexistent/x.bin"),
        1);
    EXPECT_EQ(RunCli("rom " + kExamples + "/robot.bac"), 2);  // neither --port nor -o
    EXPECT_EQ(RunCli("rom " + kExamples + "/robot.bac " + kExamples + "/bow.tra --rate 9 -o x"), 2);
    EXPECT_EQ(RunCli("connect --port /nonexistent/ttyQUENLO"), 1);
}

}  // namespace
