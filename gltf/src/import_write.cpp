// Writing an import's files: all aside first, then renamed into place, so a
// failure leaves none of them behind.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "gltf.h"

namespace quenlo::gltf {

bool WriteImport(const ImportResult& result, const std::string& dir, const std::string& stem,
                 std::string* error) {
    const std::vector<std::string> paths = ImportPaths(result, dir, stem);
    std::vector<std::string> texts(paths.size());
    std::string why;
    if (!bac6::ToText(result.model, texts[0], &why)) {
        if (error) *error = paths[0] + ": " + why;
        return false;
    }
    for (std::size_t i = 0; i < result.motions.size(); ++i)
        if (!tra4::ToText(result.motions[i].motion, texts[i + 1], &why)) {
            if (error) *error = paths[i + 1] + ": " + why;
            return false;
        }
    std::vector<std::string> parts;
    auto discard = [&] {
        for (const std::string& p : parts) std::remove(p.c_str());
    };
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string part = paths[i] + ".part";
        parts.push_back(part);
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        out.write(texts[i].data(), static_cast<std::streamsize>(texts[i].size()));
        out.close();
        if (!out) {
            if (error) *error = "cannot write " + part + ": " + std::strerror(errno ? errno : EIO);
            discard();
            return false;
        }
    }
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (std::rename(parts[i].c_str(), paths[i].c_str()) != 0) {
            if (error) *error = "cannot write " + paths[i] + ": " + std::strerror(errno);
            discard();
            return false;
        }
    return true;
}

}  // namespace quenlo::gltf
