// Reading a glTF scene into tinygltf's model, with our rules for external
// buffers, and reading its accessors with every bound checked.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tinygltf {
class Model;
}

namespace quenlo::gltf {

// Parses a .glb or .gltf held in memory. External buffers are read only from
// base_dir and below it (no absolute path, no ".."); an empty base_dir allows
// none. False with one line in error.
bool LoadScene(const unsigned char* data, std::size_t size, const std::string& base_dir,
               tinygltf::Model& model, std::string& error);

// Reads accessor `index` as doubles, `components` per element (1 for SCALAR, 3
// for VEC3, 4 for VEC4, 16 for MAT4). `kinds` says which component types are
// allowed: floats, integers (read as their values, for indices and joints) or
// normalised integers (read as fractions, for weights and rotations). Refuses
// an accessor outside its buffer, a wrong type or a number that is not finite;
// `what` names the accessor in the message.
enum AccessorKinds : unsigned { kFloat = 1, kInteger = 2, kNormalized = 4 };
bool ReadAccessor(const tinygltf::Model& model, int index, int components, unsigned kinds,
                  const std::string& what, std::vector<double>& out, std::string& error);

}  // namespace quenlo::gltf
