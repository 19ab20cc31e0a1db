// The value handlers: each reads what follows its keyword into the model and
// answers the scanner's next job code.
#include <cstdio>
#include <new>
#include <utility>

#include "numbers.h"
#include "scanner.h"

namespace quenlo::figread {
namespace {

// Value records that cannot be stored are skipped without a message.
template <class List, class Value>
void Append(List& list, Value&& v) {
    try {
        list.push_back(std::forward<Value>(v));
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace

int Scanner::CapInt(int g) const {
    return ToInt(Cap(g));
}
float Scanner::CapFloat(int g) const {
    return ToFloat(Cap(g));
}

void Scanner::Error(const char* what) {
    std::fprintf(stderr, " %s line=%lld\n", what, line_);
}

int Scanner::Call(Handler h) {
    switch (h) {
        case Handler::None:
        case Handler::Container:
            return kInChunk;
        case Handler::FigureName:
            if (!S(kQuoted)) return kValueNextLine;
            m_->figureName = Cap(1);
            Advance();
            return kInChunk;
        case Handler::TextureSize: {
            if (!S(kIntegerPair)) return kValueNextLine;
            BacTexture t;
            t.sizeY = CapInt(1);
            t.sizeX = CapInt(2);
            Advance();
            Append(m_->textures, t);
            return kInChunk;
        }
        case Handler::Color:
        case Handler::Vertex:
        case Handler::Normal: {
            if (!S(kThreeNumbers)) return kValueNextLine;
            Vec3 v = ReadThree(cur_);
            Advance();
            if (h == Handler::Color)
                Append(m_->colors, BacColor{v[0], v[1], v[2]});
            else
                Append(h == Handler::Vertex ? m_->vertices : m_->normals, v);
            return kInChunk;
        }
        case Handler::TexCoord:
            // Returns 0 like the vertex reader, so chunks after it still count.
            if (!S(kTwoNumbers)) return kValueNextLine;
            Append(m_->uvs, Vec2{CapFloat(1), CapFloat(6)});
            Advance();
            return kInChunk;
        case Handler::Material:
            try {
                m_->materials.emplace_back();
            } catch (const std::bad_alloc&) {
                Error("memory error *fncMaterialSet()");
                return kValueNextLine;
            }
            return kInMaterial;
        case Handler::Bone:
            try {
                m_->bones.emplace_back();
            } catch (const std::bad_alloc&) {
                Error("memory error *funcBoneSet()");
                return kChunkNextLine;
            }
            m_->bones.back().index = bone_counter_++;
            return kBoneNextLine;
        case Handler::Polygons:
            state_.groupMode = false;
            return kInChunk;
        case Handler::Group:
            state_.groupMode = true;
            Append(m_->groups, BacGroup());
            return kGroupNextLine;
        case Handler::Face:
            return Face();
        case Handler::MaterialName:
            if (!S(kQuoted)) {
                Error("material name error");
                return kMaterialNextLine;
            }
            if (BacMaterial* mat = LastMaterial()) mat->name = Cap(1);
            Advance();
            return kMaterialNextLine;
        case Handler::MaterialBlend:
            if (!S(kWord)) {
                Error("material mode error");
                return kMaterialNextLine;
            }
            if (BacMaterial* mat = LastMaterial()) mat->blendMode = Cap(1);
            Advance();
            return kMaterialNextLine;
        case Handler::MaterialFlag: {
            if (!S(kBoolean)) {
                Error("material flag error");
                return kMaterialNextLine;
            }
            bool value = Cap(1) == "true";
            Advance();
            if (BacMaterial* mat = LastMaterial()) {
                if (keyword_ == "doubleFace")
                    mat->doubleFace = value;
                else if (keyword_ == "transparent")
                    mat->transparent = value;
                else
                    mat->lighting = value;
            }
            return kMaterialNextLine;
        }
        case Handler::MaterialIndex: {
            if (!S(kInteger)) return kMaterialNextLine;
            int value = CapInt(1);
            Advance();
            if (BacMaterial* mat = LastMaterial())
                (keyword_ == "textureIndex" ? mat->textureIndex : mat->colorIndex) = value;
            return kMaterialNextLine;
        }
        case Handler::MaterialNumber: {
            if (!S(kOneNumber)) return kInMaterial;
            float value = CapFloat(1);
            Advance();
            if (BacMaterial* mat = LastMaterial()) {
                if (keyword_ == "specular")
                    mat->specular = value;
                else if (keyword_ == "alpha")
                    mat->alpha = value;
                else
                    mat->shininess = value;
            }
            return kInMaterial;
        }
        case Handler::BoneName:
            return BoneName();
        case Handler::BoneFlag: {
            if (!S(kBoolean)) return kBoneNextLine;
            bool value = Cap(1) == "true";
            Advance();
            if (BacBone* bone = LastBone())
                (keyword_ == "hasChild" ? bone->hasChild : bone->hasBrother) = value;
            return kBoneNextLine;
        }
        case Handler::BoneVector: {
            if (!S(kThreeNumbers)) return kValueNextLine;
            Vec3 v = ReadThree(cur_);
            Advance();
            if (BacBone* bone = LastBone()) {
                if (keyword_ == "translate")
                    bone->translate = v;
                else if (keyword_ == "rotate")
                    bone->rotate = v;
                else
                    bone->handle = v;
            }
            return kBoneNextLine;
        }
        case Handler::BoneVertices: {
            BacBone* bone = LastBone();
            while (S(kInteger)) {
                int v = CapInt(1);
                Advance();
                if (bone) Append(bone->vertexIndices, v);
            }
            return S(kClosing) ? kBoneNextLine : kValueNextLine;
        }
    }
    return kInChunk;
}

int Scanner::BoneName() {
    if (!S(kQuoted)) {
        Error("bone name error");
        return kBoneNextLine;
    }
    std::string text = Cap(1);
    int advance = match_.End(0);
    if (BacBone* bone = LastBone()) {
        bone->name.clear();
        if (match_.Search(kMotorTag, text.data(), text.data() + text.size())) {
            // "(ID-05R)": the letters give the group, the digits the index.
            size_t at = static_cast<size_t>(match_.Beg(0));
            bone->motorGroup = text[at + 1] == 'O' ? 1 : 0;
            bone->motorIndex = (text[at + 4] - '0') * 10 + (text[at + 5] - '0');
            if (text[at + 6] == 'R') bone->reverse = true;
            bone->name = text.substr(0, at);
        } else {
            bone->name = text;
        }
    }
    cur_ += advance;
    return kBoneNextLine;
}

int Scanner::Face() {
    if (!S(kInteger)) return kChunkNextLine;
    BacPolygon p;
    p.material = CapInt(1);
    Advance();
    if (S(kFaceForm)) {
        std::string form = Cap(1);
        if (form == "i3" && S(kTriangle)) {
            p.corners = 3;
            for (int i = 0; i < 3; ++i) {
                p.vertex[i] = CapInt(3 - i);
                p.uv[i] = CapInt(6 - i);
            }
            Advance();
        } else if (form == "i4" && S(kQuad)) {
            p.corners = 4;
            for (int i = 0; i < 4; ++i) {
                p.vertex[i] = CapInt(4 - i);
                p.uv[i] = CapInt(8 - i);
            }
            Advance();
        }
    }
    // With no group to take it (group mode left over from an earlier
    // file), the face goes where a fresh analysis would put it.
    if (state_.groupMode && !m_->groups.empty())
        Append(m_->groups.back().faces, p);
    else
        Append(m_->polygons, p);
    return kChunkNextLine;
}

}  // namespace quenlo::figread
