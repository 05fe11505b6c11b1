// Mode page reports, each run over a unit of fixtures/detail/modepages.bus
// whose only answers are the pages under test.
#include <gtest/gtest.h>

#include "detail_fixture.h"

namespace {

struct page_case {
    const char* address;
    const char* lines; // the unit's lines after its device line
};

// "0:3:1" gives "0)ID:3-1".
std::string tag_of(const char* address)
{
    std::string a = address;
    return "0)ID:" + a.substr(2, 1) + "-" + a.substr(4, 1);
}

void expect_reports(const page_case* cases, size_t count, const std::string& product, const char* removable,
                    const char* type, const char* tail)
{
    for (size_t i = 0; i < count; i++) {
        SCOPED_TRACE(cases[i].address);
        run_result r = run_detail("modepages.bus", "-d", cases[i].address);
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, detail_adapter_line() + detail_device_line(tag_of(cases[i].address), product, removable, type) +
                             cases[i].lines + tail);
        EXPECT_EQ(r.err, "");
    }
}

} // namespace

TEST(disconnect_reconnect_page, ratios_limits_burst_and_bounds_of_the_page)
{
    const page_case cases[] = {
        {"0:0:0", // behind an 8-byte block descriptor
         "  DRP:Buffer full  ratio           128/256\n"
         "  DRP:Buffer empty ratio     Target unique\n"
         "  DRP:Bus inactive limit               0.1 msec\n"
         "  DRP:Disconnect limit time            1.0 msec\n"
         "  DRP:Connect time limit         Limitless\n"
         "  DRP:Maximum burst size        33,553,920 bytes\n"
         "  DRP:Data trans. disconnect             3\n"},
        {"0:0:1", // cut short: all zeros
         "  DRP:Buffer full  ratio     Target unique\n"
         "  DRP:Buffer empty ratio     Target unique\n"
         "  DRP:Bus inactive limit         Limitless\n"
         "  DRP:Disconnect limit time      Limitless\n"
         "  DRP:Connect time limit         Limitless\n"
         "  DRP:Maximum burst size         Limitless\n"
         "  DRP:Data trans. disconnect             0\n"},
        {"0:0:2",
         "  DRP:Buffer full  ratio             1/256\n"
         "  DRP:Buffer empty ratio           255/256\n"
         "  DRP:Bus inactive limit           6,553.5 msec\n"
         "  DRP:Disconnect limit time           10.0 msec\n"
         "  DRP:Connect time limit           1,234.5 msec\n"
         "  DRP:Maximum burst size               512 bytes\n"
         "  DRP:Data trans. disconnect             3\n"},
        {"0:0:3", // the last byte read is the buffer's last byte
         "  DRP:Buffer full  ratio            64/256\n"
         "  DRP:Buffer empty ratio            64/256\n"
         "  DRP:Bus inactive limit               0.2 msec\n"
         "  DRP:Disconnect limit time            0.2 msec\n"
         "  DRP:Connect time limit               0.2 msec\n"
         "  DRP:Maximum burst size             1,024 bytes\n"
         "  DRP:Data trans. disconnect             2\n"},
        {"0:0:4", ""}, // page would end one byte beyond the buffer
        {"0:0:5", ""}, // page starts beyond the buffer
        {"0:0:6", ""}, // request fails
    };
    expect_reports(cases, std::size(cases), "PAGE DRP        ", "Rigid", "Processor device", "");
}

TEST(peripheral_device_page, interface_names_and_numbers)
{
    const page_case cases[] = {
        {"0:1:0", "  Interface ID                        SCSI X3.131-1986\n"},
        {"0:1:1", "  Interface ID                         SMD X3.91M-1990\n"},
        {"0:1:2", "  Interface ID                       E-SMD X3.170A-1991\n"},
        {"0:1:3", "  Interface ID                       IPI-2 X3.130-1986; X3T9.3/87-002\n"},
        {"0:1:4", "  Interface ID                       IPI-3 X3.132-1987; X3.147-1988\n"},
        {"0:1:5", "  Interface ID                        8001\n"},
        {"0:1:6", "  Interface ID                        0100\n"},
        {"0:1:7", "  Interface ID                        SCSI X3.131-1986\n"}, // only the header arrived
    };
    expect_reports(cases, std::size(cases), "PAGE PERIPHERAL ", "Rigid", "Processor device", "");
}

