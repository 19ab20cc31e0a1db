// The skinned mesh as BAC6 polygons: each triangle goes to the bone that
// carries most of its corners' weight, in the bind pose, in millimetres.
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

#include "import_steps.h"
#include "scene_load.h"

namespace quenlo::gltf {
namespace {

constexpr double kMm = 1000.0;
// A joint with less weight than this on a corner does not make it blended.
constexpr double kMinWeight = 1e-3;

std::string Count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

class MeshBuilder {
  public:
    MeshBuilder(const Scene& scene, const Skeleton& sk, ImportResult& result)
        : scene_(scene), m_(scene.model), sk_(sk), result_(result), model_(result.model) {}

    bool Run(std::string& error);

  private:
    // One primitive placed in the model: either skinned, or rigid on `bone`
    // with the node's transform.
    bool AddPrimitive(const tinygltf::Primitive& prim, const std::string& label, bool skinned,
                      int bone, const M4& place, std::string& error);
    int Material(int gltf_material);
    int Vertex(std::uint32_t v, int bone, V3 p, V3 n, bool has_normal);

    const Scene& scene_;
    const tinygltf::Model& m_;
    const Skeleton& sk_;
    ImportResult& result_;
    bac6::Model& model_;
    std::vector<int> material_of_;  // glTF material -> BAC6 material, -1 until used
    int default_material_ = -1;
    std::vector<V3> normal_sum_;  // per BAC6 vertex, for computed normals
    std::vector<bool> normal_given_;
    std::unordered_map<std::uint64_t, int> vertex_of_;  // (vertex, bone) -> BAC6 vertex
    std::size_t blended_ = 0, textured_ = 0, other_skin_ = 0, loose_ = 0, not_triangles_ = 0,
                morphs_ = 0;
};

int MeshBuilder::Material(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_.materials.size()) {
        if (default_material_ < 0) {
            model_.colors.push_back({1, 1, 1});  // glTF's default base colour
            bac6::Material mat;
            mat.name = "default";
            mat.colorIndex = static_cast<int>(model_.colors.size()) - 1;
            mat.doubleFace = false;
            default_material_ = static_cast<int>(model_.materials.size());
            model_.materials.push_back(mat);
        }
        return default_material_;
    }
    if (material_of_[index] >= 0) return material_of_[index];
    const tinygltf::Material& g = m_.materials[index];
    std::vector<double> c = g.pbrMetallicRoughness.baseColorFactor;
    if (c.size() != 4) c = {1, 1, 1, 1};
    for (double& v : c) v = std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 1.0;
    if (g.pbrMetallicRoughness.baseColorTexture.index >= 0 || g.normalTexture.index >= 0 ||
        g.emissiveTexture.index >= 0 || g.occlusionTexture.index >= 0 ||
        g.pbrMetallicRoughness.metallicRoughnessTexture.index >= 0)
        ++textured_;
    // glTF's base colour is linear; BAC6 keeps what the display shows.
    model_.colors.push_back(
        {float(LinearToSrgb(c[0])), float(LinearToSrgb(c[1])), float(LinearToSrgb(c[2]))});
    bac6::Material mat;
    // Quotes and control bytes cannot stand in a BAC6 name.
    mat.name = g.name.empty() ? "material" + std::to_string(index) : g.name;
    for (char& ch : mat.name)
        if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F || ch == '"') ch = '_';
    if (mat.name.size() > bac6::kMaxNameBytes) mat.name.resize(bac6::kMaxNameBytes);
    mat.colorIndex = static_cast<int>(model_.colors.size()) - 1;
    mat.alpha = float(c[3]);
    mat.transparent = c[3] < 1.0 || g.alphaMode == "BLEND";
    mat.doubleFace = g.doubleSided;
    material_of_[index] = static_cast<int>(model_.materials.size());
    model_.materials.push_back(mat);
    return material_of_[index];
}

