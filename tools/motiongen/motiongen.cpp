// motiongen: writes the example motions (motion_design.h) for the example robot
// as TRA4 files.
//
// Each joint angle becomes a rotate direction in the bone's own axes, read from
// the model the way the conversion reads them, so that converting the file gives
// the designed angle back: v = cos(a) e3 + sin(a) n in model space, n being the
// handle direction made perpendicular to e3. A reversed motor (R tag) gets the
// mirror flag. A roll joint, whose swing has no sign in the conversion, gets the
// mirror flag flipped when its angles in the motion are negative; one motion
// cannot swing it both ways.
//
// usage: motiongen ROBOT.bac OUTDIR          writes OUTDIR/<motion>.tra
//        motiongen --check ROBOT.bac DIR     exits 1 when a file in DIR differs
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "conversion.h"
#include "figread.h"
#include "motion_design.h"
#include "tra4_writer.h"

namespace {

using quenlo::conversion::BoneAxes;
using quenlo::conversion::JointAngle;
using quenlo::conversion::MakeBoneAxes;
using quenlo::conversion::ToModelAxes;
using D3 = std::array<double, 3>;

D3 ToDouble(const std::array<float, 3>& v) {
    return {v[0], v[1], v[2]};
}
double Dot(const D3& a, const D3& b) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}
D3 Cross(const D3& a, const D3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Solves v = r.x e2 + r.y e1 + r.z e3 for r.
std::array<float, 3> InBoneAxes(const BoneAxes& axes, const D3& v) {
    const D3 e1 = ToDouble(axes.e1), e2 = ToDouble(axes.e2), e3 = ToDouble(axes.e3);
    const double det = Dot(e2, Cross(e1, e3));
    std::array<float, 3> r{0, 0, 1};
    if (std::fabs(det) < 1e-12) return r;
    const double x = Dot(v, Cross(e1, e3)) / det;
    const double y = Dot(e2, Cross(v, e3)) / det;
    const double z = Dot(e2, Cross(e1, v)) / det;
    auto clean = [](double c) { return static_cast<float>(std::fabs(c) < 1e-12 ? 0.0 : c); };
    return {clean(x), clean(y), clean(z)};
}

struct Joint {
    BoneAxes axes;
    D3 n;          // unit swing direction, perpendicular to e3
    bool signed_;  // the conversion gives this swing a sign
};

Joint JointOf(int bone) {
    float p[3], r[3], h[3];
    fnbacGetBonePosition(bone, p);
    fnbacGetBoneRotation(bone, r);
    fnbacGetBoneHandle(bone, h);
    Joint j{MakeBoneAxes(p, r, h), {}, false};
    const D3 e1 = ToDouble(j.axes.e1), e3 = ToDouble(j.axes.e3);
    const double along = Dot(e1, e3);
    D3 n{e1[0] - along * e3[0], e1[1] - along * e3[1], e1[2] - along * e3[2]};
    const double len = std::sqrt(Dot(n, n));
    if (len > 0) n = {n[0] / len, n[1] / len, n[2] / len};
    j.n = n;
    const double z = Cross(e3, n)[2];
    j.signed_ = std::fabs(z) > 0.5;
    if (j.signed_ && z < 0) j.n = {-n[0], -n[1], -n[2]};
    return j;
}

int Round(float a) {
    return static_cast<int>(a >= 0 ? a + 0.5f : a - 0.5f);
}

bool Build(const quenlo::motiongen::MotionDesign& design, quenlo::tra4::Motion& motion) {
    motion = {};
    motion.times = design.times;
    const int bones = static_cast<int>(fnbacGetBoneNumber());
    for (int b = 0; b < bones; ++b) {
        const std::string name = fnbacGetBoneName(b);
        const bool driven = fnbacGetMotorIndex(b) >= 0;
        const bool reversed = fnbacGetMotorRevers(b);
        const Joint joint = JointOf(b);
        bool negative = false, positive = false;
        for (int t : design.times) {
            const int a = quenlo::motiongen::DesignAngle(design, name, t);
            negative |= a<0, positive |= a> 0;
        }
        if (!driven && (negative || positive)) {
            std::fprintf(stderr, "motiongen: %s moves %s, which drives no servo\n",
                         design.file.c_str(), name.c_str());
            return false;
        }
        if (!joint.signed_ && negative && positive) {
            std::fprintf(stderr, "motiongen: %s swings roll joint %s both ways\n",
                         design.file.c_str(), name.c_str());
            return false;
        }
        const bool mirror = joint.signed_ ? reversed : reversed != negative;
        quenlo::tra4::Bone& bone = motion.AddBone(name, driven && mirror);
        for (size_t k = 0; k < design.times.size(); ++k) {
            const int angle = quenlo::motiongen::DesignAngle(design, name, design.times[k]);
            const double rad = angle * 3.14159265358979323846 / 180.0;
            const D3 e3 = ToDouble(joint.axes.e3);
            const D3 v{std::cos(rad) * e3[0] + std::sin(rad) * joint.n[0],
                       std::cos(rad) * e3[1] + std::sin(rad) * joint.n[1],
                       std::cos(rad) * e3[2] + std::sin(rad) * joint.n[2]};
            bone.keys[k].rotate =
                angle == 0 ? std::array<float, 3>{0, 0, 1} : InBoneAxes(joint.axes, v);
            if (!driven) continue;
            // What the conversion will store for the servo.
            float got = JointAngle(joint.axes, ToModelAxes(joint.axes, bone.keys[k].rotate.data()));
            if (bone.mirror) got = -got;
            const int want = reversed ? -angle : angle;
            if (Round(got) != want) {
                std::fprintf(stderr, "motiongen: %s %s at %d converts to %d, not %d\n",
                             design.file.c_str(), name.c_str(), design.times[k], Round(got), want);
                return false;
            }
        }
    }
    return true;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
    const bool check = argc == 4 && std::string(argv[1]) == "--check";
    if (argc != 3 && !check) {
        std::fprintf(stderr,
                     "usage: motiongen ROBOT.bac OUTDIR | motiongen --check ROBOT.bac DIR\n");
        return 2;
    }
    const char* robot = argv[check ? 2 : 1];
    const std::string dir = std::string(argv[check ? 3 : 2]) + "/";
    if (fnbacanalysis(robot) != 0) {
        std::fprintf(stderr, "motiongen: %s is not a BAC6 model\n", robot);
        return 1;
    }
    int status = 0;
    quenlo::tra4::WriteOptions options;
    options.comment = "generated by tools/motiongen for examples/robot.bac";
    for (const quenlo::motiongen::MotionDesign& design : quenlo::motiongen::Designs()) {
        quenlo::tra4::Motion motion;
        std::string text, error;
        if (!Build(design, motion) || !quenlo::tra4::ToText(motion, text, &error, options)) {
            if (!error.empty())
                std::fprintf(stderr, "motiongen: %s: %s\n", design.file.c_str(), error.c_str());
            status = 1;
            continue;
        }
        const std::string path = dir + design.file;
        if (check) {
            if (ReadAll(path) != text) {
                std::fprintf(stderr, "%s is out of date: run motiongen %s %s\n", path.c_str(),
                             robot, argv[3]);
                status = 1;
            }
            continue;
        }
        std::ofstream out(path, std::ios::binary);
        out << text;
        if (!out) {
            std::fprintf(stderr, "motiongen: cannot write %s\n", path.c_str());
            status = 1;
        }
    }
    fnbacrelease();
    return status;
}