TEST(caching_page, opposite_cache_bits_priorities_and_prefetch_counts)
{
    const page_case cases[] = {
        {"0:2:0",
         "  CSH:Write cache                   Enable\n"
         "  CSH:Read  cache                  Disable\n"
         "  CSH:Read  data priority               15\n"
         "  CSH:Write data priority                0\n"
         "  CSH:Disable prefetch trans        65,535\n"
         "  CSH:Minimum prefetch                   0\n"
         "  CSH:Maximum prefetch               1,000\n"
         "  CHS:Max. prefetch ceiling         65,535\n"},
        {"0:2:1",
         "  CSH:Write cache                   Enable\n"
         "  CSH:Read  cache                   Enable\n"
         "  CSH:Read  data priority                0\n"
         "  CSH:Write data priority               15\n"
         "  CSH:Disable prefetch trans            16\n"
         "  CSH:Minimum prefetch                   1\n"
         "  CSH:Maximum prefetch                 128\n"
         "  CHS:Max. prefetch ceiling            256\n"},
        {"0:2:2", // cut short
         "  CSH:Write cache                  Disable\n"
         "  CSH:Read  cache                   Enable\n"
         "  CSH:Read  data priority                0\n"
         "  CSH:Write data priority                0\n"
         "  CSH:Disable prefetch trans             0\n"
         "  CSH:Minimum prefetch                   0\n"
         "  CSH:Maximum prefetch                   0\n"
         "  CHS:Max. prefetch ceiling              0\n"},
    };
    expect_reports(cases, std::size(cases), "PAGE CACHING    ", "Removable", "Write-once device", "");
}

TEST(disk_pages, format_device_geometry_and_notch)
{
    const page_case cases[] = {
        {"0:3:0",
         "  FMT:Track per zone                     0\n"
         "  FMT:Alternate sec per zone             8\n"
         "  FMT:Alternate trk per zone             0\n"
         "  FMT:Alternate trk per unit            16\n"
         "  FMT:Sector per track                  63\n"
         "  FMT:Physical sector size             512\n"
         "  FMT:Interleave factor                  1\n"
         "  FMT:Track skew factor                  4\n"
         "  FMT:Cylinder skew factor              10\n"
         "  DRV:Cylinder number           16,777,215\n"
         "  DRV:Head number                      255\n"
         "  DRV:Drive step rate               65,535\n"
         "  DRV:Landing zone cylinder             -1\n"
         "  DRV:Revolutions per minute         7,200\n"
         "  NPT:Notch type bit                    ON\n"
         "  NPT:Maximum notch number              16\n"
         "  NPT:Active notch number                3\n"
         "  NPT:Notch start position   4,294,967,295\n"
         "  NPT:Notch end   position   4,294,967,295\n"},
        {"0:3:1", // behind a block descriptor; format page cut short
         "  FMT:Track per zone                     0\n"
         "  FMT:Alternate sec per zone             0\n"
         "  FMT:Alternate trk per zone             0\n"
         "  FMT:Alternate trk per unit             0\n"
         "  FMT:Sector per track                   0\n"
         "  FMT:Physical sector size               0\n"
         "  FMT:Interleave factor                  0\n"
         "  FMT:Track skew factor                  0\n"
         "  FMT:Cylinder skew factor               0\n"
         "  DRV:Head number                        4\n"
         "  NPT:Notch type bit                    ON\n"
         "  NPT:Maximum notch number               0\n"
         "  NPT:Active notch number                0\n"
         "  NPT:Notch start position           1,234:5   cylinder:head\n"
         "  NPT:Notch end   position      16,777,215:255 cylinder:head\n"},
        {"0:3:2", // no format page, geometry all zero, not notched
         "  NPT:Notch type bit                   OFF\n"},
        {"0:3:3", // notch page ends inside the start boundary
         "  DRV:Cylinder number                1,000\n"
         "  DRV:Landing zone cylinder          1,000\n"
         "  NPT:Notch type bit                    ON\n"
         "  NPT:Maximum notch number               0\n"
         "  NPT:Active notch number                0\n"
         "  NPT:Notch start position               0:12  cylinder:head\n"
         "  NPT:Notch end   position               0:0   cylinder:head\n"},
        {"0:3:4",
         "  NPT:Notch type bit                    ON\n"
         "  NPT:Maximum notch number               0\n"
         "  NPT:Active notch number                0\n"
         "  NPT:Notch start position               0:99  cylinder:head\n"
         "  NPT:Notch end   position               0:0   cylinder:head\n"},
    };
    expect_reports(cases, std::size(cases), "PAGE GEOMETRY   ", "Rigid", "Direct access device",
                   "    Error occured at read capacity.\n");
}

