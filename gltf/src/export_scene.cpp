// The export's scene from the model figread holds and a conversion: the
// preview's own skeleton poses every key, so that the file plays as the
// preview does.
#include <cmath>
#include <unordered_map>

#include "conversion.h"
#include "figread.h"
#include "gltf.h"
#include "preview.h"

namespace quenlo::gltf {
namespace {

using preview::PreviewBone;
using preview::PreviewVector;

Vec3d D(const PreviewVector& v) {
    return {v[0], v[1], v[2]};
}
double Dot(const Vec3d& a, const Vec3d& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
Vec3d Cross(const Vec3d& a, const Vec3d& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
// Unit vector along v; zero when v has no direction.
Vec3d Unit(const Vec3d& v) {
    const double l = std::sqrt(Dot(v, v));
    return l > 1e-9 ? Vec3d{v[0] / l, v[1] / l, v[2] / l} : Vec3d{};
}

std::string BoneName(int b) {
    std::string name = fnbacGetBoneName(b);
    const int motor = fnbacGetMotorIndex(b);
    if (motor >= 0) {
        char tag[16];
        std::snprintf(tag, sizeof tag, "(%s-%02d%s)", fnbacGetMotorGroup(b) ? "OD" : "ID",
                      motor % 100, fnbacGetMotorRevers(b) ? "R" : "");
        name += tag;
    }
    return name;
}

// The joint's rest frame from the bone's points: the rest direction as +Y and
// the handle, made perpendicular to it, as +Z. A bone whose points give no
// frame points up with its handle forward; false tells the caller.
bool RestFrame(const PreviewBone& bone, ExportJoint& joint) {
    Vec3d y = Unit(D(bone.axis_w));
    bool sound = Dot(y, y) != 0;
    if (!sound) y = {0, 1, 0};
    Vec3d v = D(bone.axis_v);
    Vec3d z = Unit({v[0] - Dot(v, y) * y[0], v[1] - Dot(v, y) * y[1], v[2] - Dot(v, y) * y[2]});
    if (Dot(z, z) == 0) {
        sound = false;
        z = Unit(Cross(std::fabs(y[0]) < 0.9 ? Vec3d{1, 0, 0} : Vec3d{0, 0, 1}, y));
        z = Unit(Cross(Cross(y, z), y));
    }
    joint.direction = y;
    joint.handle = z;
    return sound;
}

// The rotation part of a preview bone matrix; a matrix that is no rotation
// (a bone without a frame, rolled) counts as rest.
bool PoseOf(const preview::PreviewMatrix& m, ExportPose& pose) {
    pose.rotation = {m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]};
    pose.offset = {m[12], m[13], m[14]};
    const Mat3d& r = pose.rotation;
    for (int a = 0; a < 3; ++a)
        for (int b = 0; b < 3; ++b) {
            const double d =
                r[3 * a] * r[3 * b] + r[3 * a + 1] * r[3 * b + 1] + r[3 * a + 2] * r[3 * b + 2];
            if (std::fabs(d - (a == b)) > 1e-3) {
                pose.rotation = kIdentity3;
                return false;
            }
        }
    return true;
}

class MeshBuilder {
  public:
    MeshBuilder(ExportScene& s, std::vector<float> positions, std::vector<float> normals)
        : s_(s),
          positions_(std::move(positions)),
          normals_(std::move(normals)),
          first_(positions_.size() / 3, kNone) {}

    // The scene's vertex for a model vertex on a bone: one per pair.
    uint32_t Vertex(int v, int bone, const Vec3d& face_normal) {
        const auto index = static_cast<size_t>(v);
        uint32_t& first = first_[index];
        if (first != kNone && s_.vertex_joint[first] == bone) return first;
        if (first != kNone) {
            const uint64_t key = (uint64_t{index} << 16) | static_cast<uint16_t>(bone);
            auto [it, added] = others_.try_emplace(key, 0);
            if (!added) return it->second;
            it->second = Add(index, bone, face_normal);
            return it->second;
        }
        first = Add(index, bone, face_normal);
        return first;
    }

    Vec3d Position(int v) const {
        const auto i = static_cast<size_t>(v) * 3;
        return {positions_[i], positions_[i + 1], positions_[i + 2]};
    }

  private:
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    uint32_t Add(size_t v, int bone, const Vec3d& face_normal) {
        s_.positions.push_back({positions_[3 * v], positions_[3 * v + 1], positions_[3 * v + 2]});
        // glTF wants unit normals; a model's zero normal takes its face's.
        Vec3d n = Unit({normals_[3 * v], normals_[3 * v + 1], normals_[3 * v + 2]});
        if (Dot(n, n) == 0) n = Dot(face_normal, face_normal) != 0 ? face_normal : Vec3d{0, 1, 0};
        s_.normals.push_back(
            {static_cast<float>(n[0]), static_cast<float>(n[1]), static_cast<float>(n[2])});
        s_.vertex_joint.push_back(static_cast<uint16_t>(bone));
        return static_cast<uint32_t>(s_.positions.size() - 1);
    }

    ExportScene& s_;
    std::vector<float> positions_, normals_;
    std::vector<uint32_t> first_;
    std::unordered_map<uint64_t, uint32_t> others_;
};

bool AddMesh(ExportScene& s, std::vector<std::string>& warnings, std::string* error) {
    const unsigned nv = fnbacGetVertexNumber(), nn = fnbacGetNormalNumber();
    std::vector<float> positions(size_t{nv} * 3), normals(size_t{nn} * 3);
    fnbacGetVertexAllValue(positions.data(), nv);
    fnbacGetNormalAllValue(normals.data(), nn);
    // Every vertex a face uses must have a normal, as the preview requires.
    normals.resize(positions.size(), 0.0f);
    MeshBuilder mesh(s, std::move(positions), std::move(normals));

    const int materials = static_cast<int>(fnbacGetMaterialNumber());
    const int colours = static_cast<int>(fnbacGetColorNumber());
    for (int m = 0; m < materials; ++m) {
        ExportMaterial& mat = s.materials.emplace_back();
        mat.name = fnbacGetMaterialName(m);
        const int c = fnbacGetMaterialColor(m);
        if (c >= 0 && c < colours)
            mat.color = {fnbacGetColorR(c), fnbacGetColorG(c), fnbacGetColorB(c), 1.0f};
        mat.double_sided = fnbacGetMaterialDoubleFace(m);
    }
    for (int m = 0; m < materials; ++m) s.primitives.emplace_back().material = m;
    int unowned = 0, outside = 0, unknown_material = 0;
    const int np = static_cast<int>(fnbacGetPolygonNumber());
    const int bones = static_cast<int>(s.joints.size());
    for (int p = 0; p < np; ++p) {
        const int corners = fnbacGetPolygonVtxNumber(p);
        if (corners != 3 && corners != 4) continue;
        int v[4];
        fnbacGetPolygonVertex(p, v);
        bool inside = true;
        for (int k = 0; k < corners; ++k)
            inside = inside && v[k] >= 0 && static_cast<unsigned>(v[k]) < nv &&
                     static_cast<unsigned>(v[k]) < nn;
        const int bone = inside ? fnbacGetPolygonBone(p) : -1;
        if (!inside) {
            ++outside;
            continue;
        }
        if (bone < 0 || bone >= bones) {
            ++unowned;
            continue;
        }
        int material = fnbacGetPolygonMaterial(p);
        if (material < 0 || material >= materials) {
            // The preview's grey, as one more material.
            ++unknown_material;
            if (s.materials.size() == static_cast<size_t>(materials)) {
                s.materials.emplace_back().name = "default";
                s.primitives.emplace_back().material = materials;
            }
            material = materials;
        }
        const Vec3d a = mesh.Position(v[0]), b = mesh.Position(v[1]), c = mesh.Position(v[2]);
        const Vec3d normal = Unit(Cross({b[0] - a[0], b[1] - a[1], b[2] - a[2]},
                                        {c[0] - a[0], c[1] - a[1], c[2] - a[2]}));
        std::vector<uint32_t>& out = s.primitives[static_cast<size_t>(material)].indices;
        uint32_t idx[4];
        for (int k = 0; k < corners; ++k) idx[k] = mesh.Vertex(v[k], bone, normal);
        out.insert(out.end(), {idx[0], idx[1], idx[2]});
        if (corners == 4) out.insert(out.end(), {idx[0], idx[2], idx[3]});
    }
    if (unowned)
        warnings.push_back(
            std::to_string(unowned) +
            " polygons belong to no bone and are left out, as the preview leaves them");
    if (outside)
        warnings.push_back(std::to_string(outside) +
                           " polygons name vertices or normals the model lacks and are left out");
    if (unknown_material)
        warnings.push_back(std::to_string(unknown_material) +
                           " polygons name a material the model lacks and are grey");
    if (s.positions.size() > 0xFFFFFFFEu) {
        if (error) *error = "the model has too many vertices for one mesh";
        return false;
    }
    return true;
}

}  // namespace

bool SceneFromConversion(const CDataInfo& data, const std::vector<std::string>& motion_names,
                         int rate_ms, ExportScene& s, std::vector<std::string>& warnings,
                         std::string* error) {
    s = ExportScene();
    CPreviewScene preview;
    if (!preview.CreateBacObject(nullptr, data)) {
        if (error) *error = "the model has no vertices, normals, bones or polygons to show";
        return false;
    }
    const size_t bones = preview.bones().size();
    if (bones > 65535) {
        if (error) *error = "the model has more than 65535 bones";
        return false;
    }
    int frameless = 0;
    for (size_t b = 0; b < bones; ++b) {
        const PreviewBone* bone = preview.bones()[b].get();
        if (!bone) {
            if (error) *error = "out of memory";
            return false;
        }
        ExportJoint& joint = s.joints.emplace_back();
        joint.name = BoneName(static_cast<int>(b));
        joint.parent = bone->parent;
        joint.position = D(bone->position);
        frameless += !RestFrame(*bone, joint);
    }
    if (frameless)
        warnings.push_back(std::to_string(frameless) +
                           " bones have a rotation point on their position or a handle on their "
                           "rest direction: they point up in the file");
    if (!AddMesh(s, warnings, error)) return false;

    int unposed = 0;
    const size_t motions = data.raw_motions().size();
    for (size_t m = 0; m < motions; ++m) {
        const std::string name =
            m < motion_names.size() ? motion_names[m] : "motion" + std::to_string(m);
        const preview::PreviewTrack* keys = nullptr;
        for (const auto& bone : preview.bones())
            if (m < bone->tracks.size() && !bone->tracks[m].empty()) {
                keys = &bone->tracks[m];
                break;
            }
        if (!keys) {
            warnings.push_back("motion " + name + " has no key for any bone and is left out");
            continue;
        }
        ExportAnimation& a = s.animations.emplace_back();
        a.name = name;
        for (const preview::PreviewKey& key : *keys)
            a.times.push_back(static_cast<double>(key.frame) * rate_ms / 1000.0);
        a.poses.resize(bones);
        for (size_t b = 0; b < bones; ++b) {
            PreviewBone& bone = *preview.bones()[b];
            if (m >= bone.tracks.size() || bone.tracks[m].empty()) continue;
            bone.active_track = static_cast<int>(m);
            for (const preview::PreviewKey& key : *keys) {
                CPreviewScene::SetPose(bone, key.frame);
                CPreviewScene::BoneMatrix(bone);
                unposed += !PoseOf(bone.matrix, a.poses[b].emplace_back());
            }
        }
    }
    if (unposed)
        warnings.push_back(std::to_string(unposed) +
                           " poses of bones without a frame are no rotation and stay at rest");
    return true;
}

}  // namespace quenlo::gltf
