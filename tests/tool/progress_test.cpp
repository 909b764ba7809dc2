// The progress bar of `calmgr apply`: drawn on a terminal for a large
// image, never when standard error is a file or pipe.
#include "tool_support.h"

#include <gtest/gtest.h>

#include <pty.h>
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
    TiffSpec big;
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
