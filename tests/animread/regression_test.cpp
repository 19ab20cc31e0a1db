// Inputs kept from fuzzing (tests/animread/data): each must be read or refused
// cleanly, with the same guarantees the fuzz target checks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "test_motions.h"
#include "tra4_reader.h"

namespace quenlo::tra4 {
namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

TEST(Tra4Regression, StoredInputsAreReadOrRefusedCleanly) {
    const fs::path dir = ANIMREAD_TEST_DATA;
    if (!fs::is_directory(dir)) return;  // nothing kept yet
    for (const auto& entry :
         fs::directory_iterator(dir, fs::directory_options::skip_permission_denied)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".tra") continue;
        SCOPED_TRACE(entry.path().filename().string());
        const std::string text = Slurp(entry.path());
        Motion m;
        ParseError err;
        if (Parse(text, m, err)) {
            EXPECT_EQ(Check(m), "");
            Motion back;
            ASSERT_TRUE(Parse(test::Text(m), back, err)) << err.message;
            EXPECT_TRUE(test::SameBits(back, m));
        } else {
            const std::string line = FormatError("x.tra", err);
            EXPECT_EQ(line.find('\n'), line.size() - 1);
        }
    }
}

}  // namespace
}  // namespace quenlo::tra4
