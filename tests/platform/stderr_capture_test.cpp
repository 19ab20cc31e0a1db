// Library diagnostics on file descriptor 2: captured line by line for the
// console, passed on to the real standard error, limited per operation.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "quenlo/core.h"
#include "quenlo/platform.h"

namespace quenlo {
namespace {

std::string ReadAll(int fd) {
    std::string text;
    char buf[4096];
    lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<size_t>(n));
    return text;
}

// More than a pipe holds (64 KiB), written on the capturing thread itself:
// the reader must keep draining while nobody reads the lines yet.
TEST(StderrCapture, LinesArriveInOrderAndPassThroughWithoutBlockingTheWriter) {
    char real_path[] = "/tmp/quenlo-stderr-XXXXXX";
    const int real = mkstemp(real_path);
    ASSERT_GE(real, 0);
    unlink(real_path);
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(real, 2);

    std::mutex mutex;
    std::vector<std::string> lines;
    std::string written;
    {
        StderrCapture capture([&](std::string_view line) {
            std::lock_guard lock(mutex);
            lines.emplace_back(line);
        });
        ASSERT_TRUE(capture.active());
        for (int i = 0; i < 2000; ++i) {
            char line[128];
            const int n = std::snprintf(line, sizeof line, " bad number line=%d %s\n", i + 1,
                                        std::string(80, 'x').c_str());
            written.append(line, static_cast<size_t>(n));
            std::fputs(line, stderr);
        }
        std::fputs("tail\r\nno end", stderr);
        written += "tail\r\nno end";
        capture.Sync();
        std::lock_guard lock(mutex);
        ASSERT_EQ(lines.size(), 2001u);  // the unfinished line waits for its end
        EXPECT_EQ(lines[0].substr(0, 18), " bad number line=1");
        EXPECT_EQ(lines[1999].substr(0, 21), " bad number line=2000");
        EXPECT_EQ(lines[2000], "tail");
    }
    EXPECT_EQ(lines.back(), "no end");  // delivered when the capture ends

    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(ReadAll(real), written);
    close(real);

    DiagnosticLimit limit;
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(limit.Take(), i < 200) << i;
    EXPECT_EQ(limit.End(), "診断メッセージ 1802 行を省略しました\r\n");
    EXPECT_TRUE(limit.Take());
    EXPECT_EQ(limit.End(), "");
}

// A real standard error that takes nothing (a full pipe nobody reads): every
// line still reaches the callback, Sync and the end of the capture return, and
// the lines the real one missed are counted.
TEST(StderrCapture, AStalledRealStandardErrorDropsItsLinesNotTheConsoles) {
    int stalled[2];
    ASSERT_EQ(pipe2(stalled, O_NONBLOCK), 0);
    while (write(stalled[1], std::string(4096, 'f').data(), 4096) > 0) {
    }
    fcntl(stalled[1], F_SETFL, 0);  // a writer would now block
    std::fflush(stderr);
    const int saved = dup(2);
    dup2(stalled[1], 2);

    std::mutex mutex;
    size_t count = 0;
    std::string last;
    constexpr int kLines = 20000;  // 2 MB: beyond the pipe and the forwarding queue
    {
        StderrCapture capture([&](std::string_view line) {
            std::lock_guard lock(mutex);
            ++count;
            last = line;
        });
        ASSERT_TRUE(capture.active());
        for (int i = 0; i < kLines; ++i)
            std::fprintf(stderr, "line %05d %s\n", i, std::string(89, 'x').c_str());
        capture.Sync();
        {
            std::lock_guard lock(mutex);
            EXPECT_EQ(count, size_t{kLines});
            EXPECT_EQ(last.substr(0, 10), "line 19999");
        }
        EXPECT_GT(capture.dropped_lines(), 0u);
    }
    dup2(saved, 2);
    close(saved);
    close(stalled[0]);
    close(stalled[1]);
}

// Root may open any device, so the permission case is checked by its text.
TEST(SerialOpenReason, PermissionNamesTheGroupThatOwnsTheDevice) {
    EXPECT_EQ(SerialOpenReason("/nonexistent/ttyUSB7", EACCES),
              "permission denied; add your user to the group dialout "
              "(sudo usermod -aG dialout $USER) and log in again");
    char path[] = "/tmp/quenlo-tty-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const gid_t gid = getegid() != 0 ? getegid() : 20;
    const struct group* g = getgrgid(gid);
    if (chown(path, static_cast<uid_t>(-1), gid) == 0 && g) {
        const std::string name = g->gr_name;
        EXPECT_NE(SerialOpenReason(path, EPERM)
                      .find("group " + name + " (sudo usermod -aG " + name + " $USER)"),
                  std::string::npos);
    }
    unlink(path);
}

}  // namespace
}  // namespace quenlo
