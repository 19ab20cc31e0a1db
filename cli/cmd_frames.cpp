// quenlo-cli frames: converts a model and its motions as the main window does and
// prints every multi-servo command.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "console.h"
#include "conversion.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace quenlo::cli {
namespace {

int Run(int argc, char** argv) {
    int rate = kDefaultRate;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rate")) {
            if (!IndexOption("frames", "--rate", i + 1 < argc ? argv[i + 1] : nullptr, 8, rate))
                return 2;
            ++i;
        } else {
            files.emplace_back(argv[i]);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: quenlo-cli frames MODEL.bac MOTION.tra... [--rate I]\n");
        return 2;
    }

    StdoutUi ui(false);
    const std::vector<std::string> motions(files.begin() + 1, files.end());
    std::unique_ptr<CDataInfo> data = Convert(ui, files.front(), motions, rate);
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
