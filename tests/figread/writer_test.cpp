// bac6writer: whatever it writes, figread reads back to the same model; what
// it cannot write so, it refuses with its reason.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "bac6_writer.h"
#include "figread_test_util.h"

namespace quenlo::figread::test {
namespace {

// figread's model in the writer's terms: the motor tag back on the name.
bac6::Model AsWritten(const BacModel& in) {
    bac6::Model m;
    m.figureName = in.figureName;
    for (const BacTexture& t : in.textures) m.textures.push_back({t.sizeX, t.sizeY});
    for (const BacColor& c : in.colors) m.colors.push_back({c.r, c.g, c.b});
    for (const BacMaterial& s : in.materials)
        m.materials.push_back({s.name, s.blendMode, s.doubleFace, s.transparent, s.lighting,
                               s.textureIndex, s.colorIndex, s.alpha, s.specular, s.shininess});
    m.vertices = in.vertices;
    m.normals = in.normals;
    for (const BacBone& s : in.bones) {
        bac6::Bone& b = m.bones.emplace_back();
        b.name = s.name;
        if (s.motorIndex >= 0) {
            char tag[32];
            std::snprintf(tag, sizeof tag, "(%s-%02d%s)", s.motorGroup ? "OD" : "ID", s.motorIndex,
                          s.reverse ? "R" : "");
            b.name += tag;
        }
        b.hasChild = s.hasChild;
        b.hasBrother = s.hasBrother;
        b.translate = s.translate;
        b.rotate = s.rotate;
        b.handle = s.handle;
        b.vertexIndices = s.vertexIndices;
    }
    for (const BacPolygon& s : in.polygons) {
        bac6::Polygon& p = m.polygons.emplace_back();
        p.material = s.material;
        p.corners = s.corners;
        for (int i = 0; i < 4; ++i) {
            p.vertex[static_cast<size_t>(i)] = s.vertex[i];
            p.uv[static_cast<size_t>(i)] = i < s.corners ? s.uv[i] : 0;
        }
    }
    m.uvs = in.uvs;
    return m;
}

float RandomFloat(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0:
            return std::uniform_real_distribution<float>(-1, 1)(rng);
        case 1:
            return static_cast<float>(static_cast<int>(rng() % 2001) - 1000);
        default: {
            float f;
            do {
                const uint32_t bits = rng();
                std::memcpy(&f, &bits, sizeof f);
            } while (!std::isfinite(f));
            return f;
        }
    }
}

bac6::Vec3 RandomVec(std::mt19937& rng) {
    return {RandomFloat(rng), RandomFloat(rng), RandomFloat(rng)};
}

std::string RandomName(std::mt19937& rng) {
    // ASCII, blanks, parentheses and a Shift_JIS word; never a quote.
    static const char* const parts[] = {"arm", " ", "_", "(", ")", "x9", "\x83\x8d\x83\x7b", "-"};
    std::string s;
    for (int i = static_cast<int>(rng() % 5); i > 0; --i) s += parts[rng() % 8];
    return s;
}

bac6::Model RandomModel(std::mt19937& rng) {
    bac6::Model m;
    m.figureName = RandomName(rng);
    for (int i = static_cast<int>(rng() % 3); i > 0; --i)
        m.textures.push_back({static_cast<int>(rng() % 512), static_cast<int>(rng() % 512)});
    for (int i = 1 + static_cast<int>(rng() % 4); i > 0; --i)
        m.colors.push_back({RandomFloat(rng), RandomFloat(rng), RandomFloat(rng)});
    for (int i = 1 + static_cast<int>(rng() % 4); i > 0; --i) {
        bac6::Material& mat = m.materials.emplace_back();
        mat.name = RandomName(rng);
        mat.blendMode = rng() % 2 ? "normal" : "add_2";
        mat.doubleFace = rng() % 2;
        mat.transparent = rng() % 2;
        mat.lighting = rng() % 2;
        mat.textureIndex = static_cast<int>(rng() % (m.textures.size() + 1)) - 1;
        mat.colorIndex = static_cast<int>(rng() % m.colors.size());
        mat.alpha = RandomFloat(rng);
        mat.specular = RandomFloat(rng);
        mat.shininess = RandomFloat(rng);
    }
    const int vertices = 3 + static_cast<int>(rng() % 60);
    for (int i = 0; i < vertices; ++i) {
        m.vertices.push_back(RandomVec(rng));
        m.normals.push_back(RandomVec(rng));
    }
    for (int i = static_cast<int>(rng() % 4); i > 0; --i)
        m.uvs.push_back({RandomFloat(rng), RandomFloat(rng)});
    for (int i = static_cast<int>(rng() % 8); i > 0; --i) {
        bac6::Bone& b = m.bones.emplace_back();
        b.name = RandomName(rng);
        if (rng() % 2) b.name += "(OD-17R)";
        b.hasChild = rng() % 2;
        b.hasBrother = rng() % 2;
        b.translate = RandomVec(rng);
        b.rotate = RandomVec(rng);
        b.handle = RandomVec(rng);
        for (int k = static_cast<int>(rng() % 30); k > 0; --k)
            b.vertexIndices.push_back(static_cast<int>(rng() % static_cast<unsigned>(vertices)));
    }
    for (int i = static_cast<int>(rng() % 20); i > 0; --i) {
        bac6::Polygon& p = m.polygons.emplace_back();
        p.material = static_cast<int>(rng() % m.materials.size());
        p.corners = 3 + static_cast<int>(rng() % 2);
        for (int c = 0; c < p.corners; ++c) {
            p.vertex[static_cast<size_t>(c)] =
                static_cast<int>(rng() % static_cast<unsigned>(vertices));
            if (!m.uvs.empty())
                p.uv[static_cast<size_t>(c)] = static_cast<int>(rng() % m.uvs.size());
        }
    }
    return m;
}

void ExpectReadsBack(const bac6::Model& m, const std::string& what) {
    std::string text, error;
    ASSERT_TRUE(bac6::ToText(m, text, &error)) << what << ": " << error;
    Outcome o = Analyze(text);
    EXPECT_EQ(o.result, 0) << what;
    EXPECT_EQ(o.err, "") << what;
    EXPECT_TRUE(AsWritten(*State().model) == m) << what << "\n" << text;
}

TEST(Bac6Writer, FigreadReadsBackWhatItWrites) {
    std::mt19937 rng(6);
    for (int i = 0; i < 300; ++i) ExpectReadsBack(RandomModel(rng), "model " + std::to_string(i));

    // A bone that moves more vertices than one of figread's line pieces holds,
    // and an empty model.
    bac6::Model big;
    big.colors.push_back({});
    big.materials.emplace_back();
    for (int i = 0; i < 20000; ++i) big.vertices.push_back({float(i), 0, 0});
    big.bones.push_back({"all(ID-00)", false, false, {}, {0, 1, 0}, {0, 0, 1}, {}});
    for (int i = 0; i < 20000; ++i) big.bones[0].vertexIndices.push_back(i);
    big.polygons.push_back({0, 3, {19999, 5, 0, -1}, {}});
    ExpectReadsBack(big, "big");
    ExpectReadsBack(bac6::Model(), "empty");
}

TEST(Bac6Writer, RefusesWhatFigreadCouldNotReadBack) {
    auto good = [] {
        bac6::Model m;
        m.colors.push_back({1, 0, 0});
        m.materials.emplace_back();
        m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        m.bones.push_back({"b", false, false, {}, {}, {}, {0, 1, 2}});
        m.polygons.push_back({0, 3, {0, 1, 2, -1}, {}});
        return m;
    };
    constexpr float inf = std::numeric_limits<float>::infinity();
    struct Case {
        void (*spoil)(bac6::Model&);
        const char* why;
    } cases[] = {
        {[](bac6::Model& m) { m.figureName = "a\"b"; },
         "figure name 'a\"b' holds a quote or a control byte"},
        {[](bac6::Model& m) { m.bones[0].name = "line\nbreak"; },
         "bone name 'line\nbreak' holds a quote or a control byte"},
        {[](bac6::Model& m) { m.materials[0].name.assign(1025, 'x'); },
         "material name longer than 1024 bytes"},
        {[](bac6::Model& m) { m.materials[0].blendMode = "two words"; },
         "material 0: blend mode 'two words' is not one word"},
        {[](bac6::Model& m) { m.materials[0].colorIndex = 1; },
         "material 0: colour 1 does not exist"},
        {[](bac6::Model& m) { m.materials[0].textureIndex = 0; },
         "material 0: texture 0 does not exist"},
        {[](bac6::Model& m) { m.materials[0].alpha = NAN; }, "material 0: a number is not finite"},
        {[](bac6::Model& m) { m.colors[0].g = NAN; }, "colour 0 is not finite"},
        {[](bac6::Model& m) { m.vertices[2][1] = inf; }, "vertex 2 is not finite"},
        {[](bac6::Model& m) {
             m.normals = {{0, 0, 1}};
         },
         "1 normals for 3 vertices"},
        {[](bac6::Model& m) { m.bones[0].handle[0] = -inf; }, "bone 'b': a point is not finite"},
        {[](bac6::Model& m) { m.bones[0].vertexIndices.push_back(3); },
         "bone 'b': vertex 3 does not exist"},
        {[](bac6::Model& m) { m.polygons[0].corners = 5; }, "polygon 0 has 5 corners, not 3 or 4"},
        {[](bac6::Model& m) { m.polygons[0].material = -1; },
         "polygon 0: material -1 does not exist"},
        {[](bac6::Model& m) { m.polygons[0].corners = 4; }, "polygon 0: vertex -1 does not exist"},
        {[](bac6::Model& m) {
             m.uvs = {{0, 0}};
             m.polygons[0].uv[1] = 1;
         },
         "polygon 0: texture coordinate 1 does not exist"},
    };
    EXPECT_EQ(bac6::Check(good()), "");
    for (const Case& c : cases) {
        bac6::Model m = good();
        c.spoil(m);
        std::string text = "untouched", error;
        EXPECT_FALSE(bac6::ToText(m, text, &error));
        EXPECT_EQ(error, c.why);
        EXPECT_EQ(text, "untouched");
    }
    std::string error;
    EXPECT_FALSE(bac6::WriteFile(good(), "/nonexistent/dir/m.bac", &error));
    EXPECT_EQ(error, "cannot write /nonexistent/dir/m.bac: No such file or directory");
}

}  // namespace
}  // namespace quenlo::figread::test
