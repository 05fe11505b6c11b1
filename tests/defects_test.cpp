// Defect list report, run with -d over the fixed disks of
// fixtures/detail/defects.bus: primary list, then grown list.
#include <cstdio>

#include <gtest/gtest.h>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "detail_fixture.h"
#include "scsi/reports.h"

namespace {

const char* const no_capacity = "    Error occured at read capacity.\n";

std::string disk_report(const std::string& tag, const std::string& lines)
{
    return detail_device_line(tag, "DEFECTS         ", "Rigid", "Direct access device") + lines + no_capacity;
}

void expect_disk_report(const char* address, const std::string& tag, const std::string& lines)
{
    SCOPED_TRACE(address);
    run_result r = run_detail("defects.bus", "-d", address);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, detail_adapter_line() + disk_report(tag, lines));
    EXPECT_EQ(r.err, "");
}

} // namespace

TEST(defect_list, block_and_physical_sector_entries_of_two_units)
{
    run_result r = run_detail("defects.bus", "-ld", "0:0");
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, detail_adapter_line() +
                         disk_report("0)ID:0-0",
                                     "  Defect List                       P List  (Block address)\n"
                                     "    0000A1B2    001A2B3C    0020F000    0020F001    003F0000    0040FF01\n"
                                     "    0051234A    0060C000\n"
                                     "  Defect List                       G List  (Block address)\n"
                                     "                                   nothing\n") +
                         disk_report("0)ID:0-1",
                                     "  Defect List                       P List  (Physical sector address)\n"
                                     "    Cy:000123 Hd:02 No:0000001A    Cy:0004FF Hd:00 No:00000003\n"));
}

TEST(defect_list, line_breaks_at_full_and_partial_lines)
{
    expect_disk_report("0:1:0", "0)ID:1-0",
                       "  Defect List                       P List  (Block address)\n"
                       "    00001000    00001001    00001002    00001003    00001004    00001005\n"
                       "  Defect List                       G List  (Distance from index)\n"
                       "    Cy:000100 Hd:02 Bt:00002000    Cy:000101 Hd:02 Bt:00002001    Cy:000102 Hd:02 Bt:00002002\n");
    expect_disk_report("0:1:1", "0)ID:1-1",
                       "  Defect List                       P List  (Block address)\n"
                       "    00001000    00001001    00001002    00001003    00001004    00001005\n"
                       "    00001006\n"
                       "  Defect List                       G List  (Physical sector address)\n"
                       "    Cy:000100 Hd:03 No:00000000    Cy:000101 Hd:03 No:00000001    Cy:000102 Hd:03 No:00000002\n"
                       "    Cy:000103 Hd:03 No:00000003\n");
}

TEST(defect_list, lengths_beyond_the_buffer_and_undecoded_formats)
{
    // Block format: 251 entry bytes hold 62 whole entries, 10 lines of 6 and
    // one of 2; a length below one entry is an empty list.
    std::string grown;
    for (unsigned i = 0; i < 62; i++) {
        char entry[16];
        std::snprintf(entry, sizeof entry, "    000000%02X", i);
        grown += entry;
        if (i % 6 == 5 || i == 61)
            grown += "\n";
    }
    expect_disk_report("0:2:0", "0)ID:2-0",
                       "  Defect List                       P List  (Block address)\n"
                       "                                   nothing\n"
                       "  Defect List                       G List  (Block address)\n" +
                           grown);

    expect_disk_report("0:2:1", "0)ID:2-1",
                       "  Defect List                Vender unique\n"
                       "  Defect List                Vender unique\n");

    // Eight-byte entries: 31 fit, 10 lines of 3 and one of 1.
    std::string primary = "  Defect List                       P List  (Distance from index)\n";
    for (unsigned i = 0; i < 31; i++) {
        char entry[40];
        std::snprintf(entry, sizeof entry, "    Cy:0000%02X Hd:01 Bt:000000%02X", i, i);
        primary += entry;
        if (i % 3 == 2 || i == 30)
            primary += "\n";
    }
    expect_disk_report("0:2:2", "0)ID:2-2", primary);
}

TEST(defect_list, headings_of_both_lists_and_of_the_header_only)
{
    std::string error;
    const aspi_manager* bus = load_bus_text("unit 0:0:0\n"
                                            "  on 37 .. 18\n"
                                            "    data 00 18 00 04 00 00 00 2A\n"
                                            "  on 37 .. 00\n"
                                            "    data 00 00 00 00\n",
                                            "headings.bus", ".", &error);
    ASSERT_NE(bus, nullptr) << error;
    select_aspi_manager(bus);
    ASSERT_EQ(aspi_open(), 0);
    run_result r = capture_output([] {
        print_defect_list({0, 0, 0}, 3);
        print_defect_list({0, 0, 0}, 0);
    });
    aspi_close();
    select_aspi_manager(nullptr);
    release_aspi_manager(bus);
    EXPECT_EQ(r.out, "  Defect List                   P & G List  (Block address)\n"
                     "    0000002A\n"
                     "  Defect List                  Header only  (Block address)\n"
                     "                                   nothing\n");
}
