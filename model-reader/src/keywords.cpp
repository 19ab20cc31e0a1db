// The three keyword tables, searched in order as written.
#include "keywords.h"

#include <cstddef>
#include <string_view>

namespace quenlo::figread {
namespace {

struct Row {
    std::string_view word;
    Handler handler;
};

constexpr Row kChunkTable[] = {
    {"name", Handler::FigureName},
    {"Textures", Handler::Container},
    {"i2", Handler::TextureSize},
    {"Colors", Handler::Container},
    {"f3", Handler::Color},
    {"Materials", Handler::Container},
    {"material", Handler::Material},
    {"Vertices", Handler::Container},
    {"coords", Handler::Container},
    {"normals", Handler::Container},
    {"pnt", Handler::Vertex},
    {"vct", Handler::Normal},
    {"Bones", Handler::Container},
    {"bone", Handler::Bone},
    {"TextureCoords", Handler::Container},
    {"f2", Handler::TexCoord},
    {"Polygons", Handler::Polygons},
    {"DynamicPolygons", Handler::Container},
    {"group", Handler::Group},
    {"face", Handler::Face},
};

constexpr Row kMaterialTable[] = {
    {"name", Handler::MaterialName},        {"blendMode", Handler::MaterialBlend},
    {"doubleFace", Handler::MaterialFlag},  {"transparent", Handler::MaterialFlag},
    {"lighting", Handler::MaterialFlag},    {"textureIndex", Handler::MaterialIndex},
    {"colorIndex", Handler::MaterialIndex}, {"specular", Handler::MaterialNumber},
    {"alpha", Handler::MaterialNumber},     {"shininess", Handler::MaterialNumber},
};

constexpr Row kBoneTable[] = {
    {"name", Handler::BoneName},
    {"hasChild", Handler::BoneFlag},
    {"hasBrother", Handler::BoneFlag},
    {"translate", Handler::BoneVector},
    {"rotate", Handler::BoneVector},
    {"handle", Handler::BoneVector},
    {"vertexIndices", Handler::BoneVertices},
    {"bone", Handler::Bone},
};

template <size_t N>
Handler Lookup(const Row (&table)[N], const std::string& word) {
    for (const Row& row : table)
        if (row.word == word) return row.handler;
    return Handler::None;
}

}  // namespace

Handler ChunkHandler(const std::string& word) {
    return Lookup(kChunkTable, word);
}
Handler MaterialHandler(const std::string& word) {
    return Lookup(kMaterialTable, word);
}
Handler BoneHandler(const std::string& word) {
    return Lookup(kBoneTable, word);
}

}  // namespace quenlo::figread
