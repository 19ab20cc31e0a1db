// export-gltf then import: the example robot's bones, colours and every
// motion's commands come back as they were.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "../conversion/test_files.h"
#include "../sim/sim_process.h"
#include "figread.h"

namespace {

using quenlo::sim::test::RunCommand;

const std::string kCli = QUENLO_CLI, kExamples = QUENLO_EXAMPLES_DIR;
const char* const kMotions[] = {"bow", "squat", "walk", "wave"};

struct Bone {
    std::string name;
    int motor, group;
    bool reverse, child, brother;
    std::array<float, 3> position, rotation, handle;
};

std::vector<Bone> ReadBones(const std::string& path) {
    std::vector<Bone> bones;
    EXPECT_EQ(fnbacanalysis(path.c_str()), 0) << path;
    for (int b = 0; b < static_cast<int>(fnbacGetBoneNumber()); ++b) {
        Bone& bone = bones.emplace_back();
        bone.name = fnbacGetBoneName(b);
        bone.motor = fnbacGetMotorIndex(b);
        bone.group = fnbacGetMotorGroup(b);
        bone.reverse = fnbacGetMotorRevers(b);
        bone.child = fnbacGetBoneChild(b);
        bone.brother = fnbacGetBoneBrother(b);
        fnbacGetBonePosition(b, bone.position.data());
        fnbacGetBoneRotation(b, bone.rotation.data());
        fnbacGetBoneHandle(b, bone.handle.data());
    }
    fnbacrelease();
    return bones;
}

std::vector<std::array<float, 3>> ReadColours(const std::string& path) {
    std::vector<std::array<float, 3>> colours;
    EXPECT_EQ(fnbacanalysis(path.c_str()), 0) << path;
    for (int c = 0; c < static_cast<int>(fnbacGetColorNumber()); ++c)
        colours.push_back({fnbacGetColorR(c), fnbacGetColorG(c), fnbacGetColorB(c)});
    fnbacrelease();
    return colours;
}

// The point 50 mm from the position toward `to`: the example robot's rotation
// and handle points, wherever the import puts them along their directions.
std::array<float, 3> At50(const std::array<float, 3>& from, const std::array<float, 3>& to) {
    const float d[3] = {to[0] - from[0], to[1] - from[1], to[2] - from[2]};
    const float len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    return {from[0] + 50 * d[0] / len, from[1] + 50 * d[1] / len, from[2] + 50 * d[2] / len};
}

std::string Frames(const std::string& model, const std::vector<std::string>& motions) {
    std::string command = "{ " + kCli + " frames " + model, out;
    for (const std::string& m : motions) command += " " + m;
    EXPECT_EQ(RunCommand(command + " 2>/dev/null; }", &out), 0) << command;
    return out;
}

TEST(GltfRoundTrip, ExampleRobotComesBackWithEveryMotionsCommands) {
    const std::string dir = conversion_test::TempFolder();
    std::string args = kExamples + "/robot.bac", said;
    std::vector<std::string> originals, imported;
    for (const char* m : kMotions) {
        originals.push_back(kExamples + "/" + m + ".tra");
        imported.push_back(dir + "robot-" + m + ".tra");
        args += " " + originals.back();
    }
    ASSERT_EQ(RunCommand("{ " + kCli + " export-gltf " + args + " -o " + dir + "robot.glb 2>&1; }",
                         &said),
              0)
        << said;
    ASSERT_EQ(RunCommand(kCli + " import " + dir + "robot.glb -o " + dir, &said), 0) << said;

    const std::vector<Bone> want = ReadBones(kExamples + "/robot.bac"),
                            got = ReadBones(dir + "robot.bac");
    ASSERT_EQ(got.size(), want.size());
    for (size_t b = 0; b < want.size(); ++b) {
        const Bone &w = want[b], &g = got[b];
        EXPECT_EQ(g.name, w.name);
        EXPECT_EQ(std::make_tuple(g.motor, g.group, g.reverse, g.child, g.brother),
                  std::make_tuple(w.motor, w.group, w.reverse, w.child, w.brother))
            << w.name;
        const std::array<float, 3> pairs[3][2] = {{g.position, w.position},
                                                  {At50(g.position, g.rotation), w.rotation},
                                                  {At50(g.position, g.handle), w.handle}};
        for (const auto& pair : pairs)
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(pair[0][i], pair[1][i], 0.01) << w.name;
    }
    // Every material keeps its colour to the bit, through glTF's linear one.
    EXPECT_EQ(ReadColours(dir + "robot.bac"), ReadColours(kExamples + "/robot.bac"));
    for (size_t m = 0; m < originals.size(); ++m)
        EXPECT_EQ(Frames(dir + "robot.bac", {imported[m]}),
                  Frames(kExamples + "/robot.bac", {originals[m]}))
            << kMotions[m];
}

}  // namespace
