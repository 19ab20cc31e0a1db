// Motion conversion: turns the model held by figread and the motions read by
// animread into multi-servo commands for the RCB-4HV board and pose frames for
// the preview, and keeps the raw key values the preview animates from.
//
// Indices into the store (motion index, frame, key) are positions in its own
// lists; a motion's number is its position in the operator's motion list.
// FindMotion goes from the one to the other: a motion file whose conversion
// yields no values has no record. Indexed accessors raise std::out_of_range
// for an index beyond their list.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace quenlo::conversion {

// Servo position for a joint angle in degrees: 3500 at -135, 7500 at 0, 11500 at
// +135, held at the ends beyond.
int32_t PositionOf(int32_t angle);

// A driven bone's own axes in model space, in single precision: e1 toward the
// handle point, e3 toward the rotation point (the rest direction, angle 0),
// e2 = e1 x e3. Motion values (x, y, z) mean x*e2 + y*e1 + z*e3.
struct BoneAxes {
    std::array<float, 3> e1{}, e2{}, e3{};
};
BoneAxes MakeBoneAxes(const float position[3], const float rotation[3], const float handle[3]);
// Why axes give no meaningful angle (a rotation point on the position, a
// handle point in line with the rest direction), or null when they do.
const char* DegenerateAxes(const BoneAxes& axes);
std::array<float, 3> ToModelAxes(const BoneAxes& axes, const float value[3]);
// Angle in degrees between v and e3, -180 to 180: negative when v lies clockwise
// of e3 seen from +z (the z component of e3 x v is below 0). So only a swing in
// the xy-plane has a sign.
float JointAngle(const BoneAxes& axes, const std::array<float, 3>& v);

}  // namespace quenlo::conversion

struct MofValue {
    int32_t bone = 0;        // model bone index
    int32_t motor_code = 0;  // kept from the first store for this bone and key
    int32_t angle = 0;       // joint angle in whole degrees
    float roll = 0.0f;
    std::array<float, 3> rotation{};     // rotate value in model axes
    std::array<float, 3> translation{};  // translate value in model axes
};

struct MofKey {
    int32_t time = 0;
    std::vector<MofValue> values;
};

struct MofPoseValue {
    int32_t bone = 0;
    float roll = 0.0f;
    std::array<float, 3> rotation{};
    std::array<float, 3> translation{};
};

struct MofPose {
    int32_t speed = 0;  // the speed byte of the matching command
    std::vector<MofPoseValue> values;
};

struct MofMotion {
    int32_t number = 0;
    int32_t time_scale = 1;    // board frames per motion-time unit
    std::vector<MofKey> keys;  // in order of first appearance
    // One command per key: byte 0 its length, byte 7 its speed, last byte the
    // modulo-256 sum of the others.
    std::vector<std::vector<uint8_t>> frames;
    std::vector<MofPose> poses;  // one per key
};

// A key whose move needs more board frames than a command's speed byte holds.
struct SpeedClamp {
    int32_t number = 0;  // motion number
    int32_t time = 0;    // key time
    int64_t frames = 0;  // board frames asked for; the command says kMaxSpeed
};

class CMofData {
  public:
    static constexpr int kMaxSpeed = 255;

    CMofData() = default;
    virtual ~CMofData() = default;
    CMofData(const CMofData&) = delete;
    CMofData& operator=(const CMofData&) = delete;

    // Stores (or overwrites) the value of one bone at one key of a motion,
    // creating the motion and the key on first use. The angle is rounded half
    // away from zero.
    void StoreValue(int32_t number, int32_t time, int32_t bone, int32_t motor_code, float angle,
                    float roll, const float translation[3], const float rotation[3]);
    // Records a servo of the model; the list stays in ascending order.
    void AddServo(int32_t motor_code);
    // One command and one pose per key of every motion. A key more than 255
    // board frames after the previous one gets speed 255 and a SpeedClamp.
    void BuildFrames();
    void BuildFrame(int motion, const MofKey& key, int32_t previous_time, int32_t time_scale);

    // Store index of the motion with this number, -1 when it has no record.
    int FindMotion(int number) const;

