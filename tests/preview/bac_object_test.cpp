// The preview's copy of a model read by figread: bones, parents, faces, key
// tracks, the rest pose, and the timed playing of a step.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "figread.h"
#include "preview.h"
#include "preview_test_util.h"
#include "quenlo/platform.h"

namespace {

using namespace quenlo::preview;
using conversion_test::MakeMotion;
using conversion_test::TempFolder;
using conversion_test::WriteBac;
using conversion_test::WriteTra;
using preview_test::Convert;
using preview_test::ExpectNear;
using preview_test::kExamples;
using preview_test::TreeBones;

// Every corner of every face, drawn under the matrices of the walk.
void ExpectRestPoseAtModelPositions(CPreviewScene& scene) {
    int corners = 0;
    scene.WalkSkeleton([&](PreviewBone& bone, const PreviewMatrix& m) {
        for (const PreviewFace& f : bone.faces) {
            for (int k = 0; k < (f.is_quad ? 4 : 3); ++k, ++corners) {
                const PreviewVector& v = f.positions[static_cast<size_t>(k)];
                const PreviewVector local{v[0] - bone.position[0], v[1] - bone.position[1],
                                          v[2] - bone.position[2]};
                ExpectNear(TransformPoint(m, local), v, 1e-3f);
            }
        }
    });
    EXPECT_GT(corners, 0);
}

class PreviewModel : public ::testing::Test {
  protected:
    std::string dir = TempFolder();
    CPreviewScene scene;
    quenlo::LogCapture log;
};

TEST_F(PreviewModel, TreeBonesSitUnderTheBoneTheWalkDrawsThemWith) {
    const std::string bac = WriteBac(dir + "tree.bac", TreeBones());
    const auto c = Convert(scene, bac, {});
    ASSERT_TRUE(c.ui->built);
    EXPECT_EQ(log.out(),
              "CreateBacObject :: vertex number 40\r\nCreateBacObject :: normal number 40\r\n"
              "CreateBacObject :: bone number 5\r\nCreateBacObject :: face number 30\r\n");
    EXPECT_EQ(log.err(), "CreateBacObject :: 30 faces name a material the model lacks\r\n");
    EXPECT_FLOAT_EQ(c.ui->size, 140);  // y from 0 to 140

    const auto& bones = scene.bones();
    ASSERT_EQ(bones.size(), 5u);
    std::vector<int> parents;
    for (const auto& b : bones) parents.push_back(b->parent);
    EXPECT_EQ(parents, (std::vector<int>{-1, 0, 1, 1, 0}));
    ExpectNear(bones[0]->offset, {0, 100, 0}, 0, "root");
    ExpectNear(bones[3]->offset, {0, -40, 2}, 0, "finger2");
    ExpectNear(bones[4]->offset, {0, -10, 10}, 0, "leg: from the root");
    for (const auto& b : bones) {
        EXPECT_EQ(b->faces.size(), 6u);
        EXPECT_TRUE(b->tracks.empty());
        EXPECT_EQ(b->active_track, -1);
        ExpectNear(b->axis_w, {0, -1, 0}, 0);
    }
    ExpectRestPoseAtModelPositions(scene);
    // A conversion without motions, and motions beyond the tracks, pose nothing.
    scene.SelectMotion(2);
    ExpectRestPoseAtModelPositions(scene);
}

TEST_F(PreviewModel, ExampleRobotAtRestIsDrawnAsModelled) {
    const auto c = Convert(scene, kExamples + "/robot.bac", {kExamples + "/bow.tra"});
    ASSERT_TRUE(c.ui->built);
    EXPECT_EQ(log.err(), "");
    EXPECT_FLOAT_EQ(c.ui->size, 400);
    ASSERT_EQ(scene.bones().size(), 20u);
    for (const auto& b : scene.bones()) {
        EXPECT_EQ(b->faces.size(), 6u);
        EXPECT_EQ(b->tracks.size(), 1u);
    }
    // The head's first face: colour and material of "head".
    const PreviewFace& f = scene.bones()[1]->faces[0];
    EXPECT_TRUE(f.is_quad);
    EXPECT_EQ(f.colour, (std::array<float, 4>{0.95f, 0.85f, 0.30f, 1.0f}));
    EXPECT_FLOAT_EQ(f.specular, 0.5f);
    EXPECT_FLOAT_EQ(f.shininess, 30);
    ExpectRestPoseAtModelPositions(scene);
}

TEST_F(PreviewModel, KeysTurnIntoModelSpaceThroughTheBoneFrame) {
    // The arm's axes: U = -z, V = +x, W = -y. Rotate (0, 3, 4) is 3 V + 4 W,
    // normalised; translate (1, 2, 3) is U + 2 V + 3 W as it stands.
    quenlo::tra4::Motion m = MakeMotion({0, 10}, {"root", "arm", "finger1", "finger2", "leg"});
    m.bones[1].keys[1] = {{0, 3, 4}, {1, 2, 3}, 12.5f};
    const std::string bac = WriteBac(dir + "tree.bac", TreeBones());
    const auto c = Convert(scene, bac, {WriteTra(dir + "m.tra", m)});
    const PreviewBone& arm = *scene.bones()[1];
    ASSERT_EQ(arm.tracks.size(), 1u);
    ASSERT_EQ(arm.tracks[0].size(), 2u);
    const PreviewKey& k = arm.tracks[0][1];
    EXPECT_EQ(k.frame, 10);
    ExpectNear(k.direction, {0.6f, -0.8f, 0}, 1e-6f);
    ExpectNear(k.translation, {2, -3, -1}, 1e-6f);
    EXPECT_FLOAT_EQ(k.roll, 12.5f);
    // ResetPose chooses track 0 at frame 0 for every bone.
    EXPECT_EQ(arm.active_track, 0);
    ExpectNear(arm.pose_direction, {0, -1, 0}, 1e-6f);
}

TEST_F(PreviewModel, ShortMotionsAndBadFacesAreLeftOutWithALine) {
    // A motion of two bones for a model of five: the other three keep the rest
    // pose, with one line for the motion.
    const std::string bac = WriteBac(dir + "tree.bac", TreeBones());
    const std::string two = WriteTra(dir + "two.tra", MakeMotion({0, 10}, {"root", "arm"}));
    const std::string all = WriteTra(
        dir + "all.tra", MakeMotion({0, 10}, {"root", "arm", "finger1", "finger2", "leg"}));
    auto c = Convert(scene, bac, {all, two});
    EXPECT_EQ(log.err(),
              "CreateBacObject :: motion 1 has no keys for 3 of 5 bones\r\n"
              "CreateBacObject :: 30 faces name a material the model lacks\r\n");
    EXPECT_EQ(scene.bones()[1]->tracks[1].size(), 2u);
    EXPECT_TRUE(scene.bones()[4]->tracks[1].empty());
    scene.SelectMotion(1);
    for (const auto& b : scene.bones()) CPreviewScene::SetPose(*b, 5);
    ExpectRestPoseAtModelPositions(scene);

    // Faces reaching beyond the vertices or the normals are skipped, one line each.
    std::ofstream(dir + "bad.bac")
        << ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"bad\")\n"
        << "(Vertices\n(coords\n(pnt 0 0 0)\n(pnt 1 0 0)\n(pnt 0 1 0)\n(pnt 1 1 0)\n)\n"
        << "(normals\n(vct 0 0 1)\n(vct 0 0 1)\n(vct 0 0 1)\n)\n)\n"
        << "(Bones\n(bone\n(name \"b\")\n(rotate 0 -1 0)\n(vertexIndices 0 1 2 3 7)\n)\n)\n"
        << "(Polygons\n(face -1 ( i3 0 1 2 ) ( i3 0 0 0 ))\n(face -1 ( i3 1 2 3 ) ( i3 0 0 0 ))\n"
        << "(face -1 ( i3 0 1 7 ) ( i3 0 0 0 ))\n)\n)\n";
    c = {};
    log.clear();
    c = Convert(scene, dir + "bad.bac", {});
    EXPECT_TRUE(c.ui->built);
    EXPECT_EQ(log.err(),
              "CreateBacObject :: face 1 index 3 beyond 4 vertices, 3 normals\r\n"
              "CreateBacObject :: face 2 index 7 beyond 4 vertices, 3 normals\r\n");
    ASSERT_EQ(scene.bones().size(), 1u);
    EXPECT_EQ(scene.bones()[0]->faces.size(), 1u);
}

TEST_F(PreviewModel, AModelWithoutFacesKeepsItsBones) {
    std::ofstream(dir + "nofaces.bac") << ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"n\")\n"
                                       << "(Vertices\n(coords\n(pnt 0 0 0)\n(pnt 0 0 "
                                          "0)\n)\n(normals\n(vct 0 0 1)\n(vct 0 0 1)\n)\n)\n"
                                       << "(Bones\n(bone\n(name \"b\")\n)\n)\n)\n";
    const auto c = Convert(scene, dir + "nofaces.bac", {});
    EXPECT_FALSE(c.ui->built);
    EXPECT_EQ(log.err(),
              "CreateBacObject :: warning: the model has no polygons; the preview has nothing to "
              "draw\r\n");
    EXPECT_EQ(scene.bones().size(), 1u);
    EXPECT_FLOAT_EQ(c.ui->size, 1.1754944e-38f);  // every vertex in one point
}

// PlaySegment on the tree model: every bone's roll is the key time, so a
// bone's roll shows the frame number each repaint drew.
class Segment : public PreviewModel {
  protected:
    void SetUp() override {
        quenlo::tra4::Motion m = MakeMotion({0, 100}, {"root", "arm", "finger1", "finger2", "leg"});
        for (auto& b : m.bones) b.keys[1].roll = 100;
        c = Convert(scene, WriteBac(dir + "tree.bac", TreeBones()), {WriteTra(dir + "m.tra", m)});
        scene.SetClock(clock);
        scene.SetRepaint([this] {
            clock.Advance(1);  // drawing takes a millisecond
            frames.push_back(scene.bones()[4]->pose_roll);
            if (frames.size() == stop_at) scene.RequestStop();
        });
        scene.SelectMotion(0);
        log.clear();
    }
    preview_test::Converted c;
    quenlo::ManualClock clock{1000};
    std::vector<float> frames;
    size_t stop_at = 0;
};

TEST_F(Segment, FramesSpreadOverTheStepLessItsStartUp) {
    // 4 frames of 15 ms less 4 ms of start-up: 56 ms for key times 0 to 100.
    scene.PlaySegment(4, 15, 4, 0, 100);
    EXPECT_EQ(frames, (std::vector<float>{0, 26, 53, 80}));
    EXPECT_EQ(clock.slept(), (std::vector<uint32_t>{13, 13, 13, 9}));
    EXPECT_EQ(log.out(), " time=56 -4\r\n");

    // A span of 0 shows the key time throughout: the last key holds its pose.
    frames.clear();
    log.clear();
    scene.PlaySegment(0, 10, 2, 100, 0);
    EXPECT_EQ(frames, (std::vector<float>{100, 100}));
    EXPECT_EQ(log.out(), " time=20 -2\r\n");

    // No frames, no repaint.
    frames.clear();
    scene.PlaySegment(0, 10, 0, 0, 100);
    scene.PlaySegment(0, 10, -3, 0, 100);
    EXPECT_TRUE(frames.empty());
}

TEST_F(Segment, AStopEndsTheStepAfterTheFrameShown) {
    stop_at = 2;
    scene.PlaySegment(0, 20, 5, 0, 100);
    EXPECT_EQ(frames, (std::vector<float>{0, 20}));
    EXPECT_EQ(clock.slept(), (std::vector<uint32_t>{18}));
    EXPECT_EQ(log.out(), "");
}

TEST_F(Segment, AStepPreparedTooSlowlyShowsItsFirstFrameWithoutWaiting) {
    scene.PlaySegment(90, 20, 4, 30, 50);
    EXPECT_EQ(frames, (std::vector<float>{30}));
    EXPECT_TRUE(clock.slept().empty());
    EXPECT_EQ(log.out(), " time=0 1\r\n");
}

}  // namespace

