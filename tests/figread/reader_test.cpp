// The reader: header checks, line numbers, contexts and the value readers.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "figread_test_util.h"

namespace quenlo::figread::test {
namespace {

TEST(FigreadHeader, LinesAroundTheHeaderAreSkipped) {
    auto o = Analyze(
        "junk\n ;BAC not at the start\n;BAC\nmore\n(  bacVersion   6.0  )\n(Figure (name "
        "\"lost\")\n"
        "(name \"kept\")\n(what)\n");
    EXPECT_EQ(o.result, 0);
    // Text after Figure on its own line is not read; the unknown word is on line 8.
    EXPECT_EQ(o.err, " chunk name not found. line=8 < what >\n");
    EXPECT_EQ(State().model->figureName, "kept");
}

TEST(FigreadHeader, EachFailedCheckHasItsMessage) {
    struct Case {
        const char* text;
        const char* err;
    } cases[] = {
        {"", " not BAC format.\n"},
        {" ;BAC\n(bacVersion 6)\n(Figure\n", " not BAC format.\n"},
        {";BAC\n(bacVersion 5)\n(Figure\n", " not BAC6 format.\n"},
        {";BAC\n(bacVersion 6.5)\n(Figure\n", " not BAC6 format.\n"},
        // The ")" must be followed by white space; the file ends right after it.
        {";BAC\n(bacVersion 6)", " not BAC6 format.\n"},
        {";BAC\n(bacVersion 6)\n(Figur\n", " Figure not found.\n"},
        {";BAC\n(bacVersion 6)\n(Figure)\n", " Figure not found.\n"},
    };
    for (const Case& c : cases) {
        auto o = Analyze(c.text);
        EXPECT_EQ(o.result, 1) << c.text;
        EXPECT_EQ(o.err, c.err) << c.text;
    }
    EXPECT_EQ(Analyze(";BAC\n(bacVersion 6)\n(Figure\n").result, 0);
    EXPECT_EQ(Analyze(";BACK\r\n(bacVersion\t6.0) \r\n ( Figure x\r\n").result, 0);
}

TEST(FigreadHeader, FileEntryPoint) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(fnbacanalysis(nullptr), 1);
    EXPECT_EQ(fnbacanalysis(""), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    testing::internal::CaptureStderr();
    EXPECT_EQ(fnbacanalysis("/nonexistent/dir/model.bac"), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), " file not found.\n");
    // Only a regular file is a model: a folder, a device that never ends and a
    // FIFO without a writer (whose open would block) are files not found.
    const std::string fifo = testing::TempDir() + "figread_fifo.bac";
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& odd : {testing::TempDir(), std::string("/dev/zero"), fifo}) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(fnbacanalysis(odd.c_str()), 1) << odd;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), " file not found.\n") << odd;
    }
    ::unlink(fifo.c_str());

    std::string path = testing::TempDir() + "figread_entry.bac";
    std::ofstream(path, std::ios::binary) << Bac({"(Bones (bone", "(name \"hip(ID-02)\")"});
    EXPECT_EQ(fnbacanalysis(path.c_str()), 0);
    ASSERT_EQ(fnbacGetBoneNumber(), 1u);
    EXPECT_STREQ(fnbacGetBoneName(0), "hip");
    std::remove(path.c_str());
}

TEST(FigreadLines, MessagesCarryFileLineNumbers) {
    auto o = Analyze(Bac({"(Vertices", "  (oops 1 2 3) (pnt 1 2 3) (bad)", "(pnt 4 5 6))"}));
    EXPECT_EQ(o.err,
              " chunk name not found. line=5 < oops >\n"
              " chunk name not found. line=5 < bad >\n");
    EXPECT_EQ(fnbacGetVertexNumber(), 2u);
    // A line's text ends at its first zero byte; the line still counts.
    using namespace std::string_literals;
    o = Analyze(Bac({"(pnt 1 2 3)\0(lost) (pnt 4 5 6)"s, "\0(lost)"s, "(seen)"}));
    EXPECT_EQ(o.err, " chunk name not found. line=6 < seen >\n");
    EXPECT_EQ(fnbacGetVertexNumber(), 1u);
}