    std::vector<MofMotion>& motions() { return motions_; }
    const std::vector<MofMotion>& motions() const { return motions_; }
    const std::vector<int32_t>& servos() const { return servos_; }
    // The keys held at speed 255 by the last BuildFrames, in build order.
    const std::vector<SpeedClamp>& speed_clamps() const { return speed_clamps_; }

  private:
    std::vector<MofMotion> motions_;
    std::vector<SpeedClamp> speed_clamps_;
    std::vector<int32_t> servos_;  // servo numbers, ascending, duplicates kept
};

// Raw key values of one bone at one key, as animread delivers them.
struct TraKey {
    int32_t time = 0;
    float roll = 0.0f;
    std::array<float, 3> translate{};
    std::array<float, 3> rotate{};
};

struct TraBone {
    int32_t index = 0;  // animread's bone index
    std::vector<TraKey> keys;
};

// One per motion file read; a motion without keys leaves an empty entry.
struct TraMotion {
    uint32_t key_count = 0;
    std::vector<TraBone> bones;
};

class CDataInfo {
  public:
    static constexpr int kMaxAnimeValues = 36;  // bones a pose hands to the preview
    static constexpr int kValueBufferSize = kMaxAnimeValues * 7;

    CDataInfo();
    // Frees what figread and animread hold when this conversion read them.
    virtual ~CDataInfo();
    CDataInfo(const CDataInfo&) = delete;
    CDataInfo& operator=(const CDataInfo&) = delete;

    // ---- Conversion (on the model and motion the libraries hold) ----------
    bool BuildMotorList();
    // Converts the motion animread holds into values of motion number
    // motion_counter(); false when it has no keys.
    bool ConvertMotion();
    void SetTimeScale(int32_t scale);
    void StoreRawMotion();
    void ClearRawMotions();

    // ---- Commands, by store index -------------------------------------------
    // Command j of motion i, byte 0 its length; null when the motion has none.
    const uint8_t* GetFrameCommand(int motion, int frame) const;
    int GetFrameCount(int motion) const;
    int FindMotion(int number) const;
    // Key time of key k of motion i; k beyond the last key gives the last one.
    int GetKeyTime(int key, int motion) const;

    // ---- Preview cursor --------------------------------------------------
    int GetPoseCount() const;
    int GetPoseValueCount() const;
    int GetPoseSpeed() const;
    // Fills out (14 * n floats: pairs of previous and current value) and bones
    // (n bone indices) from the current pose, then advances the current frame.
    // n is held to 0..36. Answers the number of floats written.
    int GetAnimeValue(float* out, int n, int32_t* bones);

    int32_t current_motion() const { return current_motion_; }
    int32_t current_frame() const { return current_frame_; }
    void set_current_motion(int32_t motion) { current_motion_ = motion; }
    void set_current_frame(int32_t frame) { current_frame_ = frame; }
    std::array<float, kValueBufferSize>& value_buffer_a() { return value_a_; }
    std::array<float, kValueBufferSize>& value_buffer_b() { return value_b_; }

    // ---- State -------------------------------------------------------------
    bool model_loaded() const { return model_loaded_; }
    // Motor codes of the driven bones, in bone order.
    const std::vector<int32_t>& motor_list() const { return motor_list_; }
    int32_t motion_counter() const { return motion_counter_; }
    void set_motion_counter(int32_t n) { motion_counter_ = n; }
    bool motion_loaded() const { return motion_loaded_; }
    // Set once a motion has been read for this conversion: animread's motion is
    // then this conversion's to release.
    void set_motion_loaded(bool loaded);
    CMofData* mof_data() { return mof_data_.get(); }
    const CMofData* mof_data() const { return mof_data_.get(); }
    const std::vector<TraMotion>& raw_motions() const { return raw_motions_; }

  private:
    const MofMotion* Motion(int index) const;
    const MofMotion& CurrentMotion() const;

    bool model_loaded_ = false;
    std::vector<int32_t> motor_list_;
    bool motion_loaded_ = false;
    int32_t motion_counter_ = 0;
    std::unique_ptr<CMofData> mof_data_;
    int32_t current_motion_ = 0;
    int32_t current_frame_ = 0;
    std::array<float, kValueBufferSize> value_a_{};
    std::array<float, kValueBufferSize> value_b_{};
    std::vector<TraMotion> raw_motions_;
};
