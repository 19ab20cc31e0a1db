// The reader behind the animread exports: a parser that works from memory and
// the one held motion with its queries. Not installed; tests link it directly.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "tra4_writer.h"

namespace quenlo::tra4 {

struct ParseError {
    int line = 0;  // 1-based line of the text; 0 when the text as a whole is at fault
    std::string message;
};

// Parses one whole TRA4 text into *out. On failure *out is left untouched and
// *error tells the first fault.
bool Parse(std::string_view text, Motion& out, ParseError& error);

// The bone's values at a time: linear between the neighbouring keys, the first
// or last key's values outside them, zeros when the motion has no keys.
Key Sample(const Motion& motion, const Bone& bone, int time);

// The single diagnostic line: "animread: NAME:LINE: message\n" (no LINE when 0).
// Control bytes in the name are shown as '?', so it stays one line.
std::string FormatError(std::string_view name, const ParseError& error);

// Holds at most one motion. A new motion is built aside and replaces the held
// one only when the whole text was read; a failed analysis releases the held
// motion, so nothing of an earlier file is mistaken for the failed one.
class Reader {
  public:
    // 0 when read; otherwise 1, with one line on standard error.
    int Analyse(const char* path);
    int AnalyseText(std::string_view text, std::string_view name);
    void Release() { motion_.reset(); }

    const Motion* motion() const { return motion_.get(); }
    unsigned KeyCount() const;
    unsigned BoneCount() const;
    const char* BoneName(int bone) const;
    bool Mirror(int bone) const;
    int KeyTime(int key) const;
    void Rotate(int bone, int time, float out[3]) const;
    void Translate(int bone, int time, float out[3]) const;
    float Roll(int bone, int time) const;

  private:
    int Fail(std::string_view name, const ParseError& error);
    const Bone* BoneAt(int bone) const;

    std::unique_ptr<Motion> motion_;
};

}  // namespace quenlo::tra4
