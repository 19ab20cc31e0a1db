// The conversion job: model and motions read and converted into the board's
// commands, with the console lines of the main window.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "quenlo/operator_ui.h"

class CDataInfo;

namespace quenlo {

// Analyses the model, converts every motion file in list order and builds the
// frame commands, with the console lines of the main window. rate_index is the
// playback-rate list index, -1 for none. Answers the conversion, or null after
// telling the operator which file is not valid.
std::unique_ptr<CDataInfo> RunConversion(OperatorUi& ui, const std::string& bac_path,
                                         const std::vector<std::string>& motion_paths,
                                         int rate_index);

// The Convert button: the model field's first line (at most 250 characters)
// must name a .bac file and the motion list must not be empty, else the
// operator is told which is missing; then RunConversion.
std::unique_ptr<CDataInfo> Convert(OperatorUi& ui, const std::string& bac_field,
                                   const std::vector<std::string>& motion_paths, int rate_index);
// The same after a drop: the checks are silent and a missing input is no error.
std::unique_ptr<CDataInfo> TryAutoConversion(OperatorUi& ui, const std::string& bac_field,
                                             const std::vector<std::string>& motion_paths,
                                             int rate_index);
// Whether TryAutoConversion would convert: a .bac model and at least one motion.
bool AutoConversionReady(const std::string& bac_field,
                         const std::vector<std::string>& motion_paths);

// Why the file at path cannot be read (the system's reason: "Permission
// denied", "a directory", "not a regular file" ...); empty when it can.
std::string FileReadProblem(const std::string& path);

}  // namespace quenlo
