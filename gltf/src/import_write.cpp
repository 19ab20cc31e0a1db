// Writing an import's files: every one to its temporary file first, then all
// put in place, so a refusal or a failed write leaves none behind.
#include <memory>

#include "gltf.h"
#include "quenlo/platform.h"

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
    // The temporary files are removed by their destructors until committed.
    std::vector<std::unique_ptr<OutputFile>> files;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        files.push_back(std::make_unique<OutputFile>(paths[i]));
        OutputFile& f = *files.back();
        if (!f.Open() || !f.Write(texts[i].data(), texts[i].size())) {
            if (error) *error = f.error();
            return false;
        }
    }
    for (auto& f : files)
        if (!f->Commit()) {
            if (error) *error = f->error();
            return false;
        }
    return true;
}

}  // namespace quenlo::gltf
