// quenlo-cli frames: converts a model and its motions as the main window does and
// prints every multi-servo command.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace quenlo::cli {
namespace {

// The console pane is standard output, through the same log stream as the
// conversion's progress lines so the two keep their order.
class StdoutUi : public OperatorUi {
  public:
    void ConsoleWrite(std::string_view text) override { LogWrite(Stream::Out, text); }
    bool Confirm(std::string_view, std::string_view) override { return false; }
    void SetBusy(bool) override {}
};

bool EndsWithBac(const std::string& path) {
    return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".bac") == 0;
}

int Run(int argc, char** argv) {
    int rate = kDefaultRate;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rate")) {
            char* end = nullptr;
            const long r = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : -1;
            if (i + 1 >= argc || *end != '\0' || end == argv[i + 1] || r < 0 || r > 8) {
                std::fprintf(stderr, "quenlo-cli frames: --rate takes a rate list index, 0 to 8\n");
                return 2;
            }
            rate = static_cast<int>(r);
            ++i;
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: quenlo-cli frames MODEL.bac MOTION.tra... [--rate I]\n");
        return 2;
    }

    StdoutUi ui;
    const std::string model = files.front();
    const std::vector<std::string> motions(files.begin() + 1, files.end());
    // The window's Convert button checks these before it converts.
    if (!EndsWithBac(model)) {
        ui.ConsolePrint("BACファイルがありません\r\n");
        return 1;
    }
    if (motions.empty()) {
        ui.ConsolePrint("TRAファイルがありません\r\n");
        return 1;
    }

    std::unique_ptr<CDataInfo> data = RunConversion(ui, model, motions, rate);
    if (!data) return 1;
    for (size_t number = 0; number < motions.size(); ++number) {
        const int index = data->FindMotion(static_cast<int>(number));
        if (index < 0) continue;
        const int count = data->GetFrameCount(index);
        for (int j = 0; j < count; ++j) {
            // Byte 0 is the command's length, as the board link sends it.
            const uint8_t* frame = data->GetFrameCommand(index, j);
            std::string line = "frame " + std::to_string(number) + ' ' + std::to_string(j);
            char hex[4];
            for (int k = 0; k < frame[0]; ++k) {
                std::snprintf(hex, sizeof hex, " %02X", frame[k]);
                line += hex;
            }
            line += '\n';
            LogWrite(Stream::Out, line);
        }
    }
    return 0;
}

const bool registered = Register({"frames", "MODEL.bac MOTION.tra... [--rate I]", Run});

}  // namespace
}  // namespace quenlo::cli
