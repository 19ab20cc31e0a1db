// CDataInfo: one conversion of the model held by figread and the motions read by
// animread, and the life of what those libraries hold.
#include <atomic>
#include <cmath>

#include "animread.h"
#include "conversion.h"
#include "figread.h"
#include "quenlo/platform.h"

namespace {

using V3 = std::array<float, 3>;

V3 Sub(const float a[3], const float b[3]) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
V3 Cross(const V3& a, const V3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
// In double: no product of two finite floats overflows there.
double Dot(const V3& a, const V3& b) {
    return double{a[0]} * b[0] + double{a[1]} * b[1] + double{a[2]} * b[2];
}

// Length 0 stays 0; length exactly 1 is left untouched so unit axes keep their bits.
V3 Unit(const V3& v) {
    const float len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (len == 0.0f || len == 1.0f) return v;
    return {v[0] / len, v[1] / len, v[2] / len};
}

// The conversion whose data figread and animread hold now. An older conversion
// destroyed after a newer one has read its files must not release them.
std::atomic<const CDataInfo*> g_model_holder{nullptr};
std::atomic<const CDataInfo*> g_motion_holder{nullptr};

// Releases through fn when this conversion still holds the library's data.
void Release(std::atomic<const CDataInfo*>& holder, const CDataInfo* self, void (*fn)()) {
    const CDataInfo* expected = self;
    if (holder.compare_exchange_strong(expected, nullptr)) fn();
}

}  // namespace

CDataInfo::CDataInfo() : mof_data_(std::make_unique<CMofData>()) {}

CDataInfo::~CDataInfo() {
    ClearRawMotions();
    if (model_loaded_) {
        Release(g_model_holder, this, fnbacrelease);
        model_loaded_ = false;
    }
    if (motion_loaded_) {
        Release(g_motion_holder, this, fntrarelease);
        motion_loaded_ = false;
    }
}

void CDataInfo::set_motion_loaded(bool loaded) {
    motion_loaded_ = loaded;
    if (loaded) g_motion_holder = this;
}

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

bool CDataInfo::BuildMotorList() {
    g_model_holder = this;
    const int n = fnbacSetMotorNumber();
    if (n <= 0) {
        model_loaded_ = true;
        return true;
    }
    motor_list_.clear();
    motor_list_.reserve(static_cast<size_t>(n));
    bool used[kFrameServoLimit] = {};
    const unsigned bones = fnbacGetBoneNumber();
    for (unsigned j = 0; j < bones; ++j) {
        const int bone = static_cast<int>(j);
        const int idx = fnbacGetMotorIndex(bone);
        if (idx < 0) continue;
        const int grp = fnbacGetMotorGroup(bone);
        const int32_t code = grp * 100 + idx;
        mof_data_->AddServo(code);
        if (motor_list_.size() < static_cast<size_t>(n)) motor_list_.push_back(code);
        const int s = ServoNumberOf(code);
        if (s < 0 || s >= kFrameServoLimit) {
            quenlo::LogErr(" BuildMotorList : servo %d of bone %s has no place in a command\r\n", s,
                           fnbacGetBoneName(bone));
        } else if (used[s]) {
            quenlo::LogErr(" BuildMotorList : servo %d of bone %s is driven by an earlier bone\r\n",
                           s, fnbacGetBoneName(bone));
        } else {
            used[s] = true;
        }
        float p[3] = {}, rot[3] = {}, handle[3] = {};
        fnbacGetBonePosition(bone, p);
        fnbacGetBoneRotation(bone, rot);
        fnbacGetBoneHandle(bone, handle);
        if (const char* why = DegenerateAxes(MakeBoneAxes(p, rot, handle)))
            quenlo::LogErr(" BuildMotorList : bone %s has no joint angle: %s\r\n",
                           fnbacGetBoneName(bone), why);
    }
    model_loaded_ = true;
    return true;
}

bool CDataInfo::ConvertMotion() {
    const unsigned keys = fntraGetAnimeNumber();
    if (keys == 0) return false;
    const unsigned bones = fntraGetBoneNumber();
    for (unsigned i = 0; i < bones; ++i) {
        const int mbone = static_cast<int>(i);
        const char* name = fntraGetBoneName(mbone);
        if (!name) continue;
        const int c = fnbacGetBone(name);
        if (c < 0) continue;
        const int idx = fnbacGetMotorIndex(c);
        if (idx < 0) continue;
        quenlo::LogOut("bone %d %s\r\n", c, name);

        float p[3] = {}, rot[3] = {}, handle[3] = {};
        fnbacGetBonePosition(c, p);
        fnbacGetBoneRotation(c, rot);
        fnbacGetBoneHandle(c, handle);
        const BoneAxes axes = MakeBoneAxes(p, rot, handle);
        const bool rev = fntraGetAnimeRevers(mbone);
        const int grp = fnbacGetMotorGroup(c);

        for (unsigned k = 0; k < keys; ++k) {
            const int t = fntraGetAnimeKeyValue(static_cast<int>(k));
            float r[3] = {}, u[3] = {};
            fntraGetRotateValue(mbone, t, r);
            fntraGetTransValue(mbone, t, u);
            const V3 v = ToModelAxes(axes, r);
            const V3 w = ToModelAxes(axes, u);
            float angle = JointAngle(axes, v);

            if (k == 0) quenlo::LogOut(" rev=%d offset %g \r\n", rev ? 1 : 0, angle);
            quenlo::LogOut(" %g", angle);
            if (rev) angle = -angle;

            mof_data_->StoreValue(motion_counter_, t, c, grp * 100 + idx, angle, 0.0f, w.data(),
                                  v.data());
        }
        quenlo::LogOut("\r\n");
    }
    return true;
}

void CDataInfo::StoreRawMotion() {
    const unsigned keys = fntraGetAnimeNumber();
    TraMotion motion;
    if (keys > 0) {
        motion.key_count = keys;
        const unsigned bones = fntraGetBoneNumber();
        motion.bones.reserve(bones);
        for (unsigned i = 0; i < bones; ++i) {
            TraBone bone;
            bone.index = static_cast<int32_t>(i);
            bone.keys.reserve(keys);
            for (unsigned k = 0; k < keys; ++k) {
                TraKey key;
                key.time = fntraGetAnimeKeyValue(static_cast<int>(k));
                fntraGetRotateValue(bone.index, key.time, key.rotate.data());
                fntraGetTransValue(bone.index, key.time, key.translate.data());
                key.roll = fntraGetRollValue(bone.index, key.time);
                bone.keys.push_back(key);
            }
            motion.bones.push_back(std::move(bone));
        }
    }
    raw_motions_.push_back(std::move(motion));
}
