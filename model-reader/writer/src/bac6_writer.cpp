#include "bac6_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quenlo::bac6 {
namespace {

// figread reads a line in pieces of 32767 bytes; long index lists wrap well
// before that.
constexpr std::size_t kWrapAt = 1000;

std::string Quoted(const std::string& text) {
    return "'" + text.substr(0, 64) + "'";
}

std::string CheckName(const char* what, const std::string& name) {
    if (name.size() > kMaxNameBytes)
        return std::string(what) + " name longer than " + std::to_string(kMaxNameBytes) + " bytes";
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '"')
            return std::string(what) + " name " + Quoted(name) + " holds a quote or a control byte";
    return {};
}

template <class List>
std::string CheckFinite(const char* what, const List& list) {
    for (std::size_t i = 0; i < list.size(); ++i)
        for (float v : list[i])
            if (!std::isfinite(v))
                return std::string(what) + ' ' + std::to_string(i) + " is not finite";
    return {};
}

bool InRange(int index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) < size;
}

class Out {
  public:
    Out(std::string& s, int decimals) : s_(s), decimals_(decimals) {}

    Out& operator<<(const char* t) {
        s_ += t;
        return *this;
    }
    Out& operator<<(const std::string& t) {
        s_ += t;
        return *this;
    }
    Out& operator<<(int v) {
        char buf[16];
        s_.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
        return *this;
    }
    // A measure: fixed decimals when asked for, else exact.
    void Measure(float v) {
        if (decimals_ < 0) return Exact(v);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", decimals_, v == 0 ? 0.0 : static_cast<double>(v));
        s_ += buf;
    }
    // The shortest text that reads back to the same float, with a decimal
    // point so it reads as what it is.
    void Exact(float v) {
        char buf[32];
        char* end = std::to_chars(buf, buf + sizeof buf, v == 0 ? 0.0f : v).ptr;
        const std::string_view text(buf, static_cast<std::size_t>(end - buf));
        s_ += text;
        if (text.find_first_of(".e") == std::string_view::npos) s_ += ".0";
    }
    void Triple(const char* word, const Vec3& v) {
        s_ += '(';
        s_ += word;
        for (float f : v) {
            s_ += ' ';
            Measure(f);
        }
        s_ += ")\n";
    }
    void Bool(const char* word, bool v) { *this << "(" << word << (v ? " true)\n" : " false)\n"); }
    std::size_t Size() const { return s_.size(); }

  private:
    std::string& s_;
    int decimals_;
};

void WriteMaterial(Out& o, const Material& m) {
    o << "(material\n(name \"" << m.name << "\")\n(blendMode " << m.blendMode << ")\n";
    o.Bool("doubleFace", m.doubleFace);
    // Most models have neither; figread's defaults stand for them.
    if (m.transparent) o.Bool("transparent", true);
    if (m.lighting) o.Bool("lighting", true);
    if (m.textureIndex != -1) o << "(textureIndex " << m.textureIndex << ")\n";
    o << "(colorIndex " << m.colorIndex << ")\n(alpha ";
    o.Exact(m.alpha);
    o << ")\n(specular ";
    o.Measure(m.specular);
    o << ")\n(shininess ";
    o.Measure(m.shininess);
    o << ")\n)\n";
}

void WriteBone(Out& o, const Bone& b) {
    o << "(bone\n(name \"" << b.name << "\")\n";
    o.Bool("hasChild", b.hasChild);
    o.Bool("hasBrother", b.hasBrother);
    o.Triple("translate", b.translate);
    o.Triple("rotate", b.rotate);
    o.Triple("handle", b.handle);
    o << "(vertexIndices";
    std::size_t line = o.Size();
    for (int v : b.vertexIndices) {
        if (o.Size() - line > kWrapAt) {
            o << "\n";
            line = o.Size();
        }
        o << " " << v;
    }
    o << ")\n)\n";
}

void WritePolygon(Out& o, const Polygon& p) {
    const char* form = p.corners == 3 ? "i3" : "i4";
    o << "(face " << p.material << " ( " << form;
    for (int i = p.corners - 1; i >= 0; --i) o << " " << p.vertex[static_cast<std::size_t>(i)];
    o << " ) ( " << form;
    for (int i = p.corners - 1; i >= 0; --i) o << " " << p.uv[static_cast<std::size_t>(i)];
    o << " ))\n";
}

}  // namespace