int MeshBuilder::Vertex(std::uint32_t v, int bone, V3 p, V3 n, bool has_normal) {
    // Bones are fewer than 2^16: the key is exact.
    const std::uint64_t exact =
        (static_cast<std::uint64_t>(v) << 16) | static_cast<std::uint64_t>(bone);
    const auto [it, fresh] = vertex_of_.emplace(exact, static_cast<int>(model_.vertices.size()));
    if (!fresh) return it->second;
    model_.vertices.push_back({float(p.x * kMm), float(p.y * kMm), float(p.z * kMm)});
    const V3 u = Unit(n);
    model_.normals.push_back({float(u.x), float(u.y), float(u.z)});
    normal_sum_.push_back({});
    normal_given_.push_back(has_normal);
    model_.bones[bone].vertexIndices.push_back(it->second);
    return it->second;
}

bool MeshBuilder::AddPrimitive(const tinygltf::Primitive& prim, const std::string& label,
                               bool skinned, int rigid_bone, const M4& place, std::string& error) {
    const int mode = prim.mode < 0 ? TINYGLTF_MODE_TRIANGLES : prim.mode;
    if (mode != TINYGLTF_MODE_TRIANGLES && mode != TINYGLTF_MODE_TRIANGLE_STRIP &&
        mode != TINYGLTF_MODE_TRIANGLE_FAN) {
        ++not_triangles_;
        return true;
    }
    if (!prim.targets.empty()) ++morphs_;
    auto attribute = [&](const char* name) {
        const auto it = prim.attributes.find(name);
        return it == prim.attributes.end() ? -1 : it->second;
    };
    const int position = attribute("POSITION");
    if (position < 0) {
        error = label + ": no POSITION";
        return false;
    }
    std::vector<double> pos, nrm, idx;
    if (!ReadAccessor(m_, position, 3, kFloat, label + " POSITION", pos, error)) return false;
    const std::size_t count = pos.size() / 3;
    if (count >= (std::size_t{1} << 28)) {
        error = label + ": too many vertices";
        return false;
    }
    const int normal = attribute("NORMAL");
    if (normal >= 0) {
        if (!ReadAccessor(m_, normal, 3, kFloat, label + " NORMAL", nrm, error)) return false;
        if (nrm.size() != pos.size()) {
            error = label + ": " + Count(nrm.size() / 3, "normal", "normals") + " for " +
                    Count(count, "position", "positions");
            return false;
        }
    }
    // Per vertex: its joints (bones) and weights, from every JOINTS_n/WEIGHTS_n set.
    std::vector<std::vector<std::pair<int, double>>> influence;
    if (skinned) {
        influence.resize(count);
        for (int set = 0;; ++set) {
            const std::string js = "JOINTS_" + std::to_string(set),
                              ws = "WEIGHTS_" + std::to_string(set);
            const int ja = attribute(js.c_str()), wa = attribute(ws.c_str());
            if (ja < 0 && wa < 0) {
                if (set == 0) {
                    error = label + ": skinned, but without JOINTS_0 and WEIGHTS_0";
                    return false;
                }
                break;
            }
            std::vector<double> jv, wv;
            if (ja < 0 || wa < 0) {
                error =
                    label + ": " + (ja < 0 ? js : ws) + " is missing beside " + (ja < 0 ? ws : js);
                return false;
            }
            if (!ReadAccessor(m_, ja, 4, kInteger, label + " " + js, jv, error) ||
                !ReadAccessor(m_, wa, 4, kFloat | kNormalized, label + " " + ws, wv, error))
                return false;
            if (jv.size() != pos.size() / 3 * 4 || wv.size() != jv.size()) {
                error = label + ": " + js + " and " + ws + " do not count one per position";
                return false;
            }
            for (std::size_t v = 0; v < count; ++v)
                for (int k = 0; k < 4; ++k) {
                    const double w = wv[v * 4 + k];
                    if (w <= 0) continue;
                    const double j = jv[v * 4 + k];
                    if (j >= static_cast<double>(sk_.bone_of_joint.size())) {
                        error = label + ": vertex " + std::to_string(v) + " names joint " +
                                std::to_string(static_cast<long long>(j)) + " of a skin with " +
                                std::to_string(sk_.bone_of_joint.size());
                        return false;
                    }
                    const int bone = sk_.bone_of_joint[static_cast<std::size_t>(j)];
                    auto& list = influence[v];
                    auto it = std::find_if(list.begin(), list.end(),
                                           [&](const auto& e) { return e.first == bone; });
                    if (it == list.end())
                        list.push_back({bone, w});
                    else
                        it->second += w;
                }
        }
    }
    std::vector<std::uint32_t> corners;
    if (prim.indices >= 0) {
        if (!ReadAccessor(m_, prim.indices, 1, kInteger, label + " indices", idx, error))
            return false;
        corners.reserve(idx.size());
        for (double i : idx) {
            if (i < 0 || i >= static_cast<double>(count)) {
                error = label + ": index " + std::to_string(static_cast<long long>(i)) +
                        " is out of range of " + Count(count, "vertex", "vertices");
                return false;
            }
            corners.push_back(static_cast<std::uint32_t>(i));
        }
    } else {
        corners.resize(count);
        for (std::size_t i = 0; i < count; ++i) corners[i] = static_cast<std::uint32_t>(i);
    }
    std::vector<std::array<std::uint32_t, 3>> triangles;
    if (mode == TINYGLTF_MODE_TRIANGLES) {
        if (corners.size() % 3 != 0) {
            error = label + ": " + Count(corners.size(), "index", "indices") +
                    " do not make whole triangles";
            return false;
        }
        for (std::size_t i = 0; i + 2 < corners.size(); i += 3)
            triangles.push_back({corners[i], corners[i + 1], corners[i + 2]});
    } else {
        for (std::size_t i = 0; i + 2 < corners.size(); ++i) {
            if (mode == TINYGLTF_MODE_TRIANGLE_FAN)
                triangles.push_back({corners[0], corners[i + 1], corners[i + 2]});
            else if (i % 2 == 0)
                triangles.push_back({corners[i], corners[i + 1], corners[i + 2]});
            else
                triangles.push_back({corners[i + 1], corners[i], corners[i + 2]});
        }
    }

    // A vertex in the bind pose: as stored when the skin has inverse bind
    // matrices, else moved by its joints at rest as a viewer shows it.
    auto placed = [&](std::uint32_t v, V3& p, V3& n) {
        const V3 sp{pos[v * 3], pos[v * 3 + 1], pos[v * 3 + 2]};
        const V3 sn = normal >= 0 ? V3{nrm[v * 3], nrm[v * 3 + 1], nrm[v * 3 + 2]} : V3{};
        if (!skinned) {
            p = Point(place, sp);
            n = Direction(place, sn);
        } else if (sk_.has_inverse_bind) {
            p = sp;
            n = sn;
        } else {
            double total = 0;
            for (const auto& [bone, w] : influence[v]) total += w;
            p = n = {};
            for (const auto& [bone, w] : influence[v]) {
                const M4& g = scene_.global[sk_.nodes[bone]];
                p = p + Point(g, sp) * (w / total);
                n = n + Direction(g, sn) * (w / total);
            }
            if (total <= 0) p = sp;
        }
    };

    const int material = Material(prim.material);
    vertex_of_.clear();  // vertices are shared within a primitive only
    for (const auto& t : triangles) {
        int bone = rigid_bone;
        if (skinned) {
            double best = -1;
            int single = -2;  // the corners' one joint, -1 once they differ
            for (std::uint32_t v : t) {
                const auto& list = influence[v];
                int strong = 0, joint = -1;
                for (const auto& [b, w] : list)
                    if (w >= kMinWeight) ++strong, joint = b;
                if (strong != 1 || (single != -2 && single != joint))
                    single = -1;
                else if (single == -2)
                    single = joint;
            }
            if (single < 0) ++blended_;
            // The bone with the largest summed weight; the first in bone order on a tie.
            std::vector<std::pair<int, double>> sums;
            for (std::uint32_t v : t)
                for (const auto& e : influence[v]) {
                    const int b = e.first;
                    auto it = std::find_if(sums.begin(), sums.end(),
                                           [b](const auto& s) { return s.first == b; });
                    if (it == sums.end())
                        sums.push_back(e);
                    else
                        it->second += e.second;
                }
            for (const auto& [b, w] : sums)
                if (w > best || (w == best && b < bone)) best = w, bone = b;
            if (bone < 0) {
                error = label + ": a triangle with no joint weight on any corner";
                return false;
            }
        }
        bac6::Polygon poly;
        poly.material = material;
        poly.corners = 3;
        for (int c = 0; c < 3; ++c) {
            V3 p, n;
            placed(t[c], p, n);
            poly.vertex[c] = Vertex(t[c], bone, p, n, normal >= 0);
        }
        const V3 a{model_.vertices[poly.vertex[0]][0], model_.vertices[poly.vertex[0]][1],
                   model_.vertices[poly.vertex[0]][2]};
        const V3 b{model_.vertices[poly.vertex[1]][0], model_.vertices[poly.vertex[1]][1],
                   model_.vertices[poly.vertex[1]][2]};
        const V3 c{model_.vertices[poly.vertex[2]][0], model_.vertices[poly.vertex[2]][1],
                   model_.vertices[poly.vertex[2]][2]};
        const V3 face = Cross(b - a, c - a);
        for (int k = 0; k < 3; ++k)
            normal_sum_[poly.vertex[k]] = normal_sum_[poly.vertex[k]] + face;
        model_.polygons.push_back(poly);
        ++result_.bone_polygons[bone];
    }
    return true;
}

