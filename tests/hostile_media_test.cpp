// Drives and images named on the command line that once hung the tool or
// printed a wrong figure: a drive number at the end of the int range, a FIFO
// named as an image, an image of more cylinders than 32 bits hold.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

namespace {

// The built tool under a time limit: its standard output, standard error
// and exit code (124 when the limit ran out).
run_result run_limited(const std::string& args, int seconds = 30)
{
    std::string err = ::testing::TempDir() + "vexum-media-" + std::to_string(getpid()) + ".err";
    std::string out = shell_output("timeout " + std::to_string(seconds) + " " + std::string(VEXUM_BINARY) + " " +
                                   args + " 2>" + err + "; echo \"rc=$?\"");
    run_result r;
    size_t at = out.rfind("rc=");
    r.exit_code = at == std::string::npos ? -1 : std::stoi(out.substr(at + 3));
    r.out = at == std::string::npos ? out : out.substr(0, at);
    r.err = read_text_file(err);
    remove(err.c_str());
    return r;
}

} // namespace

TEST(DriveNumbers, TheLastIntNamesNoDriveAndTheRunEnds)
{
    // The loop over the named drive once stepped past INT_MAX and ran
    // through every int.
    run_result r = run_limited("-disk 2147483647");
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

TEST(ImageOpen, AFifoOrADeviceThatIsNoDiskIsRefusedAtOnce)
{
    std::string fifo = ::testing::TempDir() + "vexum-fifo-" + std::to_string(getpid());
    remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Nobody writes to the FIFO: an open that waits for a writer never ends.
    for (const std::string& path : {fifo, std::string("/dev/null")}) {
        run_result r = run_limited("-image " + path + " -p", 20);
        EXPECT_EQ(r.exit_code, 2) << path;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "vexum: " + path + ": cannot open the image (not a regular file or a block device)\n");
    }
    remove(fifo.c_str());
}

TEST(ImageGeometry, CylindersBeyond32BitsPrintTheirWholeFigure)
{
    // An 8 EiB sparse image: (2^63 - 1) / 512 sectors of 255 heads and 63
    // sectors a track are 1,121,344,445,034 cylinders, which 32 bits cut to
    // 357,980,778. Only a file system that takes files of that size can hold
    // it (tmpfs does).
    std::string path;
    for (const std::string& folder : {::testing::TempDir(), std::string("/dev/shm/")}) {
        std::string candidate = folder + "vexum-8eib-" + std::to_string(getpid()) + ".img";
        int fd = open(candidate.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        if (fd < 0)
            continue;
        bool sized = ftruncate(fd, off_t(0x7FFFFFFFFFFFFFFFLL)) == 0;
        close(fd);
        if (sized) {
            path = candidate;
            break;
        }
        remove(candidate.c_str());
    }
    if (path.empty())
        GTEST_SKIP() << "no file system here takes an 8 EiB sparse file";
    run_result r = run_in_process({"-image", path, "-d"});
    remove(path.c_str());
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "\nDisk:" + path +
                         "\n"
                         "  W32:Media Type                     Fixed\n"
                         "  W32:Cylinder               1,121,344,445,034\n"
                         "  W32:Track per cylinder               255\n"
                         "  W32:Sector per track                  63\n"
                         "  W32:Byte per sector                  512\n"
                         "  Unkown format!!\n");
}