std::string Check(const Model& model) {
    std::string why = CheckName("figure", model.figureName);
    for (std::size_t i = 0; i < model.colors.size() && why.empty(); ++i) {
        const Color& c = model.colors[i];
        if (!std::isfinite(c.r) || !std::isfinite(c.g) || !std::isfinite(c.b))
            why = "colour " + std::to_string(i) + " is not finite";
    }
    if (why.empty()) why = CheckFinite("vertex", model.vertices);
    if (why.empty()) why = CheckFinite("normal", model.normals);
    if (why.empty()) why = CheckFinite("texture coordinate", model.uvs);
    if (!why.empty()) return why;
    if (!model.normals.empty() && model.normals.size() != model.vertices.size())
        return std::to_string(model.normals.size()) + " normals for " +
               std::to_string(model.vertices.size()) + " vertices";
    const std::size_t vertices = model.vertices.size();
    for (std::size_t i = 0; i < model.materials.size(); ++i) {
        const Material& m = model.materials[i];
        const std::string which = "material " + std::to_string(i);
        if (!(why = CheckName("material", m.name)).empty()) return why;
        if (m.blendMode.empty() ||
            m.blendMode.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                          "0123456789_") != std::string::npos)
            return which + ": blend mode " + Quoted(m.blendMode) + " is not one word";
        if (m.textureIndex != -1 && !InRange(m.textureIndex, model.textures.size()))
            return which + ": texture " + std::to_string(m.textureIndex) + " does not exist";
        if (!InRange(m.colorIndex, model.colors.size()))
            return which + ": colour " + std::to_string(m.colorIndex) + " does not exist";
        if (!std::isfinite(m.alpha) || !std::isfinite(m.specular) || !std::isfinite(m.shininess))
            return which + ": a number is not finite";
    }
    for (const Bone& b : model.bones) {
        if (!(why = CheckName("bone", b.name)).empty()) return why;
        for (const Vec3* v : {&b.translate, &b.rotate, &b.handle})
            for (float f : *v)
                if (!std::isfinite(f)) return "bone " + Quoted(b.name) + ": a point is not finite";
        for (int v : b.vertexIndices)
            if (!InRange(v, vertices))
                return "bone " + Quoted(b.name) + ": vertex " + std::to_string(v) +
                       " does not exist";
    }
    for (std::size_t i = 0; i < model.polygons.size(); ++i) {
        const Polygon& p = model.polygons[i];
        const std::string which = "polygon " + std::to_string(i);
        if (p.corners != 3 && p.corners != 4)
            return which + " has " + std::to_string(p.corners) + " corners, not 3 or 4";
        if (!InRange(p.material, model.materials.size()))
            return which + ": material " + std::to_string(p.material) + " does not exist";
        for (int c = 0; c < p.corners; ++c) {
            const auto k = static_cast<std::size_t>(c);
            if (!InRange(p.vertex[k], vertices))
                return which + ": vertex " + std::to_string(p.vertex[k]) + " does not exist";
            if (!model.uvs.empty() && !InRange(p.uv[k], model.uvs.size()))
                return which + ": texture coordinate " + std::to_string(p.uv[k]) +
                       " does not exist";
        }
    }
    return {};
}

bool ToText(const Model& model, std::string& out, std::string* error, const WriteOptions& options) {
    std::string why = Check(model);
    if (!why.empty()) {
        if (error) *error = why;
        return false;
    }
    out.clear();
    Out o(out, options.decimals);
    o << ";BAC\n(bacVersion 6.0)\n(Figure\n(name \"" << model.figureName << "\")\n";
    // Each chunk only when it has entries, in the order figread lists them.
    if (!model.textures.empty()) {
        o << "(Textures\n";
        for (const Texture& t : model.textures) o << "(i2 " << t.sizeY << " " << t.sizeX << ")\n";
        o << ")\n";
    }
    if (!model.colors.empty()) {
        o << "(Colors\n";
        for (const Color& c : model.colors) o.Triple("f3", {c.r, c.g, c.b});
        o << ")\n";
    }
    if (!model.materials.empty()) {
        o << "(Materials\n";
        for (const Material& m : model.materials) WriteMaterial(o, m);
        o << ")\n";
    }
    if (!model.vertices.empty()) {
        o << "(Vertices\n(coords\n";
        for (const Vec3& v : model.vertices) o.Triple("pnt", v);
        o << ")\n";
        if (!model.normals.empty()) {
            o << "(normals\n";
            for (const Vec3& v : model.normals) o.Triple("vct", v);
            o << ")\n";
        }
        o << ")\n";
    }
    if (!model.bones.empty()) {
        o << "(Bones\n";
        for (const Bone& b : model.bones) WriteBone(o, b);
        o << ")\n";
    }
    if (!model.polygons.empty()) {
        o << "(Polygons\n";
        for (const Polygon& p : model.polygons) WritePolygon(o, p);
        o << ")\n";
    }
    if (!model.uvs.empty()) {
        o << "(TextureCoords\n";
        for (const Vec2& uv : model.uvs) {
            o << "(f2 ";
            o.Exact(uv[0]);
            o << " ";
            o.Exact(uv[1]);
            o << ")\n";
        }
        o << ")\n";
    }
    o << ")\n";
    return true;
}

}  // namespace quenlo::bac6
