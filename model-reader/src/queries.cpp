// The flat exports: file analysis, release and every query on the library's
// one model, which lives here.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "figread.h"
#include "reader.h"

namespace quenlo::figread {

ReaderState& State() {
    static ReaderState state;
    return state;
}

int AnalyzeText(std::string_view text) {
    return AnalyzeText(State(), text);
}

namespace {

const BacModel& Model() {
    static const BacModel empty;
    const auto& m = State().model;
    return m ? *m : empty;
}

// Indexes are compared as unsigned, so every negative index is out of range too.
template <class T>
const T& At(const std::vector<T>& list, int index) {
    if (static_cast<unsigned>(index) >= list.size())
        throw std::out_of_range("invalid vector<T> subscript");
    return list[static_cast<unsigned>(index)];
}

template <size_t N>
void CopyOut(const std::vector<std::array<float, N>>& list, float* out, unsigned count) {
    size_t n = std::min<size_t>(count, list.size());
    if (n && out) std::memcpy(out, list.data(), n * N * sizeof(float));
}

void Copy3(const Vec3& v, float out[3]) {
    std::memcpy(out, v.data(), sizeof(float) * 3);
}

// Which bones hold each vertex index, built once per model on the first
// polygon-to-bone query: a query then costs bones x corners at most.
class BoneMembership {
  public:
    int PolygonBone(const BacModel& m, const BacPolygon& p) {
        if (built_for_ != State().generation || !built_) Build(m);
        // A face without readable corners belongs to no bone.
        if (p.corners <= 0) return -1;
        const int n = std::min(p.corners, 4);
        std::pair<const int*, const int*> lists[4];
        for (int i = 0; i < n; ++i) {
            lists[i] = Bones(p.vertex[i]);
            if (lists[i].first == lists[i].second) return -1;
        }
        // The first bone (lowest position) present in every corner's list.
        for (const int* b = lists[0].first; b != lists[0].second; ++b) {
            bool all = true;
            for (int i = 1; i < n && all; ++i)
                all = std::binary_search(lists[i].first, lists[i].second, *b);
            if (all) return *b;
        }
        return -1;
    }

  private:
    void Build(const BacModel& m) {
        std::vector<std::pair<int, int>> pairs;  // (vertex index, bone position)
        size_t total = 0;
        for (const BacBone& b : m.bones) total += b.vertexIndices.size();
        pairs.reserve(total);
        for (size_t bone = 0; bone < m.bones.size(); ++bone)
            for (int v : m.bones[bone].vertexIndices) pairs.emplace_back(v, static_cast<int>(bone));
        // An explicit order keeps std::pair's three-way helper out of the exports.
        std::sort(pairs.begin(), pairs.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : a.second < b.second;
        });
        pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
        keys_.clear();
        offsets_.clear();
        bones_.clear();
        bones_.reserve(pairs.size());
        for (size_t i = 0; i < pairs.size(); ++i) {
            if (i == 0 || pairs[i].first != pairs[i - 1].first) {
                keys_.push_back(pairs[i].first);
                offsets_.push_back(static_cast<uint32_t>(bones_.size()));
            }
            bones_.push_back(pairs[i].second);
        }
        offsets_.push_back(static_cast<uint32_t>(bones_.size()));
        // Direct lookup when the vertex indices are reasonably dense.
        dense_.clear();
        if (!keys_.empty()) {
            int64_t span = int64_t(keys_.back()) - keys_.front() + 1;
            if (span <= int64_t(keys_.size()) * 4 + 4096) {
                dense_.assign(static_cast<size_t>(span), -1);
                for (size_t k = 0; k < keys_.size(); ++k)
                    dense_[static_cast<size_t>(int64_t(keys_[k]) - keys_.front())] =
                        static_cast<int>(k);
            }
        }
        built_ = true;
        built_for_ = State().generation;
    }

    std::pair<const int*, const int*> Bones(int vertex) const {
        long slot = -1;
        if (keys_.empty()) return {nullptr, nullptr};
        if (!dense_.empty()) {
            int64_t d = int64_t(vertex) - keys_.front();
            if (d >= 0 && d < int64_t(dense_.size())) slot = dense_[static_cast<size_t>(d)];
        } else {
            auto it = std::lower_bound(keys_.begin(), keys_.end(), vertex);
            if (it != keys_.end() && *it == vertex) slot = it - keys_.begin();
        }
        if (slot < 0) return {nullptr, nullptr};
        return {bones_.data() + offsets_[slot], bones_.data() + offsets_[slot + 1]};
    }

