// OutputFile against what an output path can be: nothing yet, a file, a link,
// a device, a FIFO, a folder, a planted temporary name, a full file system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "quenlo/platform.h"

namespace quenlo {
namespace {

namespace fs = std::filesystem;

class Folder {
  public:
    Folder() {
        char tmpl[] = "/tmp/quenlo-output-test-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~Folder() {
        if (mounted_) umount2(path_.c_str(), MNT_DETACH);
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    // The folder becomes a file system of `bytes`; false when mounting is not allowed.
    bool MountSmall(size_t bytes) {
        const std::string options = "size=" + std::to_string(bytes);
        mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
        return mounted_;
    }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
    bool mounted_ = false;
};

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void Put(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

bool Write(const std::string& path, const std::string& text, std::string* error = nullptr) {
    std::string why;
    const bool ok = WriteOutputFile(path, text.data(), text.size(), &why);
    if (error) *error = why;
    return ok;
}

TEST(OutputFile, FilesAndLinksAreReplacedWholeAndLeaveNothingBehind) {
    Folder dir;
    // A new file, then the same path again: the new bytes, its mode kept.
    ASSERT_TRUE(Write(dir / "out.bin", "first"));
    chmod((dir / "out.bin").c_str(), 0640);
    ASSERT_TRUE(Write(dir / "out.bin", "second"));
    EXPECT_EQ(Read(dir / "out.bin"), "second");
    struct stat st {};
    ASSERT_EQ(stat((dir / "out.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A link: the file it names is replaced, the link stays a link.
    Put(dir / "kept.bin", "old");
    fs::create_symlink("kept.bin", dir / "link.bin");
    ASSERT_TRUE(Write(dir / "link.bin", "through"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(Read(dir / "kept.bin"), "through");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"kept.bin", "link.bin", "out.bin"}));

    // Refused, with the reason, and nothing created.
    std::string error;
    fs::create_symlink("missing.bin", dir / "dangling.bin");
    EXPECT_FALSE(Write(dir / "dangling.bin", "x", &error));
    EXPECT_EQ(error, "cannot write " + dir / "dangling.bin" + ": a link to a missing file");
    fs::create_directory(dir / "sub");
    EXPECT_FALSE(Write(dir / "sub", "x", &error));
    EXPECT_EQ(error, "cannot write " + dir / "sub" + ": a directory");
    EXPECT_FALSE(Write(dir / "none/out.bin", "x", &error));
    EXPECT_EQ(error, "cannot write " + dir / "none/out.bin" + ": No such file or directory");
    EXPECT_FALSE(Write("", "x", &error));
    EXPECT_EQ(error, "cannot write : no file name");
    // A socket is neither a file to replace nor a stream to write.
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sock_path = dir / "sock";
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", sock_path.c_str());
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_FALSE(Write(sock_path, "x", &error));
    EXPECT_EQ(error,
              "cannot write " + sock_path + ": not a regular file, a character device or a FIFO");
    close(sock);
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"dangling.bin", "kept.bin", "link.bin",
                                                     "out.bin", "sock", "sub"}));

    // Dropped before Commit: the old file stays and the temporary goes.
    {
        OutputFile out(dir / "out.bin");
        ASSERT_TRUE(out.Open());
        ASSERT_TRUE(out.Write("half", 4));
        EXPECT_EQ(dir.Names().size(), 7u);  // the temporary file is in the same folder
    }
    EXPECT_EQ(Read(dir / "out.bin"), "second");
    EXPECT_EQ(dir.Names().size(), 6u);

    // Same file by path, link and hard link; not a different or missing one.
    fs::create_hard_link(dir / "kept.bin", dir / "hard.bin");
    EXPECT_TRUE(SameFile(dir / "kept.bin", dir / "link.bin"));
    EXPECT_TRUE(SameFile(dir / "hard.bin", dir / "sub/../kept.bin"));
    EXPECT_FALSE(SameFile(dir / "kept.bin", dir / "out.bin"));
    EXPECT_FALSE(SameFile(dir / "kept.bin", dir / "nothing.bin"));
}

TEST(OutputFile, DevicesAndFifosAreWrittenDirectly) {
    Folder dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = Read(dir / "fifo"); });
    EXPECT_TRUE(Write(dir / "fifo", "through the pipe"));
    reader.join();
    EXPECT_EQ(received, "through the pipe");
    EXPECT_TRUE(fs::is_fifo(dir / "fifo"));

