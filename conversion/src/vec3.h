// Small single-precision vector maths for the bone axes.
#pragma once

#include <array>
#include <cmath>

namespace quenlo::conversion {

using V3 = std::array<float, 3>;

inline V3 Sub(const float a[3], const float b[3]) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
inline V3 Cross(const V3& a, const V3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
// In double: no product of two finite floats overflows there.
inline double Dot(const V3& a, const V3& b) {
    return double{a[0]} * b[0] + double{a[1]} * b[1] + double{a[2]} * b[2];
}

// Length 0 stays 0; length exactly 1 is left untouched so unit axes keep their bits.
inline V3 Unit(const V3& v) {
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len == 0.0f || len == 1.0f) return v;
    return {v[0] / len, v[1] / len, v[2] / len};
}

}  // namespace quenlo::conversion