    bool built_ = false;
    uint64_t built_for_ = 0;
    std::vector<int> keys_;
    std::vector<uint32_t> offsets_;
    std::vector<int> bones_;
    std::vector<int> dense_;
};

BoneMembership& Membership() {
    static BoneMembership index;
    return index;
}

}  // namespace
}  // namespace quenlo::figread

using quenlo::figread::At;
using quenlo::figread::Model;

extern "C" {

int fnbacanalysis(const char* path) {
    if (!path || !*path) return 1;
    // Only a regular file is a model: a device never ends (/dev/zero) and a
    // FIFO without a writer would block the open, so the open does not wait
    // and the type is checked on what was opened.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat st;
    FILE* f = nullptr;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0)
        f = fdopen(fd, "rb");
    if (!f) {
        if (fd >= 0) ::close(fd);
        std::fputs(" file not found.\n", stderr);
        return 1;
    }
    // Lines are read as they are scanned, so the file is never held whole.
    int result = quenlo::figread::AnalyzeFile(quenlo::figread::State(), f);
    std::fclose(f);
    return result;
}

void fnbacrelease(void) {
    quenlo::figread::State().Release();
}

unsigned fnbacGetTextureNumber(void) {
    return Model().textures.size();
}
unsigned fnbacGetColorNumber(void) {
    return Model().colors.size();
}
unsigned fnbacGetMaterialNumber(void) {
    return Model().materials.size();
}
unsigned fnbacGetVertexNumber(void) {
    return Model().vertices.size();
}
unsigned fnbacGetNormalNumber(void) {
    return Model().normals.size();
}
unsigned fnbacGetUvNumber(void) {
    return Model().uvs.size();
}
unsigned fnbacGetPolygonNumber(void) {
    return Model().polygons.size();
}
unsigned fnbacGetBoneNumber(void) {
    return Model().bones.size();
}

int fnbacGetTextureSizeX(int texture) {
    return At(Model().textures, texture).sizeX;
}
int fnbacGetTextureSizeY(int texture) {
    return At(Model().textures, texture).sizeY;
}
float fnbacGetColorR(int color) {
    return At(Model().colors, color).r;
}
float fnbacGetColorG(int color) {
    return At(Model().colors, color).g;
}
float fnbacGetColorB(int color) {
    return At(Model().colors, color).b;
}

const char* fnbacGetMaterialName(int material) {
    return At(Model().materials, material).name.c_str();
}
const char* fnbacGetMaterialBlendMode(int material) {
    return At(Model().materials, material).blendMode.c_str();
}
int fnbacGetMaterialBlendCode(int material) {
    const std::string& mode = At(Model().materials, material).blendMode;
    if (mode == "add") return 1;
    if (mode == "sub") return 2;
    if (mode == "half") return 3;
    return 0;
}
bool fnbacGetMaterialDoubleFace(int material) {
    return At(Model().materials, material).doubleFace;
}
bool fnbacGetMaterialTransparent(int material) {
    return At(Model().materials, material).transparent;
}
bool fnbacGetMaterialLighting(int material) {
    return At(Model().materials, material).lighting;
}
int fnbacGetMaterialTexture(int material) {
    return At(Model().materials, material).textureIndex;
}
int fnbacGetMaterialColor(int material) {
    return At(Model().materials, material).colorIndex;
}
float fnbacGetMaterialAlpha(int material) {
    return At(Model().materials, material).alpha;
}
float fnbacGetMaterialSpecular(int material) {
    return At(Model().materials, material).specular;
}
float fnbacGetMaterialShininess(int material) {
    return At(Model().materials, material).shininess;
}

void fnbacGetVertexValue(int vertex, float out[3]) {
    quenlo::figread::Copy3(At(Model().vertices, vertex), out);
}
void fnbacGetVertexAllValue(float* out, unsigned count) {
    quenlo::figread::CopyOut(Model().vertices, out, count);
}
void fnbacGetNormalValue(int normal, float out[3]) {
    quenlo::figread::Copy3(At(Model().normals, normal), out);
}
void fnbacGetNormalAllValue(float* out, unsigned count) {
    quenlo::figread::CopyOut(Model().normals, out, count);
}
void fnbacGetUvValue(int pair, float out[2]) {
    const quenlo::figread::Vec2& uv = At(Model().uvs, pair);
    out[0] = uv[0];
    out[1] = uv[1];
}
void fnbacGetUvAllValue(float* out, unsigned count) {
    quenlo::figread::CopyOut(Model().uvs, out, count);
}

