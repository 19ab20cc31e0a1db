// quenlo-sim as the pacing benchmarks' board: started on a pty with its
// trace, which tells when each frame arrived; and the percentiles they report.
#pragma once

#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace pacing {

using Bytes = std::vector<uint8_t>;

// quenlo-sim on a pty, writing its trace; stopped with SIGTERM. Real-time,
// it runs with SCHED_FIFO above the playback thread where the system allows
// (else as usual), as a board is hardware that no process of the machine
// holds up: then what it sees late was sent late.
class Sim {
  public:
    explicit Sim(const std::string& trace, bool realtime = false) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        std::string program = QUENLO_SIM_PROGRAM, flag = "--trace", path = trace;
        char* argv[] = {program.data(), flag.data(), path.data(), nullptr};
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        if (realtime) {
            sched_param param{};
            param.sched_priority = 20;
            posix_spawnattr_setschedpolicy(&attr, SCHED_FIFO);
            posix_spawnattr_setschedparam(&attr, &param);
            posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSCHEDULER);
        }
        int spawned = posix_spawn(&pid_, program.c_str(), &actions, &attr, argv, environ);
        realtime_ = realtime && spawned == 0;
        if (spawned != 0 && realtime)  // the right to real-time scheduling refused
            spawned = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ);
        if (spawned != 0) pid_ = -1;
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        FILE* out = fdopen(fds[0], "r");
        char line[256] = {};
        if (out && std::fgets(line, sizeof line, out))
            pty_ = std::string(line, std::strcspn(line, "\n"));
        if (out) std::fclose(out);
    }
    ~Sim() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    const std::string& pty() const { return pty_; }
    bool realtime() const { return realtime_; }

  private:
    pid_t pid_ = -1;
    bool realtime_ = false;
    std::string pty_;
};

struct Arrival {
    uint64_t t_us;
    Bytes rx;
};

std::vector<Arrival> ReadTrace(const std::string& path) {
    std::vector<Arrival> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const size_t t = line.find("\"t_us\": "), rx = line.find("\"rx\": \"");
        if (t == std::string::npos || rx == std::string::npos) continue;
        Arrival a{std::strtoull(line.c_str() + t + 8, nullptr, 10), {}};
        std::istringstream hex(line.substr(rx + 7, line.find('"', rx + 7) - rx - 7));
        for (unsigned b; hex >> std::hex >> b;) a.rx.push_back(static_cast<uint8_t>(b));
        out.push_back(std::move(a));
    }
    return out;
}

// The p-th quantile (0 to 1) of v, one of its values.
double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(std::ceil(p * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

// The system's load averages over 1, 5 and 15 minutes.
inline std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
}

}  // namespace pacing
