// The preview drawn off-screen: the empty view, the example robot where the
// camera puts it, a limb where its pose puts it, and quenlo-cli snapshot.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "figread.h"
#include "preview_offscreen.h"
#include "preview_test_util.h"
#include "quenlo/platform.h"

namespace {

using namespace quenlo::preview;
using preview_test::kExamples;
using Rgba = std::array<uint8_t, 4>;

constexpr Rgba kGrey{204, 204, 204, 255};
constexpr int kWidth = 400, kHeight = 400;

bool IsBlue(const Rgba& p) {
    return p[2] > 100 && p[0] < 100 && p[1] < 100;
}

// The pixel the camera puts a model-space point in, top row first.
std::array<int, 2> PixelOf(const PreviewCamera& camera, const PreviewVector& point) {
    const std::array<float, 2> p = camera.ToPanel(point);
    return {static_cast<int>(std::floor(p[0])), static_cast<int>(std::floor(p[1]))};
}

// The model-space centre of a bone's box as the walk draws it now.
PreviewVector DrawnCentre(CPreviewScene& scene, size_t bone_index) {
    PreviewVector centre{};
    std::lock_guard<std::mutex> lock(scene.pose_mutex());
    scene.WalkSkeleton([&](PreviewBone& bone, const PreviewMatrix& m) {
        if (&bone != scene.bones()[bone_index].get()) return;
        PreviewVector sum{};
        for (const PreviewFace& f : bone.faces)
            for (int k = 0; k < 4; ++k)
                for (int i = 0; i < 3; ++i)
                    sum[static_cast<size_t>(i)] += f.positions[static_cast<size_t>(k)][i] -
                                                   bone.position[static_cast<size_t>(i)];
        const float n = 4.0f * static_cast<float>(bone.faces.size());
        centre = TransformPoint(m, {sum[0] / n, sum[1] / n, sum[2] / n});
    });
    return centre;
}

class Render : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(preview.Create(kWidth, kHeight, &error)) << error;
    }
    // Lines are one pixel wide: a grid point may land beside its projection.
    bool BlueAround(const std::array<int, 2>& p) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (IsBlue(At({p[0] + dx, p[1] + dy}))) return true;
        return false;
    }
    Rgba At(const std::array<int, 2>& p) {
        EXPECT_TRUE(p[0] >= 0 && p[0] < kWidth && p[1] >= 0 && p[1] < kHeight)
            << p[0] << "," << p[1];
        return preview.Pixel(std::clamp(p[0], 0, kWidth - 1), std::clamp(p[1], 0, kHeight - 1));
    }
    OffscreenPreview preview;
    quenlo::LogCapture log;
};

TEST_F(Render, BeforeAConversionTheGridAloneOnGrey) {
    preview.Render();
    // Seen edge-on before the first reset: the grid is one line across the middle.
    int blue = 0, grey = 0;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const Rgba p = preview.Pixel(x, y);
            if (p == kGrey) {
                ++grey;
            } else {
                EXPECT_TRUE(IsBlue(p)) << x << "," << y;
                EXPECT_NEAR(y, kHeight / 2, 1);
                ++blue;
            }
        }
    EXPECT_GT(blue, 0);
    EXPECT_GT(grey, kWidth * (kHeight - 3));
}

TEST_F(Render, TheRobotStandsWhereTheViewPutsItAndMovesItsArm) {
    COpenGLUtil& r = preview.renderer();
    CPreviewScene& scene = r.scene();
    const auto c = preview_test::Convert(scene, kExamples + "/robot.bac", {kExamples + "/wave.tra"},
                                         &r.camera());
    ASSERT_TRUE(c.ui->built);
    preview.Render();
    const PreviewCamera& view = r.camera();
    // The body's box, the grid's far corner, an empty corner of the panel.
    EXPECT_NE(At(PixelOf(view, DrawnCentre(scene, 0))), kGrey);
    EXPECT_FALSE(IsBlue(At(PixelOf(view, DrawnCentre(scene, 0)))));
    EXPECT_TRUE(BlueAround(PixelOf(view, {125, 0, 50})));
    EXPECT_EQ(At({2, kHeight - 3}), kGrey);

    // Raising the right arm sideways swings the elbow's box out and up, to a
    // spot that was empty at rest.
    const size_t elbow = 4;
    ASSERT_EQ(std::string(fnbacGetBoneName(elbow)), "r_elbow");
    const PreviewVector rest = DrawnCentre(scene, elbow);
    scene.SelectMotion(0);
    for (auto& b : scene.bones()) CPreviewScene::SetPose(*b, 15);
    const PreviewVector raised = DrawnCentre(scene, elbow);
    EXPECT_GT(raised[1] - rest[1], 10) << "the arm is raised";
    EXPECT_GT(raised[2] - rest[2], 30) << "to the side";
    const std::array<int, 2> spot = PixelOf(view, raised);
    EXPECT_EQ(At(spot), kGrey);
    preview.Render();
    EXPECT_NE(At(spot), kGrey);
}

