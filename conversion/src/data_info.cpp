// CDataInfo: one conversion of the model held by figread and the motions read by
// animread, and the life of what those libraries hold.
#include <atomic>

#include "animread.h"
#include "conversion.h"
#include "figread.h"
#include "quenlo/platform.h"
#include "rcb4.h"

using quenlo::conversion::BoneAxes;
using quenlo::conversion::DegenerateAxes;
using quenlo::conversion::JointAngle;
using quenlo::conversion::MakeBoneAxes;
using quenlo::conversion::ToModelAxes;

namespace {

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

bool CDataInfo::BuildMotorList() {
    g_model_holder = this;
    const int n = fnbacSetMotorNumber();
    if (n <= 0) {
        model_loaded_ = true;
        return true;
    }
    motor_list_.clear();
    motor_list_.reserve(static_cast<size_t>(n));
    bool used[quenlo::board::kBitmapServos] = {};
    const unsigned bones = fnbacGetBoneNumber();
    for (unsigned j = 0; j < bones; ++j) {
        const int bone = static_cast<int>(j);
        const int idx = fnbacGetMotorIndex(bone);
        if (idx < 0) continue;
        const int grp = fnbacGetMotorGroup(bone);
        const int32_t code = grp * 100 + idx;
        mof_data_->AddServo(code);
        if (motor_list_.size() < static_cast<size_t>(n)) motor_list_.push_back(code);
        const int s = quenlo::board::ServoNumber(code);
        if (s < 0 || s >= quenlo::board::kBitmapServos) {
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
            const std::array<float, 3> v = ToModelAxes(axes, r);
            const std::array<float, 3> w = ToModelAxes(axes, u);
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
