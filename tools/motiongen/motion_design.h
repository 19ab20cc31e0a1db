// The example motions of the example robot as joint angles over time. motiongen
// turns them into TRA4 files; the conversion tests check that converting those
// files gives back these angles.
//
// Angles are in degrees, positive counter-clockwise about +z for the pitch joints
// (a hanging arm or leg swings forward, the head tilts back) and outward for the
// roll joints. Time is in motion-time units: 25 ms each at the default rate.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace quenlo::motiongen {

struct Track {
    std::string joint;                        // model bone name without its motor tag
    std::vector<std::pair<int, int>> points;  // (time, angle), times ascending
};

struct MotionDesign {
    std::string file;  // name in examples/
    std::vector<int> times;
    std::vector<Track> tracks;  // joints not listed stay at 0
};

// Joint angle at a time: linear between the track's points, held before the first
// and after the last, rounded to whole degrees half away from zero.
inline int AngleAt(const Track& track, int time) {
    const auto& p = track.points;
    if (p.empty()) return 0;
    if (time <= p.front().first) return p.front().second;
    for (size_t i = 1; i < p.size(); ++i) {
        if (time > p[i].first) continue;
        const double u = double(time - p[i - 1].first) / double(p[i].first - p[i - 1].first);
        const double a = p[i - 1].second + u * (p[i].second - p[i - 1].second);
        return static_cast<int>(a >= 0 ? a + 0.5 : a - 0.5);
    }
    return p.back().second;
}

inline std::vector<int> Every(int step, int end) {
    std::vector<int> t;
    for (int x = 0; x <= end; x += step) t.push_back(x);
    return t;
}

inline std::vector<MotionDesign> Designs() {
    std::vector<MotionDesign> d;

    // Bow: the torso leans over the legs (the legs swing back against the fixed
    // body), head down, arms a little forward; 4 s.
    d.push_back({"bow.tra",
                 Every(8, 160),
                 {
                     {"r_hip_pitch", {{0, 0}, {48, -45}, {104, -45}, {152, 0}}},
                     {"l_hip_pitch", {{0, 0}, {48, -45}, {104, -45}, {152, 0}}},
                     {"head", {{0, 0}, {40, -25}, {112, -25}, {152, 0}}},
                     {"r_shoulder_pitch", {{0, 0}, {48, 15}, {104, 15}, {152, 0}}},
                     {"l_shoulder_pitch", {{0, 0}, {48, 15}, {104, 15}, {152, 0}}},
                 }});

    // Wave with the right arm: raise it sideways, bend the elbow, wave the hand; 5 s.
    d.push_back({"wave.tra",
                 Every(5, 200),
                 {
                     {"r_shoulder_roll", {{0, 0}, {30, 85}, {170, 85}, {200, 0}}},
                     {"r_elbow", {{0, 0}, {30, 60}, {170, 60}, {200, 0}}},
                     {"r_wrist",
                      {{0, 0},
                       {30, 0},
                       {45, 35},
                       {65, -35},
                       {85, 35},
                       {105, -35},
                       {125, 35},
                       {145, -35},
                       {165, 0}}},
                     {"head", {{0, 0}, {30, 10}, {170, 10}, {200, 0}}},
                 }});

    // Walk in place: four steps, each leg lifted in turn with the opposite arm
    // swinging forward; 6 s.
    MotionDesign walk{"walk.tra", Every(6, 240), {}};
    const int up[4] = {30, 90, 150, 210};  // right, left, right, left
    for (const char* side : {"r_", "l_"}) {
        const bool right = side[0] == 'r';
        Track hip{std::string(side) + "hip_pitch", {{0, 0}}};
        Track knee{std::string(side) + "knee", {{0, 0}}};
        Track ankle{std::string(side) + "ankle_pitch", {{0, 0}}};
        Track arm{std::string(side) + "shoulder_pitch", {{0, 0}}};
        Track elbow{std::string(side) + "elbow", {{0, 0}, {24, 20}, {216, 20}, {240, 0}}};
        for (int s = 0; s < 4; ++s) {
            const bool lifts = (s % 2 == 0) == right;
            const int t = up[s];
            if (lifts) {
                hip.points.push_back({t, 40});
                knee.points.push_back({t, -70});
                ankle.points.push_back({t, 30});
            } else {
                hip.points.push_back({t, 0});
                knee.points.push_back({t, 0});
                ankle.points.push_back({t, 0});
            }
            arm.points.push_back({t, lifts ? -20 : 20});
            for (Track* tr : {&hip, &knee, &ankle}) tr->points.push_back({t + 30, 0});
        }
        arm.points.push_back({240, 0});
        walk.tracks.push_back(hip);
        walk.tracks.push_back(knee);
        walk.tracks.push_back(ankle);
        walk.tracks.push_back(arm);
        walk.tracks.push_back(elbow);
    }
    d.push_back(walk);

    // Squat: bend hips, knees and ankles together with the arms held forward; 4 s.
    d.push_back({"squat.tra",
                 Every(4, 160),
                 {
                     {"r_hip_pitch", {{0, 0}, {60, 50}, {100, 50}, {152, 0}}},
                     {"l_hip_pitch", {{0, 0}, {60, 50}, {100, 50}, {152, 0}}},
                     {"r_knee", {{0, 0}, {60, -100}, {100, -100}, {152, 0}}},
                     {"l_knee", {{0, 0}, {60, -100}, {100, -100}, {152, 0}}},
                     {"r_ankle_pitch", {{0, 0}, {60, 50}, {100, 50}, {152, 0}}},
                     {"l_ankle_pitch", {{0, 0}, {60, 50}, {100, 50}, {152, 0}}},
                     {"r_shoulder_pitch", {{0, 0}, {60, 80}, {100, 80}, {152, 0}}},
                     {"l_shoulder_pitch", {{0, 0}, {60, 80}, {100, 80}, {152, 0}}},
                     {"head", {{0, 0}, {60, -10}, {100, -10}, {152, 0}}},
                 }});
    return d;
}

// The joint's angle at a time, 0 for a joint the design does not move.
inline int DesignAngle(const MotionDesign& design, const std::string& joint, int time) {
    for (const Track& t : design.tracks)
        if (t.joint == joint) return AngleAt(t, time);
    return 0;
}

}  // namespace quenlo::motiongen
