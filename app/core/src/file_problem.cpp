// Why a model or motion file cannot be read, in the system's words.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "quenlo/core.h"

namespace quenlo {

std::string FileReadProblem(const std::string& path) {
    namespace fs = std::filesystem;
    if (path.empty()) return "no file name";
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    if (ec) return ec.message();
    if (fs::is_directory(st)) return "a directory";
    // A device or a FIFO is not opened: it may never end or never answer.
    if (!fs::is_regular_file(st)) return "not a regular file";
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::strerror(errno);
    std::fclose(f);
    return {};
}

}  // namespace quenlo
