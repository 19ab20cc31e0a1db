// What the ROM subcommands share: saving what was read without losing an
// earlier file, ROM addresses on the command line, and a progress line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace CLI {
class Validator;
}

namespace quenlo::cli {

// Opens an output file (quenlo::OutputFile) before any work is done, so that a
// path that cannot be written is told first; false after its line on stderr.
bool OpenOutput(const char* command, OutputFile& file);
// Writes the bytes and puts the file in place; false after its line on stderr.
bool CommitOutput(const char* command, OutputFile& file, const std::vector<uint8_t>& bytes);

// A ROM image file, refused with one line when it is not a regular file,
// cannot be read, is empty or is larger than `limit`.
bool ReadImageFile(const char* command, const std::string& path, size_t limit,
                   std::vector<uint8_t>& out);

// A 24-bit ROM address: decimal, or hexadecimal after 0x or $. `end` admits
// 0x1000000 itself (one past the last address).
CLI::Validator RomAddress(bool end);
uint32_t ParseRomAddress(const std::string& text);

// Redraws "reading ROM: N of M bytes" on standard error once a read has taken
// more than a second; the line is ended when the read is.
class ProgressLine {
  public:
    explicit ProgressLine(Clock& clock = SystemClock()) : clock_(clock) {}
    ~ProgressLine() { Finish(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    ReadProgress Callback();
    void Finish();

  private:
    void Show(size_t done, size_t total);
    Clock& clock_;
    bool started_ = false;
    uint32_t start_ms_ = 0;
    uint32_t drawn_ms_ = 0;
    bool drawn_ = false;
    size_t done_ = 0, total_ = 0;
};

}  // namespace quenlo::cli
