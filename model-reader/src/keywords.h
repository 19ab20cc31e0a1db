// The keyword tables: which handler reads the value after each keyword.
#pragma once

#include <string>

namespace quenlo::figread {

enum class Handler {
    None,
    FigureName,
    Container,
    TextureSize,
    Color,
    Material,
    Vertex,
    Normal,
    Bone,
    TexCoord,
    Polygons,
    Group,
    Face,
    MaterialName,
    MaterialBlend,
    MaterialFlag,
    MaterialIndex,
    MaterialNumber,
    BoneName,
    BoneFlag,
    BoneVector,
    BoneVertices,
};

// The handler of a keyword at the top level, inside a material and inside a
// bone; None when that table lacks the keyword.
Handler ChunkHandler(const std::string& word);
Handler MaterialHandler(const std::string& word);
Handler BoneHandler(const std::string& word);

}  // namespace quenlo::figread
