// quenlo-sim as a child process, its standard output read line by line, and
// a scratch folder for the files it reads and writes.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace quenlo::sim::test {

class SimProcess {
  public:
    explicit SimProcess(std::string program) : program_(std::move(program)) {}
    ~SimProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }

    void Spawn(const std::vector<std::string>& args) {
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        pid_ = fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            dup2(fds[1], 1);
            std::vector<char*> argv{program_.data()};
            for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program_.c_str(), argv.data());
            _exit(127);
        }
        close(fds[1]);
        out_ = fds[0];
    }
    // Starts it on a pty; answers the terminal's path from the first line.
    std::string Start(const std::vector<std::string>& args) {
        Spawn(args);
        return ReadLine();
    }

    std::string ReadLine(int timeout_ms = 5000) {
        while (true) {
            size_t nl = buf_.find('\n');
            if (nl != std::string::npos) {
                std::string line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return line;
            }
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, timeout_ms) <= 0) return {};
            char chunk[512];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0) return {};
            buf_.append(chunk, static_cast<size_t>(n));
        }
    }

    // Exit status, or -1 when it does not end within five seconds.
    int Wait() {
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            usleep(10'000);
        }
        return -1;
    }
    int Stop() {
        kill(pid_, SIGTERM);
        return Wait();
    }
    void Signal(int signal) { kill(pid_, signal); }

  private:
    std::string program_;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buf_;
};

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/quenlo-sim-test-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Runs a shell command line and answers its exit status (-1 when it did not
// exit); `output`, when given, gets its standard output and error together.
inline int RunCommand(const std::string& command, std::string* output = nullptr) {
    FILE* pipe = popen((command + (output ? " 2>&1" : " >/dev/null 2>&1")).c_str(), "r");
    if (!pipe) return -1;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        if (output) output->append(chunk, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

// Every frame the board received, in order, from its --trace file.
inline std::vector<std::vector<uint8_t>> TraceFrames(const std::string& path) {
    std::vector<std::vector<uint8_t>> frames;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const size_t rx = line.find("\"rx\": \"");
        if (rx == std::string::npos) continue;
        std::istringstream hex(line.substr(rx + 7, line.find('"', rx + 7) - rx - 7));
        std::vector<uint8_t> frame;
        for (unsigned b; hex >> std::hex >> b;) frame.push_back(static_cast<uint8_t>(b));
        frames.push_back(frame);
    }
    return frames;
}

// When each frame of the trace arrived (microseconds, the monotonic clock).
inline std::vector<uint64_t> TraceTimes(const std::string& path) {
    std::vector<uint64_t> times;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const size_t t = line.find("\"t_us\": ");
        if (t != std::string::npos && line.find("\"rx\": \"") != std::string::npos)
            times.push_back(std::strtoull(line.c_str() + t + 8, nullptr, 10));
    }
    return times;
}

}  // namespace quenlo::sim::test
