#include "rom_files.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cstdio>

#include "rcb4.h"

namespace quenlo::cli {
namespace {

constexpr uint32_t kRedrawMs = 100;

// Answers false for anything that is not a whole number in range.
bool ParseAddress(const std::string& text, uint64_t& out) {
    std::string digits = text;
    int base = 10;
    if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0)
        digits.erase(0, 2), base = 16;
    else if (digits.rfind('$', 0) == 0)
        digits.erase(0, 1), base = 16;
    if (digits.empty() || digits.size() > 12) return false;
    out = 0;
    for (char c : digits) {
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                      : base == 16 && std::isxdigit(static_cast<unsigned char>(c))
                          ? std::tolower(static_cast<unsigned char>(c)) - 'a' + 10
                          : -1;
        if (d < 0) return false;
        out = out * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
    }
    return true;
}

}  // namespace

bool OpenOutput(const char* command, OutputFile& file) {
    if (file.Open()) return true;
    std::fprintf(stderr, "quenlo-cli %s: %s\n", command, file.error().c_str());
    return false;
}

bool CommitOutput(const char* command, OutputFile& file, const std::vector<uint8_t>& bytes) {
    if (file.Write(bytes) && file.Commit()) return true;
    std::fprintf(stderr, "quenlo-cli %s: %s\n", command, file.error().c_str());
    return false;
}

bool ReadImageFile(const char* command, const std::string& path, size_t limit,
                   std::vector<uint8_t>& out) {
    std::string why;
    if (ReadRomImageFile(path, limit, out, why)) return true;
    std::fprintf(stderr, "quenlo-cli %s: %s\n", command, why.c_str());
    return false;
}

CLI::Validator RomAddress(bool end) {
    return CLI::Validator(
        [end](std::string& text) -> std::string {
            uint64_t value = 0;
            if (!ParseAddress(text, value))
                return "takes an address: decimal, or hexadecimal after 0x or $";
            if (value > board::kAddressLimit || (!end && value == board::kAddressLimit))
                return text + " is beyond the board's 24-bit addresses";
            return {};
        },
        "ADDR");
}

uint32_t ParseRomAddress(const std::string& text) {
    uint64_t value = 0;
    return ParseAddress(text, value) ? static_cast<uint32_t>(value) : 0;
}

ReadProgress ProgressLine::Callback() {
    return [this](size_t done, size_t total) { Show(done, total); };
}

void ProgressLine::Show(size_t done, size_t total) {
    const uint32_t now = clock_.NowMs();
    // A new read (the backup, then the read-back) starts its own line.
    if (started_ && (total != total_ || done < done_)) Finish();
    if (!started_) started_ = true, start_ms_ = now;
    done_ = done, total_ = total;
    if (now - start_ms_ < 1000 || (drawn_ && now - drawn_ms_ < kRedrawMs && done < total)) return;
    std::fprintf(stderr, "\rreading ROM: %zu of %zu bytes", done, total);
    std::fflush(stderr);
    drawn_ = true;
    drawn_ms_ = now;
}

void ProgressLine::Finish() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = started_ = false;
}

}  // namespace quenlo::cli
