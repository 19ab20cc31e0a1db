// robotgen: writes the example robot, a small boxy humanoid with 19 servos, as a
// BAC6 model.
//
// The robot faces +x, +y is up and its right side is +z. Every joint's rest
// direction (rotation point - position) and its handle direction (handle point -
// position) are perpendicular; for the pitch joints both lie in the xy-plane with
// the handle 90 degrees counter-clockwise (about +z) from the rest direction, so a
// positive joint angle turns the limb counter-clockwise about +z: a hanging arm or
// leg swings forward, the head tilts back. Roll joints swing in the yz-plane with
// the handle pointing outward; their converted angles carry no sign.
//
// usage: robotgen OUT.bac              writes the model
//        robotgen --check FILE         exits 1 when FILE differs from what would be written
//        robotgen --faces N OUT.bac    the same robot with each box side cut into a
//                                      grid of triangles, N of them at least (a heavy
//                                      preview for benchmarks)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bac6_writer.h"

namespace {

namespace bac6 = quenlo::bac6;

struct Vec {
    double x, y, z;
};

Vec operator+(Vec a, Vec b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec operator*(Vec a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}

enum class Swing { Pitch, Roll, None };

struct Part {
    std::string name;
    std::string tag;  // motor tag appended to the name, empty for no motor
    Vec pivot;        // bone position
    Vec rest;         // unit direction of the limb at angle 0
    Swing swing;
    bool has_child, has_brother;
    Vec lo, hi;    // the box this bone moves
    int material;  // index into kMaterials
};

struct Material {
    const char* name;
    int color;
    double specular, shininess;
};

constexpr double kColors[][3] = {
    {0.75, 0.75, 0.78},  // 0 light grey frame
    {0.15, 0.35, 0.85},  // 1 blue armour
    {0.20, 0.20, 0.22},  // 2 dark servo cases
    {0.95, 0.85, 0.30},  // 3 yellow head
    {0.85, 0.20, 0.15},  // 4 red feet
};

constexpr Material kMaterials[] = {
    {"frame", 0, 0.3, 10.0}, {"armor", 1, 0.6, 40.0}, {"servo", 2, 0.2, 5.0},
    {"head", 3, 0.5, 30.0},  {"feet", 4, 0.3, 10.0},
};

constexpr Vec kUp{0, 1, 0}, kDown{0, -1, 0};

// One chain of a side: +1 right (+z), -1 left (-z). Right servos hang on the ID
// bus, left ones on the OD bus with their pitch servos mounted mirrored (R).
struct Side {
    int sign;
    std::string Name(const char* base) const { return std::string(sign > 0 ? "r_" : "l_") + base; }
    std::string Tag(int id, bool mirrored) const {
        char buf[16];
        std::snprintf(buf, sizeof buf, "(%s-%02d%s)", sign > 0 ? "ID" : "OD", id,
                      mirrored && sign < 0 ? "R" : "");
        return buf;
    }
    // A box between the distances inner and outer from the middle plane.
    Vec Lo(double x, double y, double inner, double outer) const {
        return {x, y, sign > 0 ? inner : -outer};
    }
    Vec Hi(double x, double y, double inner, double outer) const {
        return {x, y, sign > 0 ? outer : -inner};
    }
};

void AddArm(std::vector<Part>& parts, Side s) {
    const double z = 62.0 * s.sign, zr = 86.0 * s.sign;
    parts.push_back({s.Name("shoulder_pitch"),
                     s.Tag(1, true),
                     {0, 315, z},
                     kDown,
                     Swing::Pitch,
                     true,
                     true,
                     s.Lo(-15, 300, 56, 76),
                     s.Hi(15, 330, 56, 76),
                     2});
    parts.push_back({s.Name("shoulder_roll"),
                     s.Tag(2, false),
                     {0, 315, zr},
                     kDown,
                     Swing::Roll,
                     true,
                     false,
                     s.Lo(-12, 245, 76, 96),
                     s.Hi(12, 300, 76, 96),
                     1});
    parts.push_back({s.Name("elbow"),
                     s.Tag(3, true),
                     {0, 245, zr},
                     kDown,
                     Swing::Pitch,
                     true,
                     false,
                     s.Lo(-11, 180, 76, 96),
                     s.Hi(11, 245, 76, 96),
                     1});
    parts.push_back({s.Name("wrist"),
                     s.Tag(4, true),
                     {0, 180, zr},
                     kDown,
                     Swing::Pitch,
                     false,
                     false,
                     s.Lo(-10, 148, 78, 94),
                     s.Hi(14, 180, 78, 94),
                     0});
}

void AddLeg(std::vector<Part>& parts, Side s, bool last) {
    const double z = 30.0 * s.sign;
    parts.push_back({s.Name("hip_roll"),
                     s.Tag(5, false),
                     {0, 185, z},
                     kDown,
                     Swing::Roll,
                     true,
                     !last,
                     s.Lo(-15, 170, 18, 42),
                     s.Hi(15, 190, 18, 42),
                     2});
    parts.push_back({s.Name("hip_pitch"),
                     s.Tag(6, true),
                     {0, 170, z},
                     kDown,
                     Swing::Pitch,
                     true,
                     false,
                     s.Lo(-15, 110, 15, 45),
                     s.Hi(15, 170, 15, 45),
                     1});
    parts.push_back({s.Name("knee"),
                     s.Tag(7, true),
                     {0, 110, z},
                     kDown,
                     Swing::Pitch,
                     true,
                     false,
                     s.Lo(-14, 45, 16, 44),
                     s.Hi(14, 110, 16, 44),
                     1});
    parts.push_back({s.Name("ankle_pitch"),
                     s.Tag(8, true),
                     {0, 40, z},
                     kDown,
                     Swing::Pitch,
                     true,
                     false,
                     s.Lo(-12, 30, 20, 40),
                     s.Hi(12, 45, 20, 40),
                     2});
    parts.push_back({s.Name("ankle_roll"),
                     s.Tag(9, false),
                     {0, 30, z},
                     kDown,
                     Swing::Roll,
                     false,
                     false,
                     s.Lo(-30, 0, 10, 52),
                     s.Hi(50, 15, 10, 52),
                     4});
}

// Bone order and flags make the tree body -> head, arms, legs for the preview's
// has-child / has-brother walk.
std::vector<Part> Robot() {
    std::vector<Part> parts;
    parts.push_back({"body",
                     "",
                     {0, 200, 0},
                     kUp,
                     Swing::None,
                     true,
                     false,
                     {-30, 190, -55},
                     {30, 330, 55},
                     0});
    parts.push_back({"head",
                     "(ID-00)",
                     {0, 335, 0},
                     kUp,
                     Swing::Pitch,
                     false,
                     true,
                     {-30, 340, -30},
                     {30, 400, 30},
                     3});
    AddArm(parts, Side{+1});
    AddArm(parts, Side{-1});
    AddLeg(parts, Side{+1}, false);
    AddLeg(parts, Side{-1}, true);
    return parts;
}

// Handle direction: pitch joints 90 degrees counter-clockwise about +z from the
// rest direction; roll joints outward; the body forward.
Vec HandleDir(const Part& p) {
    switch (p.swing) {
        case Swing::Pitch:
            return {-p.rest.y, p.rest.x, 0};
        case Swing::Roll:
            return {0, 0, p.pivot.z >= 0 ? 1.0 : -1.0};
        case Swing::None:
            break;
    }
    return {1, 0, 0};
}

bac6::Vec3 F(Vec v) {
    return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}

// Six faces of a box, each with its own four corners so every vertex has the
// face's normal. Corners are listed counter-clockwise seen from outside.
struct BoxFace {
    Vec normal;
    Vec corner[4];
};

std::vector<BoxFace> BoxFaces(Vec lo, Vec hi) {
    auto P = [&](int ix, int iy, int iz) {
        return Vec{ix ? hi.x : lo.x, iy ? hi.y : lo.y, iz ? hi.z : lo.z};
    };
    return {
        {{1, 0, 0}, {P(1, 0, 0), P(1, 1, 0), P(1, 1, 1), P(1, 0, 1)}},
        {{-1, 0, 0}, {P(0, 0, 0), P(0, 0, 1), P(0, 1, 1), P(0, 1, 0)}},
        {{0, 1, 0}, {P(0, 1, 0), P(0, 1, 1), P(1, 1, 1), P(1, 1, 0)}},
        {{0, -1, 0}, {P(0, 0, 0), P(1, 0, 0), P(1, 0, 1), P(0, 0, 1)}},
        {{0, 0, 1}, {P(0, 0, 1), P(1, 0, 1), P(1, 1, 1), P(0, 1, 1)}},
        {{0, 0, -1}, {P(0, 0, 0), P(0, 1, 0), P(1, 1, 0), P(1, 0, 0)}},
    };
}

// A box side as a grid of n x n cells, two triangles each, its vertices shared
// within the side.
void AddGridSide(bac6::Model& m, bac6::Bone& bone, const BoxFace& f, int material, int n) {
    const int first = static_cast<int>(m.vertices.size());
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j) {
            const double u = double(i) / n, v = double(j) / n;
            const Vec a = f.corner[0] + (f.corner[1] + f.corner[0] * -1.0) * u;
            const Vec d = f.corner[3] + (f.corner[2] + f.corner[3] * -1.0) * u;
            bone.vertexIndices.push_back(static_cast<int>(m.vertices.size()));
            m.vertices.push_back(F(a + (d + a * -1.0) * v));
            m.normals.push_back(F(f.normal));
        }
    auto at = [&](int i, int j) { return first + i * (n + 1) + j; };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            m.polygons.push_back(
                {material, 3, {at(i, j), at(i + 1, j), at(i + 1, j + 1), -1}, {0, 1, 2, 0}});
            m.polygons.push_back(
                {material, 3, {at(i, j), at(i + 1, j + 1), at(i, j + 1), -1}, {0, 2, 3, 0}});
        }
}

