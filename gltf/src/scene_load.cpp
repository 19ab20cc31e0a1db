#include "scene_load.h"

#include <sys/stat.h>
#include <tiny_gltf.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>

namespace quenlo::gltf {
namespace {

// Larger buffers than this are refused rather than read.
constexpr std::uintmax_t kMaxBufferBytes = 1u << 30;

// What the file-system callbacks allow: files in the scene's folder and below.
struct BufferFiles {
    std::string folder;   // with a trailing '/'
    bool none = false;    // no folder: every file is refused
    std::string refusal;  // the first URI refused, as a message
};

// The URI part of a path tinygltf joined to the folder, or false when the path
// is one of its other tries (the current folder) or the URI leaves the folder.
bool InFolder(BufferFiles& files, const std::string& path, std::string* uri) {
    if (path.compare(0, files.folder.size(), files.folder) != 0) return false;
    const std::string rest = path.substr(files.folder.size());
    std::string why;
    if (rest.empty())
        why = "is empty";
    else if (rest[0] == '/')
        why = "is absolute";
    else if (rest.find(':') != std::string::npos)
        why = "is not a relative file name";
    else {
        std::size_t start = 0;
        while (start <= rest.size()) {
            const std::size_t end = std::min(rest.find('/', start), rest.size());
            if (rest.compare(start, end - start, "..") == 0) why = "leaves the file's folder";
            start = end + 1;
        }
    }
    if (why.empty() && files.none) why = "names a file, and a scene read from memory has none";
    if (!why.empty()) {
        if (files.refusal.empty()) files.refusal = "buffer URI '" + rest + "' " + why;
        return false;
    }
    if (uri) *uri = rest;
    return true;
}

bool FileExists(const std::string& path, void* user) {
    return InFolder(*static_cast<BufferFiles*>(user), path, nullptr);
}

std::string ExpandFilePath(const std::string& path, void*) {
    return path;  // no '~' or variables: a URI names a file beside the scene
}

bool ReadWholeFile(std::vector<unsigned char>* out, std::string* err, const std::string& path,
                   void* user) {
    auto& files = *static_cast<BufferFiles*>(user);
    std::string uri;
    if (!InFolder(files, path, &uri)) return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        *err = "not a regular file";
        return false;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxBufferBytes) {
        *err = "larger than 1 GiB";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    out->assign(static_cast<std::size_t>(st.st_size), 0);
    if (!in.read(reinterpret_cast<char*>(out->data()), st.st_size)) {
        *err = "cannot read it";
        return false;
    }
    return true;
}

bool WriteWholeFile(std::string* err, const std::string&, const std::vector<unsigned char>&,
                    void*) {
    *err = "reading a scene writes nothing";
    return false;
}

std::string FirstLine(std::string text) {
    const std::size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    return text;
}

std::uint32_t Le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

}  // namespace

bool LoadScene(const unsigned char* data, std::size_t size, const std::string& base_dir,
               tinygltf::Model& model, std::string& error) {
    const bool binary = size >= 4 && std::memcmp(data, "glTF", 4) == 0;
    if (binary) {
        if (size < 20) {
            error = "truncated .glb: " + std::to_string(size) + " bytes, less than its header";
            return false;
        }
        const std::uint32_t length = Le32(data + 8);
        if (length > size) {
            error = "truncated .glb: its header says " + std::to_string(length) +
                    " bytes, the file has " + std::to_string(size);
            return false;
        }
    } else {
        std::size_t i = 0;
        if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) i = 3;
        while (i < size && std::strchr(" \t\r\n", data[i]) && data[i]) ++i;
        if (i == size || data[i] != '{') {
            error = "not glTF: neither a .glb nor a JSON .gltf";
            return false;
        }
    }
    if (size > std::numeric_limits<unsigned>::max()) {
        error = "larger than 4 GiB";
        return false;
    }

    BufferFiles files;
    files.none = base_dir.empty();
    files.folder = files.none ? std::string("/nonexistent/") : base_dir;
    if (files.folder.back() != '/') files.folder += '/';
    tinygltf::TinyGLTF loader;
    loader.SetFsCallbacks({&FileExists, &ExpandFilePath, &ReadWholeFile, &WriteWholeFile, &files});
    std::string err, warn;
    const std::string& folder = files.folder;
    bool ok = false;
    try {
        ok = binary ? loader.LoadBinaryFromMemory(&model, &err, &warn, data,
                                                  static_cast<unsigned>(size), folder)
                    : loader.LoadASCIIFromString(&model, &err, &warn,
                                                 reinterpret_cast<const char*>(data),
                                                 static_cast<unsigned>(size), folder);
    } catch (const std::exception& e) {
        // The JSON library throws on some malformed values.
        err = e.what();
        ok = false;
    }
    if (!files.refusal.empty()) {
        error = files.refusal;
        return false;
    }
    if (!ok) {
        // tinygltf refuses a few missing required properties without a word.
        if (err.empty()) err = "a required property is missing or not of its type";
        error = "not a readable glTF file: " + FirstLine(err);
        return false;
    }
    return true;
}