TEST(FigreadLines, OverlongLinesCountOncePerPiece) {
    // A 1500-character header line is two pieces of the 1024-byte buffer.
    std::string head = ";BAC\n" + std::string(1500, 'x') + "\n(bacVersion 6)\n(Figure\n";
    auto o = Analyze(head + "(nope)\n");
    EXPECT_EQ(o.err, " chunk name not found. line=6 < nope >\n");
    // A body line of 40000 characters is two pieces of 32767 and 7233.
    std::string body = Bac({"(a)" + std::string(40000, ' '), "(b)"});
    o = Analyze(body);
    EXPECT_EQ(o.err,
              " chunk name not found. line=4 < a >\n"
              " chunk name not found. line=6 < b >\n");
    // ";BAC" opening the second piece of a header line counts; the rest of an
    // overlong Figure line is the first body line.
    o = Analyze(std::string(1023, 'x') + ";BAC\n(bacVersion 6)\n(Figure " + std::string(1100, 'y') +
                "(nope)\n(next)\n");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err,
              " chunk name not found. line=5 < nope >\n"
              " chunk name not found. line=6 < next >\n");
    // A word cut by the piece boundary is read as two words' worth of text.
    std::string split = Bac({std::string(32764, ' ') + "(pnt 1 2 3)"});
    o = Analyze(split);
    EXPECT_EQ(o.err, " chunk name not found. line=4 < pn >\n");
}

TEST(FigreadLines, CrlfFilesReadExactlyLikeLf) {
    std::string lf =
        Bac({"(name \"fig\")", "(Materials (material", "(name \"m\")", "(blendMode add)",
             "(alpha 0.5)", "(what)", "(Bones (bone", "(name \"a(OD-01)\")", "(vertexIndices 0",
             "1 2)", "(Polygons", "(face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))"});
    auto a = Analyze(lf);
    std::string crlf;
    for (char c : lf) c == '\n' ? crlf += "\r\n" : crlf += c;
    auto b = Analyze(crlf);
    EXPECT_EQ(a.result, b.result);
    EXPECT_EQ(a.err, " chunk name not found. line=9 < what >\n");
    EXPECT_EQ(b.err, a.err);
    EXPECT_STREQ(fnbacGetMaterialBlendMode(0), "add");
    EXPECT_STREQ(fnbacGetBoneName(0), "a");
    EXPECT_EQ(fnbacGetMotorIndex(0), 1);
    EXPECT_EQ(fnbacGetBoneVertexNumber(0), 3u);
    EXPECT_EQ(Poly(0), "2 1 0");
    EXPECT_EQ(fnbacGetPolygonBone(0), 0);
}

TEST(FigreadLines, FilesAndMemoryCountCrlfPiecesAlike) {
    // CR LF becomes one LF before the pieces are counted: the long line is
    // exactly one full piece. A lone CR is an ordinary character.
    std::string text = ";BAC\r\n(bacVersion 6)\r\n(Figure\r\n" + std::string(32766, 'x') +
                       "\r\n(a)\r\n(b)\r(c)\r\n";
    const std::string want =
        " chunk name not found. line=5 < a >\n"
        " chunk name not found. line=6 < b >\n"
        " chunk name not found. line=6 < c >\n";
    EXPECT_EQ(Analyze(text).err, want);
    std::string path = testing::TempDir() + "figread_crlf.bac";
    std::ofstream(path, std::ios::binary) << text;
    testing::internal::CaptureStderr();
    EXPECT_EQ(fnbacanalysis(path.c_str()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), want);
    std::remove(path.c_str());
}