bool MeshBuilder::Run(std::string& error) {
    material_of_.assign(m_.materials.size(), -1);
    result_.bone_polygons.assign(model_.bones.size(), 0);
    for (std::size_t i = 0; i < m_.nodes.size(); ++i) {
        const tinygltf::Node& node = m_.nodes[i];
        if (node.mesh < 0) continue;
        const std::string label = NodeLabel(m_, static_cast<int>(i));
        if (static_cast<std::size_t>(node.mesh) >= m_.meshes.size()) {
            error = label + ": mesh " + std::to_string(node.mesh) + " does not exist";
            return false;
        }
        bool skinned = node.skin >= 0;
        int bone = -1;
        if (skinned && node.skin != sk_.skin) {
            ++other_skin_;
            continue;
        }
        if (!skinned) {
            // A rigid mesh moves with the joint it hangs under.
            for (int k = static_cast<int>(i); k >= 0 && bone < 0; k = scene_.parent[k])
                bone = sk_.bone_of_node[k];
            if (bone < 0) {
                ++loose_;
                continue;
            }
        }
        const tinygltf::Mesh& mesh = m_.meshes[node.mesh];
        for (std::size_t p = 0; p < mesh.primitives.size(); ++p) {
            const std::string where =
                label + " mesh " + std::to_string(node.mesh) + " primitive " + std::to_string(p);
            if (!AddPrimitive(mesh.primitives[p], where, skinned, bone, scene_.global[i], error))
                return false;
        }
    }
    for (std::size_t v = 0; v < model_.vertices.size(); ++v) {
        for (float c : model_.vertices[v])
            if (!std::isfinite(c)) {
                error = "a vertex lies beyond the range of a BAC6 number";
                return false;
            }
        if (normal_given_[v] &&
            Length({model_.normals[v][0], model_.normals[v][1], model_.normals[v][2]}) > 0.5)
            continue;
        V3 n = Unit(normal_sum_[v]);
        if (Length(n) < 0.5) n = {0, 1, 0};
        model_.normals[v] = {float(n.x), float(n.y), float(n.z)};
    }
    auto warn = [&](std::size_t n, const std::string& text) {
        if (n) result_.warnings.push_back(text);
    };
    warn(blended_, Count(blended_, "triangle has", "triangles have") +
                       " corners blended between joints: each went wholly to the bone with the "
                       "most weight");
    warn(textured_, Count(textured_, "material's textures were", "materials' textures were") +
                        " dropped: BAC6 takes the base colour only");
    warn(other_skin_,
         Count(other_skin_, "mesh of another skin was", "meshes of other skins were") + " dropped");
    warn(loose_,
         Count(loose_, "mesh under no joint was", "meshes under no joint were") + " dropped");
    warn(not_triangles_, Count(not_triangles_, "primitive of points or lines was",
                               "primitives of points or lines were") +
                             " dropped");
    warn(morphs_,
         Count(morphs_, "primitive's morph targets were", "primitives' morph targets were") +
             " ignored");
    return true;
}

}  // namespace

bool BuildMesh(const Scene& scene, const Skeleton& skeleton, ImportResult& result,
               std::string& error) {
    return MeshBuilder(scene, skeleton, result).Run(error);
}

}  // namespace quenlo::gltf
