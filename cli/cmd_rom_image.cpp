// quenlo-cli rom-read and rom-write: the board's ROM to a file and back, so
// that a robot's program can be kept before it is replaced and restored later.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "board_job.h"
#include "command.h"
#include "console.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "rom_files.h"
#include "usbio.h"

namespace quenlo::cli {
namespace {

struct ReadArgs {
    std::string port;
    std::string from = "0";
    std::string to;
    std::string output;
};

int RunRead(const ReadArgs& args) {
    const uint32_t from = ParseRomAddress(args.from);
    const uint32_t to = args.to.empty() ? board::RomLayoutEnd() : ParseRomAddress(args.to);
    OutputFile output(args.output);
    if (!OpenOutput("rom-read", output)) return 1;
    StdoutUi ui(true);
    BoardJob job(ui);
    CUsbIO link(MakeSystemSerialPort());
    link.SetStopToken(job.cut());
    std::vector<uint8_t> rom;
    bool connected = false;
    // Stopped, the temporary file goes with `output`.
    const int status = job.Run([&] {
        if (ConnectBoard(ui, link, args.port.c_str()) < 0) return 1;
        connected = true;
        ProgressLine progress;
        const bool read = ReadRomRange(link, from, to, rom, progress.Callback());
        progress.Finish();
        return read ? 0 : 1;
    });
    if (job.signal_name()) {
        SayInterrupted("rom-read", job, args.output);
        return status;
    }
    if (status != 0) {
        if (connected)
            std::fprintf(stderr,
                         "quenlo-cli rom-read: the ROM could not be read; %s is not written\n",
                         args.output.c_str());
        return status;
    }
    if (!CommitOutput("rom-read", output, rom)) return 1;
    char line[160];
    std::snprintf(line, sizeof line, "ROM $%06X to $%06X (%zu bytes) saved\n", from, to,
                  rom.size());
    LogWrite(Stream::Out, line);
    return 0;
}

struct WriteArgs {
    std::string port;
    std::string image;
    bool no_verify = false;
};

int RunWrite(const WriteArgs& args) {
    std::vector<uint8_t> image;
    if (!ReadImageFile("rom-write", args.image, board::RomLayoutEnd(), image)) return 1;
    StdoutUi ui(true);
    BoardJob job(ui);
    const int status = job.Run([&] {
        CUsbIO link(MakeSystemSerialPort());
        if (!StartRomTransfer(ui, job, link, args.port.c_str())) return 1;
        ProgressLine progress;
        RomTransferOptions options;
        options.verify = !args.no_verify;
        options.progress = progress.Callback();
        options.stop_after_block = job.stop();
        if (RestoreRomImage(ui, link, image, options)) return 0;
        if (job.stop().stop_requested()) SayHowToRestore(ui, args.port.c_str(), args.image);
        return 1;
    });
    if (job.stopped_early()) SayInterrupted("rom-write", job, {});
    return status;
}

std::function<int()> DefineRead(CLI::App& sub) {
    auto args = std::make_shared<ReadArgs>();
    sub.add_option("--port", args->port, "the board's serial device")
        ->required()
        ->check(PortName());
    sub.add_option("--from", args->from, "first address to read")
        ->check(RomAddress(false))
        ->capture_default_str();
    sub.add_option("--to", args->to,
                   "address after the last one read (default: the end of the last motion slot "
                   "the layout admits)")
        ->check(RomAddress(true));
    sub.add_option("-o", args->output, "the file to save the bytes in")
        ->type_name("FILE.bin")
        ->required();
    // A reversed or empty range is a command-line mistake like any other.
    sub.callback([args] {
        const uint32_t to = args->to.empty() ? board::RomLayoutEnd() : ParseRomAddress(args->to);
        if (ParseRomAddress(args->from) >= to)
            throw CLI::ValidationError("--from", "must be below --to (" + args->from + " to " +
                                                     (args->to.empty() ? "the default" : args->to) +
                                                     " holds no byte)");
    });
    return [args] { return RunRead(*args); };
}

std::function<int()> DefineWrite(CLI::App& sub) {
    auto args = std::make_shared<WriteArgs>();
    sub.add_option("--port", args->port, "the board's serial device")
        ->required()
        ->check(PortName());
    sub.add_option("FILE.bin", args->image, "a saved ROM image, written from address 0")
        ->required();
    sub.add_flag("--no-verify", args->no_verify, "do not read the written ROM back");
    return [args] { return RunWrite(*args); };
}

const bool registered_read =
    Register({"rom-read", "save a range of the board's ROM in a file", DefineRead});
const bool registered_write = Register(
    {"rom-write", "write a saved ROM image back to the board, then reboot it", DefineWrite});

}  // namespace
}  // namespace quenlo::cli
