// The importer on scenes built in memory: bones, mesh and motions of the
// example arm, and one clear refusal for each kind of bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>

#include "../sim/sim_process.h"
#include "gltf.h"
#include "scene_builder.h"

namespace quenlo::gltf::test {
namespace {

using Vec = std::array<float, 3>;

void ExpectNear(const Vec& got, const Vec& want, const char* what) {
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(got[i], want[i], 1e-3) << what << " [" << i << "]";
}

ImportResult Import(const std::string& bytes, const ImportOptions& options = {}) {
    ImportResult result;
    std::string error;
    EXPECT_TRUE(ImportMemory(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), "",
                             options, result, &error))
        << error;
    return result;
}

std::string Refusal(const std::string& bytes, const ImportOptions& options = {}) {
    ImportResult result;
    std::string error;
    EXPECT_FALSE(ImportMemory(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                              "", options, result, &error));
    EXPECT_TRUE(result.model.bones.empty() && result.motions.empty());
    return error;
}

TEST(Import, ArmBonesMeshAndMaterials) {
    for (bool inverse_bind : {true, false}) {
        SCOPED_TRACE(inverse_bind ? "with inverse bind matrices" : "without");
        Arm arm = MakeArm(inverse_bind);
        const ImportResult r = Import(arm.scene.Glb());
        const bac6::Model& m = r.model;
        ASSERT_EQ(m.bones.size(), 4u);
        const char* names[] = {"base", "shoulder(ID-01)", "elbow(OD-02R)", "hand"};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(m.bones[i].name, names[i]);
            EXPECT_EQ(m.bones[i].hasChild, i < 3);
            EXPECT_FALSE(m.bones[i].hasBrother);
        }
        // Position, then position + L x local +Y and + L x local +Z, in mm; L is
        // the distance to the first child joint, 50 for the leaf.
        ExpectNear(m.bones[0].translate, {0, 300, 0}, "base");
        ExpectNear(m.bones[0].rotate, {0, 400, 0}, "base");
        ExpectNear(m.bones[0].handle, {0, 300, 100}, "base");
        ExpectNear(m.bones[1].translate, {0, 300, 100}, "shoulder");
        ExpectNear(m.bones[1].rotate, {0, 220, 100}, "shoulder");
        ExpectNear(m.bones[1].handle, {0, 300, 180}, "shoulder");
        ExpectNear(m.bones[2].rotate, {0, 160, 100}, "elbow");
        ExpectNear(m.bones[2].handle, {0, 220, 160}, "elbow");
        ExpectNear(m.bones[3].translate, {0, 160, 100}, "hand");
        ExpectNear(m.bones[3].rotate, {0, 110, 100}, "hand");
        ExpectNear(m.bones[3].handle, {0, 160, 150}, "hand");

        // Triangles to the bone with the most weight; the corner shared by the
        // shoulder's and the elbow's triangles split in two; the tool's square
        // rigid on the hand.
        EXPECT_EQ(r.bone_polygons, (std::vector<int>{1, 2, 1, 3}));
        ASSERT_EQ(m.polygons.size(), 7u);
        ASSERT_EQ(m.vertices.size(), 19u);
        ASSERT_EQ(m.normals.size(), 19u);
        EXPECT_EQ(m.polygons[0].vertex, (std::array<int, 4>{0, 1, 2, -1}));
        EXPECT_EQ(m.polygons[1].vertex, (std::array<int, 4>{3, 4, 5, -1}));
        EXPECT_EQ(m.polygons[6].vertex, (std::array<int, 4>{15, 18, 16, -1}));
        EXPECT_EQ(m.bones[1].vertexIndices, (std::vector<int>{0, 1, 2, 12, 13, 14}));
        EXPECT_EQ(m.bones[2].vertexIndices, (std::vector<int>{3, 4, 5}));
        EXPECT_EQ(m.bones[3].vertexIndices, (std::vector<int>{6, 7, 8, 15, 16, 17, 18}));
        ExpectNear(m.vertices[2], {0, 220, 100}, "shared corner on the shoulder");
        ExpectNear(m.vertices[3], {0, 220, 100}, "shared corner on the elbow");
        ExpectNear(m.vertices[16], {-10, 140, 110}, "tool corner");
        ExpectNear(m.normals[0], {0, 0, -1}, "computed normal");
        ExpectNear(m.normals[16], {0, -1, 0}, "the file's normal, turned with the tool");

        ASSERT_EQ(m.materials.size(), 2u);
        EXPECT_EQ(m.materials[0].name, "red");
        EXPECT_TRUE(m.materials[0].doubleFace);
        EXPECT_EQ(m.colors[m.materials[0].colorIndex], (bac6::Color{1, 0, 0}));
        // Linear base colours in sRGB, as the display shows them.
        const bac6::Color steel = m.colors[m.materials[1].colorIndex];
        EXPECT_FLOAT_EQ(steel.r, 0.735357f);
        EXPECT_FLOAT_EQ(steel.g, 0.735357f);
        EXPECT_FLOAT_EQ(steel.b, 0.812366f);
        EXPECT_EQ(m.polygons[0].material, 0);
        EXPECT_EQ(m.polygons[6].material, 1);
        EXPECT_EQ(r.warnings,
                  (std::vector<std::string>{
                      "2 triangles have corners blended between joints: each went wholly to the "
                      "bone with the most weight",
                      "1 material's textures were dropped: BAC6 takes the base colour only",
                      "1 scale channel was ignored", "1 non-joint node channel was ignored"}));
    }
}

