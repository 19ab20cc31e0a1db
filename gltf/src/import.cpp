// The import's order of steps, and where its files go.
#include <sys/stat.h>
#include <tiny_gltf.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "import_steps.h"
#include "scene_load.h"

namespace quenlo::gltf {
namespace {

// Scenes larger than this are refused rather than read.
constexpr std::uintmax_t kMaxSceneBytes = 1u << 30;

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool ImportMemory(const unsigned char* data, std::size_t size, const std::string& base_dir,
                  const ImportOptions& options, ImportResult& result, std::string* error) {
    std::string why;
    result = {};
    tinygltf::Model model;
    if (!LoadScene(data, size, base_dir, model, why)) {
        if (error) *error = why;
        return false;
    }
    Scene scene{model, {}, {}, {}, {}};
    Skeleton skeleton;
    const bool ok = ReadScene(scene, why) && BuildBones(scene, options, skeleton, result, why) &&
                    BuildMesh(scene, skeleton, result, why) &&
                    BuildMotions(scene, skeleton, options, result, why);
    if (ok) {
        const std::string reason = bac6::Check(result.model);
        if (!reason.empty()) why = "the model cannot be written: " + reason;
    }
    if (!ok || !why.empty()) {
        result = {};
        if (error) *error = why;
        return false;
    }
    return true;
}

bool ImportFile(const std::string& path, const ImportOptions& options, ImportResult& result,
                std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        result = {};
        return false;
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail(std::string("cannot open: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail("not a regular file");
    if (static_cast<std::uintmax_t>(st.st_size) > kMaxSceneBytes) return fail("larger than 1 GiB");
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(st.st_size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()), st.st_size))
        return fail(std::string("cannot read: ") + std::strerror(errno ? errno : EIO));
    return ImportMemory(bytes.data(), bytes.size(), FolderOf(path), options, result, error);
}

std::vector<std::string> ImportPaths(const ImportResult& result, const std::string& dir,
                                     const std::string& stem) {
    const std::string base = (dir.empty() ? std::string(".") : dir) + "/" + stem;
    std::vector<std::string> paths{base + ".bac"};
    for (const ImportedMotion& m : result.motions) paths.push_back(base + "-" + m.name + ".tra");
    return paths;
}

}  // namespace quenlo::gltf
