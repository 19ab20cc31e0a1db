#include "scene_builder.h"

#include <cmath>

namespace quenlo::gltf::test {

std::vector<float> TurnZ(double degrees) {
    const double h = degrees * M_PI / 360.0;
    return {0, 0, float(std::sin(h)), float(std::cos(h))};
}

std::vector<float> QuatMul(const std::vector<float>& a, const std::vector<float>& b) {
    return {a[3] * b[0] + a[0] * b[3] + a[1] * b[2] - a[2] * b[1],
            a[3] * b[1] - a[0] * b[2] + a[1] * b[3] + a[2] * b[0],
            a[3] * b[2] + a[0] * b[1] - a[1] * b[0] + a[2] * b[3],
            a[3] * b[3] - a[0] * b[0] - a[1] * b[1] - a[2] * b[2]};
}

namespace {

// The inverse of a rigid frame: rotation diag(s, s, 1) (a turn of 0 or 180
// degrees about Z) at position p, column-major.
std::vector<float> Inverse(float s, std::array<float, 3> p) {
    return {s, 0, 0, 0, 0, s, 0, 0, 0, 0, 1, 0, -s * p[0], -s * p[1], -p[2], 1};
}

}  // namespace

Arm MakeArm(bool inverse_bind) {
    Arm arm;
    SceneBuilder& b = arm.scene;
    arm.hanging = TurnZ(180);
    const std::vector<double> hanging(arm.hanging.begin(), arm.hanging.end());
    arm.mesh_node = b.AddNode("arm_mesh");
    arm.base = b.AddNode("base", {0, 0.3, 0});
    arm.shoulder = b.AddNode("shoulder(ID-01)", {0, 0, 0.1}, hanging, arm.base);
    arm.elbow = b.AddNode("elbow(OD-02R)", {0, 0.08, 0}, {}, arm.shoulder);
    arm.hand = b.AddNode("hand", {0, 0.06, 0}, {}, arm.elbow);
    const int tool = b.AddNode("tool", {0, 0.02, 0}, {}, arm.hand);

    // Joint order differs from the tree's: hand, elbow, base, shoulder.
    struct J {
        float s;
        std::array<float, 3> p;
    };
    const J frames[4] = {
        {-1, {0, .16f, .1f}}, {-1, {0, .22f, .1f}}, {1, {0, .3f, 0}}, {-1, {0, .3f, .1f}}};
    tinygltf::Skin skin;
    skin.joints = {arm.hand, arm.elbow, arm.base, arm.shoulder};
    if (inverse_bind) {
        std::vector<float> ibm;
        for (const J& f : frames) {
            const auto m = Inverse(f.s, f.p);
            ibm.insert(ibm.end(), m.begin(), m.end());
        }
        skin.inverseBindMatrices = b.AddFloats(ibm, TINYGLTF_TYPE_MAT4, 16);
    }
    b.model.skins.push_back(skin);

    // Triangles: A on the shoulder, B on the elbow sharing A's last corner, C
    // on the hand, D on the base, E blended between shoulder and elbow.
    struct V {
        float x, y, z;
        std::uint8_t j0, j1;
        float w0, w1;
    };
    const V verts[] = {
        {0, .30f, .10f, 3, 0, 1, 0},        {.01f, .25f, .10f, 3, 0, 1, 0},
        {0, .22f, .10f, 3, 0, 1, 0},        {.01f, .20f, .10f, 1, 0, 1, 0},
        {0, .17f, .11f, 1, 0, 1, 0},        {0, .16f, .10f, 0, 0, 1, 0},
        {.01f, .15f, .10f, 0, 0, 1, 0},     {0, .15f, .11f, 0, 0, 1, 0},
        {0, .30f, 0, 2, 0, 1, 0},           {.02f, .30f, 0, 2, 0, 1, 0},
        {0, .32f, 0, 2, 0, 1, 0},           {0, .26f, .12f, 3, 1, .5f, .5f},
        {.01f, .24f, .12f, 1, 3, .7f, .3f}, {0, .28f, .12f, 3, 0, 1, 0},
    };
    std::vector<float> pos;
    std::vector<std::uint8_t> joints;
    std::vector<float> weights;
    for (const V& v : verts) {
        std::array<float, 3> p{v.x, v.y, v.z};
        if (!inverse_bind) {
            // Stored in the frame of the vertex's first joint.
            const J& f = frames[v.j0];
            p = {f.s * (v.x - f.p[0]), f.s * (v.y - f.p[1]), v.z - f.p[2]};
        }
        pos.insert(pos.end(), p.begin(), p.end());
        joints.insert(joints.end(), {v.j0, v.j1, 0, 0});
        weights.insert(weights.end(), {v.w0, v.w1, 0, 0});
    }
    tinygltf::Primitive skinned;
    skinned.attributes["POSITION"] = b.AddVec3(pos);
    skinned.attributes["JOINTS_0"] = b.AddJoints(joints);
    skinned.attributes["WEIGHTS_0"] = b.AddVec4(weights);
    skinned.indices = b.AddIndices({0, 1, 2, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
    skinned.material = 0;
    skinned.mode = TINYGLTF_MODE_TRIANGLES;
    tinygltf::Mesh mesh0;
    mesh0.primitives.push_back(skinned);
    b.model.meshes.push_back(mesh0);
    b.model.nodes[arm.mesh_node].mesh = 0;
    b.model.nodes[arm.mesh_node].skin = 0;

    // The tool: a square with its normals, rigid under the hand.
    tinygltf::Primitive square;
    square.attributes["POSITION"] =
        b.AddVec3({-.01f, 0, -.01f, .01f, 0, -.01f, .01f, 0, .01f, -.01f, 0, .01f});
    square.attributes["NORMAL"] = b.AddVec3({0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0});
    square.indices = b.AddIndices({0, 2, 1, 0, 3, 2});
    square.material = 1;
    square.mode = TINYGLTF_MODE_TRIANGLES;
    tinygltf::Mesh mesh1;
    mesh1.primitives.push_back(square);
    b.model.meshes.push_back(mesh1);
    b.model.nodes[tool].mesh = 1;

    tinygltf::Material red, steel;
    red.name = "red";
    red.pbrMetallicRoughness.baseColorFactor = {1, 0, 0, 1};
    red.doubleSided = true;
    steel.name = "steel";
    steel.pbrMetallicRoughness.baseColorFactor = {0.5, 0.5, 0.625, 1};
    steel.pbrMetallicRoughness.baseColorTexture.index = 0;
    b.model.materials = {red, steel};
    b.model.textures.emplace_back().name = "scratches";

    // "swing": the shoulder toward +X by 0, +40, -60 degrees; the base 10 mm
    // toward +Z; a scale channel and a channel on the tool, both ignored.
    tinygltf::Animation swing;
    swing.name = "swing";
    b.model.animations.push_back(swing);
    std::vector<float> rot;
    for (double d : {0.0, 40.0, -60.0}) {
        const auto q = QuatMul(arm.hanging, TurnZ(d));
        rot.insert(rot.end(), q.begin(), q.end());
    }
    b.AddChannel(0, arm.shoulder, "rotation", {0, 0.5f, 1}, rot);
    b.AddChannel(0, arm.base, "translation", {0, 1}, {0, .3f, 0, 0, .3f, .01f});
    b.AddChannel(0, arm.elbow, "scale", {0, 1}, {1, 1, 1, 2, 2, 2});
    b.AddChannel(0, tool, "translation", {0, 1}, {0, .02f, 0, 0, .03f, 0});
    return arm;
}

}  // namespace quenlo::gltf::test
