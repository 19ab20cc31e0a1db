// What an import wrote, in the lines quenlo-cli import and the window show.
#include <cstdio>

#include "gltf.h"

namespace quenlo::gltf {
namespace {

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<std::string> ImportReport(const ImportResult& result,
                                      const std::vector<std::string>& paths) {
    const bac6::Model& model = result.model;
    std::size_t servos = 0;
    for (const bac6::Bone& b : model.bones) servos += b.name.size() > 1 && b.name.back() == ')';
    std::vector<std::string> lines;
    lines.push_back(paths.at(0) + ": " + Plural(model.bones.size(), "bone", "bones") + " (" +
                    Plural(servos, "servo", "servos") + "), " +
                    Plural(model.polygons.size(), "polygon", "polygons"));
    for (std::size_t b = 0; b < model.bones.size(); ++b)
        lines.push_back(
            "  bone " + std::to_string(b) + " " + model.bones[b].name + ": " +
            Plural(static_cast<std::size_t>(result.bone_polygons.at(b)), "polygon", "polygons"));
    for (std::size_t m = 0; m < result.motions.size(); ++m) {
        const ImportedMotion& motion = result.motions[m];
        lines.push_back(paths.at(m + 1) + ": " + Plural(motion.motion.times.size(), "key", "keys") +
                        ", " + std::to_string(motion.length_ms) + " ms");
    }
    return lines;
}

}  // namespace quenlo::gltf
