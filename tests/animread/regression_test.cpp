// Inputs that once went wrong, one file each in tests/animread/data, read
// through the file export. The list and the folder must agree, so a missing or
// an unlisted input fails rather than passing unchecked.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <set>
#include <string>

#include "animread.h"

namespace quenlo::tra4 {
namespace {

namespace fs = std::filesystem;

TEST(AnimreadRegressions, StoredInputs) {
    struct Case {
        const char* file;
        const char* err;  // after "animread: PATH"; empty when the file reads
        unsigned bones;
        float x;  // rotate x of the first bone at time 0, when the file reads
    };
    const Case cases[] = {
        // "-1e-400" underflows even a double: it once read as +0, losing its sign.
        {"underflow_sign.tra", "", 1, -0.0f},
        // "+-1" once read as -1.
        {"plus_minus.tra", ":5: '+-1' in rotate of key 0 in bone 'a' is not a finite number\n", 0,
         0},
        // A zero rotate once converted to 90 degrees, and 3e38 to 0 degrees.
        {"zero_rotate.tra",
         ":6: rotate of key 10 in bone 'arm' is the zero vector, which has no direction\n", 0, 0},
        {"huge_rotate.tra",
         ":5: '3e38' in rotate of key 0 in bone 'arm' is outside -1000000 to 1000000\n", 0, 0},
        // The second entry of a bone once replaced the first one's values silently.
        {"bone_twice.tra", ":10: bone 'arm' is listed twice, first on line 4\n", 0, 0},
        // Read, then refused by the conversion without a reason.
        {"empty_keys.tra", ":3: the key list is empty: a motion needs at least one key\n", 0, 0},
        // A byte-order mark and lone CR line ends, as other editors write them.
        {"bom_cr_lines.tra", "", 1, 0.0f},
    };
    const fs::path dir = ANIMREAD_TEST_DATA;
    std::set<std::string> listed;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        listed.insert(c.file);
        const std::string path = (dir / c.file).string();
        ASSERT_TRUE(fs::is_regular_file(path));
        testing::internal::CaptureStderr();
        const int rc = fntraanalysis(path.c_str());
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(rc, *c.err ? 1 : 0);
        EXPECT_EQ(err, *c.err ? "animread: " + path + c.err : "");
        EXPECT_EQ(fntraGetBoneNumber(), c.bones);
        float r[3] = {};
        fntraGetRotateValue(0, 0, r);
        EXPECT_TRUE(r[0] == c.x && std::signbit(r[0]) == std::signbit(c.x)) << r[0];
    }
    fntrarelease();

    std::set<std::string> stored;
    for (const auto& entry : fs::directory_iterator(dir)) stored.insert(entry.path().filename());
    EXPECT_EQ(stored, listed);
}

}  // namespace
}  // namespace quenlo::tra4
