// Builds small glTF scenes in memory for the importer's tests and fuzz seeds,
// and the example arm that most tests import: base -> shoulder(ID-01) ->
// elbow(OD-02R) -> hand, the arm hanging from the shoulder as Blender rigs it.
#pragma once

#include <tiny_gltf.h>

#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace quenlo::gltf::test {

class SceneBuilder {
  public:
    tinygltf::Model model;

    SceneBuilder() {
        model.asset.version = "2.0";
        model.buffers.emplace_back();
        model.scenes.emplace_back();
        model.defaultScene = 0;
    }

    // An accessor over new bytes at the end of buffer 0.
    int AddAccessor(const void* bytes, std::size_t size, int component, int type, std::size_t count,
                    bool normalized = false) {
        auto& data = model.buffers[0].data;
        while (data.size() % 4) data.push_back(0);
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = data.size();
        view.byteLength = size;
        const auto* p = static_cast<const unsigned char*>(bytes);
        data.insert(data.end(), p, p + size);
        model.bufferViews.push_back(view);
        tinygltf::Accessor a;
        a.bufferView = static_cast<int>(model.bufferViews.size()) - 1;
        a.componentType = component;
        a.type = type;
        a.count = count;
        a.normalized = normalized;
        model.accessors.push_back(a);
        return static_cast<int>(model.accessors.size()) - 1;
    }
    int AddFloats(const std::vector<float>& v, int type, int width) {
        return AddAccessor(v.data(), v.size() * 4, TINYGLTF_COMPONENT_TYPE_FLOAT, type,
                           v.size() / width);
    }
    int AddScalars(const std::vector<float>& v) { return AddFloats(v, TINYGLTF_TYPE_SCALAR, 1); }
    int AddVec3(const std::vector<float>& v) { return AddFloats(v, TINYGLTF_TYPE_VEC3, 3); }
    int AddVec4(const std::vector<float>& v) { return AddFloats(v, TINYGLTF_TYPE_VEC4, 4); }
    int AddIndices(const std::vector<std::uint16_t>& v) {
        return AddAccessor(v.data(), v.size() * 2, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                           TINYGLTF_TYPE_SCALAR, v.size());
    }
    int AddJoints(const std::vector<std::uint8_t>& v) {
        return AddAccessor(v.data(), v.size(), TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE,
                           TINYGLTF_TYPE_VEC4, v.size() / 4);
    }

    int AddNode(const std::string& name, std::vector<double> translation = {},
                std::vector<double> rotation = {}, int parent = -1) {
        tinygltf::Node n;
        n.name = name;
        n.translation = translation;
        n.rotation = rotation;
        model.nodes.push_back(n);
        const int index = static_cast<int>(model.nodes.size()) - 1;
        if (parent >= 0)
            model.nodes[parent].children.push_back(index);
        else
            model.scenes[0].nodes.push_back(index);
        return index;
    }

    // One rotation (or translation) channel with its own sampler.
    void AddChannel(int animation, int node, const std::string& path,
                    const std::vector<float>& times, const std::vector<float>& values,
                    const std::string& interpolation = "LINEAR") {
        while (static_cast<int>(model.animations.size()) <= animation)
            model.animations.emplace_back();
        auto& anim = model.animations[animation];
        tinygltf::AnimationSampler s;
        s.input = AddScalars(times);
        s.output = path == "rotation" ? AddVec4(values) : AddVec3(values);
        s.interpolation = interpolation;
        anim.samplers.push_back(s);
        tinygltf::AnimationChannel c;
        c.sampler = static_cast<int>(anim.samplers.size()) - 1;
        c.target_node = node;
        c.target_path = path;
        anim.channels.push_back(c);
    }

    std::string Glb() const { return Write(true); }
    std::string Gltf() const { return Write(false); }

  private:
    std::string Write(bool binary) const {
        tinygltf::TinyGLTF writer;
        std::ostringstream out;
        // A .gltf carries buffer 0 as a base64 data URI.
        tinygltf::Model copy = model;
        if (copy.buffers[0].data.empty()) copy.buffers.clear();
        writer.WriteGltfSceneToStream(&copy, out, false, binary);
        return out.str();
    }
};

// Quaternion (x, y, z, w) of a turn about +Z, in degrees.
std::vector<float> TurnZ(double degrees);
// The product a * b of two quaternions.
std::vector<float> QuatMul(const std::vector<float>& a, const std::vector<float>& b);

// Nodes of the example arm.
struct Arm {
    SceneBuilder scene;
    int base, shoulder, elbow, hand, mesh_node;
    std::vector<float> hanging;  // the shoulder's rest rotation: 180 degrees about Z
};

// The arm with a skinned mesh (a box per bone, a triangle blended between the
// shoulder and the elbow, and a rigid unskinned box under the hand) and the
// animation "swing": the shoulder at 0, +40 and -60 degrees toward +X at 0,
// 0.5 and 1 s. With inverse_bind false the skin has no inverse bind matrices
// and its vertices are stored in the joints' frames.
Arm MakeArm(bool inverse_bind = true);

}  // namespace quenlo::gltf::test
