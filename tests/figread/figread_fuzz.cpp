// libFuzzer target: arbitrary bytes into the analysis, then every query.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "figread.h"
#include "reader.h"

namespace {

template <class F>
void Expect(F&& f) {
    try {
        f();
    } catch (const std::out_of_range&) {
    }
}

void QueryAll() {
    float f[4];
    int v[4];
    const int bones = fnbacGetBoneNumber(), polys = fnbacGetPolygonNumber();
    for (int i = -1; i <= static_cast<int>(fnbacGetTextureNumber()); ++i)
        Expect([&] { (void)(fnbacGetTextureSizeX(i) + fnbacGetTextureSizeY(i)); });
    for (int i = -1; i <= static_cast<int>(fnbacGetColorNumber()); ++i)
        Expect([&] { (void)(fnbacGetColorR(i) + fnbacGetColorG(i) + fnbacGetColorB(i)); });
    for (int i = -1; i <= static_cast<int>(fnbacGetMaterialNumber()); ++i)
        Expect([&] {
            (void)fnbacGetMaterialName(i)[0];
            (void)fnbacGetMaterialBlendMode(i)[0];
            (void)(fnbacGetMaterialBlendCode(i) + fnbacGetMaterialDoubleFace(i) +
                   fnbacGetMaterialTransparent(i) + fnbacGetMaterialLighting(i) +
                   fnbacGetMaterialTexture(i) + fnbacGetMaterialColor(i) +
                   fnbacGetMaterialAlpha(i) + fnbacGetMaterialSpecular(i) +
                   fnbacGetMaterialShininess(i));
        });
    for (int i = -1; i <= static_cast<int>(fnbacGetVertexNumber()); ++i)
        Expect([&] { fnbacGetVertexValue(i, f); });
    for (int i = -1; i <= static_cast<int>(fnbacGetNormalNumber()); ++i)
        Expect([&] { fnbacGetNormalValue(i, f); });
    for (int i = -1; i <= static_cast<int>(fnbacGetUvNumber()); ++i)
        Expect([&] { fnbacGetUvValue(i, f); });
    std::vector<float> all(
        3 * (fnbacGetVertexNumber() + fnbacGetNormalNumber() + fnbacGetUvNumber()) + 3);
    fnbacGetVertexAllValue(all.data(), fnbacGetVertexNumber());
    fnbacGetNormalAllValue(all.data(), fnbacGetNormalNumber());
    fnbacGetUvAllValue(all.data(), fnbacGetUvNumber());
    for (int i = -1; i <= polys; ++i)
        Expect([&] {
            (void)(fnbacGetPolygonMaterial(i) + fnbacGetPolygonVtxNumber(i) +
                   fnbacGetPolygonVertex(i, v) + fnbacGetPolygonUv(i, v) + fnbacGetPolygonBone(i));
        });
    for (int i = -1; i <= bones; ++i)
        Expect([&] {
            (void)fnbacGetBone(fnbacGetBoneName(i));
            (void)(fnbacGetBoneIndex(i) + fnbacGetBoneChild(i) + fnbacGetBoneBrother(i) +
                   fnbacGetMotorIndex(i) + fnbacGetMotorGroup(i) + fnbacGetMotorRevers(i));
            fnbacGetBonePosition(i, f);
            fnbacGetBoneRotation(i, f);
            fnbacGetBoneHandle(i, f);
            std::vector<int> list(fnbacGetBoneVertexNumber(i) + 1);
            fnbacGetBoneVertexAllValue(i, list.data(), list.size());
        });
    (void)fnbacSetMotorNumber();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Short inputs also check that lines with long runs match as Oniguruma's
    // own search does (longer ones would cost the plain search too much).
    if (size <= 1024) {
        const std::string diff = quenlo::figread::FirstSearchDisagreement({std::string(text)});
        if (!diff.empty()) {
            std::fprintf(stdout, "search disagreement: %s\n", diff.c_str());
            std::abort();
        }
    }
    quenlo::figread::AnalyzeText(text);
    QueryAll();
    // Every other input also checks that a release leaves nothing to query.
    if (size % 2) fnbacrelease();
    return 0;
}