// grid 0: each box side one quad, as the example robot has it.
bac6::Model Build(int grid) {
    bac6::Model m;
    m.figureName = "quenlo_humanoid";
    for (const auto& c : kColors)
        m.colors.push_back(
            {static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2])});
    for (const Material& mat : kMaterials) {
        bac6::Material& out = m.materials.emplace_back();
        out.name = mat.name;
        out.doubleFace = false;
        out.colorIndex = mat.color;
        out.specular = static_cast<float>(mat.specular);
        out.shininess = static_cast<float>(mat.shininess);
    }
    for (const Part& p : Robot()) {
        bac6::Bone& bone = m.bones.emplace_back();
        bone.name = p.name + p.tag;
        bone.hasChild = p.has_child;
        bone.hasBrother = p.has_brother;
        bone.translate = F(p.pivot);
        bone.rotate = F(p.pivot + p.rest * 50.0);
        bone.handle = F(p.pivot + HandleDir(p) * 50.0);
        for (const BoxFace& f : BoxFaces(p.lo, p.hi)) {
            if (grid > 0) {
                AddGridSide(m, bone, f, p.material, grid);
                continue;
            }
            const int a = static_cast<int>(m.vertices.size());
            for (const Vec& c : f.corner) {
                bone.vertexIndices.push_back(static_cast<int>(m.vertices.size()));
                m.vertices.push_back(F(c));
                m.normals.push_back(F(f.normal));
            }
            m.polygons.push_back({p.material, 4, {a, a + 1, a + 2, a + 3}, {0, 1, 2, 3}});
        }
    }
    m.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    return m;
}

std::string Generate(int grid) {
    std::string text, error;
    if (!bac6::ToText(Build(grid), text, &error, {.decimals = 4})) {
        std::fprintf(stderr, "robotgen: %s\n", error.c_str());
        std::exit(1);
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int grid = 0;
    if (argc == 4 && std::string(argv[1]) == "--faces") {
        // 6 sides a part, 2 triangles a cell: the smallest grid that reaches N.
        const int parts = static_cast<int>(Robot().size());
        const long faces = std::atol(argv[2]);
        grid = 1;
        while (12L * parts * grid * grid < faces) ++grid;
        argv += 2;
        argc -= 2;
        if (argc == 2 && argv[1][0] == '-') argc = 0;  // --faces takes no --check
    }
    const std::string text = Generate(grid);
    if (argc == 3 && std::string(argv[1]) == "--check") {
        std::ifstream in(argv[2], std::ios::binary);
        std::string have((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (have == text) return 0;
        std::fprintf(stderr, "%s is out of date: run robotgen %s\n", argv[2], argv[2]);
        return 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: robotgen [--faces N] OUT.bac | robotgen --check FILE\n");
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << text;
    if (!out) {
        std::fprintf(stderr, "robotgen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
