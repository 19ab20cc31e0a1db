// libFuzzer target: arbitrary bytes through the glTF importer. Besides crashes
// it checks what must always hold: a refused scene gets one line and an empty
// result; an accepted one is a model and motions the writers can write.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gltf.h"

namespace {

void Require(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quenlo;
    gltf::ImportResult result;
    std::string error;
    if (!gltf::ImportMemory(data, size, "", {}, result, &error)) {
        Require(!error.empty() && error.find('\n') == std::string::npos);
        Require(result.model.bones.empty() && result.motions.empty());
        return 0;
    }
    std::string text;
    Require(bac6::ToText(result.model, text));
    Require(result.bone_polygons.size() == result.model.bones.size());
    for (const gltf::ImportedMotion& m : result.motions) Require(tra4::ToText(m.motion, text));
    return 0;
}
