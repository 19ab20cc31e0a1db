// The preview's copy of the model: bones with their faces and key tracks,
// fetched from figread and from a conversion's raw key values.
#include <algorithm>
#include <cfloat>
#include <new>

#include "conversion.h"
#include "figread.h"
#include "preview.h"
#include "quenlo/platform.h"

using namespace quenlo::preview;

namespace {

PreviewVector At(const std::vector<float>& xyz, int index) {
    const size_t i = static_cast<size_t>(index) * 3;
    return {xyz[i], xyz[i + 1], xyz[i + 2]};
}

// Largest extent over the axes, x then y then z; at least the smallest normal float.
float ModelSize(const std::vector<float>& xyz, size_t count) {
    float size = FLT_MIN;
    for (int axis = 0; axis < 3; ++axis) {
        float lo = xyz[static_cast<size_t>(axis)], hi = lo;
        for (size_t v = 1; v < count; ++v) {
            const float x = xyz[v * 3 + static_cast<size_t>(axis)];
            lo = std::min(lo, x);
            hi = std::max(hi, x);
        }
        if (hi - lo > size) size = hi - lo;
    }
    return size;
}

// Reads the model's positions or normals whole, three floats a point. False
// after the failure line.
bool ReadPoints(const char* what, unsigned (*count)(), void (*fill)(float*, unsigned),
                std::vector<float>& out) {
    const unsigned n = count();
    if (n == 0) {
        quenlo::LogErr("CreateBacObject :: %s error\r\n", what);
        return false;
    }
    quenlo::LogOut("CreateBacObject :: %s number %d\r\n", what, static_cast<int>(n));
    try {
        out.resize(size_t{n} * 3);
    } catch (const std::bad_alloc&) {
        quenlo::LogErr("CreateBacObject :: memory error\r\n");
        return false;
    }
    fill(out.data(), n);
    return true;
}

}  // namespace

CPreviewScene::CPreviewScene() : clock_(&quenlo::SystemClock()) {}

CPreviewScene::~CPreviewScene() = default;

bool CPreviewScene::CreateBacObject(float* size_out, const CDataInfo& data) {
    ClearBacObject();
    ModelCopy model = ReadBacObject(data);
    if (size_out) *size_out = model.size;
    const bool built = model.built;
    SetBacObject(std::move(model));
    return built;
}

void CPreviewScene::SetBacObject(ModelCopy model) {
    std::lock_guard<std::mutex> lock(pose_mutex_);
    bones_ = std::move(model.bones);
    reach_ = model.reach;
    ++model_generation_;
}

