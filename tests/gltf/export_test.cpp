// export-gltf: the file skins and animates the model exactly as the preview
// poses it, passes the Khronos validator, and bad input writes nothing.
#include <tiny_gltf.h>

#include <cmath>
#include <filesystem>

#include "../preview/preview_test_util.h"
#include "../sim/sim_process.h"
#include "gltf.h"

namespace {

using namespace preview_test;
using conversion_test::MakeMotion;
using conversion_test::TempFolder;
using conversion_test::WriteBac;
using conversion_test::WriteTra;

using M4 = std::array<double, 16>;  // column-major

M4 Mul(const M4& a, const M4& b) {
    M4 r{};
    for (int c = 0; c < 4; ++c)
        for (int row = 0; row < 4; ++row)
            for (int k = 0; k < 4; ++k) r[4 * c + row] += a[4 * k + row] * b[4 * c + k];
    return r;
}

M4 Trs(const std::vector<double>& t, const std::vector<double>& q) {
    const double x = q[0], y = q[1], z = q[2], w = q[3];
    return {1 - 2 * (y * y + z * z),
            2 * (x * y + z * w),
            2 * (x * z - y * w),
            0,
            2 * (x * y - z * w),
            1 - 2 * (x * x + z * z),
            2 * (y * z + x * w),
            0,
            2 * (x * z + y * w),
            2 * (y * z - x * w),
            1 - 2 * (x * x + y * y),
            0,
            t[0],
            t[1],
            t[2],
            1};
}

template <class T>
const T* Data(const tinygltf::Model& m, int accessor) {
    const tinygltf::Accessor& a = m.accessors[static_cast<size_t>(accessor)];
    const tinygltf::BufferView& v = m.bufferViews[static_cast<size_t>(a.bufferView)];
    return reinterpret_cast<const T*>(m.buffers[0].data.data() + v.byteOffset + a.byteOffset);
}

// Calls each(position in millimetres, joint) for every vertex of the file's
// mesh and collects the answers.
template <class Each>
std::vector<PreviewVector> EachVertex(const tinygltf::Model& m, Each each) {
    const tinygltf::Primitive& p = m.meshes[0].primitives[0];
    const size_t count = m.accessors[static_cast<size_t>(p.attributes.at("POSITION"))].count;
    const float* pos = Data<float>(m, p.attributes.at("POSITION"));
    const uint8_t* joints = Data<uint8_t>(m, p.attributes.at("JOINTS_0"));
    std::vector<PreviewVector> out;
    for (size_t v = 0; v < count; ++v)
        out.push_back(
            each(PreviewVector{pos[3 * v] * 1000, pos[3 * v + 1] * 1000, pos[3 * v + 2] * 1000},
                 size_t{joints[4 * v]}));
    return out;
}

// Every vertex of the file, skinned at key `key` of animation `anim` (-1: at
// rest), in millimetres.
std::vector<PreviewVector> Skinned(const tinygltf::Model& m, int anim, size_t key) {
    std::vector<std::vector<double>> t, q;
    for (const tinygltf::Node& n : m.nodes) {
        t.push_back(n.translation.empty() ? std::vector<double>{0, 0, 0} : n.translation);
        q.push_back(n.rotation.empty() ? std::vector<double>{0, 0, 0, 1} : n.rotation);
    }
    if (anim >= 0)
        for (const tinygltf::AnimationChannel& c :
             m.animations[static_cast<size_t>(anim)].channels) {
            const auto& s =
                m.animations[static_cast<size_t>(anim)].samplers[static_cast<size_t>(c.sampler)];
            const size_t n = c.target_path == "rotation" ? 4 : 3;
            const float* out = Data<float>(m, s.output) + key * n;
            (n == 4 ? q : t)[static_cast<size_t>(c.target_node)].assign(out, out + n);
        }
    std::vector<M4> world(m.nodes.size());
    std::vector<int> parent(m.nodes.size(), -1);
    for (size_t i = 0; i < m.nodes.size(); ++i)
        for (int c : m.nodes[i].children) parent[static_cast<size_t>(c)] = static_cast<int>(i);
    // Parents come before their children in the file.
    for (size_t i = 0; i < m.nodes.size(); ++i) {
        world[i] = Trs(t[i], q[i]);
        if (parent[i] >= 0) world[i] = Mul(world[static_cast<size_t>(parent[i])], world[i]);
    }
    const tinygltf::Skin& skin = m.skins[0];
    const float* ibm = Data<float>(m, skin.inverseBindMatrices);
    return EachVertex(m, [&](const PreviewVector& pos, size_t j) {
        M4 inv;
        for (size_t i = 0; i < 16; ++i) inv[i] = ibm[16 * j + i];
        const M4 s = Mul(world[static_cast<size_t>(skin.joints[j])], inv);
        PreviewVector r;
        for (size_t row = 0; row < 3; ++row)
            r[row] = static_cast<float>(s[row] * pos[0] + s[4 + row] * pos[1] +
                                        s[8 + row] * pos[2] + 1000 * s[12 + row]);
        return r;
    });
}

// The same vertices as the preview draws them: under the walk's matrix, less
// their bone's position.
std::vector<PreviewVector> Drawn(CPreviewScene& scene, const tinygltf::Model& m) {
    std::vector<PreviewMatrix> matrices(scene.bones().size());
    std::vector<PreviewVector> positions;
    size_t b = 0;
    scene.WalkSkeleton([&](PreviewBone& bone, const PreviewMatrix& matrix) {
        matrices[b++] = matrix;
        positions.push_back(bone.position);
    });
    return EachVertex(m, [&](const PreviewVector& pos, size_t j) {
        PreviewVector local;
        for (size_t i = 0; i < 3; ++i) local[i] = pos[i] - positions[j][i];
        return TransformPoint(matrices[j], local);
    });
}

// Exports the conversion and compares every vertex at rest and at every key
// of every motion with the preview.
void ExpectPlaysAsThePreview(const std::string& bac, const std::vector<std::string>& motions,
                             std::vector<std::string> expected_warnings = {}) {
    CPreviewScene scene;
    Converted c = Convert(scene, bac, motions);
    ASSERT_TRUE(c.data);
    quenlo::gltf::ExportScene es;
    std::vector<std::string> warnings, names;
    for (size_t i = 0; i < motions.size(); ++i) names.push_back("m" + std::to_string(i));
    std::string error;
    ASSERT_TRUE(quenlo::gltf::SceneFromConversion(*c.data, names, 25, es, warnings, &error))
        << error;
    EXPECT_EQ(warnings, expected_warnings);
    std::vector<unsigned char> glb;
    ASSERT_TRUE(quenlo::gltf::ExportGlb(es, glb, &error)) << error;

    tinygltf::Model m;
    tinygltf::TinyGLTF loader;
    std::string warn;
    ASSERT_TRUE(loader.LoadBinaryFromMemory(&m, &error, &warn, glb.data(),
                                            static_cast<unsigned>(glb.size())))
        << error;
    ASSERT_EQ(m.animations.size(), motions.size());
    ASSERT_EQ(m.skins[0].joints.size(), scene.bones().size());

    scene.SelectMotion(-1);
    for (auto& bone : scene.bones()) CPreviewScene::SetPose(*bone, 0);
    const std::vector<PreviewVector> rest = Skinned(m, -1, 0), drawn = Drawn(scene, m);
    for (size_t v = 0; v < rest.size(); ++v)
        ExpectNear(rest[v], drawn[v], 2e-3f, "rest vertex " + std::to_string(v));
    for (size_t a = 0; a < motions.size(); ++a) {
        EXPECT_EQ(m.animations[a].name, names[a]);
        scene.SelectMotion(static_cast<int>(a));
        const PreviewTrack& track = scene.bones()[0]->tracks[a];
        const float* times = Data<float>(m, m.animations[a].samplers[0].input);
        for (size_t k = 0; k < track.size(); ++k) {
            EXPECT_FLOAT_EQ(times[k], static_cast<float>(track[k].frame * 0.025));
            for (auto& bone : scene.bones()) CPreviewScene::SetPose(*bone, track[k].frame);
            const std::vector<PreviewVector> got = Skinned(m, static_cast<int>(a), k),
                                             want = Drawn(scene, m);
            for (size_t v = 0; v < got.size(); ++v)
                ExpectNear(got[v], want[v], 2e-3f,
                           "motion " + std::to_string(a) + " key " + std::to_string(k) +
                               " vertex " + std::to_string(v));
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(GltfExport, ExampleRobotPlaysAsThePreviewDoes) {
    std::vector<std::string> motions;
    for (const char* name : {"bow", "squat", "walk", "wave"})
        motions.push_back(kExamples + "/" + name + ".tra");
    ExpectPlaysAsThePreview(kExamples + "/robot.bac", motions);
}

// Slanted bones whose handles are not square to them, swings beyond a right
// angle and a half turn, rolls and translations.
TEST(GltfExport, TurnsRollsAndShiftsPlayAsThePreviewDoes) {
    std::vector<TestBone> bones = TreeBones();
    bones[1].rotation = {3, 150, 20};
    bones[1].handle = {1, 141, 34};
    bones[4].handle = {4, 93, 10};
    const std::string dir = TempFolder();
    WriteBac(dir + "tree.bac", bones);
    quenlo::tra4::Motion motion =
        MakeMotion({0, 7, 30, 31, 90}, {"root", "arm", "finger1", "finger2", "leg"});
    const std::array<float, 3> rotate[5] = {
        {0, 0, 1}, {1, 0, 0.2f}, {0, 0, -1}, {-0.3f, 0.8f, 0.5f}, {0.1f, -1, -3}};
    for (size_t b = 0; b < motion.bones.size(); ++b)
        for (size_t k = 0; k < 5; ++k) {
            quenlo::tra4::Key& key = motion.bones[b].keys[k];
            key.rotate = rotate[(b + k) % 5];
            key.roll = static_cast<float>(40 * k) - 70.0f * static_cast<float>(b % 2);
            key.translate = {static_cast<float>(k), -2.5f * static_cast<float>(b), 0.5f};
        }
    // A shorter motion leaves the last bones at rest.
    quenlo::tra4::Motion few = MakeMotion({0, 12}, {"root", "arm"}, {{1, 0, 0}, {0, 1, 1}});
    ExpectPlaysAsThePreview(dir + "tree.bac",
                            {WriteTra(dir + "turns.tra", motion), WriteTra(dir + "few.tra", few)},
                            {"30 polygons name a material the model lacks and are grey"});
}

}  // namespace

namespace {

using quenlo::sim::test::RunCommand;

const std::string kCli = QUENLO_CLI;

// quenlo-cli export-gltf with one of its output streams; the conversion's
// lines go to standard error.
std::string ExportCommand(const std::string& args, bool errors = false) {
    return "{ " + kCli + " export-gltf " + args + (errors ? " >/dev/null; }" : " 2>/dev/null; }");
}

// The lines of the command's own, without the conversion's.
std::string OwnLines(const std::string& text) {
    std::string own;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        if (text.compare(at, 11, "quenlo-cli ") == 0) own += text.substr(at, end - at);
        at = end;
    }
    return own;
}

TEST(GltfExportCli, ExampleRobotWithItsMotionsPassesTheValidator) {
    const std::string dir = TempFolder(), out = dir + "robot.glb";
    std::string said;
    std::string args = kExamples + "/robot.bac";
    for (const char* name : {"bow", "squat", "walk", "wave"})
        args += " " + kExamples + "/" + name + ".tra";
    ASSERT_EQ(RunCommand(ExportCommand(args + " -o " + out), &said), 0) << said;
    EXPECT_EQ(said, "wrote " + out +
                        ": 20 bones, 240 triangles, 480 vertices, 4 animations\n"
                        "  bow: 21 keys, 4000 ms\n  squat: 41 keys, 4000 ms\n"
                        "  walk: 41 keys, 6000 ms\n  wave: 41 keys, 5000 ms\n");
    // --rate 7 (50 ms) doubles every time.
    ASSERT_EQ(RunCommand(ExportCommand(kExamples + "/robot.bac " + kExamples +
                                       "/bow.tra --rate 7 -o " + dir + "slow.glb"),
                         &said),
              0);
    EXPECT_NE(said.find("  bow: 21 keys, 8000 ms\n"), std::string::npos) << said;

    const std::string validator = std::string(GLTF_VALIDATOR_DIR) + "/validate.js";
    if (RunCommand("node --version") != 0 ||
        !std::filesystem::exists(std::string(GLTF_VALIDATOR_DIR) + "/node_modules/gltf-validator"))
        GTEST_SKIP() << "node or the gltf-validator package is absent (scripts/setup installs it "
                        "where node is present): the file was not validated";
    std::string report;
    EXPECT_EQ(RunCommand("node " + validator + " " + out, &report), 0) << report;
    EXPECT_NE(report.find("errors: 0, warnings: 0\n"), std::string::npos) << report;
}

TEST(GltfExportCli, RefusedInputWritesNothing) {
    const std::string dir = TempFolder();
    // Every bone shares the one triangle: no polygon is on a bone.
    std::vector<TestBone> bones = TreeBones();
    for (TestBone& b : bones) b.box_hi = b.box_lo;
    const std::string shared = WriteBac(dir + "shared.bac", bones);
    struct Case {
        std::string args, out, said;
    } cases[] = {
        {kExamples + "/bow.tra", dir + "a.glb",
         "quenlo-cli export-gltf: MODEL.bac: " + kExamples +
             "/bow.tra is a motion (TRA4), not a BAC6 model\n"},
        {shared, dir + "b.glb",
         "quenlo-cli export-gltf: warning: 1 polygons belong to no bone and are left out, as the "
         "preview leaves them\nquenlo-cli export-gltf: the model has no polygon on a bone\n"},
        {kExamples + "/robot.bac", dir + "no/such/folder/c.glb",
         "quenlo-cli export-gltf: cannot write " + dir +
             "no/such/folder/c.glb: No such file or directory\n"},
    };
    for (const Case& c : cases) {
        std::string said;
        // A command-line mistake is status 2, a refused file 1.
        EXPECT_EQ(RunCommand(ExportCommand(c.args + " -o " + c.out, true), &said),
                  c.args.ends_with(".tra") ? 2 : 1)
            << c.args;
        EXPECT_EQ(OwnLines(said), c.said);
        EXPECT_FALSE(std::filesystem::exists(c.out)) << c.args;
        EXPECT_FALSE(std::filesystem::exists(c.out + ".part")) << c.args;
    }
}

}  // namespace
