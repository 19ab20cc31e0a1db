// Writes the seed corpus of gltf_fuzz into the folder given: the test arm as
// .glb and .gltf, with and without inverse bind matrices and with more
// animations, as the tests build them.
#include <cstdio>
#include <fstream>
#include <string>

#include "scene_builder.h"

int main(int argc, char** argv) {
    using namespace quenlo::gltf::test;
    if (argc != 2) {
        std::fprintf(stderr, "usage: gltf_fuzz_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    };
    Arm arm = MakeArm();
    write("arm.glb", arm.scene.Glb());
    write("arm.gltf", arm.scene.Gltf());
    write("arm_no_ibm.glb", MakeArm(false).scene.Glb());
    arm.scene.AddChannel(1, arm.elbow, "rotation", {0, 0.3f}, {0, 0, 0, 1, 0, 0, 1, 0}, "STEP");
    arm.scene.AddChannel(2, arm.hand, "rotation", {0, 1},
                         {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0},
                         "CUBICSPLINE");
    write("arm_more.glb", arm.scene.Glb());
    return 0;
}
