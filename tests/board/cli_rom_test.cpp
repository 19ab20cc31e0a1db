// quenlo-cli rom -o and connect, run as a program: the saved image, loaded into a
// fresh simulated board, plays the converted motions.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "../sim/sim_process.h"
#include "board_sim.h"
#include "conversion.h"
#include "scripted_port.h"

using board_test::RecordingUi;
using quenlo::sim::test::ReadFile;
using quenlo::sim::test::RunCommand;
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

// ---- Backup, read-back and restore against quenlo-sim ------------------------

std::string Robot(const std::string& motions) {
    std::string args = kExamples + "/robot.bac";
    for (const char* m : {"bow", "wave", "squat", "walk"})
        if (motions.find(m) != std::string::npos) args += " " + kExamples + "/" + m + ".tra";
    return args;
}

bool Has(const std::string& out, const std::string& text) {
    return out.find(text) != std::string::npos;
}

TEST(CliRomImage, BackupTransferAndRestoreBringBackTheEarlierRom) {
    TempDir dir;
    ASSERT_EQ(RunCli("rom " + Robot("bow wave squat walk") + " -o " + dir / "earlier"), 0);
    ASSERT_EQ(RunCli("rom " + Robot("bow") + " -o " + dir / "new"), 0);
    const Bytes earlier = ReadFile(dir / "earlier"), image = ReadFile(dir / "new");
    ASSERT_GT(earlier.size(), image.size());

    SimProcess sim(QUENLO_SIM_PROGRAM);
    const std::string pty = sim.Start({"--rom-in", dir / "earlier", "--rom-out", dir / "after"});
    std::string out;
    EXPECT_EQ(
        RunCli("rom " + Robot("bow") + " --port " + pty + " --backup " + dir / "backup", &out), 0)
        << out;
    EXPECT_TRUE(Has(out, "バックアップOK\r\n")) << out;
    EXPECT_TRUE(Has(out, "ベリファイOK\r\n転送が終わりました\r\n")) << out;
    // The backup is the earlier ROM up to the new image's last byte.
    EXPECT_EQ(ReadFile(dir / "backup"), Bytes(earlier.begin(), earlier.begin() + image.size()));

    // The board now holds the new image: its motion slot read back equals the file's.
    out.clear();
    EXPECT_EQ(RunCli("rom-read --port " + pty + " --from 0xB80 --to " +
                         std::to_string(image.size()) + " -o " + dir / "slot",
                     &out),
              0)
        << out;
    EXPECT_EQ(ReadFile(dir / "slot"), Bytes(image.begin() + 0x0B80, image.end()));

    out.clear();
    EXPECT_EQ(RunCli("rom-write --port " + pty + " " + dir / "backup", &out), 0) << out;
    EXPECT_TRUE(Has(out, "ベリファイOK\r\n転送が終わりました\r\n")) << out;
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_EQ(ReadFile(dir / "after"), earlier);
}