TEST(Import, MotionsSampledAtEveryKeyInTheBonesAxes) {
    Arm arm = MakeArm();
    SceneBuilder& b = arm.scene;
    // 1 (unnamed): the elbow, STEP, two times that fall on one 25 ms unit.
    b.AddChannel(
        1, arm.elbow, "rotation", {0, 0.3f, 0.31f},
        [] {
            std::vector<float> v;
            for (double d : {0.0, 90.0, 90.0}) {
                auto q = TurnZ(d);
                v.insert(v.end(), q.begin(), q.end());
            }
            return v;
        }(),
        "STEP");
    // 2 "twist/2": the hand turned 0 then 60 degrees about its own axis, a cubic
    // spline with flat tangents, sampled midway through the base's channel.
    b.model.animations.emplace_back().name = "twist/2";
    const float s30 = std::sin(M_PI / 6), c30 = std::cos(M_PI / 6);
    b.AddChannel(2, arm.hand, "rotation", {0, 1},
                 {0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, s30, 0, c30, 0, 0, 0, 0},
                 "CUBICSPLINE");
    b.AddChannel(2, arm.base, "translation", {0, 0.5f, 1}, {0, .3f, 0, 0, .3f, 0, 0, .3f, 0});
    // 3: nothing on a joint but a scale: skipped with a warning.
    b.AddChannel(3, arm.hand, "scale", {0}, {1, 1, 1});

    const ImportResult r = Import(b.Glb());
    ASSERT_EQ(r.motions.size(), 3u);
    EXPECT_EQ(r.motions[0].name, "swing");
    EXPECT_EQ(r.motions[1].name, "1");
    EXPECT_EQ(r.motions[2].name, "twist_2");

    const tra4::Motion& swing = r.motions[0].motion;
    EXPECT_EQ(swing.times, (std::vector<int>{0, 20, 40}));
    EXPECT_EQ(r.motions[0].length_ms, 1000);
    ASSERT_EQ(swing.bones.size(), 4u);
    EXPECT_EQ(swing.bones[1].name, "shoulder");
    EXPECT_FALSE(swing.bones[1].mirror);
    EXPECT_EQ(swing.bones[2].name, "elbow");
    EXPECT_TRUE(swing.bones[2].mirror);
    const double s40 = std::sin(40 * M_PI / 180), c40 = std::cos(40 * M_PI / 180);
    const double s60 = std::sin(60 * M_PI / 180), c60 = std::cos(60 * M_PI / 180);
    ExpectNear(swing.bones[1].keys[0].rotate, {0, 0, 1}, "shoulder at 0");
    ExpectNear(swing.bones[1].keys[1].rotate, {float(s40), 0, float(c40)}, "+40");
    ExpectNear(swing.bones[1].keys[2].rotate, {float(-s60), 0, float(c60)}, "-60");
    EXPECT_NEAR(swing.bones[1].keys[1].roll, 0, 1e-4);
    // The base slides 10 mm toward +Z over the second: its handle axis.
    ExpectNear(swing.bones[0].keys[1].translate, {0, 5, 0}, "base at 0.5 s");
    ExpectNear(swing.bones[0].keys[2].translate, {0, 10, 0}, "base at 1 s");
    ExpectNear(swing.bones[3].keys[2].rotate, {0, 0, 1}, "hand at rest");

    const tra4::Motion& step = r.motions[1].motion;
    EXPECT_EQ(step.times, (std::vector<int>{0, 12}));
    ExpectNear(step.bones[2].keys[1].rotate, {1, 0, 0}, "elbow stepped to 90");

    const tra4::Motion& twist = r.motions[2].motion;
    EXPECT_EQ(twist.times, (std::vector<int>{0, 20, 40}));
    EXPECT_NEAR(twist.bones[3].keys[1].roll, 30, 1e-3);
    EXPECT_NEAR(twist.bones[3].keys[2].roll, 60, 1e-3);
    ExpectNear(twist.bones[3].keys[2].rotate, {0, 0, 1}, "a twist keeps the direction");

    EXPECT_EQ(std::vector<std::string>(r.warnings.begin() + 2, r.warnings.end()),
              (std::vector<std::string>{
                  "animation 1: 1 key times fell on the unit of an earlier one at 25 ms and were "
                  "merged",
                  "animation 3 has no rotation or translation channel on a joint: skipped",
                  "2 scale channels were ignored", "1 non-joint node channel was ignored"}));

    // Another rate: 50 ms units.
    ImportOptions slow;
    slow.rate_ms = 50;
    const ImportResult r50 = Import(b.Glb(), slow);
    EXPECT_EQ(r50.motions[0].motion.times, (std::vector<int>{0, 10, 20}));
    EXPECT_EQ(r50.motions[0].length_ms, 1000);
}