TEST(FigreadLines, LongRunsOfBlanksAndDigitsMatchAsOnigurumaDoes) {
    // Lines with long runs are searched position by position, skipping starts
    // that cannot come first; every capture must equal Oniguruma's own search.
    std::mt19937 rng(11);
    const char* pieces[] = {" ",      "\t", "\n",   "0",        "7",        "+",    "-",
                            ".",      "e",  "(",    ")",        "\"",       "i",    "3",
                            "4",      "|",  "x",    "ID",       "OD",       "R",    "bacVersion",
                            "Figure", "6",  "true", "\x83\x5c", "\x95\x5c", "\xb1", "_"};
    std::vector<std::string> texts;
    for (int n = 0; n < 1500; ++n) {
        std::string t;
        for (int k = rng() % 30; k > 0; --k) {
            std::string piece = pieces[rng() % std::size(pieces)];
            t += rng() % 6 ? piece : std::string(1 + rng() % 40, piece[0]);
        }
        texts.push_back(t);
    }
    texts.push_back(std::string(40, ' ') + "( )");
    texts.push_back("(pnt " + std::string(300, '1') + " 2 3");
    EXPECT_EQ(FirstSearchDisagreement(texts), "");

    // A pathological line no longer costs its length squared per search: the
    // file analyses with the same messages as its short twin.
    std::string blanks(30000, ' ');
    auto o = Analyze(Bac({blanks + "(x)", "(pnt " + std::string(30000, '1'), blanks + "( )"}));
    EXPECT_EQ(o.err, " chunk name not found. line=4 < x >\n");
}

TEST(FigreadContexts, MaterialAttributesAndWhereTheContextEnds) {
    auto o = Analyze(Bac({
        "(Materials",
        "(material (name \"first\")",  // read on the keyword's own line
        "(blendMode Normal)",
        "(transparent true) (lighting true)",  // only the first is read
        "(specular 0.25) (shininess 12) (alpha .5)",
        "(textureIndex 3) (colorIndex 7)",
        ")",
        "(material",
        "(doubleFace false)",
        "(colorIndex 2)",
        "(unknown)",
        "(alpha 0.75)",
        "(material",
        "(name no quotes)",
        "(blendMode)",
        "(doubleFace maybe)",
        "(textureIndex x) (specular y)",
    }));
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err,
              " chunk name not found. line=14 < unknown >\n"
              " chunk name not found. line=15 < alpha >\n"
              " material name error line=17\n"
              " material mode error line=18\n"
              " material flag error line=19\n");
    ASSERT_EQ(fnbacGetMaterialNumber(), 3u);
    EXPECT_STREQ(fnbacGetMaterialName(0), "first");
    EXPECT_STREQ(fnbacGetMaterialBlendMode(0), "Normal");
    EXPECT_EQ(fnbacGetMaterialBlendCode(0), 0);
    EXPECT_TRUE(fnbacGetMaterialTransparent(0));
    EXPECT_FALSE(fnbacGetMaterialLighting(0));
    EXPECT_TRUE(fnbacGetMaterialDoubleFace(0));
    EXPECT_FLOAT_EQ(fnbacGetMaterialSpecular(0), 0.25f);
    EXPECT_FLOAT_EQ(fnbacGetMaterialShininess(0), 12.0f);
    EXPECT_FLOAT_EQ(fnbacGetMaterialAlpha(0), 5.0f);  // ".5": the search finds 5
    EXPECT_EQ(fnbacGetMaterialTexture(0), 3);
    EXPECT_EQ(fnbacGetMaterialColor(0), 0);  // second attribute on a 120 line is dropped
    EXPECT_FALSE(fnbacGetMaterialDoubleFace(1));
    EXPECT_EQ(fnbacGetMaterialColor(1), 2);
    EXPECT_FLOAT_EQ(fnbacGetMaterialAlpha(1), 0.0f);  // after the context ended
    // Defaults of a material whose attributes all failed.
    EXPECT_STREQ(fnbacGetMaterialName(2), "");
    EXPECT_STREQ(fnbacGetMaterialBlendMode(2), "normal");
    EXPECT_TRUE(fnbacGetMaterialDoubleFace(2));
    EXPECT_EQ(fnbacGetMaterialTexture(2), -1);
    EXPECT_FLOAT_EQ(fnbacGetMaterialSpecular(2), 0.0f);
}

TEST(FigreadContexts, BlendCodesCompareExactly) {
    Analyze(
        Bac({"(material (blendMode add)", "(material (blendMode sub)", "(material (blendMode half)",
             "(material (blendMode Add)", "(material (blendMode adds)"}));
    ASSERT_EQ(fnbacGetMaterialNumber(), 5u);
    int codes[5];
    for (int i = 0; i < 5; ++i) codes[i] = fnbacGetMaterialBlendCode(i);
    EXPECT_EQ(codes[0], 1);
    EXPECT_EQ(codes[1], 2);
    EXPECT_EQ(codes[2], 3);
    EXPECT_EQ(codes[3], 0);
    EXPECT_EQ(codes[4], 0);
}

