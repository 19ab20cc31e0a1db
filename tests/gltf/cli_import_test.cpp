// quenlo-cli import end to end: the files it writes, what it prints, that
// quenlo-cli frames turns the imported swing into the servo positions the
// angles give, and that a refused scene leaves nothing behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../sim/sim_process.h"
#include "scene_builder.h"

namespace quenlo::gltf::test {
namespace {

using sim::test::RunCommand;
using sim::test::TempDir;

void WriteText(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The positions of servo slots in the frames lines of quenlo-cli frames.
std::vector<std::vector<int>> Positions(const std::string& frames) {
    std::vector<std::vector<int>> out;
    std::istringstream lines(frames);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("frame ", 0) != 0) continue;
        std::istringstream words(line.substr(6));
        int motion, index;
        words >> motion >> index;
        std::vector<int> bytes;
        for (std::string hex; words >> hex;) bytes.push_back(std::stoi(hex, nullptr, 16));
        std::vector<int> pos;
        for (std::size_t i = 8; i + 2 < bytes.size(); i += 2)
            pos.push_back(bytes[i] | bytes[i + 1] << 8);
        out.push_back(pos);
    }
    return out;
}

TEST(CliImport, WritesTheModelAndMotionsThatPlayTheAngles) {
    TempDir dir;
    Arm arm = MakeArm();
    // A second, unnamed animation: the elbow (mirrored) to +30 degrees at 0.2 s.
    std::vector<float> elbow;
    for (double d : {0.0, 30.0}) {
        const auto q = TurnZ(d);
        elbow.insert(elbow.end(), q.begin(), q.end());
    }
    arm.scene.AddChannel(1, arm.elbow, "rotation", {0, 0.2f}, elbow);
    WriteText(dir / "arm.glb", arm.scene.Glb());

    std::string out;
    ASSERT_EQ(
        RunCommand(std::string(QUENLO_CLI) + " import " + dir / "arm.glb" + " -o " + dir / "out",
                   &out),
        0)
        << out;
    const std::string o = dir / "out";
    EXPECT_EQ(out,
              "quenlo-cli import: " + dir / "arm.glb" +
                  ": warning: 2 triangles have corners blended between joints: each went wholly "
                  "to the bone with the most weight\n"
                  "quenlo-cli import: " +
                  dir / "arm.glb" +
                  ": warning: 1 material's textures were dropped: BAC6 takes the base colour "
                  "only\n"
                  "quenlo-cli import: " +
                  dir / "arm.glb" +
                  ": warning: 1 scale channel was ignored\n"
                  "quenlo-cli import: " +
                  dir / "arm.glb" + ": warning: 1 non-joint node channel was ignored\n" + o +
                  "/arm.bac: 4 bones (2 servos), 7 polygons\n"
                  "  bone 0 base: 1 polygon\n"
                  "  bone 1 shoulder(ID-01): 2 polygons\n"
                  "  bone 2 elbow(OD-02R): 1 polygon\n"
                  "  bone 3 hand: 3 polygons\n" +
                  o + "/arm-swing.tra: 3 keys, 1000 ms\n" + o + "/arm-1.tra: 2 keys, 200 ms\n");

    // The shoulder (ID-01, servo 2) swings +40 then -60 degrees toward +X:
    // 8685 and 5722; the elbow (OD-02R, servo 5) stays at 7500, then turns
    // +30 degrees, mirrored to -30: 6611.
    std::string frames;
    ASSERT_EQ(RunCommand(std::string(QUENLO_CLI) + " frames " + o + "/arm.bac " + o +
                             "/arm-swing.tra " + o + "/arm-1.tra 2>/dev/null",
                         &frames),
              0)
        << frames;
    EXPECT_EQ(Positions(frames),
              (std::vector<std::vector<int>>{
                  {7500, 7500}, {8685, 7500}, {5722, 7500}, {7500, 7500}, {7500, 6611}}));
    std::string info;
    ASSERT_EQ(RunCommand(std::string(QUENLO_CLI) + " info " + o + "/arm.bac", &info), 0);
    EXPECT_NE(info.find("bones: 4 (2 with a motor)"), std::string::npos) << info;
}

// The robot Blender made (tools/blender/rigged_robot.py): at 0.4 s the right
// shoulder (ID-01, servo 2) stands +40 degrees forward in swing, the left one
// (OD-01R, servo 3) mirrored, and the right elbow (ID-03, servo 6) -60 in reach.
TEST(CliImport, BlenderRobotPlaysTheAnglesBlenderShows) {
    TempDir dir;
    const std::string o = dir / "out";
    std::string out;
    ASSERT_EQ(
        RunCommand(std::string(QUENLO_CLI) + " import " GLTF_TEST_DATA "/blender_robot.glb -o " +
                       o + " 2>/dev/null",
                   &out),
        0)
        << out;
    EXPECT_NE(out.find(o + "/blender_robot.bac: 6 bones (5 servos), 72 polygons\n"),
              std::string::npos)
        << out;
    std::string frames;
    ASSERT_EQ(
        RunCommand(std::string(QUENLO_CLI) + " frames " + o + "/blender_robot.bac " + o +
                       "/blender_robot-swing.tra " + o + "/blender_robot-reach.tra 2>/dev/null",
                   &frames),
        0);
    const auto pos = Positions(frames);
    // Servos 0, 2, 3, 6, 7 in each frame; swing has 21 keys, reach 11.
    ASSERT_EQ(pos.size(), 32u);
    EXPECT_EQ(pos[0], (std::vector<int>{7500, 7500, 7500, 7500, 7500}));
    EXPECT_EQ(pos[10], (std::vector<int>{7500, 8685, 6314, 7500, 7500}));
    EXPECT_EQ(pos[21 + 10], (std::vector<int>{7500, 7500, 7500, 5722, 7500}));
}

TEST(CliImport, ARefusedSceneWritesNothing) {
    TempDir dir;
    Arm arm = MakeArm();
    arm.scene.model.nodes[arm.hand].name = "hand(ID-01)";
    WriteText(dir / "bad.glb", arm.scene.Glb());
    WriteText(dir / "stl.glb", "solid cube\n");
    std::string out;
    EXPECT_EQ(
        RunCommand(std::string(QUENLO_CLI) + " import " + dir / "bad.glb" + " -o " + dir / "out",
                   &out),
        1);
    EXPECT_EQ(out, "quenlo-cli import: " + dir / "bad.glb" +
                       ": joint node 4 'hand(ID-01)': its motor tag is used by node 2 "
                       "'shoulder(ID-01)' too\n");
    EXPECT_EQ(
        RunCommand(std::string(QUENLO_CLI) + " import " + dir / "stl.glb" + " -o " + dir / "out",
                   &out),
        1);
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    EXPECT_EQ(
        RunCommand(std::string(QUENLO_CLI) + " import " + dir / "bad.glb" + " --rate 9", &out), 2);
}

}  // namespace
}  // namespace quenlo::gltf::test