TEST(CliRomImage, FaultyBoardsAreToldApartAndNothingIsLost) {
    TempDir dir;
    const struct {
        std::vector<std::string> sim;
        std::string command;  // PTY and DIR/ are filled in
        int status;
        std::vector<std::string> shown, not_shown;
    } cases[] = {
        // A cell that stores its byte inverted: caught at its address, no reboot.
        {{"--corrupt-rom-at", "0xB85"},
         "rom " + Robot("bow") + " --port PTY",
         1,
         {"ベリファイエラー $000B85 書き込み ", "転送が中断しました\r\n"},
         {"システムリブート"}},
        // A board without reads gets its program all the same.
        {{"--no-read"},
         "rom " + Robot("bow") + " --port PTY",
         0,
         {"ベリファイできませんでした\r\n転送が終わりました\r\n", "could not verify"},
         {}},
        // ...but not without the backup asked for.
        {{"--no-read"},
         "rom " + Robot("bow") + " --port PTY --backup DIR/kept",
         1,
         {"バックアップできませんでした\r\n", "\nquenlo-cli: バックアップできませんでした\n",
          "\n転送しません\r\n"},
         {"システム停止"}},
        // The line drops in the middle of a read: no file, no hang.
        {{"--hangup-after", "6"},
         "rom-read --port PTY -o DIR/kept",
         1,
         {"The line failed during the memory read", "DIR/kept is not written"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        SimProcess sim(QUENLO_SIM_PROGRAM);
        std::vector<std::string> sim_args = c.sim;
        sim_args.insert(sim_args.end(), {"--rom-out", dir / "board"});
        const std::string pty = sim.Start(sim_args);
        std::string command = c.command, out;
        command.replace(command.find("PTY"), 3, pty);
        if (size_t d = command.find("DIR/"); d != std::string::npos)
            command.replace(d, 4, dir / "");
        EXPECT_EQ(RunCli(command, &out), c.status) << out;
        for (std::string text : c.shown) {
            if (size_t d = text.find("DIR/"); d != std::string::npos) text.replace(d, 4, dir / "");
            EXPECT_TRUE(Has(out, text)) << text << "\n" << out;
        }
        for (const std::string& text : c.not_shown) EXPECT_FALSE(Has(out, text)) << text;
        EXPECT_TRUE(ReadFile(dir / "kept").empty());
        EXPECT_TRUE(ReadFile(dir / "kept.part").empty());
        sim.Stop();
        // Nothing reached the ROM of the board whose backup failed.
        if (Has(c.command, "--backup")) {
            EXPECT_TRUE(ReadFile(dir / "board").empty());
        }
    }
}

// The image carries the playback rate: the boot program's last two system
// register writes hold the rate's base-period code in bits 4-5, and the board
// replaying the image times every move by it.
TEST(CliRom, ImageSetsTheBasePeriodOfTheRate) {
    struct Rate {
        int index;
        uint16_t code;  // bits 4-5
        uint32_t period_ms;
    };
    TempDir dir;
    for (const Rate& rate : {Rate{0, 0x00, 10}, Rate{3, 0x30, 25}, Rate{6, 0x10, 15}}) {
        std::string out;
        ASSERT_EQ(RunCli("rom " + kExamples + "/robot.bac " + kExamples + "/bow.tra --rate " +
                             std::to_string(rate.index) + " -o " + dir / "image",
                         &out),
                  0);
        char line[64];
        std::snprintf(line, sizeof line, " システムレジスタ $%04X\n", 0x8003 | rate.code);
        EXPECT_NE(out.find(line), std::string::npos) << rate.index;

        // The program's two-byte RAM writes to address 0, in the order stored.
        const Bytes image = ReadFile(dir / "image");
        std::vector<uint16_t> values;
        for (size_t pc = 0; pc + 1 < image.size() && pc < 0x800 && image[pc] != 0xFF;
             pc += image[pc])
            if (image[pc] == 9 && image[pc + 1] == 0x00 && image[pc + 2] == 0x02 &&
                image[pc + 3] == 0 && image[pc + 4] == 0 && image[pc + 5] == 0)
                values.push_back(static_cast<uint16_t>(image[pc + 6] | image[pc + 7] << 8));
        EXPECT_EQ(values, (std::vector<uint16_t>{0x0002, static_cast<uint16_t>(0x0003 | rate.code),
                                                 static_cast<uint16_t>(0x8003 | rate.code)}))
            << rate.index;

        quenlo::sim::BoardSim board;
        board.LoadRom(image);
        const quenlo::sim::RunResult run = board.RunRom({});
        ASSERT_TRUE(run.ok) << run.stop_reason;
        ASSERT_GT(run.moves.size(), 3u);
        for (const quenlo::sim::Move& m : run.moves)
            EXPECT_EQ(m.duration_ms, m.speed * rate.period_ms) << rate.index;
    }
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

    // Images that cannot be written back are refused before the port is opened.
    std::system(
        ("truncate -s 0 " + dir / "empty" + "; truncate -s 138113 " + dir / "large").c_str());
    const std::pair<std::string, std::string> images[] = {
        {dir / "empty", dir / "empty: the file is empty"},
        {dir / "large",
         dir / "large holds 138113 bytes; the ROM layout ends at $021B80 (138112 bytes)"},
        {dir / "", dir / ": not a regular file"},
        {dir / "missing", dir / "missing: No such file or directory"},
    };
    for (const auto& [file, line] : images) {
        std::string out;
        EXPECT_EQ(RunCli("rom-write --port /nonexistent/ttyQUENLO " + file, &out), 1);
        EXPECT_TRUE(Has(out, line)) << out;
        EXPECT_FALSE(Has(out, "open port")) << out;
    }
}

TEST(CliRom, OutputsAreCheckedBeforeTheTransfer) {
    TempDir dir;
    ASSERT_EQ(quenlo::sim::test::RunCommand("cp " + kExamples + "/robot.bac " + kExamples +
                                            "/bow.tra " + dir / ""),
              0);
    const std::string model = dir / "robot.bac", motion = dir / "bow.tra";
    const Bytes model_bytes = ReadFile(model), motion_bytes = ReadFile(motion);
    ASSERT_EQ(symlink(model.c_str(), (dir / "link.bin").c_str()), 0);
    ASSERT_EQ(link(motion.c_str(), (dir / "hard.bin").c_str()), 0);
    // The image once replaced the model or the motion it was made from.
    const std::pair<std::string, std::string> same[] = {
        {"-o " + model, "-o: " + model + " is " + model},
        {"-o " + dir / "link.bin", "-o: " + dir / "link.bin" + " is " + model},
        {"-o " + dir / "hard.bin", "-o: " + dir / "hard.bin" + " is " + motion},
        {"--port /nonexistent/tty --backup " + motion, "--backup: " + motion + " is " + motion},
    };
    for (const auto& [option, line] : same) {
        std::string out;
        EXPECT_EQ(RunCli("rom " + model + " " + motion + " " + option, &out), 2) << option;
        EXPECT_EQ(out, "quenlo-cli rom: " + line +
                           ", one of the inputs\nRun 'quenlo-cli rom --help' for the arguments.\n");
    }
    EXPECT_EQ(ReadFile(model), model_bytes);
    EXPECT_EQ(ReadFile(motion), motion_bytes);
    // An output that cannot be written is told before the transfer, not after it.
    for (const std::string& output : {dir / "", std::string("/nonexistent/x.bin")}) {
        std::string out;
        EXPECT_EQ(RunCli("rom " + model + " " + motion + " -o " + output, &out), 1);
        EXPECT_TRUE(Has(out, "quenlo-cli rom: cannot write ")) << out;
        EXPECT_FALSE(Has(out, "転送")) << out;
    }
}

// Standard output carries the result alone, and a failed write to it fails.
TEST(CliOutput, ResultOnStandardOutputAndWriteErrorsAreFailures) {
    TempDir dir;
    const std::string cli = QUENLO_CLI, model = kExamples + "/robot.bac";
    std::string out, err;
    ASSERT_EQ(quenlo::sim::test::RunCommand("{ " + cli + " frames " + model + " " + kExamples +
                                                "/bow.tra 2>" + dir / "err" + "; }",
                                            &out),
              0);
    EXPECT_EQ(out.rfind("frame 0 0 ", 0), 0u) << out;
    for (size_t at = 0; at < out.size(); at = out.find('\n', at) + 1)
        EXPECT_EQ(out.compare(at, 6, "frame "), 0) << out.substr(at, 40);
    const Bytes progress = ReadFile(dir / "err");
    EXPECT_TRUE(Has(std::string(progress.begin(), progress.end()), "bone 1 head\r\n"));
    EXPECT_TRUE(Has(std::string(progress.begin(), progress.end()), "変換成功\r\n"));

    for (const std::string& command :
         {"info " + model, "frames " + model + " " + kExamples + "/bow.tra"}) {
        out.clear();
        EXPECT_EQ(
            quenlo::sim::test::RunCommand("{ " + cli + " " + command + " >/dev/full; }", &out), 1)
            << command;
        EXPECT_TRUE(Has(out, ": cannot write the output: No space left on device\n")) << out;
    }
    out.clear();
    EXPECT_EQ(RunCli("info " + dir / "", &out), 1);
    EXPECT_EQ(out, " file not found.\nquenlo-cli info: " + dir / "" +
                       " is not a readable BAC6 model: a directory\n");
}

// --port names a file as given when it exists, else a device under /dev. A
// refusal or failure on the console is also on standard error, once.
TEST(CliOutput, PortPathsAndFailuresOnStandardError) {
    TempDir dir;
    std::system(("touch " + dir / "regular.txt").c_str());
    std::string out;
    EXPECT_EQ(RunCli("connect --port " + dir / "regular.txt", &out), 1);
    EXPECT_TRUE(Has(out, "serial port " + dir / "regular.txt" + ": not a serial device\n")) << out;
    out.clear();
    EXPECT_EQ(RunCli("connect --port ttyQUENLO-NONE", &out), 1);
    EXPECT_TRUE(Has(out, "serial port /dev/ttyQUENLO-NONE: no such device\n")) << out;

    const std::string cli = QUENLO_CLI, missing = kExamples + "/missing.tra";
    const std::string line = missing + " を読めません: No such file or directory";
    for (const std::string& command :
         {"rom " + kExamples + "/robot.bac " + missing + " -o " + dir / "r.bin",
          "export-gltf " + kExamples + "/robot.bac " + missing + " -o " + dir / "r.glb"}) {
        out.clear();
        EXPECT_EQ(RunCommand("{ " + cli + " " + command + " 2>" + dir / "err" + "; }", &out), 1);
        const Bytes err = ReadFile(dir / "err");
        const std::string errors(err.begin(), err.end());
        if (command.rfind("rom", 0) == 0) {
            EXPECT_TRUE(Has(out, "\n" + line + "\r\n")) << out;
            EXPECT_TRUE(Has(errors, "\nquenlo-cli: " + line + "\n")) << errors;
        } else {  // the console itself is on standard error: not twice
            EXPECT_EQ(errors.find(line), errors.rfind(line)) << errors;
            EXPECT_TRUE(Has(errors, line)) << errors;
        }
    }
}

// Every subcommand answers --help; every mistake on the command line has one form.
TEST(CliArguments, HelpAndMistakes) {
    for (const char* command :
         {"info", "frames", "connect", "rom", "rom-read", "rom-write", "play"}) {
        std::string out;
        EXPECT_EQ(RunCli(std::string(command) + " --help", &out), 0) << command;
        EXPECT_NE(out.find(std::string("Usage: quenlo-cli ") + command), std::string::npos) << out;
    }
    const std::pair<std::string, std::string> mistakes[] = {
        {"frames m.bac --rate 9", "quenlo-cli frames: --rate: takes a list index, 0 to 8\n"},
        {"rom m.bac --interval x -o f", "quenlo-cli rom: --interval: takes a list index, 0 to 4\n"},
        {"connect", "quenlo-cli connect: --port is required\n"},
        {"connect --port ''",
         "quenlo-cli connect: --port: takes a device name (ttyUSB0) or path, not an empty one\n"},
        {"bogus", "quenlo-cli: unknown command 'bogus'\n"},
        {"play --port p m.bac a.tra b.tra --motion 2",
         "quenlo-cli play: --motion: takes a list position, 0 to 1\n"},
        {"rom m.bac -o f --backup b", "quenlo-cli rom: --backup requires --port\n"},
        {"rom-read --port p --from 0x20 --to '$10' -o f",
         "quenlo-cli rom-read: --from: must be below --to (0x20 to $10 holds no byte)\n"},
        {"rom-read --port p --to 0x1000001 -o f",
         "quenlo-cli rom-read: --to: 0x1000001 is beyond the board's 24-bit addresses\n"},
        {"rom-read --port p --from 16777216 -o f",
         "quenlo-cli rom-read: --from: 16777216 is beyond the board's 24-bit addresses\n"},
    };
    for (const auto& [arguments, first_line] : mistakes) {
        std::string out;
        EXPECT_EQ(RunCli(arguments, &out), 2) << arguments;
        const std::string command = first_line.substr(0, first_line.find(':'));
        EXPECT_EQ(out, first_line + "Run '" + command + " --help' for the arguments.\n");
    }
}

}  // namespace
