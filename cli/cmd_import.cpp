// quenlo-cli import: a skinned glTF scene (.glb, .gltf) to a BAC6 model and
// one TRA4 motion per animation (docs/gltf.md).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "command.h"
#include "console.h"
#include "gltf.h"
#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace quenlo::cli {
namespace {

struct Args {
    std::string scene;
    std::string dir = ".";
    int rate = kDefaultRate;
    int skin = 0;
};

int Run(const Args& args) {
    const char* scene = args.scene.c_str();
    EndOnSignalWithoutOutputs("quenlo-cli import: stopped by ",
                              "; no file is written in " + args.dir);
    gltf::ImportOptions options;
    options.rate_ms = RateMs(args.rate);
    options.skin = args.skin;
    gltf::ImportResult result;
    std::string error;
    if (!gltf::ImportFile(args.scene, options, result, &error)) {
        std::fprintf(stderr, "quenlo-cli import: %s: %s\n", scene, error.c_str());
        return 1;
    }
    for (const std::string& w : result.warnings)
        std::fprintf(stderr, "quenlo-cli import: %s: warning: %s\n", scene, w.c_str());
    std::error_code ec;
    std::filesystem::create_directories(args.dir, ec);
    const std::string stem = std::filesystem::path(args.scene).stem().string();
    for (const std::string& path : gltf::ImportPaths(result, args.dir, stem))
        if (SameFile(args.scene, path)) {
            std::fprintf(stderr, "quenlo-cli import: %s: the output %s is the scene itself\n",
                         scene, path.c_str());
            return 1;
        }
    if (!gltf::WriteImport(result, args.dir, stem, &error)) {
        std::fprintf(stderr, "quenlo-cli import: %s\n", error.c_str());
        return 1;
    }
    for (const std::string& line :
         gltf::ImportReport(result, gltf::ImportPaths(result, args.dir, stem)))
        std::printf("%s\n", line.c_str());
    return FinishOutput("import") ? 0 : 1;
}

std::function<int()> Define(CLI::App& sub) {
    auto args = std::make_shared<Args>();
    sub.add_option("SCENE", args->scene, "the scene: .glb or .gltf")->required();
    sub.add_option("-o,--output", args->dir, "the folder to write into")
        ->type_name("DIR")
        ->capture_default_str();
    AddRateOption(sub, args->rate);
    sub.add_option("--skin", args->skin, "which skin of the scene gives the bones")
        ->type_name("N")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    return [args] { return Run(*args); };
}

const bool registered =
    Register({"import", "a skinned glTF scene to a BAC6 model and TRA4 motions", Define});

}  // namespace
}  // namespace quenlo::cli
