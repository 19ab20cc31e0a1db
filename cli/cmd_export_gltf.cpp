// quenlo-cli export-gltf: the model and its motions as one binary glTF, posed
// as the preview poses them, for Blender, three.js or any glTF viewer.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "command.h"
#include "console.h"
#include "conversion.h"
#include "gltf.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace quenlo::cli {
namespace {

int Run(const SceneArgs& args) {
    EndOnSignalWithoutOutputs("quenlo-cli export-gltf: stopped by ",
                              "; " + args.output + " is not written");
    // Claimed before the work, so a path that cannot be written is told first.
    OutputFile output(args.output);
    if (!output.Open()) {
        std::fprintf(stderr, "quenlo-cli export-gltf: %s\n", output.error().c_str());
        return 1;
    }
    const int rate_ms = std::atoi(kRates[args.rate].text);
    std::unique_ptr<CDataInfo> data;
    gltf::ExportScene scene;
    std::vector<std::string> warnings;
    std::string error;
    {
        ProgressToStderr progress;
        StdoutUi ui(false, StdoutUi::Console::OnStderr);
        data = RunConversion(ui, args.model, args.motions, args.rate);
        if (!data) return 1;
        std::vector<std::string> names;
        for (const std::string& m : args.motions)
            names.push_back(std::filesystem::path(m).stem().string());
        if (!gltf::SceneFromConversion(*data, names, rate_ms, scene, warnings, &error)) {
            std::fprintf(stderr, "quenlo-cli export-gltf: %s: %s\n", args.model.c_str(),
                         error.c_str());
            return 1;
        }
    }
    scene.name = std::filesystem::path(args.model).stem().string();
    for (const std::string& w : warnings)
        std::fprintf(stderr, "quenlo-cli export-gltf: warning: %s\n", w.c_str());
    std::vector<unsigned char> bytes;
    if (!gltf::ExportGlb(scene, bytes, &error)) {
        std::fprintf(stderr, "quenlo-cli export-gltf: %s\n", error.c_str());
        return 1;
    }
    if (!output.Write(bytes.data(), bytes.size()) || !output.Commit()) {
        std::fprintf(stderr, "quenlo-cli export-gltf: %s\n", output.error().c_str());
        return 1;
    }
    size_t triangles = 0;
    for (const gltf::ExportPrimitive& p : scene.primitives) triangles += p.indices.size() / 3;
    std::printf("wrote %s: %zu bones, %zu triangles, %zu vertices, %zu animations\n",
                args.output.c_str(), scene.joints.size(), triangles, scene.positions.size(),
                scene.animations.size());
    for (const gltf::ExportAnimation& a : scene.animations)
        std::printf("  %s: %zu keys, %.0f ms\n", a.name.c_str(), a.times.size(),
                    a.times.back() * 1000.0);
    return FinishOutput("export-gltf") ? 0 : 1;
}

std::function<int()> Define(CLI::App& sub) {
    auto args = std::make_shared<SceneArgs>();
    AddSceneArgs(sub, *args, "the motions, one animation each (optional)",
                 "the binary glTF to write", "OUT.glb")
        ->description(
            "playback-rate list index whose period a key time unit lasts: 0 to 8 for 10, 15, 20, "
            "25, 30, 40, 45, 50, 60 ms");
    return [args] { return Run(*args); };
}

const bool registered =
    Register({"export-gltf", "the model and its motions as a binary glTF (.glb)", Define});

}  // namespace
}  // namespace quenlo::cli
