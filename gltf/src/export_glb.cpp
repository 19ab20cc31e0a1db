// An ExportScene as a binary glTF: nodes, skin, mesh and animations in one
// buffer, written by tinygltf.
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

#include "gltf.h"
#include "gmath.h"

namespace quenlo::gltf {
namespace {

constexpr double kMetresPerUnit = 0.001;  // the model's millimetres

// ---- 3x3 rotations, column-major (row r, column c at 3c + r) ------------------
Mat3d Mul(const Mat3d& a, const Mat3d& b) {
    Mat3d r{};
    for (int c = 0; c < 3; ++c)
        for (int row = 0; row < 3; ++row)
            for (int k = 0; k < 3; ++k) r[3 * c + row] += a[3 * k + row] * b[3 * c + k];
    return r;
}
Mat3d Transposed(const Mat3d& m) {
    return {m[0], m[3], m[6], m[1], m[4], m[7], m[2], m[5], m[8]};
}
Vec3d Apply(const Mat3d& m, const Vec3d& v) {
    return {m[0] * v[0] + m[3] * v[1] + m[6] * v[2], m[1] * v[0] + m[4] * v[1] + m[7] * v[2],
            m[2] * v[0] + m[5] * v[1] + m[8] * v[2]};
}
// The joint's rest frame: columns X = Y x Z, Y = direction, Z = handle.
Mat3d Frame(const ExportJoint& j) {
    const Vec3d& y = j.direction;
    const Vec3d& z = j.handle;
    const Vec3d x = {y[1] * z[2] - y[2] * z[1], y[2] * z[0] - y[0] * z[2],
                     y[0] * z[1] - y[1] * z[0]};
    return {x[0], x[1], x[2], y[0], y[1], y[2], z[0], z[1], z[2]};
}

// Unit quaternion (x, y, z, w) of a rotation matrix.
std::array<double, 4> Quaternion(const Mat3d& m) {
    const double m00 = m[0], m11 = m[4], m22 = m[8];
    const double m01 = m[3], m02 = m[6], m10 = m[1], m12 = m[7], m20 = m[2], m21 = m[5];
    std::array<double, 4> q;
    const double trace = m00 + m11 + m22;
    if (trace > 0) {
        const double s = 2 * std::sqrt(trace + 1);
        q = {(m21 - m12) / s, (m02 - m20) / s, (m10 - m01) / s, s / 4};
    } else if (m00 > m11 && m00 > m22) {
        const double s = 2 * std::sqrt(1 + m00 - m11 - m22);
        q = {s / 4, (m01 + m10) / s, (m02 + m20) / s, (m21 - m12) / s};
    } else if (m11 > m22) {
        const double s = 2 * std::sqrt(1 + m11 - m00 - m22);
        q = {(m01 + m10) / s, s / 4, (m12 + m21) / s, (m02 - m20) / s};
    } else {
        const double s = 2 * std::sqrt(1 + m22 - m00 - m11);
        q = {(m02 + m20) / s, (m12 + m21) / s, s / 4, (m10 - m01) / s};
    }
    const double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (double& v : q) v /= len;
    return q;
}

bool Finite(const Vec3d& v) {
    return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

// Appends data to the one buffer as a new buffer view and answers the view.
class BufferBuilder {
  public:
    explicit BufferBuilder(tinygltf::Model& m) : m_(m) { m_.buffers.emplace_back(); }

    int View(const void* data, size_t bytes, int target) {
        std::vector<unsigned char>& b = m_.buffers[0].data;
        b.resize((b.size() + 3) & ~size_t{3}, 0);
        tinygltf::BufferView view;
        view.buffer = 0;
        view.byteOffset = b.size();
        view.byteLength = bytes;
        view.target = target;
        const auto* p = static_cast<const unsigned char*>(data);
        b.insert(b.end(), p, p + bytes);
        m_.bufferViews.push_back(view);
        return static_cast<int>(m_.bufferViews.size() - 1);
    }

    template <class T>
    int Accessor(const std::vector<T>& values, int component, int type, size_t count, int target,
                 std::vector<double> min = {}, std::vector<double> max = {}) {
        tinygltf::Accessor a;
        a.bufferView = View(values.data(), values.size() * sizeof(T), target);
        a.componentType = component;
        a.type = type;
        a.count = count;
        a.minValues = std::move(min);
        a.maxValues = std::move(max);
        m_.accessors.push_back(a);
        return static_cast<int>(m_.accessors.size() - 1);
    }

  private:
    tinygltf::Model& m_;
};

std::string Check(const ExportScene& s) {
    if (s.joints.empty()) return "the model has no bone";
    if (s.joints.size() > 65536) return "the model has more than 65536 bones";
    for (size_t j = 0; j < s.joints.size(); ++j) {
        const ExportJoint& joint = s.joints[j];
        if (joint.parent >= static_cast<int>(j) || joint.parent < -1)
            return "bone " + std::to_string(j) + " has a parent that does not come before it";
        if (!Finite(joint.position) || !Finite(joint.direction) || !Finite(joint.handle))
            return "bone " + std::to_string(j) + " has a point that is not finite";
    }
    const size_t n = s.positions.size();
    if (s.normals.size() != n || s.vertex_joint.size() != n)
        return "vertex lists of different lengths";
    for (size_t v = 0; v < n; ++v) {
        for (int i = 0; i < 3; ++i)
            if (!std::isfinite(s.positions[v][i]) || !std::isfinite(s.normals[v][i]))
                return "vertex " + std::to_string(v) + " is not finite";
        if (s.vertex_joint[v] >= s.joints.size())
            return "vertex " + std::to_string(v) + " names a bone that does not exist";
    }
    bool any = false;
    for (const ExportPrimitive& p : s.primitives) {
        if (p.material < 0 || static_cast<size_t>(p.material) >= s.materials.size())
            return "a primitive names a material that does not exist";
        if (p.indices.size() % 3) return "a primitive's index count is not a multiple of 3";
        for (uint32_t i : p.indices)
            if (i >= n) return "a primitive names a vertex that does not exist";
        any = any || !p.indices.empty();
    }
    if (!any) return "the model has no polygon on a bone";
    for (const ExportAnimation& a : s.animations) {
        if (a.times.empty()) return "motion " + a.name + " has no key";
        for (size_t k = 0; k < a.times.size(); ++k)
            if (!std::isfinite(a.times[k]) || a.times[k] < 0 || (k && a.times[k] <= a.times[k - 1]))
                return "motion " + a.name + " has key times that do not ascend from 0";
        if (a.poses.size() != s.joints.size()) return "motion " + a.name + " misses bones";
        bool channels = false;
        for (const std::vector<ExportPose>& track : a.poses) {
            if (!track.empty() && track.size() != a.times.size())
                return "motion " + a.name + " has a bone with a pose count unlike its key count";
            for (const ExportPose& p : track) {
                if (!Finite(p.offset))
                    return "motion " + a.name + " has a value that is not finite";
                for (double v : p.rotation)
                    if (!std::isfinite(v))
                        return "motion " + a.name + " has a value that is not finite";
            }
            channels = channels || !track.empty();
        }
        if (!channels) return "motion " + a.name + " moves no bone";
    }
    return {};
}

std::vector<double> Metres(const Vec3d& v) {
    return {v[0] * kMetresPerUnit, v[1] * kMetresPerUnit, v[2] * kMetresPerUnit};
}

// The joint's node transform for a pose: its rotation and offset seen from
// the parent joint's rest frame.
void LocalPose(const ExportScene& s, const std::vector<Mat3d>& frames, size_t j,
               const ExportPose& pose, std::array<double, 4>& rotation, Vec3d& translation) {
    const int p = s.joints[j].parent;
    const Mat3d parent_t = p >= 0 ? Transposed(frames[static_cast<size_t>(p)]) : kIdentity3;
    rotation = Quaternion(Mul(parent_t, Mul(pose.rotation, frames[j])));
    translation = Apply(parent_t, pose.offset);
}

void AddMesh(const ExportScene& s, tinygltf::Model& m, BufferBuilder& buf) {
    const size_t n = s.positions.size();
    std::vector<float> pos(n * 3), nrm(n * 3), weights(n * 4, 0.0f);
    std::vector<double> lo(3, HUGE_VAL), hi(3, -HUGE_VAL);
    for (size_t v = 0; v < n; ++v)
        for (size_t i = 0; i < 3; ++i) {
            pos[3 * v + i] = static_cast<float>(s.positions[v][i] * kMetresPerUnit);
            nrm[3 * v + i] = s.normals[v][i];
            lo[i] = std::min(lo[i], double{pos[3 * v + i]});
            hi[i] = std::max(hi[i], double{pos[3 * v + i]});
        }
    for (size_t v = 0; v < n; ++v) weights[4 * v] = 1.0f;

    tinygltf::Primitive prim;
    prim.mode = TINYGLTF_MODE_TRIANGLES;
    prim.attributes["POSITION"] =
        buf.Accessor(pos, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, n,
                     TINYGLTF_TARGET_ARRAY_BUFFER, lo, hi);
    prim.attributes["NORMAL"] = buf.Accessor(nrm, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3,
                                             n, TINYGLTF_TARGET_ARRAY_BUFFER);
    if (s.joints.size() <= 256) {
        std::vector<uint8_t> joints(n * 4, 0);
        for (size_t v = 0; v < n; ++v) joints[4 * v] = static_cast<uint8_t>(s.vertex_joint[v]);
        prim.attributes["JOINTS_0"] =
            buf.Accessor(joints, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_TYPE_VEC4, n,
                         TINYGLTF_TARGET_ARRAY_BUFFER);
    } else {
        std::vector<uint16_t> joints(n * 4, 0);
        for (size_t v = 0; v < n; ++v) joints[4 * v] = s.vertex_joint[v];
        prim.attributes["JOINTS_0"] =
            buf.Accessor(joints, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT, TINYGLTF_TYPE_VEC4, n,
                         TINYGLTF_TARGET_ARRAY_BUFFER);
    }
    prim.attributes["WEIGHTS_0"] =
        buf.Accessor(weights, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC4, n,
                     TINYGLTF_TARGET_ARRAY_BUFFER);

    tinygltf::Mesh mesh;
    mesh.name = s.name;
    for (const ExportPrimitive& p : s.primitives) {
        if (p.indices.empty()) continue;
        prim.material = p.material;
        prim.indices =
            buf.Accessor(p.indices, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR,
                         p.indices.size(), TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        mesh.primitives.push_back(prim);
    }
    m.meshes.push_back(mesh);

    for (const ExportMaterial& em : s.materials) {
        tinygltf::Material mat;
        mat.name = em.name;
        std::vector<double>& factor = mat.pbrMetallicRoughness.baseColorFactor;
        factor.assign(em.color.begin(), em.color.end());
        for (int i = 0; i < 3; ++i) factor[i] = SrgbToLinear(factor[i]);
        // Plastic and painted metal rather than glTF's default bare metal.
        mat.pbrMetallicRoughness.metallicFactor = 0.0;
        mat.pbrMetallicRoughness.roughnessFactor = 0.6;
        mat.doubleSided = em.double_sided;
        m.materials.push_back(mat);
    }
}

void AddAnimation(const ExportScene& s, const std::vector<Mat3d>& frames, const ExportAnimation& a,
                  tinygltf::Model& m, BufferBuilder& buf) {
    tinygltf::Animation anim;
    anim.name = a.name;
    const size_t keys = a.times.size();
    std::vector<float> times(a.times.begin(), a.times.end());
    const int input = buf.Accessor(times, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_SCALAR, keys,
                                   0, {times.front()}, {times.back()});
    for (size_t j = 0; j < a.poses.size(); ++j) {
        const std::vector<ExportPose>& track = a.poses[j];
        if (track.empty()) continue;
        std::vector<float> rot(keys * 4), tra(keys * 3);
        std::array<double, 4> q, previous{0, 0, 0, 1};
        Vec3d t;
        bool moves = false;
        const ExportJoint& joint = s.joints[j];
        const Vec3d rest = joint.parent >= 0
                               ? Vec3d{joint.position[0] - s.joints[joint.parent].position[0],
                                       joint.position[1] - s.joints[joint.parent].position[1],
                                       joint.position[2] - s.joints[joint.parent].position[2]}
                               : joint.position;
        for (size_t k = 0; k < keys; ++k) {
            LocalPose(s, frames, j, track[k], q, t);
            // Each key on the same side as the one before, so that LINEAR
            // takes the short way between them.
            if (q[0] * previous[0] + q[1] * previous[1] + q[2] * previous[2] + q[3] * previous[3] <
                0)
                for (double& v : q) v = -v;
            previous = q;
            for (size_t i = 0; i < 4; ++i) rot[4 * k + i] = static_cast<float>(q[i]);
            for (size_t i = 0; i < 3; ++i) {
                tra[3 * k + i] = static_cast<float>(t[i] * kMetresPerUnit);
                moves = moves || track[k].offset[i] != rest[i];
            }
        }
        auto channel = [&](const char* path, int output) {
            tinygltf::AnimationSampler sampler;
            sampler.input = input;
            sampler.output = output;
            sampler.interpolation = "LINEAR";
            anim.samplers.push_back(sampler);
            tinygltf::AnimationChannel c;
            c.sampler = static_cast<int>(anim.samplers.size() - 1);
            c.target_node = static_cast<int>(j);
            c.target_path = path;
            anim.channels.push_back(c);
        };
        channel("rotation",
                buf.Accessor(rot, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC4, keys, 0));
        // Most motions only turn the joints: no translation channel then.
        if (moves)
            channel("translation",
                    buf.Accessor(tra, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, keys, 0));
    }
    m.animations.push_back(anim);
}

}  // namespace

bool ExportGlb(const ExportScene& s, std::vector<unsigned char>& out, std::string* error) {
    const std::string why = Check(s);
    if (!why.empty()) {
        if (error) *error = why;
        return false;
    }
    tinygltf::Model m;
    m.asset.version = "2.0";
    m.asset.generator = "Quenlo";
    BufferBuilder buf(m);

    std::vector<Mat3d> frames;
    for (const ExportJoint& j : s.joints) frames.push_back(Frame(j));

    tinygltf::Scene scene;
    tinygltf::Skin skin;
    std::vector<float> ibm;
    for (size_t j = 0; j < s.joints.size(); ++j) {
        const ExportJoint& joint = s.joints[j];
        tinygltf::Node node;
        node.name = joint.name;
        ExportPose rest;
        rest.offset = joint.position;
        if (joint.parent >= 0)
            for (size_t i = 0; i < 3; ++i)
                rest.offset[i] -= s.joints[static_cast<size_t>(joint.parent)].position[i];
        std::array<double, 4> q;
        Vec3d t;
        LocalPose(s, frames, j, rest, q, t);
        node.rotation.assign(q.begin(), q.end());
        node.translation = Metres(t);
        m.nodes.push_back(node);
        if (joint.parent >= 0)
            m.nodes[static_cast<size_t>(joint.parent)].children.push_back(static_cast<int>(j));
        else
            scene.nodes.push_back(static_cast<int>(j));
        skin.joints.push_back(static_cast<int>(j));
        // Inverse of the rest frame at the pivot: [F^T | -F^T p].
        const Mat3d ft = Transposed(frames[j]);
        const Vec3d p = Apply(ft, joint.position);
        for (int c = 0; c < 3; ++c) {
            for (int r = 0; r < 3; ++r) ibm.push_back(static_cast<float>(ft[3 * c + r]));
            ibm.push_back(0.0f);
        }
        for (int r = 0; r < 3; ++r) ibm.push_back(static_cast<float>(-p[r] * kMetresPerUnit));
        ibm.push_back(1.0f);
    }
    skin.inverseBindMatrices =
        buf.Accessor(ibm, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_MAT4, s.joints.size(), 0);
    m.skins.push_back(skin);

    AddMesh(s, m, buf);
    tinygltf::Node mesh_node;
    mesh_node.name = s.name;
    mesh_node.mesh = 0;
    mesh_node.skin = 0;
    m.nodes.push_back(mesh_node);
    scene.nodes.push_back(static_cast<int>(m.nodes.size() - 1));
    m.scenes.push_back(scene);
    m.defaultScene = 0;

    for (const ExportAnimation& a : s.animations) AddAnimation(s, frames, a, m, buf);
    m.buffers[0].data.resize((m.buffers[0].data.size() + 3) & ~size_t{3}, 0);

    std::ostringstream stream;
    tinygltf::TinyGLTF writer;
    if (!writer.WriteGltfSceneToStream(&m, stream, false, true)) {
        if (error) *error = "the glTF writer failed";
        return false;
    }
    const std::string bytes = stream.str();
    out.assign(bytes.begin(), bytes.end());
    return true;
}

}  // namespace quenlo::gltf
