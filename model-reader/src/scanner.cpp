// The scanner's lines and job loop, and the entry points on text and files.
#include "scanner.h"

#include <cstdio>
#include <cstring>

#include "reader.h"

namespace quenlo::figread {
namespace {

constexpr size_t kHeaderPiece = 1023;  // a 1024-byte line buffer
constexpr size_t kBodyPiece = 32767;   // a 32768-byte line buffer
constexpr size_t kPad = 16;            // zeros past every piece

}  // namespace

Scanner::Scanner(LineSource& in, ReaderState& state) : in_(in), state_(state) {
    buf_.assign(kBodyPiece + 1 + kPad, '\0');
}

int Scanner::Run() {
    if (!SeekHeaderLine(kBacLine)) {
        std::fputs(" not BAC format.\n", stderr);
        return 1;
    }
    if (!SeekHeaderLine(kVersion)) {
        std::fputs(" not BAC6 format.\n", stderr);
        return 1;
    }
    if (!SeekHeaderLine(kFigure)) {
        std::fputs(" Figure not found.\n", stderr);
        return 1;
    }
    return Scan();
}

// Reads the next piece of a line; each piece counts as a line. The text seen
// ends at its first zero byte.
bool Scanner::NextPiece(size_t max) {
    size_t n = in_.Next(buf_.data(), max);
    if (n == 0) return false;
    std::memset(buf_.data() + n, 0, kPad);
    ++line_;
    cur_ = buf_.data();
    end_ = cur_ + strnlen(cur_, n);
    FindLongRuns(cur_, end_, runs_);
    return true;
}

bool Scanner::SeekHeaderLine(Pat p) {
    while (NextPiece(kHeaderPiece))
        if (match_.Search(p, cur_, end_, &runs_)) return true;
    return false;
}

int Scanner::Scan() {
    m_ = &state_.Fresh();
    int job = kInChunk;
    handler_ = Handler::None;
    while (NextPiece(kBodyPiece)) {
        bool next_line = false;
        while (!next_line) {
            switch (job) {
                case kChunkNextLine:
                case kMaterialNextLine:
                case kBoneNextLine:
                case kGroupNextLine:
                    job -= kNextLine;
                    next_line = true;
                    break;
                case kValueNextLine:
                    job = kValue;
                    next_line = true;
                    break;
                case kInChunk:
                case kInMaterial:
                case kInBone:
                case kInGroup:
                    if (S(kKeyword)) {
                        keyword_ = Cap(1);
                        Advance();
                        job += kWordFound;
                    } else {
                        job += kNextLine;
                    }
                    break;
                case kChunkWord:
                    if (Handler h = ChunkHandler(keyword_); h != Handler::None) {
                        handler_ = h;
                        job = Call(h);
                    } else {
                        std::fprintf(stderr, " chunk name not found. line=%lld < %s >\n", line_,
                                     keyword_.c_str());
                        job = kInChunk;
                    }
                    break;
                case kMaterialWord:
                case kBoneWord:
                    // A keyword the context does not know goes to the chunk table.
                    if (Handler h = job == kMaterialWord ? MaterialHandler(keyword_)
                                                         : BoneHandler(keyword_);
                        h != Handler::None) {
                        handler_ = h;
                        job = Call(h);
                    } else {
                        job = kChunkWord;
                    }
                    break;
                case kGroupWord:
                    // A group has no attributes of its own.
                    job = kChunkWord;
                    break;
                case kValue:
                    job = handler_ == Handler::None ? kInChunk : Call(handler_);
                    break;
                default:
                    std::fprintf(stderr, " job code error %d\n", job);
                    job = kInChunk;
                    next_line = true;
                    break;
            }
        }
    }
    return 0;
}

int AnalyzeText(ReaderState& state, std::string_view text) {
    MemorySource in(text);
    return Scanner(in, state).Run();
}

int AnalyzeFile(ReaderState& state, std::FILE* file) {
    FileSource in(file);
    return Scanner(in, state).Run();
}

}  // namespace quenlo::figread
