// Vectors, quaternions and 4x4 matrices in double precision for the glTF
// conversions; matrices are column-major as glTF stores them.
#pragma once

#include <array>
#include <cmath>

namespace quenlo::gltf {

struct V3 {
    double x = 0, y = 0, z = 0;
};
inline V3 operator+(V3 a, V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline V3 operator-(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline V3 operator*(V3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
inline double Dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline V3 Cross(V3 a, V3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double Length(V3 a) {
    return std::sqrt(Dot(a, a));
}
// The unit vector along a, or a itself when it is too short to have a direction.
inline V3 Unit(V3 a) {
    const double l = Length(a);
    return l > 1e-12 ? a * (1.0 / l) : a;
}

// Rotation quaternion (x, y, z, w) as glTF writes it.
struct Quat {
    double x = 0, y = 0, z = 0, w = 1;
};
inline Quat operator*(Quat a, Quat b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}
inline Quat Conjugate(Quat q) {
    return {-q.x, -q.y, -q.z, q.w};
}
inline Quat Normalized(Quat q) {
    const double l = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (!(l > 1e-12)) return {};
    return {q.x / l, q.y / l, q.z / l, q.w / l};
}
inline V3 Rotate(Quat q, V3 v) {
    const V3 u{q.x, q.y, q.z};
    const V3 t = Cross(u, v) * 2.0;
    return v + t * q.w + Cross(u, t);
}
Quat Slerp(Quat a, Quat b, double t);

using M4 = std::array<double, 16>;  // column-major
inline constexpr M4 kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
M4 Mul(const M4& a, const M4& b);
M4 Compose(V3 t, Quat r, V3 s);
// False for a matrix without an inverse.
bool Invert(const M4& m, M4& out);
inline V3 Point(const M4& m, V3 p) {
    return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
            m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
            m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}
inline V3 Direction(const M4& m, V3 d) {
    return {m[0] * d.x + m[4] * d.y + m[8] * d.z, m[1] * d.x + m[5] * d.y + m[9] * d.z,
            m[2] * d.x + m[6] * d.y + m[10] * d.z};
}
// Splits an affine matrix into translation, rotation and scale (no shear).
void Decompose(const M4& m, V3& t, Quat& r, V3& s);

// A colour channel between the display's values (sRGB, as BAC6 colours and
// the preview have them) and light intensity (linear, as glTF's base colour
// has it), by the sRGB transfer function. In double precision, so that a
// float's way there and back gives the same float.
inline double SrgbToLinear(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
inline double LinearToSrgb(double c) {
    return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
}

}  // namespace quenlo::gltf
