// The steps of an import, each filling its part of the result from the scene
// and the skeleton found first. Each answers false with one line in error.
#pragma once

#include <string>
#include <vector>

#include "gltf.h"
#include "gmath.h"

namespace tinygltf {
class Model;
}

namespace quenlo::gltf {

// The node tree at rest.
struct Scene {
    const tinygltf::Model& model;
    std::vector<int> parent;      // per node, -1 for a root
    std::vector<V3> translation;  // per node: the local rest transform
    std::vector<Quat> rotation;
    std::vector<M4> global;  // per node: model space at rest, metres
};

// The chosen skin's joints as bones.
struct Skeleton {
    int skin = 0;
    std::vector<int> nodes;          // per bone, in bone order: its node
    std::vector<int> bone_of_node;   // per node: its bone, or -1
    std::vector<int> bone_of_joint;  // per entry of the skin's joint list
    std::vector<M4> bind;            // per bone: its frame in the bind pose, metres
    bool has_inverse_bind = false;   // the mesh is stored in the bind pose
};

bool ReadScene(Scene& scene, std::string& error);
bool BuildBones(const Scene& scene, const ImportOptions& options, Skeleton& skeleton,
                ImportResult& result, std::string& error);
bool BuildMesh(const Scene& scene, const Skeleton& skeleton, ImportResult& result,
               std::string& error);
bool BuildMotions(const Scene& scene, const Skeleton& skeleton, const ImportOptions& options,
                  ImportResult& result, std::string& error);

// The name of node `node` for messages: "node 3 'arm'".
std::string NodeLabel(const tinygltf::Model& model, int node);

}  // namespace quenlo::gltf
