#include "gmath.h"

namespace quenlo::gltf {

Quat Slerp(Quat a, Quat b, double t) {
    double c = a.x * b.x + a.y * b.y + a.z * b.z + a.w * b.w;
    // The shorter way round, as glTF's linear rotation interpolation asks.
    if (c < 0) {
        b = {-b.x, -b.y, -b.z, -b.w};
        c = -c;
    }
    double ka = 1 - t, kb = t;
    if (c < 0.9999) {
        const double angle = std::acos(c), s = std::sin(angle);
        ka = std::sin((1 - t) * angle) / s;
        kb = std::sin(t * angle) / s;
    }
    return Normalized(
        {ka * a.x + kb * b.x, ka * a.y + kb * b.y, ka * a.z + kb * b.z, ka * a.w + kb * b.w});
}

M4 Mul(const M4& a, const M4& b) {
    M4 r{};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row) {
            double s = 0;
            for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[c * 4 + k];
            r[c * 4 + row] = s;
        }
    return r;
}

M4 Compose(V3 t, Quat q, V3 s) {
    const V3 x = Rotate(q, {1, 0, 0}) * s.x, y = Rotate(q, {0, 1, 0}) * s.y,
             z = Rotate(q, {0, 0, 1}) * s.z;
    return {x.x, x.y, x.z, 0, y.x, y.y, y.z, 0, z.x, z.y, z.z, 0, t.x, t.y, t.z, 1};
}

bool Invert(const M4& m, M4& out) {
    // Cofactor expansion of the general 4x4 inverse.
    M4 inv{};
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] +
             m[9] * m[7] * m[14] + m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] -
             m[8] * m[7] * m[14] - m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] +
             m[8] * m[7] * m[13] + m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] -
              m[8] * m[6] * m[13] - m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] -
             m[9] * m[3] * m[14] - m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] +
             m[8] * m[3] * m[14] + m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] -
             m[8] * m[3] * m[13] - m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] +
              m[8] * m[2] * m[13] + m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
             m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] -
             m[4] * m[3] * m[14] - m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] +
              m[4] * m[3] * m[13] + m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] -
              m[4] * m[2] * m[13] - m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] -
             m[5] * m[3] * m[10] - m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
             m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
              m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
              m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    const double det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (!std::isfinite(det) || std::fabs(det) < 1e-300) return false;
    for (int i = 0; i < 16; ++i) out[i] = inv[i] / det;
    return true;
}

void Decompose(const M4& m, V3& t, Quat& r, V3& s) {
    t = {m[12], m[13], m[14]};
    V3 x{m[0], m[1], m[2]}, y{m[4], m[5], m[6]}, z{m[8], m[9], m[10]};
    s = {Length(x), Length(y), Length(z)};
    if (Dot(Cross(x, y), z) < 0) s.x = -s.x;  // a mirroring matrix
    x = s.x != 0 ? x * (1 / s.x) : V3{1, 0, 0};
    y = s.y != 0 ? y * (1 / s.y) : V3{0, 1, 0};
    z = s.z != 0 ? z * (1 / s.z) : V3{0, 0, 1};
    // Rotation matrix to quaternion (Shepperd's method).
    const double tr = x.x + y.y + z.z;
    if (tr > 0) {
        const double k = std::sqrt(tr + 1) * 2;
        r = {(y.z - z.y) / k, (z.x - x.z) / k, (x.y - y.x) / k, k / 4};
    } else if (x.x > y.y && x.x > z.z) {
        const double k = std::sqrt(1 + x.x - y.y - z.z) * 2;
        r = {k / 4, (y.x + x.y) / k, (z.x + x.z) / k, (y.z - z.y) / k};
    } else if (y.y > z.z) {
        const double k = std::sqrt(1 + y.y - x.x - z.z) * 2;
        r = {(y.x + x.y) / k, k / 4, (z.y + y.z) / k, (z.x - x.z) / k};
    } else {
        const double k = std::sqrt(1 + z.z - x.x - y.y) * 2;
        r = {(z.x + x.z) / k, (z.y + y.z) / k, k / 4, (x.y - y.x) / k};
    }
    r = Normalized(r);
}

}  // namespace quenlo::gltf
