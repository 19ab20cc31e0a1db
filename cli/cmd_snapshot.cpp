// quenlo-cli snapshot: converts as the main window does, builds the preview
// and renders one frame of it off-screen into a PNG, with no display.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "console.h"
#include "conversion.h"
#include "preview_offscreen.h"
#include "quenlo/core.h"

namespace quenlo::cli {
namespace {

using preview::kPreviewPanelHeight;
using preview::kPreviewPanelWidth;
using preview::OffscreenPreview;
using preview::WritePng;

struct Args : SceneArgs {
    int motion = 0;
    int frame = 0;
    std::string size;
};

// The console on standard output; a successful conversion builds the preview
// and frames the model, as the window does.
class SnapshotUi : public StdoutUi {
  public:
    explicit SnapshotUi(COpenGLUtil& renderer) : StdoutUi(false), renderer_(renderer) {}
    void ShowConversion(CDataInfo& data) override { renderer_.ShowModel(data); }

  private:
    COpenGLUtil& renderer_;
};

// "WxH", 1 to 8192 pixels each way.
bool ImageSize(const std::string& text, int& width, int& height) {
    unsigned w = 0, h = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%ux%u%c", &w, &h, &tail) != 2) return false;
    if (w < 1 || h < 1 || w > 8192 || h > 8192) return false;
    width = static_cast<int>(w), height = static_cast<int>(h);
    return true;
}

int Run(const Args& args) {
    int width = kPreviewPanelWidth, height = kPreviewPanelHeight;
    if (!args.size.empty()) ImageSize(args.size, width, height);
    if (args.motion > 0 && static_cast<size_t>(args.motion) >= args.motions.size()) {
        std::fprintf(stderr, "quenlo-cli snapshot: --motion %d is beyond the %zu motions given\n",
                     args.motion, args.motions.size());
        return 2;
    }

    EndOnSignalWithoutOutputs("quenlo-cli snapshot: stopped by ",
                              "; " + args.output + " is not written");
    // The file is claimed before the work, so a path that cannot be written is told first.
    OutputFile output(args.output);
    if (!output.Open()) {
        std::fprintf(stderr, "quenlo-cli snapshot: %s\n", output.error().c_str());
        return 1;
    }
    OffscreenPreview preview;
    std::string error;
    if (!preview.Create(width, height, &error)) {
        std::fprintf(stderr, "quenlo-cli snapshot: %s\n", error.c_str());
        return 1;
    }
    COpenGLUtil& renderer = preview.renderer();
    SnapshotUi ui(renderer);
    std::unique_ptr<CDataInfo> data = RunConversion(ui, args.model, args.motions, args.rate);
    if (!data) return 1;
    if (!args.motions.empty()) {
        renderer.scene().SelectMotion(args.motion);
        for (auto& bone : renderer.scene().bones())
            if (bone) CPreviewScene::SetPose(*bone, args.frame);
    }
    preview.Render();
    if (!WritePng(output, width, height, preview.pixels(), &error)) {
        std::fprintf(stderr, "quenlo-cli snapshot: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

std::function<int()> Define(CLI::App& sub) {
    auto args = std::make_shared<Args>();
    AddSceneArgs(sub, *args, "the motions, in list order (optional)", "the PNG file to write",
                 "FILE.png");
    sub.add_option("--motion", args->motion, "the motion shown, by its place in the list")
        ->type_name("N")
        ->check(CLI::Range(0, 1000000))
        ->capture_default_str();
    sub.add_option("--frame", args->frame, "the key time every bone is posed at")
        ->type_name("T")
        ->check(CLI::Range(-16777215, 16777215))
        ->capture_default_str();
    sub.add_option("--size", args->size,
                   "image size in pixels (default: the preview panel, 266x512)")
        ->type_name("WxH")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                int w, h;
                return ImageSize(text, w, h) ? "" : "takes WIDTHxHEIGHT, 1 to 8192 pixels each";
            },
            ""));
    return [args] { return Run(*args); };
}

const bool registered =
    Register({"snapshot", "the 3D preview of a motion at one key time, as a PNG", Define});

}  // namespace
}  // namespace quenlo::cli
