// TRA4 motions in memory, and their text form (docs/tra4.md).
//
// The same model is what the reader builds, so a motion written here and read
// back compares equal field by field. Tools and tests generate every motion
// file through this writer; none is typed by hand.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quenlo::tra4 {

// Limits shared by the reader and the writer. A file beyond them is refused.
inline constexpr std::size_t kMaxFileBytes = 16u << 20;
inline constexpr std::size_t kMaxKeys = 100000;
inline constexpr std::size_t kMaxBones = 10000;
inline constexpr std::size_t kMaxNameBytes = 1024;
// Key times stay exactly representable as float and leave the conversion room
// to multiply a difference by its time scale without overflow.
inline constexpr int kMaxKeyTime = 16777215;
// Every rotate, translate and roll number lies within plus or minus this, so
// the conversion's sums and products of them stay far from float overflow.
inline constexpr float kMaxValue = 1000000.0f;

// One bone's values at one key.
struct Key {
    std::array<float, 3> rotate{};     // direction in the bone's own axes
    std::array<float, 3> translate{};  // in the same axes
    float roll = 0.0f;                 // degrees

    bool operator==(const Key&) const = default;
};

struct Bone {
    std::string name;  // as the model writes it, without its motor tag; bytes pass through
    bool mirror = false;
    std::vector<Key> keys;  // one per key time, in key order

    bool operator==(const Bone&) const = default;
};

struct Motion {
    std::vector<int> times;   // ascending key times in motion-time units
    std::vector<Bone> bones;  // in the model's bone order

    // Appends a bone with one key per key time at rest: rotate (0, 0, 1), the
    // bone's rotation axis, and zero translate and roll. Add the times first.
    Bone& AddBone(std::string name, bool mirror = false);

    bool operator==(const Motion&) const = default;
};

struct WriteOptions {
    bool crlf = false;    // CRLF line ends instead of LF
    std::string comment;  // written as ';' lines after the header; may hold several lines
};

// The first reason why the motion cannot be written as a valid file, or an
// empty string when it can: no key time, times not ascending or out of range,
// a bone whose key count differs from the times, a name with a quote or a
// control byte or too long, or given twice, a value that is not finite or
// beyond kMaxValue, a zero rotate vector, a size beyond the limits.
std::string Check(const Motion& motion);

// Text of the motion; false (with the reason in *error) when Check refuses it.
// Floats are written in their shortest form that reads back to the same bits.
bool ToText(const Motion& motion, std::string& out, std::string* error = nullptr,
            const WriteOptions& options = {});

// Writes the text to a file through quenlo::OutputFile (whole or not at all);
// false with the reason in *error.
bool WriteFile(const Motion& motion, const std::string& path, std::string* error = nullptr,
               const WriteOptions& options = {});

}  // namespace quenlo::tra4
