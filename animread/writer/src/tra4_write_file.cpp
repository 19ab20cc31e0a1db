// Writing the text to a file as every output of the programs is written: a
// temporary file renamed over the target once complete.
#include "quenlo/platform.h"
#include "tra4_writer.h"

namespace quenlo::tra4 {

bool WriteFile(const Motion& motion, const std::string& path, std::string* error,
               const WriteOptions& options) {
    std::string text;
    return ToText(motion, text, error, options) &&
           WriteOutputFile(path, text.data(), text.size(), error);
}

}  // namespace quenlo::tra4
