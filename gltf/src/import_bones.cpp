// The node tree at rest, and the skin's joints as BAC6 bones.
#include <tiny_gltf.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <set>

#include "import_steps.h"
#include "scene_load.h"

namespace quenlo::gltf {
namespace {

constexpr double kMm = 1000.0;        // metres to millimetres
constexpr double kLeafLength = 50.0;  // mm: a bone without a child joint
constexpr int kMaxServos = 36;
// Deeper node trees are refused: the joint tree is walked recursively.
constexpr int kMaxDepth = 1000;

bool Finite(const std::vector<double>& values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// A name figread holds as it is, with its motor tag when it ends in one.
struct Tag {
    bool found = false;
    bool od = false;
    int index = 0;
    bool reversed = false;
};

Tag FindTag(const std::string& name, std::size_t& base_length) {
    Tag tag;
    base_length = name.size();
    // "(ID-07)" or "(OD-12R)" at the very end.
    for (std::size_t len : {std::size_t{7}, std::size_t{8}}) {
        if (name.size() < len) continue;
        const std::string t = name.substr(name.size() - len);
        const bool r = len == 8;
        if (t[0] != '(' || (t.compare(1, 2, "ID") != 0 && t.compare(1, 2, "OD") != 0) ||
            t[3] != '-' || t[4] < '0' || t[4] > '3' || t[5] < '0' || t[5] > '9' ||
            (r && t[6] != 'R') || t.back() != ')')
            continue;
        tag = {true, t[1] == 'O', (t[4] - '0') * 10 + (t[5] - '0'), r};
        base_length = name.size() - len;
        return tag;
    }
    return tag;
}

}  // namespace

std::string NodeLabel(const tinygltf::Model& model, int node) {
    return "node " + std::to_string(node) + " '" + model.nodes[node].name + "'";
}

bool ReadScene(Scene& scene, std::string& error) {
    const tinygltf::Model& m = scene.model;
    const std::size_t n = m.nodes.size();
    scene.parent.assign(n, -1);
    scene.translation.assign(n, {});
    scene.rotation.assign(n, {});
    scene.global.assign(n, kIdentity);
    std::vector<M4> local(n, kIdentity);
    for (std::size_t i = 0; i < n; ++i) {
        const tinygltf::Node& node = m.nodes[i];
        const std::string label = NodeLabel(m, static_cast<int>(i));
        for (int c : node.children) {
            if (c < 0 || static_cast<std::size_t>(c) >= n || c == static_cast<int>(i)) {
                error = label + ": child " + std::to_string(c) + " does not exist";
                return false;
            }
            if (scene.parent[c] >= 0) {
                error = NodeLabel(m, c) + " has two parents";
                return false;
            }
            scene.parent[c] = static_cast<int>(i);
        }
        if (!Finite(node.matrix) || !Finite(node.translation) || !Finite(node.rotation) ||
            !Finite(node.scale)) {
            error = label + ": a transform number is not finite";
            return false;
        }
        if (node.matrix.size() == 16) {
            std::copy(node.matrix.begin(), node.matrix.end(), local[i].begin());
            V3 s;
            Decompose(local[i], scene.translation[i], scene.rotation[i], s);
            continue;
        }
        if ((!node.matrix.empty()) || (!node.translation.empty() && node.translation.size() != 3) ||
            (!node.rotation.empty() && node.rotation.size() != 4) ||
            (!node.scale.empty() && node.scale.size() != 3)) {
            error = label + ": a transform has the wrong count of numbers";
            return false;
        }
        V3 s{1, 1, 1};
        if (node.translation.size() == 3)
            scene.translation[i] = {node.translation[0], node.translation[1], node.translation[2]};
        if (node.rotation.size() == 4)
            scene.rotation[i] = Normalized(
                {node.rotation[0], node.rotation[1], node.rotation[2], node.rotation[3]});
        if (node.scale.size() == 3) s = {node.scale[0], node.scale[1], node.scale[2]};
        local[i] = Compose(scene.translation[i], scene.rotation[i], s);
    }
    // Parents before children; a node that never reaches a root is in a cycle.
    std::vector<int> state(n, 0);  // 0 to do, 1 on the way, 2 done
    std::vector<int> depth(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        std::vector<int> chain;
        for (int k = static_cast<int>(i); k >= 0 && state[k] != 2; k = scene.parent[k]) {
            if (state[k] == 1) {
                error = NodeLabel(m, k) + " is its own ancestor";
                return false;
            }
            state[k] = 1;
            chain.push_back(k);
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            const int k = *it, p = scene.parent[k];
            scene.global[k] = p >= 0 ? Mul(scene.global[p], local[k]) : local[k];
            depth[k] = p >= 0 ? depth[p] + 1 : 0;
            if (depth[k] > kMaxDepth) {
                error = NodeLabel(m, k) + " lies deeper than " + std::to_string(kMaxDepth) +
                        " nodes in the tree";
                return false;
            }
            state[k] = 2;
        }
    }
    return true;
}

bool BuildBones(const Scene& scene, const ImportOptions& options, Skeleton& sk,
                ImportResult& result, std::string& error) {
    const tinygltf::Model& m = scene.model;
    if (m.skins.empty()) {
        error = "no skin: the bones come from a skinned mesh's armature (see docs/gltf.md)";
        return false;
    }
    if (options.skin < 0 || static_cast<std::size_t>(options.skin) >= m.skins.size()) {
        error = "no skin " + std::to_string(options.skin) + ": the file has " +
                std::to_string(m.skins.size());
        return false;
    }
    sk.skin = options.skin;
    const tinygltf::Skin& skin = m.skins[sk.skin];
    const std::string skin_label = "skin " + std::to_string(sk.skin);
    if (skin.joints.empty()) {
        error = skin_label + " has no joints";
        return false;
    }
    if (skin.joints.size() > tra4::kMaxBones) {
        error = skin_label + " has " + std::to_string(skin.joints.size()) +
                " joints, more than the " + std::to_string(tra4::kMaxBones) + " a motion can hold";
        return false;
    }
    const std::size_t n = m.nodes.size();
    std::vector<int> joint_of_node(n, -1);
    for (std::size_t j = 0; j < skin.joints.size(); ++j) {
        const int node = skin.joints[j];
        if (node < 0 || static_cast<std::size_t>(node) >= n) {
            error = skin_label + ": joint " + std::to_string(j) + " is node " +
                    std::to_string(node) + ", which does not exist";
            return false;
        }
        if (joint_of_node[node] >= 0) {
            error = skin_label + ": " + NodeLabel(m, node) + " is listed twice as a joint";
            return false;
        }
        joint_of_node[node] = static_cast<int>(j);
    }

    // Bind pose: the inverse of each inverse bind matrix, else the node at rest.
    std::vector<M4> bind(skin.joints.size());
    sk.has_inverse_bind = skin.inverseBindMatrices >= 0;
    if (sk.has_inverse_bind) {
        std::vector<double> ibm;
        if (!ReadAccessor(m, skin.inverseBindMatrices, 16, kFloat,
                          skin_label + " inverse bind matrices", ibm, error))
            return false;
        if (ibm.size() != 16 * skin.joints.size()) {
            error = skin_label + ": " + std::to_string(ibm.size() / 16) +
                    " inverse bind matrices for " + std::to_string(skin.joints.size()) + " joints";
            return false;
        }
        for (std::size_t j = 0; j < skin.joints.size(); ++j) {
            M4 inv;
            std::copy(ibm.begin() + 16 * j, ibm.begin() + 16 * (j + 1), inv.begin());
            if (!Invert(inv, bind[j])) {
                error = skin_label + ": the inverse bind matrix of " +
                        NodeLabel(m, skin.joints[j]) + " has no inverse";
                return false;
            }
        }
    } else {
        for (std::size_t j = 0; j < skin.joints.size(); ++j) bind[j] = scene.global[skin.joints[j]];
    }

    // The joint tree: each joint's nearest joint ancestor, children in node order.
    auto joint_parent = [&](int node) {
        for (int p = scene.parent[node]; p >= 0; p = scene.parent[p])
            if (joint_of_node[p] >= 0) return p;
        return -1;
    };
    std::vector<std::vector<int>> children(n);
    std::vector<int> roots;
    // Children in the order a depth-first walk of the node tree meets them.
    std::function<void(int, int)> walk = [&](int node, int owner) {
        for (int c : m.nodes[node].children) {
            if (joint_of_node[c] >= 0) {
                children[owner].push_back(c);
                walk(c, c);
            } else {
                walk(c, owner);
            }
        }
    };
    for (int node : skin.joints) {
        if (joint_parent(node) >= 0) continue;
        roots.push_back(node);
        walk(node, node);
    }
    sk.bone_of_node.assign(n, -1);
    std::vector<std::pair<int, bool>> order;  // node, has a later sibling
    std::function<void(int, bool)> visit = [&](int node, bool brother) {
        order.push_back({node, brother});
        for (std::size_t c = 0; c < children[node].size(); ++c)
            visit(children[node][c], c + 1 < children[node].size());
    };
    for (std::size_t r = 0; r < roots.size(); ++r) visit(roots[r], r + 1 < roots.size());

    sk.bone_of_joint.assign(skin.joints.size(), -1);
    std::map<std::string, int> names;  // name without tag -> node
    std::map<int, int> tags;           // motor code -> node
    auto& bones = result.model.bones;
    for (const auto& [node, brother] : order) {
        const std::string& name = m.nodes[node].name;
        const std::string label = "joint " + NodeLabel(m, node);
        std::size_t base_length = 0;
        const Tag tag = FindTag(name, base_length);
        const std::string base = name.substr(0, base_length);
        for (unsigned char c : name)
            if (c < 0x20 || c == 0x7F || c == '"') {
                error = label + ": a bone name holds no quote and no control character";
                return false;
            }
        if (base.find_first_of("()") != std::string::npos) {
            error = label +
                    ": a parenthesis outside a motor tag at the end of the name, "
                    "such as (ID-03) or (OD-07R)";
            return false;
        }
        if (name.size() > bac6::kMaxNameBytes) {
            error = label + ": the name is longer than 1024 bytes";
            return false;
        }
        if (const auto [it, fresh] = names.emplace(base, node); !fresh) {
            error = label + ": the same name as " + NodeLabel(m, it->second) +
                    "; the conversion finds bones by name";
            return false;
        }
        if (tag.found) {
            const int code = (tag.od ? 100 : 0) + tag.index;
            if (const auto [it, fresh] = tags.emplace(code, node); !fresh) {
                error = label + ": its motor tag is used by " + NodeLabel(m, it->second) + " too";
                return false;
            }
        }
        sk.bone_of_node[node] = static_cast<int>(bones.size());
        sk.bone_of_joint[joint_of_node[node]] = static_cast<int>(bones.size());
        sk.nodes.push_back(node);
        sk.bind.push_back(bind[joint_of_node[node]]);
        bac6::Bone bone;
        bone.name = name;
        bone.hasChild = !children[node].empty();
        bone.hasBrother = brother;
        bones.push_back(bone);
    }
    if (tags.size() > static_cast<std::size_t>(kMaxServos)) {
        error = std::to_string(tags.size()) + " bones carry motor tags; the board drives at most " +
                std::to_string(kMaxServos) + " servos";
        return false;
    }

    // Geometry: position, then the bone (+Y) and handle (+Z) directions.
    for (std::size_t b = 0; b < bones.size(); ++b) {
        const M4& f = sk.bind[b];
        const V3 p = Point(f, {}) * kMm;
        double length = kLeafLength;
        const int node = sk.nodes[b];
        if (!children[node].empty()) {
            const int first = sk.bone_of_node[children[node][0]];
            const double d = Length(Point(sk.bind[first], {}) * kMm - p);
            if (d > 1e-3) length = d;
        }
        const V3 y = Unit(Direction(f, {0, 1, 0})), z = Unit(Direction(f, {0, 0, 1}));
        const V3 r = p + y * length, h = p + z * length;
        auto& bone = bones[b];
        bone.translate = {float(p.x), float(p.y), float(p.z)};
        bone.rotate = {float(r.x), float(r.y), float(r.z)};
        bone.handle = {float(h.x), float(h.y), float(h.z)};
        for (float v : bone.translate) {
            if (!std::isfinite(v)) {
                error = "joint " + NodeLabel(m, node) + ": its position is out of range";
                return false;
            }
        }
    }
    return true;
}

}  // namespace quenlo::gltf
