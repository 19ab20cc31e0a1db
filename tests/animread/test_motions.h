// Motions the tests build with the writer, and small helpers around them.
#pragma once

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "tra4_writer.h"

namespace quenlo::tra4::test {

// Three keys, three bones: a plain one, a mirrored one with a Shift_JIS name
// ("腕" and "ソ", whose second byte is a backslash), and one with an empty name.
inline Motion SampleMotion() {
    Motion m;
    m.times = {0, 10, 30};
    Bone& base = m.AddBone("base");
    base.keys[0] = {{0, 0, 1}, {0, 0, 0}, 0};
    base.keys[1] = {{0, 0.5f, 0.8660254f}, {1, 2, 3}, 15};
    base.keys[2] = {{0, 1, 0}, {-1, -2, -3}, -45.25f};
    Bone& arm = m.AddBone("\x98\x72\x83\x5C", true);
    arm.keys[0] = {{0.1f, 0.2f, 0.3f}, {4, 5, 6}, 1e-3f};
    arm.keys[1] = {{-0.1f, -0.2f, -0.3f}, {7, 8, 9}, 90};
    arm.keys[2] = {{1e-30f, kMaxValue, -0.0f}, {0, 0, 0}, 180};
    m.AddBone("");
    return m;
}

// Values at the edges of what a file may hold: the bound, the float just
// inside it, the smallest normal, subnormals, negative zero, and ones with long
// shortest forms; the last key time allowed.
inline Motion ExtremeMotion() {
    Motion m;
    m.times = {0, kMaxKeyTime};
    Bone& b = m.AddBone("x");
    b.keys[0] = {{kMaxValue, -kMaxValue, FLT_MIN},
                 {-0.0f, std::numeric_limits<float>::denorm_min(), 1e-40f},
                 -0.0f};
    b.keys[1] = {{0.1f, 1.0f / 3, std::nextafter(kMaxValue, 0.0f)},
                 {-kMaxValue, -1e-30f, 123456.789f},
                 359.99997f};
    return m;
}

inline std::string Text(const Motion& m, const WriteOptions& options = {}) {
    std::string out;
    ToText(m, out, nullptr, options);
    return out;
}

// Bitwise equality, so -0 and 0 differ and a round trip must keep every bit.
inline bool SameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

inline bool SameBits(const Key& a, const Key& b) {
    for (int i = 0; i < 3; ++i)
        if (!SameBits(a.rotate[i], b.rotate[i]) || !SameBits(a.translate[i], b.translate[i]))
            return false;
    return SameBits(a.roll, b.roll);
}

inline bool SameBits(const Motion& a, const Motion& b) {
    if (a.times != b.times || a.bones.size() != b.bones.size()) return false;
    for (std::size_t i = 0; i < a.bones.size(); ++i) {
        const Bone &x = a.bones[i], &y = b.bones[i];
        if (x.name != y.name || x.mirror != y.mirror || x.keys.size() != y.keys.size())
            return false;
        for (std::size_t k = 0; k < x.keys.size(); ++k)
            if (!SameBits(x.keys[k], y.keys[k])) return false;
    }
    return true;
}

}  // namespace quenlo::tra4::test
