// The motion store: joint angles per motion, key and bone, and the commands and
// pose frames built from them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "conversion.h"
#include "rcb4.h"

namespace board = quenlo::board;

namespace quenlo::conversion {

int32_t PositionOf(int32_t angle) {
    const int64_t h = std::clamp<int64_t>(int64_t{angle} + 180, 45, 315);
    return static_cast<int32_t>((h - 45) * 8000 / 270 + 3500);
}

}  // namespace quenlo::conversion

using quenlo::conversion::PositionOf;

namespace {

// Half away from zero, in double so a value just below one half stays below.
int32_t RoundAngle(float angle) {
    if (std::isnan(angle)) return 0;
    const double a = angle >= 0 ? double{angle} + 0.5 : double{angle} - 0.5;
    constexpr double lo = std::numeric_limits<int32_t>::min();
    constexpr double hi = std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(std::clamp(a, lo, hi));
}

std::array<float, 3> Copy3(const float v[3]) {
    return {v[0], v[1], v[2]};
}

}  // namespace

void CMofData::StoreValue(int32_t number, int32_t time, int32_t bone, int32_t motor_code,
                          float angle, float roll, const float translation[3],
                          const float rotation[3]) {
    auto motion = std::find_if(motions_.begin(), motions_.end(),
                               [&](const MofMotion& m) { return m.number == number; });
    if (motion == motions_.end()) {
        motions_.push_back(MofMotion{});
        motion = motions_.end() - 1;
        motion->number = number;
    }
    auto key = std::find_if(motion->keys.begin(), motion->keys.end(),
                            [&](const MofKey& k) { return k.time == time; });
    if (key == motion->keys.end()) {
        motion->keys.push_back(MofKey{time, {}});
        key = motion->keys.end() - 1;
    }
    const int32_t rounded = RoundAngle(angle);
    auto value = std::find_if(key->values.begin(), key->values.end(),
                              [&](const MofValue& v) { return v.bone == bone; });
    if (value != key->values.end()) {
        value->angle = rounded;
        value->roll = roll;
        value->rotation = Copy3(rotation);
        value->translation = Copy3(translation);
        return;
    }
    key->values.push_back(
        MofValue{bone, motor_code, rounded, roll, Copy3(rotation), Copy3(translation)});
}

void CMofData::AddServo(int32_t motor_code) {
    servos_.push_back(board::ServoNumber(motor_code));
    std::sort(servos_.begin(), servos_.end());
}

void CMofData::BuildFrames() {
    speed_clamps_.clear();
    for (size_t i = 0; i < motions_.size(); ++i) {
        MofMotion& motion = motions_[i];
        motion.frames.clear();
        motion.poses.clear();
        int32_t previous = 0;
        for (const MofKey& key : motion.keys) {
            BuildFrame(static_cast<int>(i), key, previous, motion.time_scale);
            previous = key.time;
        }
    }
}

void CMofData::BuildFrame(int motion_index, const MofKey& key, int32_t previous_time,
                          int32_t time_scale) {
    MofMotion& motion = motions_.at(motion_index);
    struct Slot {
        int servo;
        int32_t position;
    };
    std::vector<Slot> slots;
    slots.reserve(key.values.size());
    uint8_t bitmap[board::kBitmapServos / 8] = {};
    MofPose pose;
    for (const MofValue& v : key.values) {
        const int s = board::ServoNumber(v.motor_code);
        // A servo beyond the bitmap has no place in any command or pose.
        if (s < 0 || s >= board::kBitmapServos) continue;
        pose.values.push_back(MofPoseValue{v.bone, v.roll, v.rotation, v.translation});
        // A second bone on the same servo would add a position the bitmap does
        // not announce; the first one drives it.
        const uint8_t bit = static_cast<uint8_t>(1u << (s % 8));
        if (bitmap[s / 8] & bit) continue;
        bitmap[s / 8] |= bit;
        slots.push_back({s, PositionOf(v.angle)});
    }
    std::stable_sort(slots.begin(), slots.end(),
                     [](const Slot& a, const Slot& b) { return a.servo < b.servo; });

    const size_t n = slots.size();
    std::vector<uint8_t> frame(board::ServosLength(static_cast<int>(n)), 0);
    frame[0] = static_cast<uint8_t>(frame.size() & 0xFF);
    frame[1] = board::kCmdServos;
    std::copy(std::begin(bitmap), std::end(bitmap), frame.begin() + 2);
    const int64_t d = int64_t{key.time} - previous_time;
    const int64_t frames = d > 0 ? d * time_scale : int64_t{time_scale};
    // The byte cannot say more than 255 frames. Cut modulo 256 a long move
    // would become a sudden one, so it is held at 255 and the move ends early.
    uint8_t speed = static_cast<uint8_t>(std::clamp<int64_t>(frames, 0, kMaxSpeed));
    if (frames > kMaxSpeed) speed_clamps_.push_back({motion.number, key.time, frames});
    frame[board::kServosSpeedByte] = speed;
    for (size_t k = 0; k < n; ++k) {
        frame[board::kServosHeader + 2 * k] = static_cast<uint8_t>(slots[k].position & 0xFF);
        frame[board::kServosHeader + 1 + 2 * k] =
            static_cast<uint8_t>((slots[k].position >> 8) & 0xFF);
    }
    unsigned sum = 0;
    for (size_t k = 0; k + 1 < frame.size(); ++k) sum += frame[k];
    frame.back() = static_cast<uint8_t>(sum & 0xFF);

    pose.speed = speed;
    motion.frames.push_back(std::move(frame));
    motion.poses.push_back(std::move(pose));
}

int CMofData::FindMotion(int number) const {
    for (size_t i = 0; i < motions_.size(); ++i)
        if (motions_[i].number == number) return static_cast<int>(i);
    return -1;
}
