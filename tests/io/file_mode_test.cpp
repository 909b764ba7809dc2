// A saved file gets the mode any new file gets under the process's umask,
// and saving never touches the umask: changing it, even for a moment,
// races with every other thread that creates files.
#include "io_support.h"

#include <sys/stat.h>
#include <sys/syscall.h>

#include <atomic>
#include <cstdio>

using namespace iotest;

namespace {
std::atomic<int> umask_calls{0};
}  // namespace

// Every call of umask in this process, the saved-calibration library's
// included, comes here (the executable's definition comes first in symbol
// lookup) and is counted before it reaches the kernel.
extern "C" mode_t umask(mode_t mask) {
    ++umask_calls;
    return static_cast<mode_t>(::syscall(SYS_umask, mask));
}

namespace {

mode_t file_mode(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

TEST(SavedFiles, SavingTakesTheModeOfTheUmaskWithoutChangingIt) {
    const auto dir = scratch_dir("mode");
    IntensityCal* icl = ICalCreate();
    SpatialCal* scl = SCalCreate();
    const mode_t original = umask(022);
    for (mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}, mode_t{002}}) {
        umask(mask);
        const int calls_before = umask_calls.load();
        char err[256];
        char iname[32], sname[32];
        std::snprintf(iname, sizeof iname, "i%o.json", static_cast<unsigned>(mask));
        std::snprintf(sname, sizeof sname, "s%o.json", static_cast<unsigned>(mask));
        const std::string ipath = (dir / iname).string(), spath = (dir / sname).string();
        ASSERT_EQ(CalSaveIntensity(icl, ipath.c_str(), err, sizeof err), CAL_OK) << err;
        ASSERT_EQ(CalSaveSpatial(scl, spath.c_str(), err, sizeof err), CAL_OK) << err;
        // Saving over an existing file too.
        ASSERT_EQ(CalSaveIntensity(icl, ipath.c_str(), err, sizeof err), CAL_OK) << err;
        EXPECT_EQ(umask_calls.load(), calls_before) << "saving called umask";
        EXPECT_EQ(file_mode(ipath), 0666 & ~mask);
        EXPECT_EQ(file_mode(spath), 0666 & ~mask);
        EXPECT_EQ(umask(mask), mask);  // still what it was
    }
    umask(original);
    EXPECT_EQ(dir_entries(dir).size(), 8u);  // no temporary files left
    ICalDestroy(icl);
    SCalDestroy(scl);
    std::filesystem::remove_all(dir);
}

}  // namespace
