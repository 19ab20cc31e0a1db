// The job scanner: header checks, then a loop over lines whose job code says
// what the next piece of text is read as. Handlers (handlers.cpp) read values
// into the model and answer the next job code.
#pragma once

#include <string>
#include <vector>

#include "bac_model.h"
#include "keywords.h"
#include "line_source.h"
#include "matcher.h"

namespace quenlo::figread {

// Job codes; " job code error %d" prints them. Each context waits for a
// keyword; the context's code + 1 looks the keyword up, + 100 resumes the
// context on the next line.
enum Job : int {
    kInChunk = 0,
    kChunkWord = 1,
    kValue = 2,  // the current handler reads on
    kInMaterial = 20,
    kMaterialWord = 21,
    kInBone = 30,
    kBoneWord = 31,
    kInGroup = 40,
    kGroupWord = 41,
    kChunkNextLine = 100,
    kMaterialNextLine = 120,
    kBoneNextLine = 130,
    kGroupNextLine = 140,
    kValueNextLine = 200,  // the handler's value is on the next line
};
constexpr int kWordFound = 1;
constexpr int kNextLine = 100;

class Scanner {
  public:
    Scanner(LineSource& in, ReaderState& state);

    // Answers what fnbacanalysis answers: 0 when the scan reached the end.
    int Run();

  private:
    bool NextPiece(size_t max);
    bool SeekHeaderLine(Pat p);
    int Scan();

    // The handlers; each answers the next job code.
    int Call(Handler h);
    int BoneName();
    int Face();

    bool S(Pat p) { return match_.Search(p, cur_, end_, &runs_); }
    std::string Cap(int g) const { return std::string(cur_ + match_.Beg(g), cur_ + match_.End(g)); }
    int CapInt(int g) const;
    float CapFloat(int g) const;
    void Advance() { cur_ += match_.End(0); }
    void Error(const char* what);

    BacMaterial* LastMaterial() { return m_->materials.empty() ? nullptr : &m_->materials.back(); }
    BacBone* LastBone() { return m_->bones.empty() ? nullptr : &m_->bones.back(); }

    LineSource& in_;
    ReaderState& state_;
    std::vector<char> buf_;
    Runs runs_;
    const char* cur_ = nullptr;
    const char* end_ = nullptr;
    long long line_ = 0;
    std::string keyword_;
    Handler handler_ = Handler::None;
    int bone_counter_ = 0;
    BacModel* m_ = nullptr;
    Matcher match_;
};

}  // namespace quenlo::figread
