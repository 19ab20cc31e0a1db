#include "tra4_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>

namespace quenlo::tra4 {

Key Sample(const Motion& motion, const Bone& bone, int time) {
    const auto& times = motion.times;
    const std::size_t n = std::min(times.size(), bone.keys.size());
    if (n == 0) return {};
    if (time <= times[0]) return bone.keys[0];
    if (time >= times[n - 1]) return bone.keys[n - 1];
    const std::size_t hi = std::upper_bound(times.begin(), times.begin() + n, time) - times.begin();
    const std::size_t lo = hi - 1;
    const Key& a = bone.keys[lo];
    if (times[lo] == time) return a;
    const Key& b = bone.keys[hi];
    const double f = static_cast<double>(time - times[lo]) / (times[hi] - times[lo]);
    auto lerp = [f](float x, float y) {
        return static_cast<float>(x + (static_cast<double>(y) - x) * f);
    };
    Key k;
    for (int i = 0; i < 3; ++i) {
        k.rotate[i] = lerp(a.rotate[i], b.rotate[i]);
        k.translate[i] = lerp(a.translate[i], b.translate[i]);
    }
    k.roll = lerp(a.roll, b.roll);
    return k;
}

namespace {

// Reads at most one byte past the limit, so a huge or endless file costs no
// more than the limit.
bool ReadWhole(const char* path, std::string& text, std::string& why) {
    std::error_code ec;
    auto status = std::filesystem::status(path, ec);
    if (!ec && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        why = "not a regular file";
        return false;
    }
    std::FILE* f = std::fopen(path, "rb");
    if (!f) {
        why = std::string("cannot open (") + std::strerror(errno) + ")";
        return false;
    }
    text.clear();
    char buf[65536];
    bool ok = true;
    while (text.size() <= kMaxFileBytes) {
        std::size_t got = std::fread(buf, 1, sizeof buf, f);
        text.append(buf, got);
        if (got < sizeof buf) {
            if (std::ferror(f)) {
                why = std::string("cannot read (") + std::strerror(errno) + ")";
                ok = false;
            }
            break;
        }
    }
    std::fclose(f);
    return ok;
}

}  // namespace

int Reader::Fail(std::string_view name, const ParseError& error) {
    motion_.reset();
    const std::string line = FormatError(name, error);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    return 1;
}

int Reader::Analyse(const char* path) {
    if (!path) return Fail("(null)", {0, "no file name given"});
    try {
        std::string text, why;
        if (!ReadWhole(path, text, why)) return Fail(path, {0, why});
        return AnalyseText(text, path);
    } catch (const std::bad_alloc&) {
        return Fail(path, {0, "out of memory"});
    }
}

int Reader::AnalyseText(std::string_view text, std::string_view name) {
    try {
        auto fresh = std::make_unique<Motion>();
        ParseError error;
        if (!Parse(text, *fresh, error)) return Fail(name, error);
        motion_ = std::move(fresh);
        return 0;
    } catch (const std::bad_alloc&) {
        return Fail(name, {0, "out of memory"});
    }
}

const Bone* Reader::BoneAt(int bone) const {
    if (!motion_ || bone < 0 || static_cast<std::size_t>(bone) >= motion_->bones.size())
        return nullptr;
    return &motion_->bones[bone];
}

unsigned Reader::KeyCount() const {
    return motion_ ? static_cast<unsigned>(motion_->times.size()) : 0;
}

unsigned Reader::BoneCount() const {
    return motion_ ? static_cast<unsigned>(motion_->bones.size()) : 0;
}

const char* Reader::BoneName(int bone) const {
    const Bone* b = BoneAt(bone);
    return b ? b->name.c_str() : nullptr;
}

bool Reader::Mirror(int bone) const {
    const Bone* b = BoneAt(bone);
    return b && b->mirror;
}

int Reader::KeyTime(int key) const {
    if (!motion_ || key < 0 || static_cast<std::size_t>(key) >= motion_->times.size()) return 0;
    return motion_->times[key];
}

void Reader::Rotate(int bone, int time, float out[3]) const {
    if (!out) return;
    const Bone* b = BoneAt(bone);
    const Key k = b ? Sample(*motion_, *b, time) : Key{};
    std::copy(k.rotate.begin(), k.rotate.end(), out);
}

void Reader::Translate(int bone, int time, float out[3]) const {
    if (!out) return;
    const Bone* b = BoneAt(bone);
    const Key k = b ? Sample(*motion_, *b, time) : Key{};
    std::copy(k.translate.begin(), k.translate.end(), out);
}

float Reader::Roll(int bone, int time) const {
    const Bone* b = BoneAt(bone);
    return b ? Sample(*motion_, *b, time).roll : 0.0f;
}

}  // namespace quenlo::tra4