namespace {

// Every corner of every face where the camera shows it now, with its depth
// in front of the eye.
struct Seen {
    float x, y, depth;
};
std::vector<Seen> Project(CPreviewScene& scene, const PreviewCamera& camera) {
    std::vector<Seen> seen;
    const PreviewMatrix view = camera.ViewMatrix();
    scene.WalkSkeleton([&](PreviewBone& bone, const PreviewMatrix& m) {
        for (const PreviewFace& f : bone.faces)
            for (int k = 0; k < (f.is_quad ? 4 : 3); ++k) {
                const PreviewVector& v = f.positions[static_cast<size_t>(k)];
                const PreviewVector world = TransformPoint(
                    m, {v[0] - bone.position[0], v[1] - bone.position[1], v[2] - bone.position[2]});
                const auto p = camera.ToPanel(world);
                seen.push_back({p[0], p[1], -TransformPoint(view, world)[2]});
            }
    });
    return seen;
}

}  // namespace

// The start view shows the whole example robot in every key pose of the four
// example motions, for panels of any shape, and not as a speck; every corner
// lies between the near and far planes.
TEST_F(PreviewModel, TheStartViewShowsTheRobotWholeInEveryKeyPose) {
    const std::vector<std::string> names{"bow", "wave", "walk", "squat"};
    std::vector<std::string> motions;
    for (const auto& n : names) motions.push_back(kExamples + "/" + n + ".tra");
    PreviewCamera camera;
    const auto c = Convert(scene, kExamples + "/robot.bac", motions, &camera);
    ASSERT_TRUE(c.ui->built);
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{
             {kPreviewPanelWidth, kPreviewPanelHeight}, {640, 800}, {512, 200}, {90, 90}}) {
        camera.SetViewSize(w, h);
        camera.Reset();
        const PreviewFrustum frustum = camera.Frustum();
        scene.SelectMotion(-1);  // the rest pose: at least half the smaller side tall
        float top = 1e9f, bottom = -1e9f;
        for (const Seen& s : Project(scene, camera))
            top = std::min(top, s.y), bottom = std::max(bottom, s.y);
        EXPECT_GT(bottom - top, 0.5f * std::min(w, h)) << w << "x" << h;
        int poses = 0;
        for (size_t m = 0; m < motions.size(); ++m) {
            scene.SelectMotion(static_cast<int>(m));
            for (const PreviewKey& key : scene.bones()[0]->tracks[m]) {
                ++poses;
                for (auto& b : scene.bones()) CPreviewScene::SetPose(*b, key.frame);
                for (const Seen& s : Project(scene, camera)) {
                    ASSERT_TRUE(s.x >= 0 && s.x < w && s.y >= 0 && s.y < h)
                        << names[m] << " at " << key.frame << " in " << w << "x" << h << ": " << s.x
                        << "," << s.y;
                    ASSERT_TRUE(s.depth > frustum.near_plane && s.depth < frustum.far_plane);
                }
            }
        }
        EXPECT_GT(poses, 20);
    }

    // The tree model a thousand times larger or smaller is framed alike.
    const std::string dir2 = TempFolder();
    auto scaled = [&](float k) {
        std::vector<conversion_test::TestBone> bones = TreeBones();
        for (auto& b : bones)
            for (auto* v : {&b.position, &b.rotation, &b.handle, &b.box_lo, &b.box_hi})
                for (float& x : *v) x *= k;
        auto s = std::make_unique<CPreviewScene>();
        PreviewCamera cam;
        cam.SetViewSize(kPreviewPanelWidth, kPreviewPanelHeight);
        const auto conv = Convert(*s, WriteBac(dir2 + std::to_string(k) + ".bac", bones), {}, &cam);
        const PreviewFrustum f = cam.Frustum();
        std::vector<Seen> seen = Project(*s, cam);
        for (const Seen& p : seen) EXPECT_TRUE(p.depth > f.near_plane && p.depth < f.far_plane);
        return seen;
    };
    const std::vector<Seen> one = scaled(1), big = scaled(1000), small = scaled(0.001f);
    ASSERT_EQ(one.size(), big.size());
    for (size_t i = 0; i < one.size(); ++i) {
        EXPECT_NEAR(big[i].x, one[i].x, 0.01f);
        EXPECT_NEAR(small[i].y, one[i].y, 0.01f);
    }
}