TEST(FigreadContexts, BoneAttributesAndNameByContext) {
    auto o = Analyze(Bac({
        "(name \"figure\")",
        "(Bones",
        "(bone (name \"lost on the bone line\")",
        "(hasChild true) (hasBrother true)",
        "(hasBrother true)",
        "(rotate 1 2 3) (translate 9 9 9)",
        "(translate -1.5 2e2 +3)",
        "(name \"one\")",
        "(bone",
        "(name)",
        "(handle 0 1 0)",
        "(oops)",
        "(hasChild true)",
    }));
    EXPECT_EQ(o.err,
              " bone name error line=13\n"
              " chunk name not found. line=15 < oops >\n"
              " chunk name not found. line=16 < hasChild >\n");
    EXPECT_EQ(State().model->figureName, "figure");
    ASSERT_EQ(fnbacGetBoneNumber(), 2u);
    EXPECT_STREQ(fnbacGetBoneName(0), "one");
    EXPECT_TRUE(fnbacGetBoneChild(0));
    EXPECT_TRUE(fnbacGetBoneBrother(0));
    EXPECT_EQ(Vec(fnbacGetBoneRotation, 0), "1 2 3");
    EXPECT_EQ(Vec(fnbacGetBonePosition, 0), "-1.5 200 3");
    EXPECT_STREQ(fnbacGetBoneName(1), "");
    EXPECT_EQ(Vec(fnbacGetBoneHandle, 1), "0 1 0");
    EXPECT_FALSE(fnbacGetBoneChild(1));
    EXPECT_EQ(fnbacGetBoneIndex(1), 1);
}

TEST(FigreadContexts, GroupsTakeFacesUntilPolygons) {
    auto o = Analyze(Bac({
        "(Bones (bone (name \"b\")",
        "(group (name \"g\")",  // text after group on its line is not read
        "(name \"grp\") (hasChild true)",
        "(face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))",
        "(DynamicPolygons (group",
        "(face 0 ( i3 3 4 5 ) ( i3 0 1 2 ))",
        "(face 0 ( i3 3 4 5 ) ( i3 0 1 2 ))",
        "(Polygons",
        "(face 1 ( i3 6 7 8 ) ( i3 0 1 2 ))",
    }));
    // "name" right after a group goes to the chunk table; no bone is touched.
    EXPECT_EQ(o.err, " chunk name not found. line=6 < hasChild >\n");
    EXPECT_STREQ(fnbacGetBoneName(0), "");
    EXPECT_FALSE(fnbacGetBoneChild(0));
    EXPECT_EQ(State().model->figureName, "grp");
    ASSERT_EQ(State().model->groups.size(), 2u);
    EXPECT_EQ(State().model->groups[0].faces.size(), 1u);
    EXPECT_EQ(State().model->groups[1].faces.size(), 2u);
    ASSERT_EQ(fnbacGetPolygonNumber(), 1u);
    EXPECT_EQ(fnbacGetPolygonMaterial(0), 1);
}

TEST(FigreadContexts, GroupModeLeftOverFromAnEarlierFileLosesNoFaces) {
    Analyze(Bac({"(group", "(face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))"}));
    ASSERT_TRUE(State().groupMode);
    Analyze(Bac(
        {"(face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))", "(group", "(face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))"}));
    EXPECT_EQ(fnbacGetPolygonNumber(), 1u);
    EXPECT_EQ(State().model->groups.size(), 1u);
    Analyze(Bac({"(Polygons"}));
    EXPECT_FALSE(State().groupMode);
}

TEST(FigreadContexts, AnAnalysisTouchesOnlyTheStateItIsGiven) {
    Analyze(Bac({"(name \"library\")", "(Polygons"}));
    ReaderState own;
    EXPECT_EQ(AnalyzeText(own, Bac({"(name \"own\")", "(group"})), 0);
    EXPECT_EQ(own.model->figureName, "own");
    EXPECT_TRUE(own.groupMode);
    EXPECT_EQ(State().model->figureName, "library");
    EXPECT_FALSE(State().groupMode);
}

