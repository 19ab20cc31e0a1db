// A driven bone's axes and the joint angle of a motion value in them.
#include <cmath>

#include "conversion.h"
#include "vec3.h"

namespace quenlo::conversion {

BoneAxes MakeBoneAxes(const float position[3], const float rotation[3], const float handle[3]) {
    BoneAxes a;
    a.e1 = Unit(Sub(handle, position));
    a.e3 = Unit(Sub(rotation, position));
    a.e2 = Unit(Cross(a.e1, a.e3));
    return a;
}

const char* DegenerateAxes(const BoneAxes& a) {
    if (a.e3 == V3{}) return "its rotation point is its position";
    // e2 = e1 x e3 of two unit vectors: its length is the sine between them.
    if (std::sqrt(Dot(a.e2, a.e2)) < 1.0e-5) return "its handle point lies on its rest direction";
    return nullptr;
}

std::array<float, 3> ToModelAxes(const BoneAxes& a, const float r[3]) {
    V3 out;
    for (int i = 0; i < 3; ++i)
        out[i] = static_cast<float>(double{r[0]} * a.e2[i] + double{r[1]} * a.e1[i] +
                                    double{r[2]} * a.e3[i]);
    return out;
}

float JointAngle(const BoneAxes& a, const std::array<float, 3>& v) {
    const double c0 = Dot(v, a.e3);
    const double s = 1.0 - c0 * c0;
    float angle;
    if (s < 1.0e-9) {
        angle = c0 > 0 ? 0.0f : 180.0f;
    } else {
        angle = static_cast<float>(std::atan2(std::sqrt(s), c0) * 180.0 / 3.1415927410125732);
    }
    if (double{a.e3[0]} * v[1] - double{a.e3[1]} * v[0] < 0) angle = -angle;
    return angle;
}

}  // namespace quenlo::conversion
