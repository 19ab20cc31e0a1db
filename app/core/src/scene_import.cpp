// A glTF scene imported for the main window: read, written whole into its
// folder, and reported.
#include "quenlo/scene_import.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "gltf.h"
#include "quenlo/dialog_state.h"
#include "quenlo/platform.h"

namespace quenlo {
namespace {

namespace fs = std::filesystem;

bool EndsWith(const std::string& s, const char* lower, const char* upper) {
    return s.ends_with(lower) || s.ends_with(upper);
}

// The folders create_directories would make for `folder`, deepest first.
std::vector<fs::path> MissingFolders(const fs::path& folder) {
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = folder; !p.empty() && !fs::exists(p, ec) && p != p.parent_path();
         p = p.parent_path())
        missing.push_back(p);
    return missing;
}

}  // namespace

bool IsSceneFile(const std::string& path) {
    return EndsWith(path, ".glb", ".GLB") || EndsWith(path, ".gltf", ".GLTF");
}

std::string SceneImportFolder(const std::string& scene) {
    std::string cache;
    const char* xdg = std::getenv("XDG_CACHE_HOME");
    if (xdg && xdg[0] == '/') {
        cache = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return {};
        cache = std::string(home) + "/.cache";
    }
    return cache + "/quenlo/import/" + fs::path(scene).stem().string();
}

std::optional<ImportedScene> ImportScene(OperatorUi& ui, const std::string& scene,
                                         const std::string& folder, int rate_index) {
    const char* name = scene.c_str();
    auto refuse = [&](const std::string& why) {
        ui.ConsoleFail(" %sは、インポートできません: %s\r\n", name, why.c_str());
        return std::nullopt;
    };
    if (folder.empty()) return refuse("no cache folder (HOME is not set)");
    gltf::ImportOptions options;
    options.rate_ms = RateMs(rate_index);
    gltf::ImportResult result;
    std::string error;
    if (!gltf::ImportFile(scene, options, result, &error)) return refuse(error);
    const std::string stem = fs::path(scene).stem().string();
    const std::vector<std::string> paths = gltf::ImportPaths(result, folder, stem);
    for (const std::string& path : paths)
        if (SameFile(scene, path)) return refuse("the output " + path + " is the scene itself");

    // Only a folder made here is taken away again.
    const std::vector<fs::path> made = MissingFolders(folder);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) error = "cannot make " + folder + ": " + ec.message();
    if (ec || !gltf::WriteImport(result, folder, stem, &error)) {
        for (const fs::path& p : made) fs::remove(p, ec);
        return refuse(error);
    }
    for (const std::string& w : result.warnings) ui.ConsolePrint(" 警告: %s\r\n", w.c_str());
    for (const std::string& line : gltf::ImportReport(result, paths))
        ui.ConsolePrint("%s\r\n", line.c_str());
    ui.ConsolePrint(" インポート先 = %s\r\n", folder.c_str());
    return ImportedScene{paths.front(), {paths.begin() + 1, paths.end()}};
}

}  // namespace quenlo