TEST(FigreadValues, ValuesOnTheNextLine) {
    auto o = Analyze(Bac({
        "(name",
        "",
        "\"late\")",
        "(Textures (i2",
        "64 32)",
        "(Colors (f3",
        "0.5 0.25 1)",
        "(Vertices (coords (pnt",
        "1 2 3)",
        "(pnt 4 5 6) (pnt 7 8 9)",
        "(normals (vct 0 0",
        "1) (vct 0 1 0)",
        "(Bones (bone",
        "(translate",
        "4 5 6)",
    }));
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(State().model->figureName, "late");
    ASSERT_EQ(fnbacGetTextureNumber(), 1u);
    EXPECT_EQ(fnbacGetTextureSizeY(0), 64);
    EXPECT_EQ(fnbacGetTextureSizeX(0), 32);
    EXPECT_FLOAT_EQ(fnbacGetColorG(0), 0.25f);
    ASSERT_EQ(fnbacGetVertexNumber(), 3u);
    EXPECT_EQ(Vec(fnbacGetVertexValue, 0), "1 2 3");
    EXPECT_EQ(Vec(fnbacGetVertexValue, 2), "7 8 9");
    // The next line is read from its start: "1" converts, then ")" stops the
    // reading, and the gate's match swallows the second vct.
    ASSERT_EQ(fnbacGetNormalNumber(), 1u);
    EXPECT_EQ(Vec(fnbacGetNormalValue, 0), "1 0 0");
    EXPECT_EQ(Vec(fnbacGetBonePosition, 0), "4 5 6");
}

TEST(FigreadValues, ThreeNumbersAreReadFromTheCursor) {
    Analyze(Bac({"(pnt x 1 2 3)", "(pnt 1.5 y 2 3 4)", "(pnt 1e1 2.5e-1 -3)", "(pnt .5 1 2 )",
                 "(pnt 1e 2E+ 3 4 5)"}));
    ASSERT_EQ(fnbacGetVertexNumber(), 5u);
    EXPECT_EQ(Vec(fnbacGetVertexValue, 0), "0 0 0");
    EXPECT_EQ(Vec(fnbacGetVertexValue, 1), "1.5 0 0");
    EXPECT_EQ(Vec(fnbacGetVertexValue, 2), "10 0.25 -3");
    EXPECT_EQ(Vec(fnbacGetVertexValue, 3), "0.5 1 2");
    // A "%f" conversion takes a bare exponent mark with its number.
    EXPECT_EQ(Vec(fnbacGetVertexValue, 4), "1 2 3");
}