// The arm's JSON form with buffer 0's URI replaced.
std::string WithUri(const SceneBuilder& b, const std::string& uri) {
    std::string text = b.Gltf();
    const std::size_t start = text.find("\"data:");
    const std::size_t end = text.find('"', start + 1);
    return text.replace(start + 1, end - start - 1, uri);
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(Import, RefusesBadInputWithOneClearLine) {
    const Arm arm = MakeArm();
    auto mutated = [&](const std::function<void(tinygltf::Model&)>& change) {
        SceneBuilder b = arm.scene;
        change(b.model);
        return b.Glb();
    };
    const tinygltf::Primitive& prim = arm.scene.model.meshes[0].primitives[0];
    const int position = prim.attributes.at("POSITION"), weights = prim.attributes.at("WEIGHTS_0");
    const std::string glb = arm.scene.Glb();

    struct Case {
        std::string name, bytes, message;
    };
    std::vector<Case> cases = {
        {"not glTF", "solid cube\nfacet normal 0 0 1\n",
         "not glTF: neither a .glb nor a JSON .gltf"},
        {"truncated", glb.substr(0, glb.size() / 2),
         "truncated .glb: its header says " + std::to_string(glb.size()) + " bytes, the file has " +
             std::to_string(glb.size() / 2)},
        {"broken JSON", "{\"asset\": {\"version\": \"2.0\"", "not a readable glTF file: "},
        {"absolute URI", WithUri(arm.scene, "/etc/passwd"), "buffer URI '/etc/passwd' is absolute"},
        {"URI leaving the folder", WithUri(arm.scene, "sub/../../x.bin"),
         "buffer URI 'sub/../../x.bin' leaves the file's folder"},
        {"data URI", WithUri(arm.scene, "data:application/octet-stream;base64,!!!!"),
         "not a readable glTF file: "},
        {"accessor beyond its buffer",
         mutated([&](tinygltf::Model& m) { m.accessors[position].count = 1000; }),
         "node 0 'arm_mesh' mesh 0 primitive 0 POSITION (accessor " + std::to_string(position) +
             "): 1000 elements reach beyond buffer view"},
        {"index out of range", mutated([&](tinygltf::Model& m) {
             SceneBuilder b;
             b.model = m;
             b.model.meshes[0].primitives[0].indices = b.AddIndices({0, 1, 99});
             m = b.model;
         }),
         "node 0 'arm_mesh' mesh 0 primitive 0: index 99 is out of range of 14 vertices"},
        {"counts", mutated([&](tinygltf::Model& m) { m.accessors[weights].count = 10; }),
         "node 0 'arm_mesh' mesh 0 primitive 0: JOINTS_0 and WEIGHTS_0 do not count one per "
         "position"},
        {"NaN", mutated([&](tinygltf::Model& m) {
             const float nan = std::nanf("");
             const auto& view = m.bufferViews[m.accessors[position].bufferView];
             std::memcpy(&m.buffers[0].data[view.byteOffset + 4], &nan, 4);
         }),
         "node 0 'arm_mesh' mesh 0 primitive 0 POSITION (accessor " + std::to_string(position) +
             "): element 0 is not a finite number"},
        {"infinite transform",
         Replace(arm.scene.Gltf(), "\"translation\":[0.0,0.3,0.0]",
                 "\"translation\":[0.0,1e999,0.0]"),
         "not a readable glTF file: "},
        {"no skin", mutated([](tinygltf::Model& m) {
             m.skins.clear();
             m.nodes[0].skin = -1;
         }),
         "no skin: the bones come from a skinned mesh's armature (see docs/gltf.md)"},
        {"no joints", Replace(arm.scene.Gltf(), "\"joints\":[4,3,1,2]", "\"joints\":[]"),
         "skin 0 has no joints"},
        {"no joint list", Replace(arm.scene.Gltf(), "\"joints\":[4,3,1,2]", "\"name\":\"s\""),
         "not a readable glTF file: a required property is missing or not of its type"},
        {"no joint channel", mutated([](tinygltf::Model& m) {
             auto& ch = m.animations[0].channels;
             ch.erase(ch.begin(), ch.begin() + 3);
         }),
         "no animation moves a joint of skin 0 with a rotation or translation channel"},
        {"tag twice", mutated([&](tinygltf::Model& m) { m.nodes[arm.hand].name = "hand(ID-01)"; }),
         "joint node 4 'hand(ID-01)': its motor tag is used by node 2 'shoulder(ID-01)' too"},
        {"same name", mutated([&](tinygltf::Model& m) { m.nodes[arm.hand].name = "elbow"; }),
         "joint node 4 'elbow': the same name as node 3 'elbow(OD-02R)'; the conversion finds "
         "bones by name"},
        {"Blender's duplicate suffix",
         mutated([&](tinygltf::Model& m) { m.nodes[arm.hand].name = "hand(ID-03).001"; }),
         "joint node 4 'hand(ID-03).001': a parenthesis outside a motor tag at the end of the "
         "name, such as (ID-03) or (OD-07R)"},
        {"quote", mutated([&](tinygltf::Model& m) { m.nodes[arm.hand].name = "ha\"nd"; }),
         "joint node 4 'ha\"nd': a bone name holds no quote and no control character"},
        {"37 servos",
         [] {
             SceneBuilder b;
             tinygltf::Skin skin;
             for (int i = 0, parent = -1; i < 37; ++i) {
                 char name[32];
                 std::snprintf(name, sizeof name, "j%d(%s-%02d)", i, i < 20 ? "ID" : "OD", i % 20);
                 parent = b.AddNode(name, {0, 0.01, 0}, {}, parent);
                 skin.joints.push_back(parent);
             }
             b.model.skins.push_back(skin);
             return b.Glb();
         }(),
         "37 bones carry motor tags; the board drives at most 36 servos"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string error = Refusal(c.bytes);
        EXPECT_EQ(error.substr(0, c.message.size()), c.message) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    ImportOptions skin1;
    skin1.skin = 1;
    EXPECT_EQ(Refusal(glb, skin1), "no skin 1: the file has 1");
}

TEST(Import, ExternalBuffersOnlyBesideTheScene) {
    sim::test::TempDir dir;
    const Arm arm = MakeArm();
    std::ofstream(dir / "arm.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(arm.scene.model.buffers[0].data.data()),
               arm.scene.model.buffers[0].data.size());
    sim::test::RunCommand("mkdir " + dir / "sub");
    std::ofstream(dir / "sub/arm.gltf") << WithUri(arm.scene, "../arm.bin");
    std::ofstream(dir / "arm.gltf") << WithUri(arm.scene, "arm.bin");
    ImportResult r;
    std::string error;
    EXPECT_TRUE(ImportFile(dir / "arm.gltf", {}, r, &error)) << error;
    EXPECT_EQ(r.model.polygons.size(), 7u);
    EXPECT_FALSE(ImportFile(dir / "sub/arm.gltf", {}, r, &error));
    EXPECT_EQ(error, "buffer URI '../arm.bin' leaves the file's folder");
    EXPECT_FALSE(ImportFile(dir / "missing.glb", {}, r, &error));
    EXPECT_EQ(error, "cannot open: No such file or directory");
    EXPECT_FALSE(ImportFile(dir / "sub", {}, r, &error));
    EXPECT_EQ(error, "not a regular file");
}

}  // namespace
}  // namespace quenlo::gltf::test