namespace {

double ComponentValue(const unsigned char* p, int type, bool normalized) {
    switch (type) {
        case TINYGLTF_COMPONENT_TYPE_FLOAT: {
            float f;
            std::memcpy(&f, p, 4);
            return f;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
            return normalized ? p[0] / 255.0 : p[0];
        case TINYGLTF_COMPONENT_TYPE_BYTE: {
            const auto v = static_cast<std::int8_t>(p[0]);
            return normalized ? std::max(v / 127.0, -1.0) : v;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
            std::uint16_t v;
            std::memcpy(&v, p, 2);
            return normalized ? v / 65535.0 : v;
        }
        case TINYGLTF_COMPONENT_TYPE_SHORT: {
            std::int16_t v;
            std::memcpy(&v, p, 2);
            return normalized ? std::max(v / 32767.0, -1.0) : v;
        }
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
            std::uint32_t v;
            std::memcpy(&v, p, 4);
            return normalized ? v / 4294967295.0 : v;
        }
    }
    return 0;
}

int ComponentsOf(int type) {
    switch (type) {
        case TINYGLTF_TYPE_SCALAR:
            return 1;
        case TINYGLTF_TYPE_VEC2:
            return 2;
        case TINYGLTF_TYPE_VEC3:
            return 3;
        case TINYGLTF_TYPE_VEC4:
            return 4;
        case TINYGLTF_TYPE_MAT2:
            return 4;
        case TINYGLTF_TYPE_MAT3:
            return 9;
        case TINYGLTF_TYPE_MAT4:
            return 16;
    }
    return 0;
}

const char* TypeName(int components) {
    switch (components) {
        case 1:
            return "SCALAR";
        case 2:
            return "VEC2";
        case 3:
            return "VEC3";
        case 4:
            return "VEC4";
        case 16:
            return "MAT4";
    }
    return "?";
}

}  // namespace

bool ReadAccessor(const tinygltf::Model& model, int index, int components, unsigned kinds,
                  const std::string& what, std::vector<double>& out, std::string& error) {
    out.clear();
    const std::string name = what + " (accessor " + std::to_string(index) + ")";
    if (index < 0 || static_cast<std::size_t>(index) >= model.accessors.size()) {
        error = what + ": accessor " + std::to_string(index) + " does not exist";
        return false;
    }
    const tinygltf::Accessor& a = model.accessors[index];
    if (a.sparse.isSparse) {
        error = name + ": sparse accessors are not supported";
        return false;
    }
    const int type = a.componentType;
    const bool is_float = type == TINYGLTF_COMPONENT_TYPE_FLOAT;
    const bool is_int = type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE ||
                        type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ||
                        type == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT ||
                        type == TINYGLTF_COMPONENT_TYPE_BYTE ||
                        type == TINYGLTF_COMPONENT_TYPE_SHORT;
    const bool allowed = (is_float && (kinds & kFloat)) ||
                         (is_int && !a.normalized && (kinds & kInteger)) ||
                         (is_int && a.normalized && (kinds & kNormalized));
    if (!allowed || ComponentsOf(a.type) != components) {
        error = name + ": not the expected " + TypeName(components) + " of " +
                ((kinds & kFloat) ? "floats" : "integers");
        return false;
    }
    if (a.count > (std::size_t{1} << 28)) {
        error = name + ": " + std::to_string(a.count) + " elements are too many";
        return false;
    }
    if (a.bufferView < 0) {  // no data: zeros, as glTF defines
        out.assign(a.count * components, 0.0);
        return true;
    }
    if (static_cast<std::size_t>(a.bufferView) >= model.bufferViews.size()) {
        error = name + ": buffer view " + std::to_string(a.bufferView) + " does not exist";
        return false;
    }
    const tinygltf::BufferView& view = model.bufferViews[a.bufferView];
    if (view.buffer < 0 || static_cast<std::size_t>(view.buffer) >= model.buffers.size()) {
        error = name + ": buffer " + std::to_string(view.buffer) + " does not exist";
        return false;
    }
    const std::vector<unsigned char>& buffer = model.buffers[view.buffer].data;
    if (view.byteOffset > buffer.size() || view.byteLength > buffer.size() - view.byteOffset) {
        error = name + ": buffer view " + std::to_string(a.bufferView) + " lies outside buffer " +
                std::to_string(view.buffer);
        return false;
    }
    const std::size_t component_bytes =
        static_cast<std::size_t>(tinygltf::GetComponentSizeInBytes(type));
    const std::size_t element = component_bytes * components;
    const std::size_t stride = view.byteStride ? view.byteStride : element;
    if (stride < element) {
        error = name + ": stride " + std::to_string(stride) + " is shorter than an element";
        return false;
    }
    if (a.count > 0 &&
        (a.byteOffset > view.byteLength || element > view.byteLength - a.byteOffset ||
         (a.count - 1) > (view.byteLength - a.byteOffset - element) / stride)) {
        error = name + ": " + std::to_string(a.count) + " elements reach beyond buffer view " +
                std::to_string(a.bufferView);
        return false;
    }
    out.resize(a.count * components);
    const unsigned char* base = buffer.data() + view.byteOffset + a.byteOffset;
    for (std::size_t i = 0; i < a.count; ++i) {
        const unsigned char* e = base + i * stride;
        for (int c = 0; c < components; ++c) {
            const double v = ComponentValue(e + c * component_bytes, type, a.normalized);
            if (!std::isfinite(v)) {
                error = name + ": element " + std::to_string(i) + " is not a finite number";
                return false;
            }
            out[i * components + c] = v;
        }
    }
    return true;
}

}  // namespace quenlo::gltf
