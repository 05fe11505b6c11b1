// Whole reports of one unit of each class (fixed disk, PD unit, CD-ROM,
// tape, write-once, scanner) under -d, -p and -dp. Every unit of
// fixtures/detail/classes.bus answers every request, so each report shows
// exactly the detail reports its class calls for, in their order.
#include <gtest/gtest.h>

#include "detail_fixture.h"

namespace {

const std::string interface_line = "  Interface ID                        SCSI X3.131-1986\n";
const std::string vpd_lines = "  VPD:Unit serial number            VX0001\n";
const std::string defect_lines = "  Defect List                       P List  (Block address)\n"
                                 "    00001234    00005678\n"
                                 "  Defect List                       G List  (Block address)\n"
                                 "                                   nothing\n";
const std::string disconnect_lines = "  DRP:Buffer full  ratio            32/256\n"
                                     "  DRP:Buffer empty ratio            32/256\n"
                                     "  DRP:Bus inactive limit               1.0 msec\n"
                                     "  DRP:Disconnect limit time            1.0 msec\n"
                                     "  DRP:Connect time limit         Limitless\n"
                                     "  DRP:Maximum burst size            65,536 bytes\n"
                                     "  DRP:Data trans. disconnect             0\n";
const std::string format_lines = "  FMT:Track per zone                     1\n"
                                 "  FMT:Alternate sec per zone             2\n"
                                 "  FMT:Alternate trk per zone             0\n"
                                 "  FMT:Alternate trk per unit             4\n"
                                 "  FMT:Sector per track                  32\n"
                                 "  FMT:Physical sector size             512\n"
                                 "  FMT:Interleave factor                  1\n"
                                 "  FMT:Track skew factor                  0\n"
                                 "  FMT:Cylinder skew factor               5\n";
const std::string geometry_lines = "  DRV:Cylinder number                2,048\n"
                                   "  DRV:Head number                        8\n"
                                   "  DRV:Revolutions per minute         5,400\n";
const std::string caching_lines = "  CSH:Write cache                   Enable\n"
                                  "  CSH:Read  cache                   Enable\n"
                                  "  CSH:Read  data priority                0\n"
                                  "  CSH:Write data priority                0\n"
                                  "  CSH:Disable prefetch trans        65,535\n"
                                  "  CSH:Minimum prefetch                   0\n"
                                  "  CSH:Maximum prefetch                  16\n"
                                  "  CHS:Max. prefetch ceiling             16\n";
const std::string notch_lines = "  NPT:Notch type bit                   OFF\n";
const std::string block_limit_lines = "  RBL:Maximum block size            65,535\n"
                                      "  RBL:Minimum block size                 1\n";
const std::string configuration_lines = "  DCP:Active format                     00\n"
                                        "  DCP:Active partition                  00\n"
                                        "  DCP:Write buffer full ratio      Default\n"
                                        "  DCP:Read buffer empty ratio      Default\n"
                                        "  DCP:Write delay time           Limitless\n"
                                        "  DCP:Data buffer recovery         Disable\n"
                                        "  DCP:Block identifiers supported  Disable\n"
                                        "  DCP:Report setmarks               Enable\n"
                                        "  DCP:Automatic velocity control   Default\n"
                                        "  DCP:Stop on consecutive filemakrs      0\n"
                                        "  DCP:Recover buffer order            FIFO\n"
                                        "  DCP:Report early warning           Write\n"
                                        "  DCP:Gap size           data block update\n"
                                        "  DCP:EOD defined                        0\n"
                                        "  DCP:Enable EOD genaration        Disable\n"
                                        "  DCP:Synchronize at early warning Disable\n"
                                        "  DCP:Buffer size at EW                  0\n"
                                        "  DCP:Data compress method              01\n";
const std::string track_lines = "    Capacity                   536,870,912 bytes (      262,144 sectors)\n"
                                "    Block size                       2,048 bytes\n"
                                "    Track#  Type             Track data size  Start address  Digital copy\n"
                                "    [ 1] 01 Data track     536,870,912 bytes              0  Disable\n";

const std::string disk_line = detail_device_line("0)ID:0-0", "VEXUM DISK      ", "Rigid", "Direct access device");
const std::string pd_line = detail_device_line("0)ID:1-0", "PD-2 DRIVE      ", "Removable", "CD-ROM device");
const std::string cd_line = detail_device_line("0)ID:2-0", "VEXUM CD-ROM    ", "Removable", "CD-ROM device");
const std::string tape_line = detail_device_line("0)ID:3-0", "VEXUM TAPE      ", "Removable", "Sequential device");
const std::string worm_line = detail_device_line("0)ID:4-0", "VEXUM WORM      ", "Removable", "Write-once device");
const std::string other_line = detail_device_line("0)ID:5-0", "VEXUM SCANNER   ", "Rigid", "Scaner device");

// What -d adds to each class. The disk path's capacity read succeeds with
// 2048-byte blocks, so no partition decoder runs and nothing follows.
const std::string disk_pages = interface_line + vpd_lines + defect_lines + disconnect_lines + format_lines +
                               geometry_lines + caching_lines + notch_lines;
const std::string cd_pages = interface_line + vpd_lines + disconnect_lines + caching_lines;
const std::string tape_pages = interface_line + vpd_lines + disconnect_lines + block_limit_lines + configuration_lines;
const std::string worm_pages = interface_line + vpd_lines + disconnect_lines + caching_lines;
const std::string other_pages = interface_line + vpd_lines + disconnect_lines;

run_result run_classes(const std::string& options)
{
    return run_binary({"-bus", fixture_path("detail/classes.bus"), options});
}

} // namespace

TEST(device_classes, device_information)
{
    run_result r = run_classes("-d");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, detail_adapter_line() + disk_line + disk_pages + pd_line + disk_pages + cd_line + cd_pages +
                         tape_line + tape_pages + worm_line + worm_pages + other_line + other_pages);
    EXPECT_EQ(r.err, "");
}

TEST(device_classes, partition_and_track_information)
{
    run_result r = run_classes("-p");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, detail_adapter_line() + disk_line + pd_line + track_lines + cd_line + track_lines + tape_line +
                         worm_line + other_line);
    EXPECT_EQ(r.err, "");
}

TEST(device_classes, both)
{
    run_result r = run_classes("-dp");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, detail_adapter_line() + disk_line + disk_pages + pd_line + disk_pages + track_lines + cd_line +
                         cd_pages + track_lines + tape_line + tape_pages + worm_line + worm_pages + other_line +
                         other_pages);
    EXPECT_EQ(r.err, "");
}