TEST(device_configuration_page, block_descriptor_lines_and_page_fields)
{
    const page_case cases[] = {
        {"0:4:0",
         "  DCP:Block number               1,000,000\n"
         "  DCP:Block length                     512\n"
         "  DCP:Active format                     00\n"
         "  DCP:Active partition                  00\n"
         "  DCP:Write buffer full ratio      Default\n"
         "  DCP:Read buffer empty ratio      128/256\n"
         "  DCP:Write delay time           Limitless\n"
         "  DCP:Data buffer recovery         Disable\n"
         "  DCP:Block identifiers supported   Enable\n"
         "  DCP:Report setmarks              Disable\n"
         "  DCP:Automatic velocity control   Default\n"
         "  DCP:Stop on consecutive filemakrs      3\n"
         "  DCP:Recover buffer order            FIFO\n"
         "  DCP:Report early warning           Write\n"
         "  DCP:Gap size           data block update\n"
         "  DCP:EOD defined                        0\n"
         "  DCP:Enable EOD genaration         Enable\n"
         "  DCP:Synchronize at early warning Disable\n"
         "  DCP:Buffer size at EW             32,768\n"
         "  DCP:Data compress method              01\n"},
        {"0:4:1", // page length 13
         "  DCP:Block number                       0\n"
         "  DCP:Block length                   1,024\n"},
        {"0:4:2", // two block descriptors
         "  DCP:Block number                  10,000\n"
         "  DCP:Block length                   2,048\n"
         "  DCP:Active format                     1F\n"
         "  DCP:Active partition                  07\n"
         "  DCP:Write buffer full ratio      Default\n"
         "  DCP:Read buffer empty ratio      255/256\n"
         "  DCP:Write delay time               1,000 ms\n"
         "  DCP:Data buffer recovery          Enable\n"
         "  DCP:Block identifiers supported   Enable\n"
         "  DCP:Report setmarks               Enable\n"
         "  DCP:Automatic velocity control      Auto\n"
         "  DCP:Stop on consecutive filemakrs      3\n"
         "  DCP:Recover buffer order            LIFO\n"
         "  DCP:Report early warning      Read/Write\n"
         "  DCP:Gap size                          80\n"
         "  DCP:EOD defined                        7\n"
         "  DCP:Enable EOD genaration         Enable\n"
         "  DCP:Synchronize at early warning  Enable\n"
         "  DCP:Buffer size at EW         16,777,215\n"
         "  DCP:Data compress method              FF\n"},
        {"0:4:3", // no block descriptor
         "  DCP:Active format                     00\n"
         "  DCP:Active partition                  00\n"
         "  DCP:Write buffer full ratio        1/256\n"
         "  DCP:Read buffer empty ratio      Default\n"
         "  DCP:Write delay time           6,553,500 ms\n"
         "  DCP:Data buffer recovery         Disable\n"
         "  DCP:Block identifiers supported  Disable\n"
         "  DCP:Report setmarks              Disable\n"
         "  DCP:Automatic velocity control   Default\n"
         "  DCP:Stop on consecutive filemakrs      0\n"
         "  DCP:Recover buffer order            FIFO\n"
         "  DCP:Report early warning           Write\n"
         "  DCP:Gap size                  multiple 2\n"
         "  DCP:EOD defined                        0\n"
         "  DCP:Enable EOD genaration        Disable\n"
         "  DCP:Synchronize at early warning  Enable\n"
         "  DCP:Buffer size at EW                  0\n"
         "  DCP:Data compress method              00\n"},
        {"0:4:4", // cut short after byte 5
         "  DCP:Active format                     03\n"
         "  DCP:Active partition                  01\n"
         "  DCP:Write buffer full ratio       64/256\n"
         "  DCP:Read buffer empty ratio       64/256\n"
         "  DCP:Write delay time           Limitless\n"
         "  DCP:Data buffer recovery         Disable\n"
         "  DCP:Block identifiers supported  Disable\n"
         "  DCP:Report setmarks              Disable\n"
         "  DCP:Automatic velocity control   Default\n"
         "  DCP:Stop on consecutive filemakrs      0\n"
         "  DCP:Recover buffer order            FIFO\n"
         "  DCP:Report early warning           Write\n"
         "  DCP:Gap size              Device defined\n"
         "  DCP:EOD defined                        0\n"
         "  DCP:Enable EOD genaration        Disable\n"
         "  DCP:Synchronize at early warning Disable\n"
         "  DCP:Buffer size at EW                  0\n"
         "  DCP:Data compress method              00\n"},
        {"0:4:5",
         "  DCP:Active format                     00\n"
         "  DCP:Active partition                  00\n"
         "  DCP:Write buffer full ratio      Default\n"
         "  DCP:Read buffer empty ratio      Default\n"
         "  DCP:Write delay time           Limitless\n"
         "  DCP:Data buffer recovery         Disable\n"
         "  DCP:Block identifiers supported  Disable\n"
         "  DCP:Report setmarks              Disable\n"
         "  DCP:Automatic velocity control   Default\n"
         "  DCP:Stop on consecutive filemakrs      0\n"
         "  DCP:Recover buffer order            FIFO\n"
         "  DCP:Report early warning           Write\n"
         "  DCP:Gap size                 multiple 15\n"
         "  DCP:EOD defined                        0\n"
         "  DCP:Enable EOD genaration         Enable\n"
         "  DCP:Synchronize at early warning Disable\n"
         "  DCP:Buffer size at EW                  0\n"
         "  DCP:Data compress method              00\n"},
        {"0:4:6", // page fields beyond the buffer: the descriptor lines only
         "  DCP:Block number                   1,000\n"
         "  DCP:Block length                     512\n"},
        {"0:4:7", ""}, // short page, no descriptor
        {"0:5:0",
         "  DCP:Active format                     00\n"
         "  DCP:Active partition                  00\n"
         "  DCP:Write buffer full ratio      Default\n"
         "  DCP:Read buffer empty ratio      Default\n"
         "  DCP:Write delay time           Limitless\n"
         "  DCP:Data buffer recovery         Disable\n"
         "  DCP:Block identifiers supported  Disable\n"
         "  DCP:Report setmarks              Disable\n"
         "  DCP:Automatic velocity control   Default\n"
         "  DCP:Stop on consecutive filemakrs      0\n"
         "  DCP:Recover buffer order            FIFO\n"
         "  DCP:Report early warning           Write\n"
         "  DCP:Gap size                          10\n"
         "  DCP:EOD defined                        0\n"
         "  DCP:Enable EOD genaration        Disable\n"
         "  DCP:Synchronize at early warning Disable\n"
         "  DCP:Buffer size at EW                  0\n"
         "  DCP:Data compress method              00\n"},
    };
    expect_reports(cases, std::size(cases), "PAGE CONFIG     ", "Removable", "Sequential device", "");
}
