// glTF animations as TRA4 motions: each joint's rotation relative to its
// rest, sampled at every key time of the animation, in the bone's TRA4 axes.
#include <tiny_gltf.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <set>

#include "import_steps.h"
#include "scene_load.h"

namespace quenlo::gltf {
namespace {

constexpr double kMm = 1000.0;
constexpr double kPi = 3.14159265358979323846;
constexpr std::size_t kMaxMotionName = 100;

// What the file's single-precision numbers leave of a zero after the rest
// frames are taken off: a unit vector's component, millimetres, degrees.
// Such a value is written as 0, so that a joint swinging in a plane of its
// axes stays in it: the conversion takes the sign of a roll joint's angle
// from a component that is zero in the plane.
constexpr double kUnitNoise = 1e-6, kMmNoise = 1e-3, kDegreeNoise = 1e-4;
float Settled(double v, double noise) {
    return std::fabs(v) < noise ? 0.0f : static_cast<float>(v);
}

enum class Interp { Step, Linear, Cubic };

// One sampler's keyframes, read once.
struct Track {
    std::vector<double> times;
    std::vector<double> values;  // width per element; three elements per key for Cubic
    int width = 0;
    Interp interp = Interp::Linear;

    // The value at time s as glTF defines it, written to out[0 .. width).
    void Sample(double s, double* out) const {
        const std::size_t n = times.size();
        auto element = [&](std::size_t key) {
            return values.data() + (interp == Interp::Cubic ? 3 * key + 1 : key) * width;
        };
        const double* v;
        if (s <= times.front())
            v = element(0);
        else if (s >= times.back())
            v = element(n - 1);
        else {
            const std::size_t i =
                std::upper_bound(times.begin(), times.end(), s) - times.begin() - 1;
            const double dt = times[i + 1] - times[i];
            const double u = dt > 0 ? (s - times[i]) / dt : 1.0;
            const double *a = element(i), *b = element(i + 1);
            if (interp == Interp::Step) {
                v = a;
            } else if (interp == Interp::Linear) {
                if (width == 4) {
                    const Quat q = Slerp({a[0], a[1], a[2], a[3]}, {b[0], b[1], b[2], b[3]}, u);
                    out[0] = q.x, out[1] = q.y, out[2] = q.z, out[3] = q.w;
                } else {
                    for (int c = 0; c < width; ++c) out[c] = a[c] + (b[c] - a[c]) * u;
                }
                return;
            } else {
                const double* out_tangent = values.data() + (3 * i + 2) * width;
                const double* in_tangent = values.data() + (3 * (i + 1)) * width;
                const double u2 = u * u, u3 = u2 * u;
                for (int c = 0; c < width; ++c)
                    out[c] = (2 * u3 - 3 * u2 + 1) * a[c] +
                             (u3 - 2 * u2 + u) * dt * out_tangent[c] + (-2 * u3 + 3 * u2) * b[c] +
                             (u3 - u2) * dt * in_tangent[c];
                if (width == 4) {
                    const Quat q = Normalized({out[0], out[1], out[2], out[3]});
                    out[0] = q.x, out[1] = q.y, out[2] = q.z, out[3] = q.w;
                }
                return;
            }
        }
        std::copy(v, v + width, out);
    }
};

bool ReadTrack(const tinygltf::Model& m, const tinygltf::Animation& anim, int sampler, int width,
               const std::string& label, Track& track, std::string& error) {
    if (sampler < 0 || static_cast<std::size_t>(sampler) >= anim.samplers.size()) {
        error = label + ": sampler " + std::to_string(sampler) + " does not exist";
        return false;
    }
    const tinygltf::AnimationSampler& s = anim.samplers[sampler];
    const std::string where = label + " sampler " + std::to_string(sampler);
    if (s.interpolation == "STEP")
        track.interp = Interp::Step;
    else if (s.interpolation == "LINEAR" || s.interpolation.empty())
        track.interp = Interp::Linear;
    else if (s.interpolation == "CUBICSPLINE")
        track.interp = Interp::Cubic;
    else {
        error = where + ": unknown interpolation '" + s.interpolation + "'";
        return false;
    }
    track.width = width;
    if (!ReadAccessor(m, s.input, 1, kFloat, where + " input", track.times, error) ||
        !ReadAccessor(m, s.output, width, width == 4 ? (kFloat | kNormalized) : kFloat,
                      where + " output", track.values, error))
        return false;
    const std::size_t n = track.times.size();
    if (n == 0) {
        error = where + ": no keyframe";
        return false;
    }
    const std::size_t per_key = track.interp == Interp::Cubic ? 3 : 1;
    if (track.values.size() != n * per_key * width) {
        error = where + ": " + std::to_string(track.values.size() / width) + " output values for " +
                std::to_string(n) + " key times";
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (track.times[i] < 0 || (i > 0 && track.times[i] <= track.times[i - 1])) {
            error = where + ": key times must rise from 0 or later; key " + std::to_string(i) +
                    " is " + std::to_string(track.times[i]);
            return false;
        }
    }
    return true;
}

// The animation's name as a file name part: letters, digits, '-', '_' and
// '.' stay, as do bytes of non-ASCII letters; everything else becomes '_'.
std::string SafeName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        const bool keep = std::isalnum(c) || c == '-' || c == '_' || c == '.' || c >= 0x80;
        out += keep ? static_cast<char>(c) : '_';
    }
    if (!out.empty() && out[0] == '.') out[0] = '_';
    if (out.size() > kMaxMotionName) out.resize(kMaxMotionName);
    // A cut must not leave half a UTF-8 character.
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
    while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0xC0) out.pop_back();
    return out;
}

