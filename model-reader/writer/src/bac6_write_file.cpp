// Writing the text to a file as every output of the programs is written: a
// temporary file renamed over the target once complete.
#include "bac6_writer.h"
#include "quenlo/platform.h"

namespace quenlo::bac6 {

bool WriteFile(const Model& model, const std::string& path, std::string* error,
               const WriteOptions& options) {
    std::string text;
    return ToText(model, text, error, options) &&
           WriteOutputFile(path, text.data(), text.size(), error);
}

}  // namespace quenlo::bac6
