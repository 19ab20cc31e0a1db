// The query exports: motors, faces and their bones, index checks, the export table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "figread_test_util.h"

namespace quenlo::figread::test {
namespace {

TEST(FigreadMotors, TagsAtTheEndOfBoneNames) {
    auto o = Analyze(Bac({
        "(Bones",
        "(bone",
        "(name \"Arm(ID-07)\")",
        "(bone",
        "(name \"leg (OD-39R)\")",
        "(bone",
        "(name \"mid(ID-01) x\")",
        "(bone",
        "(name \"big(ID-40)\")",
        "(bone",
        "(name \"low(id-01)\")",
        "(bone",
        "(name \"ARM\")",
        "(bone",
        "(name \"(OD-00)\")",
    }));
    EXPECT_EQ(o.err, "");
    ASSERT_EQ(fnbacGetBoneNumber(), 7u);
    struct Want {
        const char* name;
        int index, group;
        bool reverse;
    } want[] = {{"Arm", 7, 0, false},
                {"leg ", 39, 1, true},
                {"mid(ID-01) x", -1, 0, false},
                {"big(ID-40)", -1, 0, false},
                {"low(id-01)", -1, 0, false},
                {"ARM", -1, 0, false},
                {"", 0, 1, false}};
    for (int i = 0; i < 7; ++i) {
        EXPECT_STREQ(fnbacGetBoneName(i), want[i].name) << i;
        EXPECT_EQ(fnbacGetMotorIndex(i), want[i].index) << i;
        EXPECT_EQ(fnbacGetMotorGroup(i), want[i].group) << i;
        EXPECT_EQ(fnbacGetMotorRevers(i), want[i].reverse) << i;
    }
    EXPECT_EQ(fnbacSetMotorNumber(), 3);
    EXPECT_EQ(fnbacGetBone("ARM"), 0);  // first of two, any case
    EXPECT_EQ(fnbacGetBone("arm"), 0);
    EXPECT_EQ(fnbacGetBone("Arm(ID-07)"), -1);
    EXPECT_EQ(fnbacGetBone("leg"), -1);
    EXPECT_EQ(fnbacGetBone("LEG "), 1);
    EXPECT_EQ(fnbacGetBone(""), 6);
    EXPECT_EQ(fnbacGetBone("ar"), -1);

    Analyze(Bac({"(bone", "(name \"plain\")"}));
    EXPECT_EQ(fnbacSetMotorNumber(), 0);
}

TEST(FigreadFaces, CornersAreStoredInReverse) {
    auto o = Analyze(Bac({
        "(Polygons",
        "(face 2 ( i3 4 5 6 ) ( i3 7 8 9 ))",
        "(face 1 ( i4 10 11 12 13 ) ( i4 20 21 22 23 ))",
        "(face 3",
        "( i3 0 1 2 ) ( i3 0 1 2 ))",
        "(face 4 (i3 0 1 2) (i3 0 1 2))",  // blanks inside the lists are required
        "(face 5 ( i3 0 1 2 ) ( i4 0 1 2 3 ))",
        "(face 6 ( i| 0 1 2 ) ( i| 0 1 2 ))",
        "(face)",
        "(face -7 ( i3 -1 +2 3 ) ( i3 0 0 0 )) (pnt 1 2 3)",
    }));
    // The face that stood alone leaves its corner lists to the scanner.
    EXPECT_EQ(o.err,
              " chunk name not found. line=8 < i3 >\n chunk name not found. line=8 < i3 >\n");
    EXPECT_EQ(fnbacGetVertexNumber(), 0u);
    ASSERT_EQ(fnbacGetPolygonNumber(), 7u);
    int v[4], uv[4];
    EXPECT_EQ(fnbacGetPolygonVertex(0, v), 3);
    EXPECT_EQ(Poly(0), "6 5 4");
    EXPECT_EQ(fnbacGetPolygonUv(0, uv), 3);
    EXPECT_EQ(std::vector<int>(uv, uv + 3), (std::vector<int>{9, 8, 7}));
    EXPECT_EQ(fnbacGetPolygonMaterial(0), 2);
    EXPECT_EQ(fnbacGetPolygonVtxNumber(1), 4);
    EXPECT_EQ(Poly(1), "13 12 11 10");
    fnbacGetPolygonUv(1, uv);
    EXPECT_EQ(std::vector<int>(uv, uv + 4), (std::vector<int>{23, 22, 21, 20}));
    // Faces whose lists were not read keep their material and no corners.
    for (int p = 2; p <= 5; ++p) {
        EXPECT_EQ(fnbacGetPolygonMaterial(p), p + 1);
        EXPECT_EQ(fnbacGetPolygonVtxNumber(p), 0);
        EXPECT_EQ(fnbacGetPolygonVertex(p, v), 0);
        EXPECT_EQ(v[0], -1);
    }
    EXPECT_EQ(fnbacGetPolygonMaterial(6), -7);
    EXPECT_EQ(Poly(6), "3 2 -1");
}

// The plain search: the first bone whose vertex list holds every corner.
int LinearPolygonBone(int polygon) {
    int v[4];
    int n = fnbacGetPolygonVertex(polygon, v);
    if (n <= 0) return -1;
    for (int b = 0; b < static_cast<int>(fnbacGetBoneNumber()); ++b) {
        std::vector<int> list(fnbacGetBoneVertexNumber(b));
        fnbacGetBoneVertexAllValue(b, list.data(), list.size());
        int found = 0;
        while (found < n && std::find(list.begin(), list.end(), v[found]) != list.end()) ++found;
        if (found == n) return b;
    }
    return -1;
}

TEST(FigreadFaces, PolygonBelongsToTheFirstBoneHoldingAllCorners) {
    Analyze(Bac({
        "(Bones",
        "(bone (vertexIndices 1)",
        "(vertexIndices 0 1)",
        "(bone",
        "(vertexIndices 3 4)",
        "(bone",
        "(vertexIndices 9 1 2 0 1)",
        "(bone",
        "(vertexIndices 5 6 7 8)",
        "(bone",
        "(vertexIndices 2 3)",
        "(bone",
        "(vertexIndices 0 2 1 3)",
        "(Polygons",
        "(face 0 ( i3 0 1 2 ) ( i3 0 0 0 ))",      // bones 2 and 5: the first
        "(face 0 ( i3 1 2 3 ) ( i3 0 0 0 ))",      // only bone 5
        "(face 0 ( i3 4 5 6 ) ( i3 0 0 0 ))",      // split over bones 1 and 3
        "(face 0 ( i4 5 6 7 8 ) ( i4 0 0 0 0 ))",  // bone 3
        "(face 0 ( i3 2 2 2 ) ( i3 0 0 0 ))",
        "(face 0 ( i3 0 1 99 ) ( i3 0 0 0 ))",
        "(face 0)",  // no corners: no bone
    }));
    ASSERT_EQ(fnbacGetBoneNumber(), 6u);
    std::vector<int> got;
    for (int p = 0; p < 7; ++p) got.push_back(fnbacGetPolygonBone(p));
    EXPECT_EQ(got, (std::vector<int>{2, 5, -1, 3, 2, -1, -1}));
    for (int p = 0; p < 7; ++p) EXPECT_EQ(got[p], LinearPolygonBone(p)) << p;
}

TEST(FigreadFaces, IndexAgreesWithTheLinearSearchOnRandomModels) {
    std::mt19937 rng(7);
    for (int round = 0; round < 20; ++round) {
        const int vertices = 1 + rng() % 40, bones = rng() % 8;
        std::vector<std::string> lines{"(Bones"};
        for (int b = 0; b < bones; ++b) {
            lines.push_back("(bone");
            std::string list = "(vertexIndices";
            for (int k = rng() % 30; k > 0; --k)
                list += " " + std::to_string(int(rng() % (vertices + 4)) - 2);
            lines.push_back(list + ")");
        }
        lines.push_back("(Polygons");
        for (int f = 0; f < 60; ++f) {
            bool quad = rng() % 2;
            std::string l = quad ? "( i4" : "( i3";
            for (int c = 0; c < (quad ? 4 : 3); ++c)
                l += " " + std::to_string(int(rng() % vertices));
            l += " )";
            lines.push_back("(face 0 " + l + " " + l + ")");
        }
        std::string text = ";BAC\n(bacVersion 6)\n(Figure\n";
        for (auto& l : lines) text += l + "\n";
        Analyze(text);
        ASSERT_EQ(fnbacGetPolygonNumber(), 60u);
        for (int p = 0; p < 60; ++p)
            ASSERT_EQ(fnbacGetPolygonBone(p), LinearPolygonBone(p)) << round << " " << p;
    }
}

TEST(FigreadIndexes, EveryIndexedExportChecksItsIndex) {
    Analyze(Bac({"(i2 1 2) (f3 1 2 3) (pnt 1 2 3) (vct 1 2 3) (f2 1 2)", "(material", "(bone",
                 "(Polygons (face 0 ( i3 0 0 0 ) ( i3 0 0 0 ))"}));
    float f[4];
    int i4[4];
    const auto calls = std::vector<std::function<void(int)>>{
        [](int i) { fnbacGetTextureSizeX(i); },
        [](int i) { fnbacGetTextureSizeY(i); },
        [](int i) { fnbacGetColorR(i); },
        [](int i) { fnbacGetColorG(i); },
        [](int i) { fnbacGetColorB(i); },
        [](int i) { fnbacGetMaterialName(i); },
        [](int i) { fnbacGetMaterialBlendMode(i); },
        [](int i) { fnbacGetMaterialBlendCode(i); },
        [](int i) { fnbacGetMaterialDoubleFace(i); },
        [](int i) { fnbacGetMaterialTransparent(i); },
        [](int i) { fnbacGetMaterialLighting(i); },
        [](int i) { fnbacGetMaterialTexture(i); },
        [](int i) { fnbacGetMaterialColor(i); },
        [](int i) { fnbacGetMaterialAlpha(i); },
        [](int i) { fnbacGetMaterialSpecular(i); },
        [](int i) { fnbacGetMaterialShininess(i); },
        [&](int i) { fnbacGetVertexValue(i, f); },
        [&](int i) { fnbacGetNormalValue(i, f); },
        [&](int i) { fnbacGetUvValue(i, f); },
        [](int i) { fnbacGetPolygonMaterial(i); },
        [](int i) { fnbacGetPolygonVtxNumber(i); },
        [&](int i) { fnbacGetPolygonVertex(i, i4); },
        [&](int i) { fnbacGetPolygonUv(i, i4); },
        [](int i) { fnbacGetPolygonBone(i); },
        [](int i) { fnbacGetBoneName(i); },
        [](int i) { fnbacGetBoneIndex(i); },
        [](int i) { fnbacGetBoneChild(i); },
        [](int i) { fnbacGetBoneBrother(i); },
        [&](int i) { fnbacGetBonePosition(i, f); },
        [&](int i) { fnbacGetBoneRotation(i, f); },
        [&](int i) { fnbacGetBoneHandle(i, f); },
        [](int i) { fnbacGetBoneVertexNumber(i); },
        [&](int i) { fnbacGetBoneVertexAllValue(i, i4, 4); },
        [](int i) { fnbacGetMotorIndex(i); },
        [](int i) { fnbacGetMotorGroup(i); },
        [](int i) { fnbacGetMotorRevers(i); },
    };
    auto expect_throw = [](const std::function<void(int)>& call, int index) {
        try {
            call(index);
            ADD_FAILURE() << "no error for index " << index;
        } catch (const std::out_of_range& e) {
            EXPECT_STREQ(e.what(), "invalid vector<T> subscript");
        }
    };
    for (size_t c = 0; c < calls.size(); ++c) {
        SCOPED_TRACE(c);
        EXPECT_NO_THROW(calls[c](0));  // every list holds exactly one record
        for (int bad : {1, 2, -1, -2147483647 - 1}) expect_throw(calls[c], bad);
    }
    // Bulk copies stop at the shorter of count and list, and never raise.
    float buf[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    fnbacGetVertexAllValue(buf, 0);
    EXPECT_EQ(buf[0], 9.0f);
    fnbacGetVertexAllValue(buf, 100);
    EXPECT_EQ(std::vector<float>(buf, buf + 4), (std::vector<float>{1, 2, 3, 9}));
    fnbacGetUvAllValue(buf, 5);
    EXPECT_EQ(std::vector<float>(buf, buf + 4), (std::vector<float>{1, 2, 3, 9}));
    fnbacGetNormalAllValue(nullptr, 0);

    // Without a model the counts are 0 and every index is out of range.
    fnbacrelease();
    EXPECT_EQ(fnbacGetBoneNumber() + fnbacGetPolygonNumber() + fnbacGetVertexNumber() +
                  fnbacGetMaterialNumber() + fnbacGetTextureNumber() + fnbacGetColorNumber() +
                  fnbacGetNormalNumber() + fnbacGetUvNumber(),
              0u);
    EXPECT_EQ(fnbacSetMotorNumber(), 0);
    EXPECT_EQ(fnbacGetBone("x"), -1);
    fnbacGetVertexAllValue(buf, 8);
    for (size_t c = 0; c < calls.size(); ++c) expect_throw(calls[c], 0);
}

TEST(FigreadExports, LibraryExportsEveryNameAndRaisesAcrossIt) {
    void* so = dlopen(FIGREAD_SO, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(so, nullptr) << dlerror();
    const char* names[] = {"fnbacanalysis",
                           "fnbacrelease",
                           "fnbacGetTextureNumber",
                           "fnbacGetColorNumber",
                           "fnbacGetMaterialNumber",
                           "fnbacGetVertexNumber",
                           "fnbacGetNormalNumber",
                           "fnbacGetUvNumber",
                           "fnbacGetPolygonNumber",
                           "fnbacGetBoneNumber",
                           "fnbacGetTextureSizeX",
                           "fnbacGetTextureSizeY",
                           "fnbacGetColorR",
                           "fnbacGetColorG",
                           "fnbacGetColorB",
                           "fnbacGetMaterialName",
                           "fnbacGetMaterialBlendMode",
                           "fnbacGetMaterialBlendCode",
                           "fnbacGetMaterialDoubleFace",
                           "fnbacGetMaterialTransparent",
                           "fnbacGetMaterialLighting",
                           "fnbacGetMaterialTexture",
                           "fnbacGetMaterialColor",
                           "fnbacGetMaterialAlpha",
                           "fnbacGetMaterialSpecular",
                           "fnbacGetMaterialShininess",
                           "fnbacGetVertexValue",
                           "fnbacGetVertexAllValue",
                           "fnbacGetNormalValue",
                           "fnbacGetNormalAllValue",
                           "fnbacGetUvValue",
                           "fnbacGetUvAllValue",
                           "fnbacGetPolygonMaterial",
                           "fnbacGetPolygonVtxNumber",
                           "fnbacGetPolygonVertex",
                           "fnbacGetPolygonUv",
                           "fnbacGetPolygonBone",
                           "fnbacGetBoneName",
                           "fnbacGetBone",
                           "fnbacGetBoneIndex",
                           "fnbacGetBoneChild",
                           "fnbacGetBoneBrother",
                           "fnbacGetBonePosition",
                           "fnbacGetBoneRotation",
                           "fnbacGetBoneHandle",
                           "fnbacGetBoneVertexNumber",
                           "fnbacGetBoneVertexAllValue",
                           "fnbacSetMotorNumber",
                           "fnbacGetMotorIndex",
                           "fnbacGetMotorGroup",
                           "fnbacGetMotorRevers",
                           "fnbacGetDynamicPolygonNumber",
                           "fnbacGetDynamicPolygonMember",
                           "fnbacGetDynamicPolygonVtxNumber",
                           "fnbacGetDynamicPolygonVertex",
                           "fnbacGetDynamicPolygonUv",
                           "fnbacGetDynamicPolygonBone",
                           "fnbacGetDynamicPolygonMaterialr",
                           "fnbacGetMajorsVersion",
                           "fnbacGetMinorVersion",
                           "fnfigread",
                           "nfigread",
                           "_ZN8CfigreadC1Ev",
                           "_ZN8CfigreadaSERKS_"};
    for (const char* n : names) EXPECT_NE(dlsym(so, n), nullptr) << n;
    EXPECT_EQ(dlsym(so, "_ZN7figread11AnalyzeTextESt17basic_string_viewIcSt11char_traitsIcEE"),
              nullptr);

    auto call_int = [&](const char* n) { return reinterpret_cast<int (*)()>(dlsym(so, n))(); };
    EXPECT_EQ(call_int("fnfigread"), 42);
    EXPECT_EQ(call_int("fnbacGetMinorVersion"), 24);
    EXPECT_EQ(call_int("fnbacGetMajorsVersion"), 0);
    EXPECT_EQ(*static_cast<int*>(dlsym(so, "nfigread")), 0);
    auto bone_name = reinterpret_cast<const char* (*)(int)>(dlsym(so, "fnbacGetBoneName"));
    EXPECT_THROW(bone_name(0), std::out_of_range);
    dlclose(so);

    EXPECT_EQ(fnbacGetDynamicPolygonNumber(), 0);
    EXPECT_EQ(fnbacGetDynamicPolygonMember(3), 0);
    EXPECT_EQ(fnbacGetDynamicPolygonVtxNumber(1, 2), 0);
    int out[4] = {5, 5, 5, 5};
    EXPECT_EQ(fnbacGetDynamicPolygonVertex(0, 0, out), 0);
    EXPECT_EQ(fnbacGetDynamicPolygonUv(0, 0, out), 0);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(fnbacGetDynamicPolygonBone(0, 0), -1);
    EXPECT_EQ(fnbacGetDynamicPolygonMaterialr(0, 0), -1);
}

// Inputs that once went wrong, one file each, read through the file export.
TEST(FigreadRegressions, StoredInputs) {
    struct Case {
        const char* file;
        const char* err;
        unsigned vertices;
    } cases[] = {
        {"worked_example.bac", "", 3},
        // Runs of 20000 blanks and digits once cost their length squared per search.
        {"long_runs.bac", " chunk name not found. line=4 < x >\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        testing::internal::CaptureStderr();
        EXPECT_EQ(fnbacanalysis((std::string(FIGREAD_DATA) + "/" + c.file).c_str()), 0);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
        EXPECT_EQ(fnbacGetVertexNumber(), c.vertices);
    }
}

}  // namespace
}  // namespace quenlo::figread::test