double Degrees(double radians) {
    return radians * 180.0 / kPi;
}

}  // namespace

bool BuildMotions(const Scene& scene, const Skeleton& sk, const ImportOptions& options,
                  ImportResult& result, std::string& error) {
    const tinygltf::Model& m = scene.model;
    if (options.rate_ms <= 0) {
        error = "the rate's period must be above 0 ms";
        return false;
    }
    std::set<std::string> used_names;
    std::size_t scale_channels = 0, morph_channels = 0, other_nodes = 0, skipped = 0;
    for (std::size_t a = 0; a < m.animations.size(); ++a) {
        const tinygltf::Animation& anim = m.animations[a];
        const std::string label =
            "animation " + std::to_string(a) + (anim.name.empty() ? "" : " '" + anim.name + "'");
        // Per bone: its rotation and translation tracks, if any.
        std::vector<const Track*> rotation(sk.nodes.size()), translation(sk.nodes.size());
        std::vector<Track> tracks;
        tracks.reserve(anim.channels.size());
        std::vector<double> times;
        for (const tinygltf::AnimationChannel& ch : anim.channels) {
            const int node = ch.target_node;
            if (node < 0 || static_cast<std::size_t>(node) >= m.nodes.size()) {
                error = label + ": a channel targets node " + std::to_string(node) +
                        ", which does not exist";
                return false;
            }
            if (ch.target_path == "weights") {
                ++morph_channels;
                continue;
            }
            const int bone = sk.bone_of_node[node];
            if (bone < 0) {
                ++other_nodes;
                continue;
            }
            if (ch.target_path == "scale") {
                ++scale_channels;
                continue;
            }
            const bool is_rotation = ch.target_path == "rotation";
            if (!is_rotation && ch.target_path != "translation") {
                error = label + ": unknown channel path '" + ch.target_path + "'";
                return false;
            }
            auto& slot = is_rotation ? rotation[bone] : translation[bone];
            if (slot) {
                error = label + ": two " + ch.target_path + " channels on " + NodeLabel(m, node);
                return false;
            }
            tracks.emplace_back();
            if (!ReadTrack(m, anim, ch.sampler, is_rotation ? 4 : 3, label, tracks.back(), error))
                return false;
            slot = &tracks.back();
            times.insert(times.end(), tracks.back().times.begin(), tracks.back().times.end());
        }
        if (tracks.empty()) {
            result.warnings.push_back(label +
                                      " has no rotation or translation channel on a "
                                      "joint: skipped");
            ++skipped;
            continue;
        }
        // Key units, each sampled at the latest time that rounds to it.
        std::map<long long, double> keys;
        std::sort(times.begin(), times.end());
        times.erase(std::unique(times.begin(), times.end()), times.end());
        for (double t : times) {
            const double unit = std::round(t * 1000.0 / options.rate_ms);
            if (unit > tra4::kMaxKeyTime) {
                error = label + ": key time " + std::to_string(t) + " s is beyond the " +
                        std::to_string(tra4::kMaxKeyTime) + " units a motion can hold";
                return false;
            }
            keys[static_cast<long long>(unit)] = t;
        }
        if (keys.size() < times.size())
            result.warnings.push_back(label + ": " + std::to_string(times.size() - keys.size()) +
                                      " key times fell on the unit of an earlier one at " +
                                      std::to_string(options.rate_ms) + " ms and were merged");

        ImportedMotion out;
        tra4::Motion& motion = out.motion;
        for (const auto& [unit, t] : keys) motion.times.push_back(static_cast<int>(unit));
        for (std::size_t b = 0; b < sk.nodes.size(); ++b) {
            const std::string& full = result.model.bones[b].name;
            // The motion names the bone without its motor tag; R asks for mirroring.
            const std::size_t open = full.rfind('(');
            const bool tagged = open != std::string::npos && full.back() == ')';
            const std::string name = tagged ? full.substr(0, open) : full;
            tra4::Bone& bone = motion.AddBone(name, tagged && full[full.size() - 2] == 'R');
            const int node = sk.nodes[b];
            const Quat rest = scene.rotation[node];
            const V3 rest_t = scene.translation[node];
            std::size_t k = 0;
            for (const auto& [unit, t] : keys) {
                double r[4] = {rest.x, rest.y, rest.z, rest.w};
                double p[3] = {rest_t.x, rest_t.y, rest_t.z};
                if (rotation[b]) rotation[b]->Sample(t, r);
                if (translation[b]) translation[b]->Sample(t, p);
                const Quat delta = Conjugate(rest) * Normalized({r[0], r[1], r[2], r[3]});
                const V3 d = Rotate(delta, {0, 1, 0});
                const V3 o = Rotate(Conjugate(rest), V3{p[0], p[1], p[2]} - rest_t) * kMm;
                // Twist about the bone's own axis (+Y).
                double roll = Degrees(2 * std::atan2(delta.y, delta.w));
                if (roll > 180) roll -= 360;
                if (roll <= -180) roll += 360;
                tra4::Key& key = bone.keys[k++];
                key.rotate = {Settled(-d.x, kUnitNoise), Settled(d.z, kUnitNoise),
                              Settled(d.y, kUnitNoise)};
                key.translate = {Settled(-o.x, kMmNoise), Settled(o.z, kMmNoise),
                                 Settled(o.y, kMmNoise)};
                key.roll = Settled(roll, kDegreeNoise);
            }
        }
        const std::string reason = tra4::Check(motion);
        if (!reason.empty()) {
            error = label + ": " + reason;
            return false;
        }
        std::string name = SafeName(anim.name);
        if (name.empty() || used_names.count(name))
            name += (name.empty() ? "" : "-") + std::to_string(a);
        used_names.insert(name);
        out.name = name;
        out.length_ms = motion.times.back() * options.rate_ms;
        result.motions.push_back(std::move(out));
    }
    if (!m.animations.empty() && skipped == m.animations.size()) {
        error = "no animation moves a joint of skin " + std::to_string(sk.skin) +
                " with a rotation or translation channel";
        return false;
    }
    auto warn = [&](std::size_t n, const std::string& what) {
        if (n)
            result.warnings.push_back(std::to_string(n) + " " + what +
                                      (n == 1 ? " channel was" : " channels were") + " ignored");
    };
    warn(scale_channels, "scale");
    warn(morph_channels, "morph target");
    warn(other_nodes, "non-joint node");
    return true;
}

}  // namespace quenlo::gltf
