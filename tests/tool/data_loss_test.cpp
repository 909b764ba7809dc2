// Every way a command could destroy a file is refused with one line and
// exit status 1, touching nothing: an output that is the input (by name,
// through a hard or symbolic link, or the calibration file), an existing
// output that is a FIFO, a device or a directory, a read-only target, two
// outputs naming one file, '-'. Writes that fail part-way (a file-size
// limit standing in for a full disk) name the cause and leave the old
// target intact; new outputs get the permissions the umask gives.
#include "tool_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

using namespace tooltest;
namespace fs = std::filesystem;

namespace {

void expect_refused(const ToolRun& r, const std::string& needle) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.rfind("calmgr: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(needle), std::string::npos) << r.err;
}

fs::path make_input(const fs::path& dir) {
    TiffLayout s;
    fill_pattern(s);
    write_tiff(dir / "in.tif", s);
    return dir / "in.tif";
}

std::vector<std::string> apply_args(const fs::path& in, const fs::path& out) {
    return {"apply", in.string(), out.string(), "--points", "0:0,255:1"};
}

}  // namespace

TEST(DataLoss, OutputThatIsTheInputIsRefused) {
    const auto dir = scratch("same");
    const fs::path in = make_input(dir);
    const std::string before = slurp(in);
    fs::create_hard_link(in, dir / "hard.tif");
    fs::create_symlink("in.tif", dir / "soft.tif");
    fs::create_directory(dir / "sub");
    for (const fs::path& out : {in, dir / "hard.tif", dir / "soft.tif", dir / "sub" / ".." / "in.tif"}) {
        SCOPED_TRACE(out);
        expect_refused(run_tool(apply_args(in, out)), "(the same file); not overwritten");
    }
    // The calibration file and a CSV of points are inputs too.
    ASSERT_EQ(run_tool({"curve", "--points", "0:0,255:1", "--save", (dir / "c.json").string()}).status, 0);
    const std::string cal = slurp(dir / "c.json");
    expect_refused(run_tool({"apply", "--cal", (dir / "c.json").string(), in.string(), (dir / "c.json").string()}),
                   "is the input file");
    write_text(dir / "p.csv", "0,0\n255,1\n");
    expect_refused(run_tool({"curve", "--csv", (dir / "p.csv").string(), "--table", (dir / "p.csv").string()}),
                   "is the input file");
    EXPECT_EQ(slurp(in), before);
    EXPECT_EQ(slurp(dir / "c.json"), cal);
    EXPECT_EQ(slurp(dir / "p.csv"), "0,0\n255,1\n");
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"c.json", "hard.tif", "in.tif", "p.csv", "soft.tif", "sub"}));
    fs::remove_all(dir);
}

TEST(DataLoss, OutputThatIsNotARegularFileIsRefused) {
    const auto dir = scratch("special");
    const fs::path in = make_input(dir);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    fs::create_symlink("/dev/null", dir / "null.tif");
    fs::create_directory(dir / "folder.tif");
    expect_refused(run_tool(apply_args(in, dir / "fifo")), "is a named pipe (FIFO), not a regular file");
    expect_refused(run_tool(apply_args(in, dir / "null.tif")), "is a character device, not a regular file");
    expect_refused(run_tool(apply_args(in, dir / "folder.tif")), "is a directory, not a regular file");
    expect_refused(run_tool({"curve", "--points", "0:0,1:1", "--save", (dir / "fifo").string()}), "named pipe (FIFO)");
    struct stat st {};
    ASSERT_EQ(stat((dir / "fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_TRUE(fs::is_symlink(dir / "null.tif"));
    EXPECT_TRUE(fs::is_empty(dir / "folder.tif"));
    // An input that is not a regular file is refused too, without blocking.
    expect_refused(run_tool(apply_args(dir / "fifo", dir / "out.tif")), "is a named pipe (FIFO), not an image file");
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"fifo", "folder.tif", "in.tif", "null.tif"}));
    fs::remove_all(dir);
}