int fnbacGetPolygonMaterial(int polygon) {
    return At(Model().polygons, polygon).material;
}
int fnbacGetPolygonVtxNumber(int polygon) {
    return At(Model().polygons, polygon).corners;
}
int fnbacGetPolygonVertex(int polygon, int out[4]) {
    const quenlo::figread::BacPolygon& p = At(Model().polygons, polygon);
    std::memcpy(out, p.vertex, sizeof p.vertex);
    return p.corners;
}
int fnbacGetPolygonUv(int polygon, int out[4]) {
    const quenlo::figread::BacPolygon& p = At(Model().polygons, polygon);
    std::memcpy(out, p.uv, sizeof p.uv);
    return p.corners;
}
int fnbacGetPolygonBone(int polygon) {
    const quenlo::figread::BacModel& m = Model();
    return quenlo::figread::Membership().PolygonBone(m, At(m.polygons, polygon));
}

const char* fnbacGetBoneName(int bone) {
    return At(Model().bones, bone).name.c_str();
}
int fnbacGetBone(const char* name) {
    if (!name) return -1;
    const size_t len = std::strlen(name);
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
    const auto& bones = Model().bones;
    for (size_t i = 0; i < bones.size(); ++i) {
        const std::string& s = bones[i].name;
        if (s.size() != len) continue;
        size_t k = 0;
        while (k < len && lower(s[k]) == lower(name[k])) ++k;
        if (k == len) return static_cast<int>(i);
    }
    return -1;
}
int fnbacGetBoneIndex(int bone) {
    return At(Model().bones, bone).index;
}
bool fnbacGetBoneChild(int bone) {
    return At(Model().bones, bone).hasChild;
}
bool fnbacGetBoneBrother(int bone) {
    return At(Model().bones, bone).hasBrother;
}
void fnbacGetBonePosition(int bone, float out[3]) {
    quenlo::figread::Copy3(At(Model().bones, bone).translate, out);
}
void fnbacGetBoneRotation(int bone, float out[3]) {
    quenlo::figread::Copy3(At(Model().bones, bone).rotate, out);
}
void fnbacGetBoneHandle(int bone, float out[3]) {
    quenlo::figread::Copy3(At(Model().bones, bone).handle, out);
}
unsigned fnbacGetBoneVertexNumber(int bone) {
    return At(Model().bones, bone).vertexIndices.size();
}
void fnbacGetBoneVertexAllValue(int bone, int* out, unsigned count) {
    const std::vector<int>& list = At(Model().bones, bone).vertexIndices;
    size_t n = std::min<size_t>(count, list.size());
    if (n && out) std::memcpy(out, list.data(), n * sizeof(int));
}

int fnbacSetMotorNumber(void) {
    int n = 0;
    for (const quenlo::figread::BacBone& b : Model().bones)
        if (b.motorIndex >= 0) ++n;
    return n;
}
int fnbacGetMotorIndex(int bone) {
    return At(Model().bones, bone).motorIndex;
}
int fnbacGetMotorGroup(int bone) {
    return At(Model().bones, bone).motorGroup;
}
bool fnbacGetMotorRevers(int bone) {
    return At(Model().bones, bone).reverse;
}

int fnbacGetDynamicPolygonNumber(void) {
    return 0;
}
int fnbacGetDynamicPolygonMember(int) {
    return 0;
}
int fnbacGetDynamicPolygonVtxNumber(int, int) {
    return 0;
}
int fnbacGetDynamicPolygonVertex(int, int, int[]) {
    return 0;
}
int fnbacGetDynamicPolygonUv(int, int, int[]) {
    return 0;
}
int fnbacGetDynamicPolygonBone(int, int) {
    return -1;
}
int fnbacGetDynamicPolygonMaterialr(int, int) {
    return -1;
}
int fnbacGetMajorsVersion(void) {
    return 0;
}
int fnbacGetMinorVersion(void) {
    return 24;
}

int fnfigread(void) {
    return 42;
}
int nfigread = 0;

}  // extern "C"

Cfigread::Cfigread() {}
Cfigread& Cfigread::operator=(const Cfigread&) {
    return *this;
}