ModelCopy CPreviewScene::ReadBacObject(const CDataInfo& data) {
    ModelCopy model;
    BoneList& bones = model.bones;
    std::vector<float> positions, normals;
    if (!ReadPoints("vertex", fnbacGetVertexNumber, fnbacGetVertexAllValue, positions))
        return model;
    const unsigned nv = static_cast<unsigned>(positions.size() / 3);
    model.size = ModelSize(positions, nv);
    if (!ReadPoints("normal", fnbacGetNormalNumber, fnbacGetNormalAllValue, normals)) return model;
    const unsigned nn = static_cast<unsigned>(normals.size() / 3);

    const unsigned nb = fnbacGetBoneNumber();
    if (nb == 0) {
        quenlo::LogErr("CreateBacObject :: bone error\r\n");
        return model;
    }
    quenlo::LogOut("CreateBacObject :: bone number %d\r\n", static_cast<int>(nb));

    const std::vector<TraMotion>& motions = data.raw_motions();
    std::vector<int> short_bones(motions.size(), 0);
    SkeletonWalk walk;
    for (unsigned j = 0; j < nb; ++j) {
        const int b = static_cast<int>(j);
        std::unique_ptr<PreviewBone> bone(new (std::nothrow) PreviewBone);
        if (!bone) {
            bones.emplace_back();  // the walk and the posing skip it
            continue;
        }
        fnbacGetBonePosition(b, bone->position.data());
        fnbacGetBoneRotation(b, bone->rotation_point.data());
        fnbacGetBoneHandle(b, bone->handle_point.data());
        bone->has_child = fnbacGetBoneChild(b);
        bone->has_brother = fnbacGetBoneBrother(b);
        // The parent is the bone the draw walk has in force here, so that at
        // rest every vertex is drawn where the model puts it.
        bone->parent = walk.Next(b, bone->has_child, bone->has_brother);
        SetUpBone(*bone,
                  bone->parent >= 0 ? bones[static_cast<size_t>(bone->parent)].get() : nullptr);
        bone->tracks.reserve(motions.size());
        for (size_t m = 0; m < motions.size(); ++m) {
            bool short_motion = false;
            bone->tracks.push_back(BuildTrack(*bone, motions[m], j, &short_motion));
            short_bones[m] += short_motion;
        }
        bones.push_back(std::move(bone));
    }
    for (size_t m = 0; m < motions.size(); ++m) {
        if (short_bones[m])
            quenlo::LogErr("CreateBacObject :: motion %d has no keys for %d of %d bones\r\n",
                           static_cast<int>(m), short_bones[m], static_cast<int>(nb));
    }

    const unsigned np = fnbacGetPolygonNumber();
    if (np == 0) {
        quenlo::LogErr(
            "CreateBacObject :: warning: the model has no polygons; the preview has nothing to "
            "draw\r\n");
        return model;
    }
    quenlo::LogOut("CreateBacObject :: face number %d\r\n", static_cast<int>(np));
    const int materials = static_cast<int>(fnbacGetMaterialNumber());
    const int colours = static_cast<int>(fnbacGetColorNumber());
    int unknown_materials = 0;
    for (unsigned q = 0; q < np; ++q) {
        const int p = static_cast<int>(q);
        PreviewFace face;
        const int corners = fnbacGetPolygonVtxNumber(p);
        if (corners != 3 && corners != 4) continue;
        face.is_quad = corners == 4;
        int index[4] = {0, 0, 0, 0};
        fnbacGetPolygonVertex(p, index);
        bool inside = true;
        for (int k = 0; k < corners && inside; ++k) {
            if (index[k] < 0 || static_cast<unsigned>(index[k]) >= nv ||
                static_cast<unsigned>(index[k]) >= nn) {
                quenlo::LogErr(
                    "CreateBacObject :: face %d index %d beyond %u vertices, %u normals\r\n", p,
                    index[k], nv, nn);
                inside = false;
            }
        }
        if (!inside) continue;
        for (int k = 0; k < corners; ++k) {
            face.positions[static_cast<size_t>(k)] = At(positions, index[k]);
            face.normals[static_cast<size_t>(k)] = At(normals, index[k]);
        }

        const int m = fnbacGetPolygonMaterial(p);
        if (m >= materials) {
            ++unknown_materials;  // keeps the default grey
        } else if (m >= 0) {
            const int col = fnbacGetMaterialColor(m);
            if (col >= 0 && col < colours)
                face.colour = {fnbacGetColorR(col), fnbacGetColorG(col), fnbacGetColorB(col), 1.0f};
            face.specular = fnbacGetMaterialSpecular(m);
            face.shininess = fnbacGetMaterialShininess(m);
        }

        const int owner = fnbacGetPolygonBone(p);
        if (owner < 0 || static_cast<unsigned>(owner) >= bones.size()) continue;
        PreviewBone* bone = bones[static_cast<size_t>(owner)].get();
        if (!bone) continue;
        try {
            bone->faces.push_back(face);
        } catch (const std::bad_alloc&) {
            // the face is left out, as an allocation failure of its own would
        }
    }
    if (unknown_materials)
        quenlo::LogErr("CreateBacObject :: %d faces name a material the model lacks\r\n",
                       unknown_materials);
    model.reach = ModelReach(bones);
    model.built = true;
    return model;
}

void CPreviewScene::ClearBacObject() {
    std::lock_guard<std::mutex> lock(pose_mutex_);
    bones_.clear();
    reach_ = {};
    ++model_generation_;
}

void CPreviewScene::SelectMotion(int motion) {
    std::lock_guard<std::mutex> lock(pose_mutex_);
    for (const auto& bone : bones_) {
        if (!bone) continue;
        const bool has = motion >= 0 && static_cast<size_t>(motion) < bone->tracks.size();
        bone->active_track = has ? motion : -1;
    }
}

void CPreviewScene::ResetPose() {
    std::lock_guard<std::mutex> lock(pose_mutex_);
    for (const auto& bone : bones_) {
        if (!bone) continue;
        bone->active_track = bone->tracks.empty() ? -1 : 0;
        SetPose(*bone, 0);
    }
}