    // /dev/null through a link, as -o /dev/stdout goes through /proc.
    fs::create_symlink("/dev/null", dir / "null-link");
    EXPECT_TRUE(Write(dir / "null-link", "gone"));
    EXPECT_TRUE(fs::is_character_file("/dev/null"));

    if (geteuid() != 0 || mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "no device node made here (needs root)";
    }
    EXPECT_TRUE(Write(dir / "null", "gone"));
    EXPECT_TRUE(fs::is_character_file(dir / "null"));
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"fifo", "null", "null-link"}));
}

TEST(OutputFile, PlantedTemporaryNamesAreNeverWrittenThrough) {
    Folder dir;
    Put(dir / "victim", "precious");
    Put(dir / "out.bin", "old");
    // The first two names drawn are taken: a link to another file and a file.
    fs::create_symlink(dir / "victim", dir / ".out.bin.000000000001.tmp");
    Put(dir / ".out.bin.000000000002.tmp", "planted");
    uint64_t next = 0;
    OutputFile out(dir / "out.bin", [&] { return ++next; });
    ASSERT_TRUE(out.Open());
    ASSERT_TRUE(out.Write("new", 3));
    ASSERT_TRUE(out.Commit());
    EXPECT_EQ(next, 3u);
    EXPECT_EQ(Read(dir / "out.bin"), "new");
    EXPECT_EQ(Read(dir / "victim"), "precious");
    EXPECT_EQ(Read(dir / ".out.bin.000000000002.tmp"), "planted");
    EXPECT_TRUE(fs::is_symlink(dir / ".out.bin.000000000001.tmp"));
    EXPECT_TRUE(fs::is_regular_file(dir / "out.bin"));
}

TEST(OutputFile, FullFileSystemKeepsTheOldFile) {
    Folder dir;
    if (!dir.MountSmall(64 * 1024)) GTEST_SKIP() << "no small tmpfs mounted here (needs root)";
    ASSERT_TRUE(Write(dir / "image.png", "old picture"));
    std::string error;
    EXPECT_FALSE(Write(dir / "image.png", std::string(256 * 1024, 'x'), &error));
    EXPECT_EQ(error, "cannot write " + dir / "image.png" + ": No space left on device");
    EXPECT_EQ(Read(dir / "image.png"), "old picture");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"image.png"});
    // Later writes of the same object keep failing: nothing half is committed.
    OutputFile out(dir / "image.png");
    ASSERT_TRUE(out.Open());
    EXPECT_FALSE(out.Write(std::string(256 * 1024, 'x').data(), 256 * 1024));
    EXPECT_FALSE(out.Write("y", 1));
    EXPECT_FALSE(out.Commit());
    EXPECT_EQ(Read(dir / "image.png"), "old picture");
}

TEST(OutputFile, SignalEndsTheProgramWithoutTemporaryFiles) {
    Folder dir;
    Put(dir / "old.png", "old picture");
    const auto interrupted = [&](int signal, bool commit_first) {
        EndOnSignalWithoutOutputs("cmd: stopped by ", "; out is not written");
        OutputFile done(dir / "done.bin");
        if (commit_first) {
            ASSERT_TRUE(done.Open() && done.Write("done", 4) && done.Commit());
        }
        OutputFile out(dir / "old.png");
        ASSERT_TRUE(out.Open() && out.Write("half", 4));
        raise(signal);
    };
    EXPECT_EXIT(interrupted(SIGINT, false), testing::ExitedWithCode(130),
                "^cmd: stopped by SIGINT; out is not written\n$");
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"old.png"});
    // Once an output is in place, the line no longer says none is.
    EXPECT_EXIT(interrupted(SIGTERM, true), testing::ExitedWithCode(143),
                "^cmd: stopped by SIGTERM\n$");
    EXPECT_EQ(dir.Names(), (std::vector<std::string>{"done.bin", "old.png"}));
    EXPECT_EQ(Read(dir / "old.png"), "old picture");
}

}  // namespace
}  // namespace quenlo
