// The sphere every pose of the model stays inside, for the camera's start view.
#include <algorithm>
#include <cmath>

#include "preview.h"

namespace quenlo::preview {
namespace {

float Length(const PreviewVector& v) {
    return std::sqrt(Dot(v, v));
}

}  // namespace

PreviewReach ModelReach(const std::vector<std::unique_ptr<PreviewBone>>& bones) {
    const size_t n = bones.size();
    // chain[b]: how far bone b's pivot can get from its root's pivot, through
    // every offset and key translation above it; root[b]: that root.
    std::vector<float> chain(n, 0.0f), root_reach(n, -1.0f);
    std::vector<size_t> root(n, 0);
    for (size_t b = 0; b < n; ++b) {
        const PreviewBone* bone = bones[b].get();
        if (!bone) continue;
        float moved = 0.0f;
        for (const PreviewTrack& track : bone->tracks)
            for (const PreviewKey& key : track) moved = std::max(moved, Length(key.translation));
        const int p = bone->parent;
        if (p >= 0 && static_cast<size_t>(p) < b && bones[static_cast<size_t>(p)]) {
            chain[b] = chain[static_cast<size_t>(p)] + Length(bone->offset) + moved;
            root[b] = root[static_cast<size_t>(p)];
        } else {
            chain[b] = moved;  // turns about its own pivot
            root[b] = b;
        }
        for (const PreviewFace& face : bone->faces)
            for (int k = 0; k < (face.is_quad ? 4 : 3); ++k) {
                const PreviewVector& v = face.positions[static_cast<size_t>(k)];
                const PreviewVector from{v[0] - bone->position[0], v[1] - bone->position[1],
                                         v[2] - bone->position[2]};
                float& r = root_reach[root[b]];
                r = std::max(r, chain[b] + Length(from));
            }
    }
    // The box around every root's sphere; its middle is the centre.
    PreviewVector lo{}, hi{};
    bool any = false;
    for (size_t b = 0; b < n; ++b) {
        if (root_reach[b] < 0) continue;
        for (int i = 0; i < 3; ++i) {
            const float a = bones[b]->position[i] - root_reach[b];
            const float z = bones[b]->position[i] + root_reach[b];
            lo[i] = any ? std::min(lo[i], a) : a;
            hi[i] = any ? std::max(hi[i], z) : z;
        }
        any = true;
    }
    PreviewReach reach;
    if (!any) return reach;
    for (int i = 0; i < 3; ++i) reach.centre[i] = (lo[i] + hi[i]) / 2;
    for (size_t b = 0; b < n; ++b) {
        if (root_reach[b] < 0) continue;
        const PreviewVector d{bones[b]->position[0] - reach.centre[0],
                              bones[b]->position[1] - reach.centre[1],
                              bones[b]->position[2] - reach.centre[2]};
        reach.radius = std::max(reach.radius, Length(d) + root_reach[b]);
    }
    return reach;
}

}  // namespace quenlo::preview
