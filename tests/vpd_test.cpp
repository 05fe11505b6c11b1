// Vital product data pages, run with -d over the units of
// fixtures/detail/vpd.bus, which answer no other detail request.
#include <gtest/gtest.h>

#include "detail_fixture.h"

namespace {

void expect_vpd_report(const char* address, const std::string& product, const std::string& lines)
{
    SCOPED_TRACE(address);
    std::string a = address;
    std::string tag = "0)ID:" + a.substr(2, 1) + "-" + a.substr(4, 1);
    run_result r = run_detail("vpd.bus", "-d", address);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, detail_adapter_line() + detail_device_line(tag, product, "Rigid", "Processor device") + lines);
    EXPECT_EQ(r.err, "");
}

const std::string vpd_unit = "VPD             ";
const std::string blank_field(13, ' ');

} // namespace

TEST(vpd_pages, text_lines_serial_number_and_operating_definition)
{
    expect_vpd_report("0:0:0", vpd_unit,
                      "  VPD:FRU information (01H)  CONTROLLER BOARD\n"
                      "                             REV 2\n"
                      "  VPD:Unit serial number            ABC123\n"
                      "  VPD:Ascii action mode                   \n");
}

TEST(vpd_pages, lists_lengths_and_texts)
{
    expect_vpd_report("0:0:1", vpd_unit, ""); // only page 00h listed
    // The unit's order; empty serial number; empty ASCII text; a long value;
    // carriage return and line feed end a line once.
    expect_vpd_report("0:0:2", vpd_unit,
                      "  VPD:Unit serial number     " + blank_field + "\n" +
                          "  VPD:Ascii action mode      OPERATING DEFINITION MODE 2\n"
                          "  VPD:FRU information (7FH)  A\n"
                          "                             B\n");
    expect_vpd_report("0:0:3", vpd_unit,
                      "  VPD:FRU information (05H)  HELLO\n"
                      "  VPD:Unit serial number     SN0123456789ABCDEFGH\n");
    // Ends at the zero byte; the failed page 40h and the absent page 82h
    // are skipped.
    expect_vpd_report("0:0:4", vpd_unit, "  VPD:Unit serial number                AB\n");
    // Control bytes of device text are shown as dots.
    expect_vpd_report("0:0:5", vpd_unit, "  VPD:Unit serial number               X.Y\n");
    expect_vpd_report("0:0:6", vpd_unit, ""); // supported-pages answer marked absent
}

TEST(vpd_pages, answers_that_are_not_the_page_asked_for)
{
    // Standard data read as the list (page codes 1Fh and 00h), then as page 1Fh.
    expect_vpd_report("0:1:0", "VPD STANDARD    ",
                      "  VPD:FRU information (1FH)  VEXUM   VPD STANDARD    1.0 \n");
    // The list again for every page: an empty serial number, an empty text.
    expect_vpd_report("0:1:1", vpd_unit, "  VPD:Unit serial number     " + blank_field + "\n");
}

TEST(vpd_pages, lengths_are_bounded_by_the_bytes_received)
{
    expect_vpd_report("0:1:2", vpd_unit,
                      "  VPD:Unit serial number     " + std::string(251, 'S') + "\n" +
                          "  VPD:FRU information (01H)  " + std::string(250, 'T') + "\n" +
                          "  VPD:Ascii action mode      " + std::string(250, 'U') + "\n");
}
