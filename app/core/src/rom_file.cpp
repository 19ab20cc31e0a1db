// A saved ROM image read back from its file, for writing it to the board again.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "quenlo/rom_transfer.h"

namespace quenlo {

bool ReadRomImageFile(const std::string& path, size_t limit, std::vector<uint8_t>& out,
                      std::string& why) {
    out.clear();
    why.clear();
    struct stat st {};
    const char* reason = nullptr;
    if (stat(path.c_str(), &st) != 0)
        reason = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        reason = "not a regular file";
    else if (st.st_size == 0)
        reason = "the file is empty";
    else if (static_cast<uint64_t>(st.st_size) > limit) {
        char line[96];
        std::snprintf(line, sizeof line,
                      " holds %lld bytes; the ROM layout ends at $%06zX (%zu bytes)",
                      static_cast<long long>(st.st_size), limit, limit);
        why = path + line;
        return false;
    }
    if (!reason) {
        std::ifstream in(path, std::ios::binary);
        out.assign(static_cast<size_t>(st.st_size), 0);
        if (!in || !in.read(reinterpret_cast<char*>(out.data()), st.st_size))
            reason = in ? "read error" : std::strerror(errno);
        else if (in.peek() != std::char_traits<char>::eof())
            reason = "the file grew while it was read";
    }
    if (!reason) return true;
    why = "cannot use " + path + ": " + reason;
    out.clear();
    return false;
}

}  // namespace quenlo
