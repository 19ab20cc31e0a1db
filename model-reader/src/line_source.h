// Where the reader's lines come from: text in memory or an open file. Both
// read a CR LF pair as LF, so CRLF files read exactly like LF files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

namespace quenlo::figread {

class LineSource {
  public:
    virtual ~LineSource() = default;
    // Copies the next piece of a line into buf as fgets does with a buffer of
    // max + 1 bytes; answers its length, 0 at the end.
    virtual size_t Next(char* buf, size_t max) = 0;
};

class MemorySource : public LineSource {
  public:
    explicit MemorySource(std::string_view text) : text_(text) {}
    size_t Next(char* buf, size_t max) override;

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

// Reads from the file's current position; the caller opens and closes it.
class FileSource : public LineSource {
  public:
    explicit FileSource(std::FILE* f) : f_(f) {}
    size_t Next(char* buf, size_t max) override;

  private:
    std::FILE* f_;
};

}  // namespace quenlo::figread
