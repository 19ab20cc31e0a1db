// Skeleton mathematics and the camera, on bones and views built in memory.
#include <gtest/gtest.h>

#include <cmath>

#include "preview.h"
#include "preview_test_util.h"
#include "quenlo/platform.h"

namespace {

using namespace quenlo::preview;
using preview_test::ExpectNear;

// A bone at (10, 20, 30) hanging down (W = -y) with its handle forward
// (V = +x), so U = V x W = -z, its swing axis.
PreviewBone HangingBone() {
    PreviewBone bone;
    bone.position = {10, 20, 30};
    bone.rotation_point = {10, 19, 30};
    bone.handle_point = {11, 20, 30};
    PreviewBone parent;
    parent.position = {10, 0, 0};
    SetUpBone(bone, &parent);
    return bone;
}

// Where the bone's matrix takes a direction of its rest frame.
PreviewVector Turned(const PreviewBone& bone, const PreviewVector& v) {
    const PreviewVector p = TransformPoint(bone.matrix, v);
    return {p[0] - bone.matrix[12], p[1] - bone.matrix[13], p[2] - bone.matrix[14]};
}

TEST(BoneMatrix, RollsAboutTheRestDirectionThenSwingsOntoThePoseDirection) {
    PreviewBone bone = HangingBone();
    ExpectNear(bone.axis_w, {0, -1, 0}, 0);
    ExpectNear(bone.axis_v, {1, 0, 0}, 0);
    ExpectNear(bone.axis_u, {0, 0, -1}, 0);
    ExpectNear(bone.offset, {0, 20, 30}, 0);

    // At rest the matrix is the offset alone.
    CPreviewScene::BoneMatrix(bone);
    for (int i = 0; i < 12; ++i) EXPECT_EQ(bone.matrix[i], kIdentityMatrix[i]) << i;
    ExpectNear({bone.matrix[12], bone.matrix[13], bone.matrix[14]}, {0, 20, 30}, 0);

    // A roll of 90 degrees about -y takes +x to +z; the translation adds on.
    bone.pose_roll = 90;
    bone.pose_translation = {1, 2, 3};
    CPreviewScene::BoneMatrix(bone);
    ExpectNear(Turned(bone, {1, 0, 0}), {0, 0, 1}, 1e-6f, "roll");
    ExpectNear(Turned(bone, {0, -1, 0}), {0, -1, 0}, 1e-6f, "roll");
    ExpectNear({bone.matrix[12], bone.matrix[13], bone.matrix[14]}, {1, 22, 33}, 0);

    // A swing forward: the rest direction lands on the pose direction.
    bone.pose_roll = 0;
    bone.pose_direction = {1, 0, 0};
    CPreviewScene::BoneMatrix(bone);
    ExpectNear(Turned(bone, {0, -1, 0}), {1, 0, 0}, 1e-6f, "swing");
    ExpectNear(Turned(bone, {0, 0, 1}), {0, 0, 1}, 1e-6f, "swing keeps its axis");

    // Roll first, then swing.
    bone.pose_roll = 90;
    CPreviewScene::BoneMatrix(bone);
    ExpectNear(Turned(bone, {1, 0, 0}), {0, 0, 1}, 1e-6f, "roll then swing");
}

TEST(BoneMatrix, SwingsByTheAngleOfAnyNonZeroDirection) {
    PreviewBone bone = HangingBone();
    const float h = std::sqrt(0.5f);
    // Components that sum to zero are still a 45 degree swing.
    bone.pose_direction = {h, -h, 0};
    CPreviewScene::BoneMatrix(bone);
    ExpectNear(Turned(bone, {0, -1, 0}), {h, -h, 0}, 1e-6f, "zero sum");

    // Halfway between two keys the direction is shorter than 1: the limb is
    // still shown at the angle it points to, 45 degrees, not 60.
    bone.pose_direction = {0.5f, -0.5f, 0};
    CPreviewScene::BoneMatrix(bone);
    ExpectNear(Turned(bone, {0, -1, 0}), {h, -h, 0}, 1e-6f, "interpolated");

    // No key in force: no swing.
    bone.pose_direction = {0, 0, 0};
    CPreviewScene::BoneMatrix(bone);
    ExpectNear(Turned(bone, {0, -1, 0}), {0, -1, 0}, 0, "zero");

    // Straight up is a half turn about the bone's own swing axis: a rotation,
    // not a mirror image, so the sides stay where they were.
    bone.pose_direction = {0, 1, 0};
    CPreviewScene::BoneMatrix(bone);
    ExpectNear(Turned(bone, {0, -1, 0}), {0, 1, 0}, 1e-6f, "opposite");
    ExpectNear(Turned(bone, {1, 0, 0}), {-1, 0, 0}, 1e-6f, "opposite");
    ExpectNear(Turned(bone, {0, 0, 1}), {0, 0, 1}, 1e-6f, "opposite");
}

TEST(SkeletonWalk, ABoneIsDrawnUnderTheMatrixTheStackLeavesInForce) {
    // root -> arm -> (finger1, finger2), leg; then a leaf without a brother at
    // the top level, which leaves its own matrix in force for the next bone.
    SkeletonWalk walk;
    EXPECT_EQ(walk.Next(0, true, false), -1);  // root
    EXPECT_EQ(walk.Next(1, true, true), 0);    // arm
    EXPECT_EQ(walk.Next(2, false, true), 1);   // finger1
    EXPECT_EQ(walk.Next(3, false, false), 1);  // finger2
    EXPECT_EQ(walk.Next(4, false, false), 0);  // leg: under the root, not the arm
    EXPECT_EQ(walk.Next(5, false, false), 4);
}

// Keys at frames 10, 20, 20, 30: roll and translation x carry the frame.
PreviewBone TrackedBone() {
    PreviewBone bone = HangingBone();
    auto key = [](int32_t frame, PreviewVector direction, float roll) {
        return PreviewKey{frame, direction, roll, {roll, 0, 0}};
    };
    bone.tracks = {{key(10, {0, -1, 0}, 10), key(20, {1, 0, 0}, 20), key(20, {0, 0, 1}, 25),
                    key(30, {0, 1, 0}, 30)},
                   {key(40, {1, 0, 0}, 40)},
                   {key(10, {1, 0, 0}, 10), key(10, {0, 0, 1}, 11), key(30, {0, 1, 0}, 30)}};
    bone.active_track = 0;
    return bone;
}

TEST(SetPose, InterpolatesBetweenKeysExtrapolatesBeforeAndHoldsTheLastKey) {
    PreviewBone bone = TrackedBone();
    auto pose = [&](int32_t t) {
        CPreviewScene::SetPose(bone, t);
        return bone.pose_roll;
    };
    EXPECT_FLOAT_EQ(pose(15), 15);
    ExpectNear(bone.pose_direction, {0.5f, -0.5f, 0}, 1e-6f, "left as interpolated");
    EXPECT_FLOAT_EQ(bone.pose_translation[0], 15);
    EXPECT_FLOAT_EQ(pose(10), 10);
    EXPECT_FLOAT_EQ(pose(4), 4);  // before the first key: from keys 0 and 1
    ExpectNear(bone.pose_direction, {-0.6f, -1.6f, 0}, 1e-6f, "extrapolated");
    EXPECT_FLOAT_EQ(pose(20), 20);  // two keys at one frame: the earlier one
    EXPECT_FLOAT_EQ(pose(25), 27.5f);
    // At and after the last key the pose is the last key's, where the robot stays.
    EXPECT_FLOAT_EQ(pose(30), 30);
    EXPECT_FLOAT_EQ(pose(1000), 30);
    ExpectNear(bone.pose_direction, {0, 1, 0}, 0);

    // Before a lone key: at rest, with no swing, no roll and none of the
    // shift an earlier pose had.
    bone.active_track = 1;
    EXPECT_FLOAT_EQ(pose(39), 0);
    ExpectNear(bone.pose_direction, {0, 0, 0}, 0);
    ExpectNear(bone.pose_translation, {0, 0, 0}, 0);

    // A zero span before the first key takes the first key.
    bone.active_track = 2;
    EXPECT_FLOAT_EQ(pose(5), 10);

    // No track chosen, or one beyond the list: the rest direction's swing is off.
    for (int track : {-1, 3}) {
        bone.active_track = track;
        EXPECT_FLOAT_EQ(pose(20), 0);
        ExpectNear(bone.pose_direction, {0, 0, 0}, 0);
    }
}

TEST(Camera, TrackballPanAndZoomFollowTheMouse) {
    quenlo::LogCapture log;
    PreviewCamera camera;
    camera.SetViewSize(200, 100);
    ExpectNear(PreviewCamera::TrackballVector(100, 50, 200, 100), {0, 0, 1}, 1e-6f, "centre");
    // A corner: px = py = 0.5, r = 0.7071, pz = cos(r * pi / 2).
    const float pz = std::cos(std::sqrt(0.5f) * 1.5707964f);
    const float len = std::sqrt(0.5f + pz * pz);
    ExpectNear(PreviewCamera::TrackballVector(200, 0, 200, 100), {0.5f / len, 0.5f / len, pz / len},
               1e-6f, "corner");

    // No button: nothing moves.
    EXPECT_FALSE(camera.MouseMove(10, 10));
    // Left button: the first move turns by 180 |v - p| degrees about p x v.
    camera.LeftButtonDown(100, 50);
    const PreviewVector p = camera.view().last_trackball;
    EXPECT_TRUE(camera.MouseMove(150, 50));
    const PreviewVector v = PreviewCamera::TrackballVector(150, 50, 200, 100);
    const float angle =
        std::sqrt((v[0] - p[0]) * (v[0] - p[0]) + (v[2] - p[2]) * (v[2] - p[2])) * 180;
    EXPECT_NEAR(camera.view().angle_sum, angle, 1e-4f);
    // The turn is about +y (p x v for a move to the right): +z goes towards +x.
    const PreviewMatrix& r = camera.view().rotation;
    EXPECT_NEAR(r[8], std::sin(angle * 3.14159265f / 180), 1e-5f);
    EXPECT_NEAR(r[10], std::cos(angle * 3.14159265f / 180), 1e-5f);
    camera.LeftButtonUp();

    // Right button: the eye moves by the travel over the zoom, the model follows.
    camera.RightButtonDown(10, 10);
    EXPECT_TRUE(camera.MouseMove(60, 35));
    ExpectNear(camera.view().pan, {-50.0f, 25.0f, 0}, 1e-5f, "pan");
    camera.RightButtonUp();

    // One notch forward zooms by 2 to the 0.08; a delta of -1 does nothing.
    EXPECT_TRUE(camera.MouseWheel(5, 5, 120));
    EXPECT_FLOAT_EQ(camera.view().zoom, std::pow(2.0f, 0.08f));
    camera.MouseWheel(5, 5, -1);
    EXPECT_FLOAT_EQ(camera.view().zoom, std::pow(2.0f, 0.08f));
    EXPECT_EQ(camera.view().mouse_mode, MouseMode::Idle);

    char rot[96];
    std::snprintf(rot, sizeof rot, "rot r=%g x=%g y=%g z=%g\r\n", camera.view().angle_sum, 0.0,
                  p[2] * v[0] - p[0] * v[2], 0.0);
    EXPECT_EQ(log.out(), std::string("Left button ON\r\n") + rot +
                             "Left button OFF\r\nRight button ON\r\nRight button OFF\r\n");
}

// The start view puts the reach's centre in the middle of the panel and its
// sphere inside the panel's smaller side less the margin, seen from above at
// 45 degrees about (1, 1, 0); turns are about the centre; Reset comes back.
TEST(Camera, TheStartViewFramesTheReachAndTurnsAboutItsCentre) {
    quenlo::LogCapture log;
    const PreviewReach reach{{10, 200, -20}, 250};
    PreviewCamera camera;
    camera.SetViewSize(200, 100);
    camera.Frame(reach);
    const PreviewMatrix want = AxisRotation(Normalised({1, 1, 0}), 45);
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(camera.view().rotation[i], want[i], 1e-6f) << i;
    ExpectNear(camera.view().pan, {0, 0, 0}, 0);

    // The sphere's outline, sampled: inside a circle of kReachFill x 50
    // pixels, and touching it.
    auto widest = [&] {
        float most = 0;
        for (int a = 0; a < 36; ++a)
            for (int b = 0; b < 18; ++b) {
                const float th = a * 0.17453292f, ph = b * 0.17453292f;
                const PreviewVector dir{std::sin(ph) * std::cos(th), std::cos(ph),
                                        std::sin(ph) * std::sin(th)};
                const auto q = camera.ToPanel({reach.centre[0] + reach.radius * dir[0],
                                               reach.centre[1] + reach.radius * dir[1],
                                               reach.centre[2] + reach.radius * dir[2]});
                most = std::max(most, std::hypot(q[0] - 100, q[1] - 50));
            }
        return most;
    };
    auto centre = [&] { return camera.ToPanel(reach.centre); };
    EXPECT_NEAR(centre()[0], 100, 1e-3f);
    EXPECT_NEAR(centre()[1], 50, 1e-3f);
    const float circle = kReachFill * 50;
    EXPECT_LE(widest(), circle + 0.001f);
    EXPECT_GT(widest(), circle - 1);
    // Whatever the model's depth, it lies between the near and far planes.
    const PreviewFrustum f = camera.Frustum();
    const float depth = -TransformPoint(camera.ViewMatrix(), reach.centre)[2];
    EXPECT_LT(f.near_plane, depth - reach.radius);
    EXPECT_GT(f.far_plane, depth + reach.radius);

    // A left drag turns about the centre: it stays where it was.
    camera.LeftButtonDown(20, 20);
    camera.MouseMove(180, 90);
    camera.LeftButtonUp();
    EXPECT_NEAR(centre()[0], 100, 1e-3f);
    EXPECT_NEAR(centre()[1], 50, 1e-3f);
    // A twice as large panel: the sphere fills it as before.
    camera.SetViewSize(400, 200);
    EXPECT_NEAR(camera.ToPanel(reach.centre)[0], 200, 1e-3f);
    camera.SetViewSize(200, 100);
    // A right drag moves the centre with the mouse; Reset brings the start view back.
    camera.RightButtonDown(100, 50);
    camera.MouseMove(130, 40);
    camera.RightButtonUp();
    EXPECT_NEAR(centre()[0], 130, 1e-2f);
    EXPECT_NEAR(centre()[1], 40, 1e-2f);
    camera.MouseWheel(0, 0, 600);
    camera.Reset();
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(camera.view().rotation[i], want[i], 1e-6f) << i;
    EXPECT_NEAR(centre()[0], 100, 1e-3f);
    EXPECT_NEAR(widest(), circle, 1);
}

}  // namespace
