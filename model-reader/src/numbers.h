// Numbers read from captured text in the C locale, whatever the host program
// has set.
#pragma once

#include <string>

#include "bac_model.h"

namespace quenlo::figread {

// As a "%d" conversion of the capture.
int ToInt(const std::string& s);
float ToFloat(const std::string& s);
// As sscanf(p, " %f %f %f ") in the C locale; values it does not assign stay 0.
Vec3 ReadThree(const char* p);

}  // namespace quenlo::figread
