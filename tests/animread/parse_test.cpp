#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "test_motions.h"
#include "tra4_reader.h"

namespace quenlo::tra4 {
namespace {

using test::SameBits;
using test::SampleMotion;

Motion MustParse(std::string_view text) {
    Motion m;
    ParseError err;
    EXPECT_TRUE(Parse(text, m, err)) << err.line << ": " << err.message;
    return m;
}

// Writer output reads back bit for bit (see the writer's round trip); here the
// layouts the writer never produces.
TEST(Tra4Parse, FreeLayoutAndCommentsAnywhere) {
    // Entries may share lines or be split over them; comments go anywhere.
    const Motion small = MustParse(
        ";TRA \t\n"
        "; a comment before the version\n"
        "(traVersion\n 4) (keys 5 ; first\n 7)\n"
        "(bone \"a;b(c)\"(mirror true)(key 5(rotate 1 2 3)(translate +4 -5 .25)\n"
        "(roll 1e1))(key 7 (rotate 0 0 -0.5) (translate 0 0 0) (roll 5.)))");
    ASSERT_EQ(small.bones.size(), 1u);
    EXPECT_EQ(small.times, (std::vector<int>{5, 7}));
    EXPECT_EQ(small.bones[0].name, "a;b(c)");
    EXPECT_TRUE(small.bones[0].mirror);
    const Key& k = small.bones[0].keys[0];
    EXPECT_EQ(k.translate, (std::array<float, 3>{4, -5, 0.25f}));
    EXPECT_EQ(k.roll, 10.0f);
    EXPECT_EQ(small.bones[0].keys[1].roll, 5.0f);
}

TEST(Tra4Parse, TinyNumbersReadAsNearestFloat) {
    const Motion m = MustParse(
        ";TRA\n(traVersion 4)\n(keys 0)\n"
        "(bone \"a\" (mirror false) (key 0 (rotate 1e-50 -1e-400 1e-45) (translate 100e-50 0 0) "
        "(roll -0.00000001e-40)))\n");
    EXPECT_EQ(m.bones[0].keys[0].rotate[0], 0.0f);
    EXPECT_EQ(m.bones[0].keys[0].rotate[1], 0.0f);
    EXPECT_TRUE(std::signbit(m.bones[0].keys[0].rotate[1]));
    EXPECT_GT(m.bones[0].keys[0].rotate[2], 0.0f);  // the smallest subnormal
    EXPECT_EQ(m.bones[0].keys[0].translate[0], 0.0f);
    EXPECT_TRUE(std::signbit(m.bones[0].keys[0].roll));
}

TEST(Tra4Sample, InterpolatesBetweenKeysAndHoldsOutside) {
    const Motion m = SampleMotion();
    const Bone& base = m.bones[0];
    // Exact values at key times are checked through the exports.
    // Halfway between 10 and 30.
    const Key mid = Sample(m, base, 20);
    EXPECT_FLOAT_EQ(mid.rotate[1], 0.75f);
    EXPECT_FLOAT_EQ(mid.rotate[2], 0.8660254f / 2);
    EXPECT_FLOAT_EQ(mid.translate[0], 0.0f);
    EXPECT_FLOAT_EQ(mid.translate[2], 0.0f);
    EXPECT_FLOAT_EQ(mid.roll, (15.0f - 45.25f) / 2);
    // A quarter of the way from 0 to 10.
    EXPECT_FLOAT_EQ(Sample(m, base, 2).translate[1], 0.4f);
    // Clamped before the first and after the last key.
    EXPECT_TRUE(SameBits(Sample(m, base, -5), base.keys[0]));
    EXPECT_TRUE(SameBits(Sample(m, base, INT32_MIN), base.keys[0]));
    EXPECT_TRUE(SameBits(Sample(m, base, 31), base.keys[2]));
    EXPECT_TRUE(SameBits(Sample(m, base, INT32_MAX), base.keys[2]));
}

TEST(Tra4Sample, OneKeyHoldsEverywhereAndNoKeysGiveZeros) {
    Motion one;
    one.times = {100};
    one.AddBone("a").keys[0] = {{1, 2, 3}, {4, 5, 6}, 7};
    for (int t : {0, 100, 1000})
        EXPECT_TRUE(SameBits(Sample(one, one.bones[0], t), one.bones[0].keys[0]));

    Motion none;
    none.AddBone("a");
    EXPECT_TRUE(SameBits(Sample(none, none.bones[0], 0), Key{}));
}

TEST(Tra4Sample, ExtremeValuesStayFinite) {
    Motion m;
    m.times = {0, 16777215};
    Bone& b = m.AddBone("a");
    b.keys[0].rotate = {-3.4028235e38f, 3.4028235e38f, 0};
    b.keys[1].rotate = {3.4028235e38f, -3.4028235e38f, 0};
    const Key k = Sample(m, b, 8388607);
    EXPECT_TRUE(std::isfinite(k.rotate[0]));
    EXPECT_TRUE(std::isfinite(k.rotate[1]));
}

// Each fault: the text, the line reported and a piece of the message.
struct Fault {
    const char* what;
    std::string text;
    int line;
    const char* message;
};

const std::string kHead = ";TRA\n(traVersion 4)\n";
const std::string kKey0 = "(key 0 (rotate 0 0 1) (translate 0 0 0) (roll 0))";
// What follows these goes on line 4 and line 5.
const std::string kKeys0 = kHead + "(keys 0)\n";
const std::string kBoneA = kHead + "(keys 0)\n(bone \"a\" (mirror false)\n";

std::vector<Fault> Faults() {
    return {
        {"empty file", "", 1, "not a TRA4 file"},
        {"other marker", ";BAC\n(traVersion 4)\n", 1, "not a TRA4 file"},
        {"marker with more", ";TRAX\n", 1, "not a TRA4 file"},
        {"marker not first", "\n;TRA\n", 1, "not a TRA4 file"},
        {"no version", ";TRA\n", 1, "expected (traVersion 4), found end of file"},
        {"version 5", ";TRA\n\n(traVersion 5)\n", 3, "unsupported version '5'"},
        {"version 4.0", ";TRA\n(traVersion 4.0)\n", 2, "unsupported version '4.0'"},
        {"version trailing", ";TRA\n(traVersion 4 4)\n", 2, "unexpected '4' after the version"},
        {"no key list", kHead + "(bone \"a\" (mirror false))\n", 3, "expected the key list"},
        {"keys equal", kHead + "(keys 0\n10\n10)\n", 5, "key time 10 is not after 10"},
        {"keys descending", kHead + "(keys 5 3)\n", 3, "key time 3 is not after 5"},
        {"negative key", kHead + "(keys -1)\n", 3, "key time '-1' is not an integer"},
        {"key too large", kHead + "(keys 16777216)\n", 3, "key time '16777216'"},
        {"key not integer", kHead + "(keys 1.5)\n", 3, "key time '1.5'"},
        {"string in keys", kHead + "(keys 1 \"2\")\n", 3, "unexpected quoted text in the key list"},
        {"unclosed keys", kHead + "(keys 1 2\n", 3, "unexpected end of file in the key list"},
        {"fewer keys", kHead + "(keys 0 10)\n(bone \"arm\" (mirror false)\n" + kKey0 + "\n)\n", 6,
         "bone 'arm' has 1 keys, the key list 2"},
        {"more keys",
         kHead + "(keys 0)\n(bone \"arm\" (mirror false)\n" + kKey0 + "\n" + kKey0 + ")\n", 6,
         "bone 'arm' has more keys than the 1 key times"},
        {"key time mismatch",
         kHead + "(keys 0 10)\n(bone \"a\" (mirror false)\n" + kKey0 +
             "\n(key 11 (rotate 0 0 1) (translate 0 0 0) (roll 0))\n)\n",
         6, "expected key time 10 in bone 'a', found '11'"},
        {"number does not parse", kBoneA + "(key 0 (rotate 0 0.5x 1)", 5,
         "'0.5x' in rotate of key 0 in bone 'a' is not a finite number"},
        {"nan", kBoneA + "(key 0 (rotate nan 0 1)", 5, "'nan'"},
        {"inf", kBoneA + "(key 0 (rotate 0 0 1) (translate inf", 5, "'inf'"},
        {"hex", kBoneA + "(key 0 (rotate 0x1 0 1)", 5, "'0x1'"},
        {"double sign", kBoneA + "(key 0 (rotate +-1 0 1)", 5, "'+-1'"},
        {"float overflow", kBoneA + "(key 0 (rotate 1e39 0 1)", 5, "'1e39'"},
        {"overflow with small digits", kBoneA + "(key 0 (rotate 0.01e41 0 1)", 5, "'0.01e41'"},
        {"too few numbers", kBoneA + "(key 0 (rotate 0 1)", 5,
         "rotate of key 0 in bone 'a' has 2 numbers, needs 3"},
        {"garbage in rotate", kBoneA + "(key 0 (rotate 0 0 1 2)", 5,
         "unexpected '2' after the 3 numbers of rotate"},
        {"garbage in roll", kBoneA + "(key 0 (rotate 0 0 1)\n(translate 0 0 0) (roll 0 7))", 6,
         "unexpected '7' after the 1 number of roll"},
        {"garbage in key", kBoneA + "(key 0 (rotate 0 0 1) (translate 0 0 0) (roll 0) x)", 5,
         "unexpected 'x' after key 0 in bone 'a'"},
        {"fields out of order", kBoneA + "(key 0 (translate 0 0 0)", 5,
         "expected (rotate ...) of key 0 in bone 'a'"},
        {"garbage in bone", kHead + "(keys 0)\n(bone \"a\" (mirror false) 3)\n", 4,
         "expected (key ...) or ')' in bone 'a', found '3'"},
        {"no mirror", kKeys0 + "(bone \"a\")\n", 4, "expected (mirror true) or (mirror false)"},
        {"mirror word", kKeys0 + "(bone \"a\" (mirror yes))\n", 4,
         "mirror of bone 'a' must be true or false, found 'yes'"},
        {"mirror garbage", kKeys0 + "(bone \"a\" (mirror true false))\n", 4,
         "unexpected 'false' after the mirror flag"},
        {"name unquoted", kKeys0 + "(bone a (mirror true))\n", 4, "expected a quoted bone name"},
        {"name not closed", kKeys0 + "\n(bone \"arm (mirror true))\n", 5,
         "bone name not closed on its line"},
        {"name not closed at end", kKeys0 + "(bone \"arm", 4, "bone name not closed"},
        {"name with control byte", kKeys0 + "(bone \"a\tb\" (mirror true))\n", 4,
         "control byte 0x09 in a bone name"},
        {"name too long", kKeys0 + "(bone \"" + std::string(1025, 'n') + "\" (mirror true))\n", 4,
         "bone name longer than 1024 bytes"},
        {"empty key list", kHead + "(keys\n)\n", 4,
         "the key list is empty: a motion needs at least one key"},
        {"stray close", kHead + "(keys 0))\n", 3,
         "expected (bone ...) or the end of the file, found ')'"},
        {"other entry", kKeys0 + "(bones)\n", 4, "found '(bones'"},
        {"end inside bone", kBoneA + kKey0 + "\n", 5, "found end of file"},
        {"crlf lines", ";TRA\r\n(traVersion 4)\r\n(keys 2 1)\r\n", 3, "key time 1 is not after 2"},
        // A byte-order mark, CR LF and lone CR line ends; a comment ends at a lone CR.
        {"old editor's lines", "\xEF\xBB\xBF;TRA\r(traVersion 4)\r\n\r(keys 2 1)\r", 4,
         "key time 1 is not after 2"},
        {"comment ends at a lone CR", ";TRA\r; note\r(traVersion 5)\r", 3,
         "unsupported version '5'"},
        {"byte-order mark alone", "\xEF\xBB\xBF\n;TRA\n", 1, "not a TRA4 file"},
        {"zero rotate", kBoneA + "(key 0 (rotate 0 -0\n 0)", 6,
         "rotate of key 0 in bone 'a' is the zero vector"},
        {"rotate beyond the bound", kBoneA + "(key 0 (rotate 0 0 1000000.1)", 5,
         "'1000000.1' in rotate of key 0 in bone 'a' is outside -1000000 to 1000000"},
        {"translate beyond the bound", kBoneA + "(key 0 (rotate 0 0 1) (translate -3e38 0 0)", 5,
         "'-3e38' in translate"},
        {"roll beyond the bound", kBoneA + "(key 0 (rotate 0 0 1) (translate 0 0 0) (roll 2e6)", 5,
         "'2e6' in roll"},
        {"bone twice",
         kKeys0 + "(bone \"a\" (mirror false)\n" + kKey0 + ")\n(bone \"b\" (mirror false) " +
             kKey0 + ")\n\n(bone \"a\" (mirror true)",
         8, "bone 'a' is listed twice, first on line 4"},
        {"control byte", kHead + "(keys 0\x01)\n", 3, "unexpected control byte 0x01"},
        {"nul byte", kHead + std::string("(keys\0)", 7), 3, "unexpected control byte 0x00"},
    };
}

TEST(Tra4Parse, EveryFaultNamesItsLineAndLeavesTheOutputAlone) {
    for (const Fault& f : Faults()) {
        SCOPED_TRACE(f.what);
        Motion out = SampleMotion();
        ParseError err;
        EXPECT_FALSE(Parse(f.text, out, err));
        EXPECT_EQ(err.line, f.line);
        EXPECT_NE(err.message.find(f.message), std::string::npos) << err.message;
        EXPECT_EQ(err.message.find('\n'), std::string::npos);
        EXPECT_TRUE(SameBits(out, SampleMotion()));
    }
}

TEST(Tra4Parse, AbsurdSizesAreRefused) {
    ParseError err;
    Motion out;
    std::string keys = kHead + "(keys";
    for (int t = 0; t <= 100000; ++t) keys += " " + std::to_string(t);
    keys += ")\n";
    EXPECT_FALSE(Parse(keys, out, err));
    EXPECT_NE(err.message.find("more than 100000 key times"), std::string::npos);

    std::string bones = kKeys0;
    for (int b = 0; b <= 10000; ++b)
        bones += "(bone \"" + std::to_string(b) + "\" (mirror false) " + kKey0 + ")\n";
    EXPECT_FALSE(Parse(bones, out, err));
    EXPECT_EQ(err.line, 10004);
    EXPECT_NE(err.message.find("more than 10000 bones"), std::string::npos);
}

// The layout with and without a line number is pinned by the exports tests.
TEST(Tra4Parse, ErrorLineShowsControlBytesAsQuestionMarks) {
    EXPECT_EQ(FormatError("a\nb\r.tra", {1, "x\ny"}), "animread: a?b?.tra:1: x?y\n");
}

}  // namespace
}  // namespace quenlo::tra4
