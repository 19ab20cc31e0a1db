// quenlo-cli connect and rom: the board link from a shell. `rom` converts like the
// main window and writes the ROM image to a board, or (-o) runs the same transfer
// against the in-process board simulator and saves the ROM it holds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "board_sim.h"
#include "command.h"
#include "console.h"
#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"
#include "usbio.h"

namespace quenlo::cli {
namespace {

constexpr uint32_t kBaud[4] = {115200, 625000, 1250000, 115200};

// Connects and tells the operator the outcome as the port list does. A new link
// searches 115200 twice and 625000; a board at 1250000 answers the next search,
// as it would when the operator picks the port again.
int ConnectBoard(OperatorUi& ui, CUsbIO& link, const char* port) {
    int speed = link.Connect(port);
    if (speed < 0 && link.speed_index() == 2) speed = link.Connect(port);
    if (speed < 0)
        ui.ConsolePrint("%s 接続失敗\r\n", port);
    else
        ui.ConsolePrint("%s 接続成功\r\n", port);
    return speed;
}

int RunConnect(int argc, char** argv) {
    const char* port = OptionValue(argc, argv, "--port");
    if (!port || argc != 3) {
        std::fprintf(stderr, "usage: quenlo-cli connect --port DEV\n");
        return 2;
    }
    StdoutUi ui(true);
    CUsbIO link(MakeSystemSerialPort());
    const int speed = ConnectBoard(ui, link, port);
    if (speed < 0) return 1;
    char line[64];
    std::snprintf(line, sizeof line, "speed index %d (%u baud)\n", speed,
                  static_cast<unsigned>(kBaud[speed]));
    LogWrite(Stream::Out, line);
    return 0;
}

bool SaveImage(const std::string& path, const std::vector<uint8_t>& image) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(image.data(), 1, image.size(), f) == image.size();
    return std::fclose(f) == 0 && written;
}

int RunRom(int argc, char** argv) {
    int rate = kDefaultRate;
    int interval = kDefaultInterval;
    const char* port = nullptr;
    const char* output = nullptr;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (!std::strcmp(argv[i], "--rate")) {
            if (!IndexOption("rom", "--rate", has_value ? argv[i + 1] : nullptr, 8, rate)) return 2;
            ++i;
        } else if (!std::strcmp(argv[i], "--interval")) {
            if (!IndexOption("rom", "--interval", has_value ? argv[i + 1] : nullptr, 4, interval))
                return 2;
            ++i;
        } else if (!std::strcmp(argv[i], "--port") && has_value) {
            port = argv[++i];
        } else if (!std::strcmp(argv[i], "-o") && has_value) {
            output = argv[++i];
        } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
            std::fprintf(stderr, "quenlo-cli rom: unknown option %s\n", argv[i]);
            return 2;
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty() || !port == !output) {
        std::fprintf(stderr,
                     "usage: quenlo-cli rom MODEL.bac MOTION.tra... [--rate I] [--interval I] "
                     "(--port DEV | -o IMAGE.bin)\n");
        return 2;
    }

    StdoutUi ui(true);
    const std::vector<std::string> motions(files.begin() + 1, files.end());
    std::unique_ptr<CDataInfo> data = Convert(ui, files.front(), motions, rate);
    if (!data) return 1;
    const RomContent content =
        MakeRomContent(*data, static_cast<int>(motions.size()), IntervalMs(interval));

    // Offline, the simulated board stands in for the real one.
    sim::BoardSim board;
    ManualClock sim_clock;
    std::unique_ptr<CUsbIO> link;
    if (output)
        link = std::make_unique<CUsbIO>(std::make_unique<sim::SimSerialPort>(board, &sim_clock),
                                        sim_clock);
    else
        link = std::make_unique<CUsbIO>(MakeSystemSerialPort());
    if (ConnectBoard(ui, *link, output ? "sim" : port) < 0) {
        ui.ConsolePrint("RCB-4HVと通信が確立していません\r\n");
        return 1;
    }
    if (!ui.Confirm("確認", "ROMへ転送しますか？")) {
        ui.ConsolePrint("転送しません\r\n");
        return 1;
    }
    ui.ConsolePrint("転送をはじめます\r\n");
    if (!WriteRomImage(ui, *link, content)) return 1;
    if (output && !SaveImage(output, board.RomImage())) {
        std::fprintf(stderr, "quenlo-cli rom: cannot write %s\n", output);
        return 1;
    }
    return 0;
}

const bool registered_connect = Register({"connect", "--port DEV", RunConnect});
const bool registered_rom = Register(
    {"rom", "MODEL.bac MOTION.tra... [--rate I] [--interval I] (--port DEV | -o IMAGE.bin)",
     RunRom});

}  // namespace
}  // namespace quenlo::cli
