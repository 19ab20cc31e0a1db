// Skeleton mathematics: bone frames, key tracks, poses, bone matrices and the
// walk that multiplies them. Single precision throughout.
#include <cmath>
#include <cstdint>

#include "conversion.h"
#include "preview.h"

namespace quenlo::preview {
namespace {

PreviewVector Sub(const PreviewVector& a, const PreviewVector& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

// x*U + y*V + z*W
PreviewVector InBoneAxes(const PreviewBone& bone, const std::array<float, 3>& v) {
    PreviewVector r;
    for (int i = 0; i < 3; ++i)
        r[i] = v[0] * bone.axis_u[i] + v[1] * bone.axis_v[i] + v[2] * bone.axis_w[i];
    return r;
}

void CopyKey(PreviewBone& bone, const PreviewKey& key) {
    bone.pose_direction = key.direction;
    bone.pose_translation = key.translation;
    bone.pose_roll = key.roll;
}

// A unit vector perpendicular to w, for a half turn away from it; zero for a
// zero w.
PreviewVector Perpendicular(const PreviewVector& w) {
    const PreviewVector a =
        std::fabs(w[0]) < std::fabs(w[1]) ? PreviewVector{1, 0, 0} : PreviewVector{0, 1, 0};
    return Normalised(Cross(w, a));
}

}  // namespace

PreviewVector Normalised(const PreviewVector& v) {
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len == 0.0f) return v;
    return {v[0] / len, v[1] / len, v[2] / len};
}

PreviewVector Cross(const PreviewVector& a, const PreviewVector& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

float Dot(const PreviewVector& a, const PreviewVector& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

PreviewMatrix AxisRotation(const PreviewVector& axis, float degrees) {
    if (degrees < 0) degrees += 360.0f;
    const float phi = degrees * 6.2831854820251465f / 360.0f;
    const float c = std::cos(phi), s = std::sin(phi), t = 1.0f - c;
    const float x = axis[0], y = axis[1], z = axis[2];
    PreviewMatrix m = kIdentityMatrix;
    // Column-major: element (row r, column c) at 4c + r.
    m[0] = c + x * x * t, m[4] = x * y * t - z * s, m[8] = x * z * t + y * s;
    m[1] = x * y * t + z * s, m[5] = c + y * y * t, m[9] = y * z * t - x * s;
    m[2] = x * z * t - y * s, m[6] = y * z * t + x * s, m[10] = c + z * z * t;
    return m;
}

PreviewMatrix Multiply(const PreviewMatrix& p, const PreviewMatrix& m) {
    PreviewMatrix r;
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += p[4 * k + row] * m[4 * c + k];
            r[4 * c + row] = sum;
        }
    return r;
}

PreviewVector TransformPoint(const PreviewMatrix& m, const PreviewVector& v) {
    PreviewVector r;
    for (int row = 0; row < 3; ++row)
        r[row] = m[row] * v[0] + m[4 + row] * v[1] + m[8 + row] * v[2] + m[12 + row];
    return r;
}

int SkeletonWalk::Next(int index, bool has_child, bool has_brother) {
    if (has_brother) saved_.push_back(current_);
    const int parent = current_;
    current_ = index;
    if (!has_child && !saved_.empty()) {
        current_ = saved_.back();
        saved_.pop_back();
    }
    return parent;
}

void SetUpBone(PreviewBone& bone, const PreviewBone* parent) {
    bone.offset = parent ? Sub(bone.position, parent->position) : bone.position;
    bone.axis_v = Normalised(Sub(bone.handle_point, bone.position));
    bone.axis_w = Normalised(Sub(bone.rotation_point, bone.position));
    bone.axis_u = Normalised(Cross(bone.axis_v, bone.axis_w));
    bone.pose_roll = 0.0f;
    bone.pose_direction = bone.axis_w;
    bone.pose_translation = {0, 0, 0};
}

PreviewTrack BuildTrack(const PreviewBone& bone, const TraMotion& motion, size_t bone_index,
                        bool* short_motion) {
    PreviewTrack track;
    const size_t keys = motion.key_count;
    if (keys == 0) return track;
    if (bone_index >= motion.bones.size() || motion.bones[bone_index].keys.size() < keys) {
        if (short_motion) *short_motion = true;
        return track;
    }
    const TraBone& source = motion.bones[bone_index];
    track.reserve(keys);
    for (size_t k = 0; k < keys; ++k) {
        const TraKey& key = source.keys[k];
        PreviewKey p;
        p.frame = key.time;
        p.direction = Normalised(InBoneAxes(bone, key.rotate));
        p.translation = InBoneAxes(bone, key.translate);
        p.roll = key.roll;
        track.push_back(p);
    }
    return track;
}

}  // namespace quenlo::preview

using namespace quenlo::preview;

void CPreviewScene::SetPose(PreviewBone& bone, int32_t t) {
    // Without a key in force the bone is at rest, where an earlier motion's
    // shift does not carry over.
    bone.pose_roll = 0.0f;
    bone.pose_direction = {0, 0, 0};
    bone.pose_translation = {0, 0, 0};
    if (bone.active_track < 0 || static_cast<size_t>(bone.active_track) >= bone.tracks.size())
        return;
    const PreviewTrack& keys = bone.tracks[static_cast<size_t>(bone.active_track)];
    const size_t n = keys.size();
    if (n == 0) return;
    // At and after the last key the bone holds the last key's pose, where the
    // robot's last command leaves it.
    if (keys[n - 1].frame <= t) {
        CopyKey(bone, keys[n - 1]);
        return;
    }
    for (size_t i = 0; i + 1 < n; ++i) {
        const PreviewKey& a = keys[i];
        const PreviewKey& b = keys[i + 1];
        if (a.frame == t) {
            CopyKey(bone, a);
            return;
        }
        if (b.frame > t) {
            const float span = static_cast<float>(int64_t{b.frame} - a.frame);
            if (span == 0.0f) {
                CopyKey(bone, a);
                return;
            }
            // Before the first key u is negative: the pose is extrapolated.
            const float u = static_cast<float>(int64_t{t} - a.frame);
            auto lerp = [&](float x, float y) { return x + (y - x) * u / span; };
            for (int j = 0; j < 3; ++j) {
                bone.pose_direction[j] = lerp(a.direction[j], b.direction[j]);
                bone.pose_translation[j] = lerp(a.translation[j], b.translation[j]);
            }
            bone.pose_roll = lerp(a.roll, b.roll);
            return;
        }
    }
}

void CPreviewScene::BoneMatrix(PreviewBone& bone) {
    const PreviewVector& w = bone.axis_w;
    PreviewMatrix m = kIdentityMatrix;
    if (bone.pose_roll != 0.0f) m = Multiply(AxisRotation(w, bone.pose_roll), m);
    // A zero direction (no key in force) leaves the bone at rest. An
    // interpolated direction is shorter than 1: the swing is the angle
    // between its unit vector and W.
    if (Dot(bone.pose_direction, bone.pose_direction) != 0.0f && Dot(w, w) != 0.0f) {
        const PreviewVector d = Normalised(bone.pose_direction);
        const float c = Dot(d, w);
        const float s = 1.0f - c * c;
        float theta;
        if (s < 1e-9f)
            theta = c > 0 ? 0.0f : 180.0f;
        else
            theta = std::atan2(std::sqrt(s), c) * 180.0f / 3.1415927410125732f;
        PreviewVector axis = Normalised(Cross(w, d));
        // Exactly opposite directions have no common plane: turn about U, the
        // bone's own swing axis, else any axis across W.
        if (Dot(axis, axis) == 0.0f && theta != 0.0f)
            axis = Dot(bone.axis_u, bone.axis_u) != 0.0f ? bone.axis_u : Perpendicular(w);
        m = Multiply(AxisRotation(axis, theta), m);
    }
    for (int i = 0; i < 3; ++i) m[12 + i] = bone.offset[i] + bone.pose_translation[i];
    bone.matrix = m;
}

void CPreviewScene::WalkSkeleton(
    const std::function<void(PreviewBone&, const PreviewMatrix&)>& draw) {
    walk_matrices_.resize(bones_.size());
    for (size_t k = 0; k < bones_.size(); ++k) {
        PreviewBone* bone = bones_[k].get();
        if (!bone) {
            walk_matrices_[k] = kIdentityMatrix;  // never stale for a child
            continue;
        }
        BoneMatrix(*bone);
        const int p = bone->parent;
        walk_matrices_[k] = p >= 0 && static_cast<size_t>(p) < k
                                ? Multiply(walk_matrices_[static_cast<size_t>(p)], bone->matrix)
                                : bone->matrix;
        draw(*bone, walk_matrices_[k]);
    }
}

void CPreviewScene::CopyPose(std::vector<PreviewMatrix>& in_force) {
    std::lock_guard<std::mutex> lock(pose_mutex_);
    WalkSkeleton([](PreviewBone&, const PreviewMatrix&) {});
    in_force = walk_matrices_;
}
