// quenlo-cli frames: converts a model and its motions as the main window does and
// prints every multi-servo command on standard output; the conversion's console
// lines go to standard error.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "console.h"
#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace quenlo::cli {
namespace {

struct Args {
    std::string model;
    std::vector<std::string> motions;
    int rate = kDefaultRate;
};

int Run(const Args& args) {
    const std::vector<std::string>& motions = args.motions;
    std::unique_ptr<CDataInfo> data;
    {
        ProgressToStderr progress;
        StdoutUi ui(false, StdoutUi::Console::OnStderr);
        data = Convert(ui, args.model, motions, args.rate);
    }
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
            std::fwrite(line.data(), 1, line.size(), stdout);
        }
    }
    return FinishOutput("frames") ? 0 : 1;
}

std::function<int()> Define(CLI::App& sub) {
    auto args = std::make_shared<Args>();
    sub.add_option("MODEL.bac", args->model, "the model")->required();
    sub.add_option("MOTION.tra", args->motions, "the motions, in list order");
    AddRateOption(sub, args->rate);
    return [args] { return Run(*args); };
}

const bool registered =
    Register({"frames", "convert as the window does; one line per command", Define});

}  // namespace
}  // namespace quenlo::cli
