// quenlo-cli connect and rom: the board link from a shell. `rom` converts like the
// main window and writes the ROM image to a board, or (-o) saves the image the
// transfer would leave in the board's ROM.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "board_job.h"
#include "command.h"
#include "console.h"
#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "rom_files.h"
#include "usbio.h"

namespace quenlo::cli {

bool StartRomTransfer(OperatorUi& ui, BoardJob& job, CUsbIO& link, const char* port) {
    link.SetStopToken(job.cut());
    if (ConnectBoard(ui, link, port) < 0) {
        ui.ConsoleFail("RCB-4HVと通信が確立していません\r\n");
        return false;
    }
    if (!ui.Confirm("確認", "ROMへ転送しますか？") || !job.Enter(BoardJob::Stage::Writing)) {
        ui.ConsoleFail("転送しません\r\n");
        return false;
    }
    ui.ConsolePrint("転送をはじめます\r\n");
    return true;
}

void SayHowToRestore(OperatorUi& ui, const char* port, const std::string& image) {
    if (image.empty())
        ui.ConsoleFail(
            "元に戻すには、保存しておいたROMを quenlo-cli rom-write --port %s FILE.bin で"
            "書き戻すか、もう一度転送してください\r\n",
            port);
    else
        ui.ConsoleFail("元に戻すには: quenlo-cli rom-write --port %s %s\r\n", port, image.c_str());
}

void SayInterrupted(const char* command, const BoardJob& job, const std::string& output) {
    std::fprintf(stderr, "quenlo-cli %s: stopped by %s", command, job.signal_name());
    if (!output.empty()) std::fprintf(stderr, "; %s is not written", output.c_str());
    std::fputc('\n', stderr);
}

namespace {

int RunConnect(const char* port) {
    StdoutUi ui(true);
    BoardJob job(ui);
    CUsbIO link(MakeSystemSerialPort());
    link.SetStopToken(job.cut());
    int speed = -1;
    const int status = job.Run([&] { return (speed = ConnectBoard(ui, link, port)) < 0; });
    if (job.signal_name()) SayInterrupted("connect", job, {});
    if (status != 0) return status;
    char line[64];
    std::snprintf(line, sizeof line, "speed index %d (%u baud)\n", speed,
                  static_cast<unsigned>(board::kSerialSpeeds[speed]));
    LogWrite(Stream::Out, line);
    return 0;
}

struct RomArgs {
    std::string model;
    std::vector<std::string> motions;
    int rate = kDefaultRate;
    int interval = kDefaultInterval;
    std::string port;
    std::string output;
    std::string backup;
    bool no_verify = false;
};

int RunRom(const RomArgs& args, BoardJob& job, OperatorUi& ui, bool& written) {
    const std::vector<std::string>& motions = args.motions;
    std::unique_ptr<CDataInfo> data = Convert(ui, args.model, motions, args.rate);
    if (!data) return 1;
    const RomContent content = MakeRomContent(*data, static_cast<int>(motions.size()),
                                              IntervalMs(args.interval), args.rate);
    const bool offline = !args.output.empty();
    // Where the image and the backup go is settled before the board is touched.
    OutputFile output(args.output);
    if (offline && !OpenOutput("rom", output)) return 1;
    OutputFile backup(args.backup);
    if (!args.backup.empty() && !OpenOutput("rom", backup)) return 1;

    // Offline, the image is built without a board.
    if (offline) {
        std::vector<uint8_t> image;
        if (!MakeRomImage(ui, content, image) || job.signal_name()) return 1;
        if (!CommitOutput("rom", output, image)) return 1;
        written = true;  // a signal during the commit came too late to stop it
        char line[96];
        std::snprintf(line, sizeof line, "ROM image $000000 to $%06zX (%zu bytes) saved\n",
                      image.size(), image.size());
        LogWrite(Stream::Out, line);
        return 0;
    }
    auto link = std::make_unique<CUsbIO>(MakeSystemSerialPort());
    if (!StartRomTransfer(ui, job, *link, args.port.c_str())) return 1;
    ProgressLine progress;
    RomTransferOptions options;
    options.verify = !args.no_verify;
    options.progress = progress.Callback();
    options.stop_after_block = job.stop();
    if (!args.backup.empty())
        options.backup = [&](const std::vector<uint8_t>& rom) {
            progress.Finish();
            return CommitOutput("rom", backup, rom);
        };
    if (WriteRomImage(ui, *link, content, options)) return 0;
    if (job.stop().stop_requested()) SayHowToRestore(ui, args.port.c_str(), args.backup);
    return 1;
}

int RunRom(const RomArgs& args) {
    StdoutUi ui(true);
    BoardJob job(ui);
    bool written = false;
    const int status = job.Run([&] { return RunRom(args, job, ui, written); });
    if (job.stopped_early()) SayInterrupted("rom", job, written ? std::string() : args.output);
    return status;
}

std::function<int()> DefineConnect(CLI::App& sub) {
    auto port = std::make_shared<std::string>();
    sub.add_option("--port", *port, "the board's serial device")->required()->check(PortName());
    return [port] { return RunConnect(port->c_str()); };
}

std::function<int()> DefineRom(CLI::App& sub) {
    auto args = std::make_shared<RomArgs>();
    sub.add_option("MODEL.bac", args->model, "the model")->required();
    sub.add_option("MOTION.tra", args->motions, "the motions, in list order");
    AddRateOption(sub, args->rate);
    AddIntervalOption(sub, args->interval);
    CLI::App* target = sub.add_option_group("target", "where the image goes, one of");
    CLI::Option* port =
        target->add_option("--port", args->port, "the board's serial device")->check(PortName());
    target->add_option("-o", args->output, "an image file, written instead");
    target->require_option(1);
    sub.add_option("--backup", args->backup,
                   "save the ROM the image overwrites here first; nothing is written without it")
        ->type_name("FILE.bin")
        ->needs(port);
    sub.add_flag("--no-verify", args->no_verify, "do not read the written ROM back");
    sub.callback([args] {
        RefuseBadFiles(args->model, args->motions,
                       {{"-o", args->output}, {"--backup", args->backup}});
    });
    return [args] { return RunRom(*args); };
}

const bool registered_connect =
    Register({"connect", "find the board's serial speed", DefineConnect});
const bool registered_rom =
    Register({"rom", "write the ROM image to a board, or to a file", DefineRom});

}  // namespace
}  // namespace quenlo::cli
