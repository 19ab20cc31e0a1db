// quenlo-cli info: what figread reads from a BAC6 model: bones with their
// motors, list sizes, and how the polygons fall to the bones.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "console.h"
#include "figread.h"

namespace quenlo::cli {
namespace {

int Run(const char* path) {
    if (fnbacanalysis(path) != 0) {
        const std::string why = FileReadProblem(path);
        std::fprintf(stderr, "quenlo-cli info: %s is not a readable BAC6 model%s%s\n", path,
                     why.empty() ? "" : ": ", why.c_str());
        return 1;
    }
    const int bones = static_cast<int>(fnbacGetBoneNumber());
    const int polygons = static_cast<int>(fnbacGetPolygonNumber());
    std::vector<int> per_bone(bones, 0);
    int no_bone = 0;
    for (int p = 0; p < polygons; ++p) {
        const int b = fnbacGetPolygonBone(p);
        if (b >= 0 && b < bones)
            ++per_bone[b];
        else
            ++no_bone;
    }

    std::printf("model: %s\n", path);
    std::printf(
        "vertices: %u\nnormals: %u\npolygons: %d\nmaterials: %u\ntextures: %u\ncolours: %u\n",
        fnbacGetVertexNumber(), fnbacGetNormalNumber(), polygons, fnbacGetMaterialNumber(),
        fnbacGetTextureNumber(), fnbacGetColorNumber());
    std::printf("bones: %d (%d with a motor)\n", bones, fnbacSetMotorNumber());
    std::printf("  bone  motor  group  reverse  vertices  polygons  name\n");
    for (int b = 0; b < bones; ++b) {
        const int motor = fnbacGetMotorIndex(b);
        std::string m = motor < 0 ? "-" : std::to_string(motor);
        const char* group = motor < 0 ? "-" : fnbacGetMotorGroup(b) ? "OD" : "ID";
        const char* reverse = motor < 0 ? "-" : fnbacGetMotorRevers(b) ? "yes" : "no";
        std::printf("  %4d  %5s  %5s  %7s  %8u  %8d  %s\n", b, m.c_str(), group, reverse,
                    fnbacGetBoneVertexNumber(b), per_bone[b], fnbacGetBoneName(b));
    }
    std::printf("polygons with no bone: %d\n", no_bone);
    fnbacrelease();
    return FinishOutput("info") ? 0 : 1;
}

std::function<int()> Define(CLI::App& sub) {
    auto path = std::make_shared<std::string>();
    sub.add_option("MODEL.bac", *path, "the model")->required();
    return [path] { return Run(path->c_str()); };
}

const bool registered =
    Register({"info", "bones, motors, counts and polygons per bone of a model", Define});

}  // namespace
}  // namespace quenlo::cli
