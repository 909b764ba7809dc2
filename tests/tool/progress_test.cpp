// Long runs of `calmgr apply`: the progress bar is drawn on a terminal for
// a large image, never when standard error is a file or pipe; an
// interrupted run leaves no output file behind.
#include "tool_support.h"

#include <gtest/gtest.h>

#include <pty.h>
#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

using namespace tooltest;

namespace {

// Runs the tool with standard output and error on a pseudo-terminal and
// returns what the terminal received.
std::string run_on_terminal(const std::vector<std::string>& args, int& status) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> argv{const_cast<char*>(CALMGR_TOOL_PATH)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(CALMGR_TOOL_PATH, argv.data());
        _exit(127);
    }
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(master);
    int raw = 0;
    waitpid(pid, &raw, 0);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
    return out;
}

}  // namespace

TEST(ApplyProgress, BarOnATerminalOnlyForLargeImages) {
    const auto dir = scratch("progress");
    TiffLayout big;
    big.width = 2100, big.height = 2100, big.rows_per_strip = 64, big.resolution = false;
    fill_pattern(big);
    write_tiff(dir / "big.tif", big);
    int status = -1;
    const std::string shown = run_on_terminal(
        {"apply", (dir / "big.tif").string(), (dir / "out.tif").string(), "--points", "0:0,255:1"}, status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_NE(shown.find("applying ["), std::string::npos) << shown.substr(0, 200);
    EXPECT_NE(shown.find("100%"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "out.tif"));

    const ToolRun piped = run_tool({"apply", (dir / "big.tif").string(), (dir / "out2.tif").string(), "--points", "0:0,255:1"});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
    std::filesystem::remove_all(dir);
}

TEST(ApplyProgress, InterruptedRunLeavesNoFile) {
    const auto dir = scratch("interrupt");
    TiffLayout big;
    big.width = 3000, big.height = 3000, big.rows_per_strip = 64, big.compression = COMPRESSION_ADOBE_DEFLATE;
    fill_pattern(big);
    write_tiff(dir / "big.tif", big);
    const std::string in = (dir / "big.tif").string(), out = (dir / "out.tif").string();
    const pid_t pid = fork();
    if (pid == 0) {
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execl(CALMGR_TOOL_PATH, CALMGR_TOOL_PATH, "apply", in.c_str(), out.c_str(), "--points", "0:0,255:1",
              "--double", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Interrupt as soon as the temporary output exists.
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        for (const auto& name : entries(dir)) seen = seen || name.find(".part") != std::string::npos;
        if (!seen) usleep(100);
    }
    kill(pid, SIGTERM);
    int raw = 0;
    waitpid(pid, &raw, 0);
    ASSERT_TRUE(seen) << "no temporary output appeared";
    if (WIFSIGNALED(raw)) {
        EXPECT_EQ(WTERMSIG(raw), SIGTERM);
        EXPECT_EQ(entries(dir), std::vector<std::string>{"big.tif"});
    } else {
        // The run finished before the signal arrived: then it is complete.
        EXPECT_EQ(WEXITSTATUS(raw), 0);
        EXPECT_EQ(entries(dir), (std::vector<std::string>{"big.tif", "out.tif"}));
    }
    std::filesystem::remove_all(dir);
}
