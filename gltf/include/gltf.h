// quenlo::gltf: glTF 2.0 scenes (.gltf, .glb) to BAC6 models and TRA4 motions
// and back.
#pragma once

namespace quenlo::gltf {}  // namespace quenlo::gltf
