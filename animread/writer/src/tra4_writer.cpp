#include "tra4_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <unordered_set>

namespace quenlo::tra4 {

Bone& Motion::AddBone(std::string name, bool mirror) {
    Bone& bone = bones.emplace_back();
    bone.name = std::move(name);
    bone.mirror = mirror;
    Key rest;
    rest.rotate = {0, 0, 1};
    bone.keys.assign(times.size(), rest);
    return bone;
}

namespace {

bool NameByteAllowed(unsigned char c) {
    return c >= 0x20 && c != 0x7F && c != '"';
}

std::string Quoted(std::string_view text) {
    std::string out = "'";
    out.append(text.substr(0, 64));
    out += "'";
    return out;
}

std::string CheckValue(const char* what, float v) {
    if (!std::isfinite(v)) return std::string(what) + " value is not finite";
    if (std::fabs(v) > kMaxValue)
        return std::string(what) + " value " + std::to_string(v) + " is beyond " +
               std::to_string(static_cast<long>(kMaxValue));
    return {};
}

std::string CheckKey(const Key& key) {
    std::string why;
    for (float v : key.rotate)
        if (why.empty()) why = CheckValue("rotate", v);
    for (float v : key.translate)
        if (why.empty()) why = CheckValue("translate", v);
    if (why.empty()) why = CheckValue("roll", key.roll);
    if (why.empty() && key.rotate == std::array<float, 3>{}) why = "rotate is the zero vector";
    return why;
}

void AppendFloat(std::string& out, float v) {
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void AppendInt(std::string& out, int v) {
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, res.ptr);
}

void AppendTriple(std::string& out, const char* word, const std::array<float, 3>& v) {
    out += " (";
    out += word;
    for (float f : v) {
        out += ' ';
        AppendFloat(out, f);
    }
    out += ')';
}

}  // namespace

std::string Check(const Motion& motion) {
    if (motion.times.empty()) return "no key time: a motion needs at least one key";
    if (motion.times.size() > kMaxKeys)
        return "more than " + std::to_string(kMaxKeys) + " key times";
    if (motion.bones.size() > kMaxBones) return "more than " + std::to_string(kMaxBones) + " bones";
    for (std::size_t k = 0; k < motion.times.size(); ++k) {
        int t = motion.times[k];
        if (t < 0 || t > kMaxKeyTime)
            return "key time " + std::to_string(t) + " outside 0 to " + std::to_string(kMaxKeyTime);
        if (k > 0 && t <= motion.times[k - 1])
            return "key time " + std::to_string(t) + " is not after " +
                   std::to_string(motion.times[k - 1]);
    }
    std::unordered_set<std::string_view> names;
    for (const Bone& bone : motion.bones) {
        if (!names.insert(bone.name).second)
            return "bone " + Quoted(bone.name) + " is listed twice";
        if (bone.name.size() > kMaxNameBytes)
            return "bone name longer than " + std::to_string(kMaxNameBytes) + " bytes";
        for (unsigned char c : bone.name)
            if (!NameByteAllowed(c))
                return "bone name " + Quoted(bone.name) + " holds a quote or a control byte";
        if (bone.keys.size() != motion.times.size())
            return "bone " + Quoted(bone.name) + " has " + std::to_string(bone.keys.size()) +
                   " keys, the motion has " + std::to_string(motion.times.size()) + " key times";
        for (const Key& key : bone.keys) {
            std::string why = CheckKey(key);
            if (!why.empty()) return "bone " + Quoted(bone.name) + ": " + why;
        }
    }
    return {};
}

bool ToText(const Motion& motion, std::string& out, std::string* error,
            const WriteOptions& options) {
    std::string why = Check(motion);
    if (!why.empty()) {
        if (error) *error = why;
        return false;
    }
    const char* eol = options.crlf ? "\r\n" : "\n";
    out.clear();
    out += ";TRA";
    out += eol;
    out += "(traVersion 4)";
    out += eol;
    if (!options.comment.empty()) {
        std::string_view rest = options.comment;
        while (true) {
            std::size_t nl = rest.find('\n');
            std::string_view line = rest.substr(0, nl);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            out += "; ";
            out.append(line);
            out += eol;
            if (nl == std::string_view::npos) break;
            rest.remove_prefix(nl + 1);
        }
    }
    out += "(keys";
    for (std::size_t k = 0; k < motion.times.size(); ++k) {
        // Long key lists wrap so the file stays readable.
        if (k > 0 && k % 16 == 0) {
            out += eol;
            out += "  ";
        } else {
            out += ' ';
        }
        AppendInt(out, motion.times[k]);
    }
    out += ')';
    out += eol;
    for (const Bone& bone : motion.bones) {
        out += "(bone \"";
        out += bone.name;
        out += "\" (mirror ";
        out += bone.mirror ? "true" : "false";
        out += ')';
        out += eol;
        for (std::size_t k = 0; k < bone.keys.size(); ++k) {
            const Key& key = bone.keys[k];
            out += "  (key ";
            AppendInt(out, motion.times[k]);
            AppendTriple(out, "rotate", key.rotate);
            AppendTriple(out, "translate", key.translate);
            out += " (roll ";
            AppendFloat(out, key.roll);
            out += "))";
            out += eol;
        }
        out += ')';
        out += eol;
    }
    return true;
}

}  // namespace quenlo::tra4
