// What the preview tests share: the small tree model, a conversion that builds
// the preview as the window does, and vector comparisons.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../conversion/test_files.h"
#include "../conversion/test_ui.h"
#include "conversion.h"
#include "preview.h"
#include "quenlo/core.h"

namespace preview_test {

using namespace quenlo::preview;
using conversion_test::TestBone;

inline const std::string kExamples = QUENLO_EXAMPLES_DIR;

// root -> arm -> (finger1, finger2), and leg, the arm's brother, after finger2.
// Every bone hangs (rest direction -y) and swings forward (+x) about -z.
inline std::vector<TestBone> TreeBones() {
    auto bone = [](const char* name, std::array<float, 3> p, bool child, bool brother,
                   std::array<float, 3> lo, std::array<float, 3> hi) {
        return TestBone{name, p, {p[0], p[1] - 1, p[2]}, {p[0] + 1, p[1], p[2]}, child, brother,
                        lo,   hi};
    };
    return {
        bone("root", {0, 100, 0}, true, false, {-20, 90, -20}, {20, 140, 20}),
        bone("arm(ID-01)", {0, 140, 30}, true, true, {-5, 100, 25}, {5, 140, 35}),
        bone("finger1(ID-02)", {0, 100, 28}, false, true, {-2, 90, 26}, {2, 100, 29}),
        bone("finger2(ID-03)", {0, 100, 32}, false, false, {-2, 90, 31}, {2, 100, 34}),
        bone("leg(ID-04)", {0, 90, 10}, false, false, {-6, 0, 5}, {6, 90, 15}),
    };
}

// Builds the preview of every successful conversion, poses the first key
// and frames the model with the camera, if any, as the renderer does.
class PreviewUi : public conversion_test::RecordingUi {
  public:
    PreviewUi(CPreviewScene& scene, PreviewCamera* camera) : scene_(scene), camera_(camera) {}
    void ShowConversion(CDataInfo& data) override {
        built = scene_.CreateBacObject(&size, data);
        scene_.ResetPose();
        if (camera_) camera_->Frame(scene_.reach());
    }
    bool built = false;
    float size = 0.0f;

  private:
    CPreviewScene& scene_;
    PreviewCamera* camera_;
};

// A model and its motions converted into a scene; figread keeps the model
// while the conversion lives.
struct Converted {
    std::unique_ptr<PreviewUi> ui;
    std::unique_ptr<CDataInfo> data;
};

inline Converted Convert(CPreviewScene& scene, const std::string& bac,
                         const std::vector<std::string>& motions, PreviewCamera* camera = nullptr) {
    Converted c{std::make_unique<PreviewUi>(scene, camera), nullptr};
    c.data = quenlo::RunConversion(*c.ui, bac, motions, quenlo::kDefaultRate);
    EXPECT_NE(c.data, nullptr) << c.ui->console;
    return c;
}

inline void ExpectNear(const PreviewVector& got, const PreviewVector& want, float tolerance,
                       const std::string& what = "") {
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(got[i], want[i], tolerance) << what << " component " << i;
}

}  // namespace preview_test