TEST(DataLoss, DashTwoOutputsOnePathAndReadOnlyTargets) {
    const auto dir = scratch("dash");
    const fs::path in = make_input(dir);
    expect_refused(run_tool(apply_args(in, "-")), "output '-': writing to standard output is not supported");
    expect_refused(run_tool(apply_args("-", dir / "o.tif")), "input '-': reading standard input is not supported");
    const std::string x = (dir / "x.csv").string();
    expect_refused(run_tool({"curve", "--points", "0:0,1:1", "--table", x, "--save", x}), "two outputs are both");
    expect_refused(run_tool({"curve", "--points", "0:0,1:1", "--table", x, "--plot", (dir / "." / "x.csv").string()}),
                   "are the same file");

    write_text(dir / "old.tif", "keep me");
    fs::permissions(dir / "old.tif", fs::perms::owner_read | fs::perms::group_read);
    expect_refused(run_tool(apply_args(in, dir / "old.tif")), "old.tif is read-only; not overwritten");
    EXPECT_EQ(slurp(dir / "old.tif"), "keep me");
    if (getuid() != 0) {  // root writes into any directory
        fs::create_directory(dir / "locked");
        fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
        expect_refused(run_tool(apply_args(in, dir / "locked" / "o.tif")), "Permission denied");
        fs::permissions(dir / "locked", fs::perms::owner_all);
    }
    fs::permissions(dir / "old.tif", fs::perms::owner_all);
    fs::remove_all(dir);
}

TEST(DataLoss, FailedWriteNamesTheCauseAndKeepsTheOldTarget) {
    const auto dir = scratch("full");
    TiffLayout big;
    big.width = 400, big.height = 400, big.rows_per_strip = 16, big.resolution = false;
    fill_pattern(big);
    write_tiff(dir / "in.tif", big);
    write_text(dir / "out.tif", "the previous result");
    // A 64 KiB file-size limit: the write fails as on a full disk.
    const ToolRun r = run_tool({"apply", (dir / "in.tif").string(), (dir / "out.tif").string(), "--points", "0:0,255:1",
                                "--compress", "none", "--double"},
                               "ulimit -f 128;");
    expect_refused(r, "File too large");
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(dir / "out.tif"), "the previous result");
    EXPECT_EQ(entries(dir), (std::vector<std::string>{"in.tif", "out.tif"}));
    fs::remove_all(dir);
}

TEST(DataLoss, NewOutputsTakeTheUmaskAndLinksAreKept) {
    const auto dir = scratch("umask");
    const fs::path in = make_input(dir);
    for (const auto& [mask, mode] : {std::pair{"027", 0640}, std::pair{"022", 0644}, std::pair{"077", 0600}}) {
        SCOPED_TRACE(mask);
        const fs::path out = dir / (std::string("o") + mask + ".tif");
        ASSERT_EQ(run_tool(apply_args(in, out), std::string("umask ") + mask + ";").status, 0);
        ASSERT_EQ(run_tool({"curve", "--points", "0:0,1:1", "--save", out.string() + ".json"},
                           std::string("umask ") + mask + ";").status, 0);
        struct stat st {};
        ASSERT_EQ(stat(out.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, static_cast<unsigned>(mode));
        ASSERT_EQ(stat((out.string() + ".json").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, static_cast<unsigned>(mode));
    }
    // An output reached through a symbolic link replaces the file it
    // points to; the link stays.
    write_text(dir / "target.tif", "old");
    fs::create_symlink("target.tif", dir / "link.tif");
    ASSERT_EQ(run_tool(apply_args(in, dir / "link.tif")).status, 0);
    EXPECT_TRUE(fs::is_symlink(dir / "link.tif"));
    EXPECT_EQ(read_float_tiff(dir / "target.tif").width, 9u);
    fs::remove_all(dir);
}
