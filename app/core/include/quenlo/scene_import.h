// A glTF scene (.glb, .gltf) given to the main window: imported into a folder
// of the user's cache, whose model and motions the window then takes as if
// they had been dropped.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "quenlo/operator_ui.h"

namespace quenlo {

// A .glb or .gltf by its name (".glb" or ".GLB", ".gltf" or ".GLTF").
bool IsSceneFile(const std::string& path);

// Where a scene is imported: $XDG_CACHE_HOME/quenlo/import/STEM, under
// $HOME/.cache when XDG_CACHE_HOME is unset, empty or relative. Empty when
// neither gives a folder.
std::string SceneImportFolder(const std::string& scene);

struct ImportedScene {
    std::string model;                 // FOLDER/STEM.bac
    std::vector<std::string> motions;  // FOLDER/STEM-NAME.tra, in the scene's order
};

// Reads the scene and writes its model and motions into folder (created when
// missing), with motion-time units of the rate list's entry rate_index. The
// console gets the import's warnings, the lines quenlo-cli import prints and
// the folder. A scene that cannot be imported or written gets one line with
// its reason and leaves nothing behind: no file, and no folder made for it.
// It only writes to the console, so it may run on a worker.
std::optional<ImportedScene> ImportScene(OperatorUi& ui, const std::string& scene,
                                         const std::string& folder, int rate_index);

}  // namespace quenlo