std::vector<uint8_t> ReadPng(const std::string& path, int& width, int& height) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) return {};
    width = static_cast<int>(image.width), height = static_cast<int>(image.height);
    return pixels;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

int RunCli(const std::string& arguments) {
    // No display: the snapshot needs none.
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY " + std::string(QUENLO_CLI) +
                                " snapshot " + arguments + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Render, SnapshotWritesTheFrameTheRendererDraws) {
    const std::string png = conversion_test::TempFolder() + "wave.png";
    const std::string files =
        kExamples + "/robot.bac " + kExamples + "/bow.tra " + kExamples + "/wave.tra";
    ASSERT_EQ(RunCli(files + " --motion 1 --frame 100 --size 400x400 -o " + png), 0);
    int w = 0, h = 0;
    const std::vector<uint8_t> written = ReadPng(png, w, h);
    ASSERT_EQ(w, kWidth);
    ASSERT_EQ(h, kHeight);

    COpenGLUtil& r = preview.renderer();
    const auto c =
        preview_test::Convert(r.scene(), kExamples + "/robot.bac",
                              {kExamples + "/bow.tra", kExamples + "/wave.tra"}, &r.camera());
    r.scene().SelectMotion(1);
    for (auto& b : r.scene().bones()) CPreviewScene::SetPose(*b, 100);
    preview.Render();
    EXPECT_TRUE(written == preview.pixels());

    // Bad requests are refused before anything is drawn.
    EXPECT_EQ(RunCli(files + " --motion 2 -o " + png), 2);
    EXPECT_EQ(RunCli(files + " --size 0x10 -o " + png), 2);
    EXPECT_EQ(RunCli(files), 2);
    EXPECT_EQ(RunCli(kExamples + "/missing.bac -o " + png), 1);
}

// The PNG never replaces an input, and one that cannot be written whole leaves
// the earlier picture.
TEST(Snapshot, OutputsNeverCostAnInputOrTheEarlierPicture) {
    const std::string dir = conversion_test::TempFolder();
    ASSERT_EQ(std::system(("cp " + kExamples + "/robot.bac " + kExamples + "/bow.tra " + dir +
                           " && ln " + dir + "bow.tra " + dir + "hard.png")
                              .c_str()),
              0);
    const std::string model = dir + "robot.bac", motion = dir + "bow.tra";
    const std::string model_bytes = ReadText(model);
    EXPECT_EQ(RunCli(model + " " + motion + " -o " + model), 2);
    EXPECT_EQ(RunCli(model + " " + motion + " -o " + dir + "hard.png"), 2);
    EXPECT_EQ(ReadText(model), model_bytes);
    EXPECT_EQ(ReadText(dir + "hard.png"), ReadText(kExamples + "/bow.tra"));

    // A file system with room for the old picture only (one page).
    const std::string full = dir + "full";
    mkdir(full.c_str(), 0700);
    if (mount("tmpfs", full.c_str(), "tmpfs", 0, "size=8k") != 0)
        GTEST_SKIP() << "no small tmpfs mounted here (needs root)";
    std::ofstream(full + "/robot.png") << "old picture";
    EXPECT_EQ(RunCli(model + " " + motion + " -o " + full + "/robot.png"), 1);
    EXPECT_EQ(ReadText(full + "/robot.png"), "old picture");
    umount2(full.c_str(), MNT_DETACH);
}

}  // namespace