TEST(FigreadValues, VertexIndexListsSpanLines) {
    auto o = Analyze(Bac({
        "(Bones (bone",
        "(vertexIndices",
        "0 1 2",
        "",
        "3 4) 5 (bone)",  // every integer on the line is taken; the bone is not read
        "(bone",
        "(vertexIndices 7 8) (name \"x(ID-01)\")",
    }));
    EXPECT_EQ(o.err, "");
    ASSERT_EQ(fnbacGetBoneNumber(), 2u);
    int v[8] = {};
    ASSERT_EQ(fnbacGetBoneVertexNumber(0), 6u);
    fnbacGetBoneVertexAllValue(0, v, 8);
    EXPECT_EQ(std::vector<int>(v, v + 6), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    ASSERT_EQ(fnbacGetBoneVertexNumber(1), 3u);
    std::fill(v, v + 8, 99);
    fnbacGetBoneVertexAllValue(1, v, 2);
    EXPECT_EQ(std::vector<int>(v, v + 3), (std::vector<int>{7, 8, 99}));
    fnbacGetBoneVertexAllValue(1, v, 8);
    EXPECT_EQ(std::vector<int>(v, v + 4), (std::vector<int>{7, 8, -1, 99}));
    EXPECT_STREQ(fnbacGetBoneName(1), "");

    // A ")" only ends the list when it stands after the last integer.
    Analyze(Bac({"(bone", "(vertexIndices 0 1) 2", "(bone", "3 4)", "(bone"}));
    ASSERT_EQ(fnbacGetBoneNumber(), 2u);
    EXPECT_EQ(fnbacGetBoneVertexNumber(0), 5u);
}

TEST(FigreadValues, TextureCoordinatesAnywhereKeepLaterChunks) {
    Analyze(Bac({"(TextureCoords (f2 0.25 0.75) (f2", "1 0.5)", ")", "(Polygons",
                 "(face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))"}));
    ASSERT_EQ(fnbacGetUvNumber(), 2u);
    float uv[4];
    fnbacGetUvAllValue(uv, 2);
    EXPECT_EQ(uv[0], 0.25f);
    EXPECT_EQ(uv[1], 0.75f);
    EXPECT_EQ(uv[2], 1.0f);
    EXPECT_EQ(uv[3], 0.5f);
    EXPECT_EQ(fnbacGetPolygonNumber(), 1u);
}

TEST(FigreadValues, OverlongKeywordsAreReportedWhole) {
    std::string word(300, 'k');
    auto o = Analyze(Bac({"(" + word + ") (pnt 1 2 3)", "(material (" + word + " 1)"}));
    EXPECT_EQ(o.err, " chunk name not found. line=4 < " + word +
                         " >\n chunk name not found. line=5 < " + word + " >\n");
    EXPECT_EQ(fnbacGetVertexNumber(), 1u);
}

TEST(FigreadValues, ShiftJisBonesPassThrough) {
    // "ソ" and "表" end in the byte of a backslash.
    std::string so = "\x83\x5c", hyo = "\x95\x5c";
    auto o = Analyze(Bac({"(Bones (bone", "(name \"" + so + hyo + "(ID-12R)\")", "(bone",
                          "(name \"" + hyo + " \")"}));
    EXPECT_EQ(o.err, "");
    ASSERT_EQ(fnbacGetBoneNumber(), 2u);
    EXPECT_EQ(std::string(fnbacGetBoneName(0)), so + hyo);
    EXPECT_EQ(fnbacGetMotorIndex(0), 12);
    EXPECT_TRUE(fnbacGetMotorRevers(0));
    EXPECT_EQ(fnbacGetBone((so + hyo).c_str()), 0);
    EXPECT_EQ(std::string(fnbacGetBoneName(1)), hyo + " ");
}

TEST(FigreadModel, WorkedExample) {
    std::string text;
    for (const char* l : {";BAC",
                          "(bacVersion 6.0)",
                          "(Figure",
                          "(name \"sample\")",
                          "(Textures",
                          "(i2 128 256)",
                          ")",
                          "(Colors",
                          "(f3 1.0 0.5 0.25)",
                          ")",
                          "(Materials",
                          "(material",
                          "(name \"body\")",
                          "(blendMode normal)",
                          "(doubleFace false)",
                          "(colorIndex 0)",
                          "(alpha 1.0)",
                          ")",
                          ")",
                          "(Vertices",
                          "(coords",
                          "(pnt 0.0 0.0 0.0)",
                          "(pnt 1.0 0.0 0.0)",
                          "(pnt 0.0 1.0 0.0)",
                          ")",
                          "(normals",
                          "(vct 0.0 0.0 1.0)",
                          ")",
                          ")",
                          "(Bones",
                          "(bone",
                          "(name \"base\")",
                          "(hasChild true)",
                          "(translate 0.0 0.0 0.0)",
                          "(vertexIndices 0 1",
                          "2)",
                          "(bone",
                          "(name \"arm(OD-05R)\")",
                          "(handle 0.0 1.0 0.0)",
                          ")",
                          ")",
                          ")",
                          "(Polygons",
                          "(face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))",
                          ")",
                          "(TextureCoords",
                          "(f2 0.0 0.0)",
                          ")",
                          ")"})
        (text += l) += '\n';
    auto o = Analyze(text);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(State().model->figureName, "sample");
    ASSERT_EQ(fnbacGetTextureNumber(), 1u);
    EXPECT_EQ(fnbacGetTextureSizeX(0), 256);
    EXPECT_EQ(fnbacGetTextureSizeY(0), 128);
    ASSERT_EQ(fnbacGetColorNumber(), 1u);
    EXPECT_EQ(fnbacGetColorR(0), 1.0f);
    EXPECT_EQ(fnbacGetColorG(0), 0.5f);
    EXPECT_EQ(fnbacGetColorB(0), 0.25f);
    ASSERT_EQ(fnbacGetMaterialNumber(), 1u);
    EXPECT_STREQ(fnbacGetMaterialName(0), "body");
    EXPECT_FALSE(fnbacGetMaterialDoubleFace(0));
    EXPECT_EQ(fnbacGetMaterialColor(0), 0);
    EXPECT_EQ(fnbacGetMaterialTexture(0), -1);
    EXPECT_EQ(fnbacGetMaterialAlpha(0), 1.0f);
    EXPECT_STREQ(fnbacGetMaterialBlendMode(0), "normal");
    EXPECT_EQ(fnbacGetVertexNumber(), 3u);
    EXPECT_EQ(fnbacGetNormalNumber(), 1u);
    ASSERT_EQ(fnbacGetBoneNumber(), 2u);
    EXPECT_STREQ(fnbacGetBoneName(0), "base");
    EXPECT_TRUE(fnbacGetBoneChild(0));
    EXPECT_EQ(fnbacGetBoneVertexNumber(0), 3u);
    EXPECT_EQ(fnbacGetMotorIndex(0), -1);
    EXPECT_STREQ(fnbacGetBoneName(1), "arm");
    EXPECT_EQ(fnbacGetMotorGroup(1), 1);
    EXPECT_EQ(fnbacGetMotorIndex(1), 5);
    EXPECT_TRUE(fnbacGetMotorRevers(1));
    EXPECT_EQ(Vec(fnbacGetBoneHandle, 1), "0 1 0");
    ASSERT_EQ(fnbacGetPolygonNumber(), 1u);
    EXPECT_EQ(fnbacGetPolygonMaterial(0), 0);
    EXPECT_EQ(fnbacGetPolygonVtxNumber(0), 3);
    EXPECT_EQ(Poly(0), "2 1 0");
    EXPECT_EQ(fnbacGetPolygonBone(0), 0);
    EXPECT_EQ(fnbacGetUvNumber(), 1u);
    EXPECT_EQ(fnbacSetMotorNumber(), 1);
}

TEST(FigreadModel, ReanalysisReplacesAndFailuresKeep) {
    std::string a = Bac({"(Bones (bone (x)", "(name \"a(ID-00)\")", "(bone", "(name \"b\")",
                         "(vertexIndices 0 1 2)", "(Polygons (face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))"});
    auto first = Analyze(a);
    auto second = Analyze(a);
    EXPECT_EQ(first.err, second.err);
    ASSERT_EQ(fnbacGetBoneNumber(), 2u);
    EXPECT_EQ(fnbacGetBoneIndex(1), 1);  // numbered from 0 again
    EXPECT_EQ(fnbacGetPolygonBone(0), 1);
    const char* name = fnbacGetBoneName(1);

    auto failed = Analyze(";BAC\n(bacVersion 6)\n");
    EXPECT_EQ(failed.result, 1);
    ASSERT_EQ(fnbacGetBoneNumber(), 2u);
    EXPECT_EQ(fnbacGetBoneName(1), name);  // texts stay valid
    EXPECT_STREQ(name, "b");
    EXPECT_EQ(fnbacGetPolygonBone(0), 1);

    // A new model answers the polygon-to-bone query from its own bones.
    Analyze(Bac(
        {"(bone (x)", "(vertexIndices 0 1 2)", "(Polygons (face 0 ( i3 0 1 2 ) ( i3 0 1 2 ))"}));
    EXPECT_EQ(fnbacGetBoneNumber(), 1u);
    EXPECT_EQ(fnbacGetPolygonBone(0), 0);

    fnbacrelease();
    fnbacrelease();
    EXPECT_EQ(fnbacGetBoneNumber(), 0u);
    EXPECT_EQ(Analyze(a).result, 0);
    EXPECT_EQ(fnbacGetBoneNumber(), 2u);
}

}  // namespace
}  // namespace quenlo::figread::test
