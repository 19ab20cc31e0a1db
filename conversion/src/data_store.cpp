// The read side of a conversion: commands by store index, key times, and the
// preview's cursor over the pose frames.
#include <algorithm>
#include <stdexcept>

#include "conversion.h"
#include "quenlo/platform.h"

void CDataInfo::SetTimeScale(int32_t scale) {
    for (MofMotion& m : mof_data_->motions()) m.time_scale = scale;
}

void CDataInfo::ClearRawMotions() {
    raw_motions_.clear();
}

const MofMotion* CDataInfo::Motion(int index) const {
    if (!mof_data_) return nullptr;
    if (index < 0) throw std::out_of_range("motion index");
    return &mof_data_->motions().at(static_cast<size_t>(index));
}

const MofMotion& CDataInfo::CurrentMotion() const {
    return *Motion(current_motion_);
}

int CDataInfo::FindMotion(int number) const {
    return mof_data_ ? mof_data_->FindMotion(number) : -1;
}

const uint8_t* CDataInfo::GetFrameCommand(int motion, int frame) const {
    const MofMotion* m = Motion(motion);
    if (!m || m->frames.empty()) return nullptr;
    if (frame < 0) throw std::out_of_range("frame index");
    return m->frames.at(static_cast<size_t>(frame)).data();
}

int CDataInfo::GetFrameCount(int motion) const {
    const MofMotion* m = Motion(motion);
    return m ? static_cast<int>(m->frames.size()) : 0;
}

int CDataInfo::GetKeyTime(int key, int motion) const {
    const MofMotion* m = Motion(motion);
    if (!m || m->keys.empty()) return 0;
    if (key < 0) throw std::out_of_range("key index");
    const size_t k = std::min(static_cast<size_t>(key), m->keys.size() - 1);
    return m->keys[k].time;
}

int CDataInfo::GetPoseCount() const {
    if (!mof_data_) return 0;
    return static_cast<int>(CurrentMotion().poses.size());
}

int CDataInfo::GetPoseValueCount() const {
    if (!mof_data_) return 0;
    const MofMotion& m = CurrentMotion();
    if (m.poses.empty()) return 0;
    if (current_frame_ < 0) throw std::out_of_range("frame index");
    return static_cast<int>(m.poses.at(static_cast<size_t>(current_frame_)).values.size());
}

int CDataInfo::GetPoseSpeed() const {
    if (!mof_data_) return 0;
    const MofMotion& m = CurrentMotion();
    if (m.poses.empty()) return -1;
    if (current_frame_ < 0) throw std::out_of_range("frame index");
    return m.poses.at(static_cast<size_t>(current_frame_)).speed;
}

int CDataInfo::GetAnimeValue(float* out, int n, int32_t* bones) {
    if (!mof_data_) {
        ++current_frame_;
        return 0;
    }
    n = std::clamp(n, 0, kMaxAnimeValues);
    const MofMotion& m = CurrentMotion();
    if (current_frame_ < 0) throw std::out_of_range("frame index");
    const MofPose& pose = m.poses.at(static_cast<size_t>(current_frame_));
    const size_t count = std::min(pose.values.size(), static_cast<size_t>(n));

    for (size_t i = 0; i < count; ++i) bones[i] = pose.values[i].bone;
    if (count != static_cast<size_t>(n)) quenlo::LogErr(" GetAnimeValue : bone number error\r\n");

    const bool even = current_frame_ % 2 == 0;
    std::array<float, kValueBufferSize>& now = even ? value_a_ : value_b_;
    const std::array<float, kValueBufferSize>& before = even ? value_b_ : value_a_;
    for (size_t i = 0; i < count; ++i) {
        const MofPoseValue& v = pose.values[i];
        float* slot = &now[7 * i];
        slot[0] = v.roll;
        slot[1] = v.translation[0], slot[2] = v.translation[1], slot[3] = v.translation[2];
        slot[4] = v.rotation[0], slot[5] = v.rotation[1], slot[6] = v.rotation[2];
    }
    if (count != static_cast<size_t>(n))
        quenlo::LogErr(" GetAnimeValue : roll value number error\r\n");

    for (int k = 0; k < 7 * n; ++k) {
        out[2 * k] = before[k];
        out[2 * k + 1] = now[k];
    }
    ++current_frame_;
    return 14 * n;
}
