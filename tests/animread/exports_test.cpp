// The ten exports of libanimread.so, through real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <filesystem>
#include <string>

#include "animread.h"
#include "test_motions.h"

namespace quenlo::tra4 {
namespace {

namespace fs = std::filesystem;

class AnimreadExports : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("animread_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fntrarelease();
        fs::remove_all(dir_);
    }

    std::string Write(const std::string& name, const std::string& text) {
        const std::string path = (dir_ / name).string();
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        return path;
    }

    // Runs fntraanalysis and keeps what it wrote on standard error.
    int Analyse(const char* path) {
        ::testing::internal::CaptureStderr();
        int rc = fntraanalysis(path);
        err_ = ::testing::internal::GetCapturedStderr();
        return rc;
    }

    // What every query answers for a bone or key it does not hold.
    static void ExpectNothingAt(int bone, int key) {
        EXPECT_EQ(fntraGetBoneName(bone), nullptr);
        EXPECT_FALSE(fntraGetAnimeRevers(bone));
        EXPECT_EQ(fntraGetAnimeKeyValue(key), 0);
        float r[3] = {9, 9, 9}, u[3] = {9, 9, 9};
        fntraGetRotateValue(bone, 10, r);
        fntraGetTransValue(bone, 10, u);
        EXPECT_TRUE(r[0] == 0 && r[1] == 0 && r[2] == 0);
        EXPECT_TRUE(u[0] == 0 && u[1] == 0 && u[2] == 0);
        EXPECT_EQ(fntraGetRollValue(bone, 10), 0.0f);
    }

    static void ExpectNothingHeld() {
        EXPECT_EQ(fntraGetAnimeNumber(), 0u);
        EXPECT_EQ(fntraGetBoneNumber(), 0u);
        ExpectNothingAt(0, 0);
    }

    fs::path dir_;
    std::string err_;
};

TEST_F(AnimreadExports, AnswersTheMotionOfAGoodFileAndNothingOutsideIt) {
    const Motion m = test::SampleMotion();
    const std::string path = Write("good.tra", test::Text(m));
    ASSERT_EQ(Analyse(path.c_str()), 0);
    EXPECT_EQ(err_, "");
    EXPECT_EQ(fntraGetAnimeNumber(), 3u);
    EXPECT_EQ(fntraGetBoneNumber(), 3u);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(fntraGetAnimeKeyValue(k), m.times[k]);
    for (int b = 0; b < 3; ++b) {
        EXPECT_STREQ(fntraGetBoneName(b), m.bones[b].name.c_str());  // Shift_JIS bytes as read
        EXPECT_EQ(fntraGetAnimeRevers(b), m.bones[b].mirror);
        for (int k = 0; k < 3; ++k) {
            const int t = fntraGetAnimeKeyValue(k);
            float r[3], u[3];
            fntraGetRotateValue(b, t, r);
            fntraGetTransValue(b, t, u);
            const Key& want = m.bones[b].keys[k];
            for (int i = 0; i < 3; ++i) {
                EXPECT_TRUE(test::SameBits(r[i], want.rotate[i]));
                EXPECT_TRUE(test::SameBits(u[i], want.translate[i]));
            }
            EXPECT_TRUE(test::SameBits(fntraGetRollValue(b, t), want.roll));
        }
    }
    // Between keys 10 and 30, and held after the last.
    EXPECT_FLOAT_EQ(fntraGetRollValue(0, 20), (15.0f - 45.25f) / 2);
    EXPECT_EQ(fntraGetRollValue(0, 1000), -45.25f);
    for (int bad : {-1, 3, INT_MAX, INT_MIN}) {
        SCOPED_TRACE(bad);
        ExpectNothingAt(bad, bad);
    }
    // A null output array is ignored rather than written.
    fntraGetRotateValue(0, 0, nullptr);
    fntraGetTransValue(0, 0, nullptr);
}

TEST_F(AnimreadExports, FailureWritesOneLineAndReleasesThePreviousMotion) {
    const std::string good = Write("good.tra", test::Text(test::SampleMotion()));
    struct Case {
        std::string path;
        std::string line;
    };
    const std::string missing = (dir_ / "missing.tra").string();
    const std::string bad = Write("bad.tra", ";TRA\n(traVersion 4)\n(keys 0 10)\n(keys)\n");
    const std::string empty = Write("empty.tra", "");
    const std::string fifo = (dir_ / "fifo.tra").string();  // opening it would block
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string two_lines = Write("two\nlines.tra", "");  // shown with '?'
    std::string shown = two_lines;
    shown[shown.find('\n')] = '?';
    std::string huge = test::Text(test::SampleMotion());
    huge.resize(kMaxFileBytes + 100000, ' ');
    const std::string large = Write("large.tra", huge);
    const Case cases[] = {
        {bad,
         "animread: " + bad + ":4: expected (bone ...) or the end of the file, found '(keys'\n"},
        {missing, "animread: " + missing + ": cannot open (No such file or directory)\n"},
        {dir_.string(), "animread: " + dir_.string() + ": not a regular file\n"},
        {fifo, "animread: " + fifo + ": not a regular file\n"},
        {empty, "animread: " + empty + ":1: not a TRA4 file: the first line must be ;TRA\n"},
        {"", "animread: : cannot open (No such file or directory)\n"},
        {two_lines, "animread: " + shown + ":1: not a TRA4 file: the first line must be ;TRA\n"},
        {large, "animread: " + large + ": larger than 16777216 bytes\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_EQ(Analyse(good.c_str()), 0);
        ASSERT_EQ(fntraGetBoneNumber(), 3u);
        EXPECT_EQ(Analyse(c.path.c_str()), 1);
        ExpectNothingHeld();
        EXPECT_EQ(err_, c.line);
    }
    EXPECT_EQ(Analyse(nullptr), 1);
    EXPECT_EQ(err_, "animread: (null): no file name given\n");
}

TEST_F(AnimreadExports, SuccessReplacesAndReleaseEmpties) {
    Motion other;
    other.times = {0, 5, 7, 9};
    other.AddBone("leg", true);
    ASSERT_EQ(Analyse(Write("a.tra", test::Text(test::SampleMotion())).c_str()), 0);
    ASSERT_EQ(Analyse(Write("b.tra", test::Text(other)).c_str()), 0);
    EXPECT_EQ(fntraGetAnimeNumber(), 4u);
    EXPECT_EQ(fntraGetBoneNumber(), 1u);
    EXPECT_STREQ(fntraGetBoneName(0), "leg");
    EXPECT_EQ(fntraGetAnimeKeyValue(3), 9);
    fntrarelease();
    ExpectNothingHeld();
    fntrarelease();  // twice is harmless
    ExpectNothingHeld();
}

}  // namespace
}  // namespace quenlo::tra4
