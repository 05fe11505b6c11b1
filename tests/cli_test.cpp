// Command line parsing and usage text, extension words included.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"
#include "format/output.h"
#include "main/cli.h"

namespace {

struct parsed {
    parse_result result;
    run_plan plan;
    report_options options{};
    std::string error;
};

parsed parse(const std::vector<std::string>& args)
{
    std::vector<const char*> argv{"vexum"};
    for (const auto& a : args)
        argv.push_back(a.c_str());
    argv.push_back(nullptr); // as the process receives it
    parsed p;
    p.result = parse_command_line(int(argv.size()) - 1, argv.data(), &p.plan, &p.options, &p.error);
    return p;
}

bool no_options(const report_options& o) { return !o.scan_luns && !o.show_device && !o.show_partitions && !o.dump_sectors; }

void expect_default_plan(const run_plan& plan)
{
    EXPECT_EQ(plan.scsi_state, -1);
    EXPECT_EQ(plan.disk_named, 0);
    EXPECT_EQ(plan.drive, -1);
    EXPECT_EQ(plan.adapter, -1);
    EXPECT_EQ(plan.target, -1);
    EXPECT_EQ(plan.lun, -1);
    EXPECT_TRUE(plan.images.empty());
    EXPECT_EQ(plan.bus_file, "");
    EXPECT_EQ(plan.trace_file, "");
    EXPECT_TRUE(plan.iscsi_portals.empty());
}

std::string read_all(FILE* f)
{
    std::string text;
    rewind(f);
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        text.append(chunk, n);
    return text;
}

} // namespace

TEST(Cli, NoArgumentsIsTheDefaultScsiScan)
{
    parsed p = parse({});
    EXPECT_EQ(p.result, PARSE_RUN);
    expect_default_plan(p.plan);
    EXPECT_TRUE(no_options(p.options));
}

TEST(Cli, DashAloneChangesNothing)
{
    parsed p = parse({"-"});
    EXPECT_EQ(p.result, PARSE_RUN);
    expect_default_plan(p.plan);
    EXPECT_TRUE(no_options(p.options));
}

TEST(Cli, ArgumentsWithoutDashAreSkipped)
{
    parsed p = parse({"scsi", "disk", "2", "d", ""});
    EXPECT_EQ(p.result, PARSE_RUN);
    expect_default_plan(p.plan);
    EXPECT_TRUE(no_options(p.options));
}

TEST(Cli, DiskAlone)
{
    parsed p = parse({"-disk"});
    EXPECT_EQ(p.plan.scsi_state, 0);
    EXPECT_EQ(p.plan.disk_named, 1);
    EXPECT_EQ(p.plan.drive, -1);
}

TEST(Cli, DiskAndScsiInEitherOrder)
{
    for (auto args : {std::vector<std::string>{"-disk", "-scsi"}, std::vector<std::string>{"-scsi", "-disk"}}) {
        parsed p = parse(args);
        EXPECT_EQ(p.plan.scsi_state, 1);
        EXPECT_EQ(p.plan.disk_named, 1);
        EXPECT_EQ(p.plan.adapter, -1);
        EXPECT_EQ(p.plan.drive, -1);
    }
}

TEST(Cli, DiskWithDriveNumber)
{
    EXPECT_EQ(parse({"-disk", "2"}).plan.drive, 2);
    EXPECT_EQ(parse({"-disk", "0"}).plan.drive, 0);
    EXPECT_EQ(parse({"-disk", "31"}).plan.drive, 31);
    EXPECT_EQ(parse({"-disk", "3x"}).plan.drive, 3); // leading digits only
}

TEST(Cli, DiskWithNonNumberIsSkipped)
{
    parsed p = parse({"-disk", "x"});
    EXPECT_EQ(p.plan.drive, -1);
    EXPECT_EQ(p.plan.disk_named, 1);
    EXPECT_EQ(p.plan.scsi_state, 0);
}

TEST(Cli, DiskFollowedByOptionDoesNotConsumeIt)
{
    parsed p = parse({"-disk", "-d"});
    EXPECT_EQ(p.plan.drive, -1);
    EXPECT_TRUE(p.options.show_device);
}

TEST(Cli, ScsiWithAdapter)
{
    parsed p = parse({"-scsi", "1"});
    EXPECT_EQ(p.plan.scsi_state, 1);
    EXPECT_EQ(p.plan.adapter, 1);
    EXPECT_EQ(p.plan.target, -1);
    EXPECT_EQ(p.plan.lun, -1);
    EXPECT_EQ(parse({"-scsi", "9"}).plan.adapter, 9);
    EXPECT_EQ(parse({"-scsi", "007"}).plan.adapter, 7);
}

TEST(Cli, ScsiWithAdapterAndTarget)
{
    parsed p = parse({"-scsi", "1:3"});
    EXPECT_EQ(p.plan.adapter, 1);
    EXPECT_EQ(p.plan.target, 3);
    EXPECT_EQ(p.plan.lun, -1);
}

TEST(Cli, ScsiWithFullAddress)
{
    parsed p = parse({"-scsi", "1:3:2"});
    EXPECT_EQ(p.plan.adapter, 1);
    EXPECT_EQ(p.plan.target, 3);
    EXPECT_EQ(p.plan.lun, 2);
    EXPECT_FALSE(p.options.scan_luns);
    EXPECT_EQ(parse({"-scsi", "0:6:7"}).plan.lun, 7);
    EXPECT_EQ(parse({"-scsi", "2:3:4:5"}).plan.lun, 4);
    EXPECT_EQ(parse({"-scsi", "2:3:45"}).plan.lun, 45);
}

TEST(Cli, TargetFieldIsOneCharacterWide)
{
    parsed p = parse({"-scsi", "1:12:2"});
    EXPECT_EQ(p.plan.adapter, 1);
    EXPECT_EQ(p.plan.target, 12);
    EXPECT_EQ(p.plan.lun, -1);
}

TEST(Cli, NonDigitTargetLeavesTargetAndReadsLun)
{
    parsed p = parse({"-scsi", "1:x:2"});
    EXPECT_EQ(p.plan.adapter, 1);
    EXPECT_EQ(p.plan.target, -1);
    EXPECT_EQ(p.plan.lun, 2);
    // An empty target field: the colon after it is the one character stepped
    // over, so no LUN is read.
    parsed q = parse({"-scsi", "1::2"});
    EXPECT_EQ(q.plan.target, -1);
    EXPECT_EQ(q.plan.lun, -1);
}

TEST(Cli, AddressThatStopsEarly)
{
    parsed p = parse({"-scsi", "1x:3:2"});
    EXPECT_EQ(p.plan.adapter, 1);
    EXPECT_EQ(p.plan.target, -1);
    EXPECT_EQ(p.plan.lun, -1);

    parsed q = parse({"-scsi", "1:3x2"});
    EXPECT_EQ(q.plan.target, 3);
    EXPECT_EQ(q.plan.lun, -1);

    parsed r = parse({"-scsi", "1:3:"});
    EXPECT_EQ(r.plan.target, 3);
    EXPECT_EQ(r.plan.lun, -1);
}

TEST(Cli, AddressEndingAfterColonStopsAtTheEnd)
{
    // Reading on would step over the terminating zero here; the parser stops.
    parsed p = parse({"-scsi", "1:"});
    EXPECT_EQ(p.plan.adapter, 1);
    EXPECT_EQ(p.plan.target, -1);
    EXPECT_EQ(p.plan.lun, -1);
}

TEST(Cli, ScsiAddressMustStartWithDigit)
{
    parsed p = parse({"-scsi", ":3"});
    EXPECT_EQ(p.result, PARSE_RUN);
    EXPECT_EQ(p.plan.scsi_state, 1);
    EXPECT_EQ(p.plan.adapter, -1);
    EXPECT_EQ(p.plan.target, -1);
    EXPECT_EQ(p.plan.lun, -1);

    parsed q = parse({"-scsi", "-d"});
    EXPECT_EQ(q.plan.adapter, -1);
    EXPECT_TRUE(q.options.show_device);
}

TEST(Cli, CommandWordsIgnoreCase)
{
    parsed p = parse({"-SCSI", "2:1"});
    EXPECT_EQ(p.plan.scsi_state, 1);
    EXPECT_EQ(p.plan.adapter, 2);
    EXPECT_EQ(p.plan.target, 1);
    EXPECT_TRUE(no_options(p.options));

    parsed q = parse({"-DiSk", "4"});
    EXPECT_EQ(q.plan.disk_named, 1);
    EXPECT_EQ(q.plan.drive, 4);
    EXPECT_EQ(q.plan.scsi_state, 0);
    EXPECT_TRUE(no_options(q.options));
}

TEST(Cli, NearCommandWordsAreLetterGroups)
{
    parsed p = parse({"-disks"});
    EXPECT_TRUE(p.options.show_device);
    EXPECT_FALSE(p.options.scan_luns);
    EXPECT_FALSE(p.options.show_partitions);
    EXPECT_FALSE(p.options.dump_sectors);
    EXPECT_EQ(p.plan.disk_named, 0);
    EXPECT_EQ(p.plan.scsi_state, -1);

    parsed q = parse({"-scsix", "1"});
    EXPECT_EQ(q.plan.scsi_state, -1);
    EXPECT_EQ(q.plan.adapter, -1);
    EXPECT_TRUE(no_options(q.options));

    parsed r = parse({"-dis"});
    EXPECT_TRUE(r.options.show_device);
    EXPECT_EQ(r.plan.disk_named, 0);
}

TEST(Cli, OptionLetters)
{
    parsed p = parse({"-l"});
    EXPECT_TRUE(p.options.scan_luns);
    EXPECT_FALSE(p.options.show_device || p.options.show_partitions || p.options.dump_sectors);

    parsed q = parse({"-o"});
    EXPECT_TRUE(q.options.dump_sectors);
    EXPECT_FALSE(q.options.scan_luns || q.options.show_device || q.options.show_partitions);

    for (const char* arg : {"-dp", "-DP", "-pd", "-Pd"}) {
        parsed r = parse({arg});
        EXPECT_TRUE(r.options.show_device) << arg;
        EXPECT_TRUE(r.options.show_partitions) << arg;
        EXPECT_FALSE(r.options.scan_luns || r.options.dump_sectors) << arg;
    }

    parsed s = parse({"-LDPO"});
    EXPECT_TRUE(s.options.scan_luns && s.options.show_device && s.options.show_partitions && s.options.dump_sectors);
    expect_default_plan(s.plan);

    parsed t = parse({"-l", "-d", "-p", "-o", "-d"});
    EXPECT_TRUE(t.options.scan_luns && t.options.show_device && t.options.show_partitions && t.options.dump_sectors);
}

TEST(Cli, OtherLettersIgnored)
{
    parsed p = parse({"-dz"});
    EXPECT_EQ(p.result, PARSE_RUN);
    EXPECT_TRUE(p.options.show_device);
    EXPECT_FALSE(p.options.scan_luns || p.options.show_partitions || p.options.dump_sectors);

    parsed q = parse({"-xyz!1", "--"});
    EXPECT_EQ(q.result, PARSE_RUN);
    EXPECT_TRUE(no_options(q.options));
    expect_default_plan(q.plan);

    // A question mark that is not the first character is just another letter.
    parsed r = parse({"-d?"});
    EXPECT_EQ(r.result, PARSE_RUN);
    EXPECT_TRUE(r.options.show_device);
}

TEST(Cli, QuestionMarkStopsParsing)
{
    parsed p = parse({"-d", "-?"});
    EXPECT_EQ(p.result, PARSE_USAGE);
    EXPECT_TRUE(p.options.show_device);

    parsed q = parse({"-?", "-disk", "-p", "-bus"});
    EXPECT_EQ(q.result, PARSE_USAGE);
    EXPECT_EQ(q.plan.disk_named, 0);
    EXPECT_FALSE(q.options.show_partitions);
    EXPECT_EQ(q.error, "");

    EXPECT_EQ(parse({"-?x"}).result, PARSE_USAGE);
    EXPECT_EQ(parse({"-??"}).result, PARSE_USAGE);
    EXPECT_EQ(parse({"?"}).result, PARSE_RUN); // no dash: skipped
}

TEST(Cli, QuestionMarkAsAddressIsNotConsumed)
{
    EXPECT_EQ(parse({"-scsi", "-?"}).result, PARSE_USAGE);
    EXPECT_EQ(parse({"-disk", "-?"}).result, PARSE_USAGE);
}

TEST(Cli, LaterValuesOverwriteEarlierOnes)
{
    parsed p = parse({"-scsi", "1:3:2", "-scsi", "4"});
    EXPECT_EQ(p.plan.adapter, 4);
    EXPECT_EQ(p.plan.target, 3); // the second address stopped early
    EXPECT_EQ(p.plan.lun, 2);

    parsed q = parse({"-scsi", "1:3", "-scsi", "2:x:5"});
    EXPECT_EQ(q.plan.adapter, 2);
    EXPECT_EQ(q.plan.target, 3);
    EXPECT_EQ(q.plan.lun, 5);

    EXPECT_EQ(parse({"-disk", "2", "-disk", "5"}).plan.drive, 5);
    EXPECT_EQ(parse({"-disk", "2", "-disk"}).plan.drive, 2);
    EXPECT_EQ(parse({"-disk", "2", "-disk", "x"}).plan.drive, 2);
}

TEST(Cli, DiskAfterScsiKeepsScsiState)
{
    EXPECT_EQ(parse({"-scsi", "-disk"}).plan.scsi_state, 1);
    EXPECT_EQ(parse({"-disk", "-disk"}).plan.scsi_state, 0);
    EXPECT_EQ(parse({"-disk", "3", "-scsi", "0:1"}).plan.scsi_state, 1);
}

TEST(Cli, HugeNumbersSaturate)
{
    EXPECT_EQ(parse({"-disk", "2147483646"}).plan.drive, 2147483646);
    EXPECT_EQ(parse({"-disk", "2147483647"}).plan.drive, INT_MAX);
    EXPECT_EQ(parse({"-disk", "2147483648"}).plan.drive, INT_MAX);
    EXPECT_EQ(parse({"-disk", "99999999999999999999999999999999"}).plan.drive, INT_MAX);
    EXPECT_EQ(parse({"-disk", "4294967297"}).plan.drive, INT_MAX); // not 1

    parsed p = parse({"-scsi", "99999999999999999999:5:18446744073709551617"});
    EXPECT_EQ(p.plan.adapter, INT_MAX);
    EXPECT_EQ(p.plan.target, 5);
    EXPECT_EQ(p.plan.lun, INT_MAX);

    parsed q = parse({"-scsi", "0:99999999999"});
    EXPECT_EQ(q.plan.adapter, 0);
    EXPECT_EQ(q.plan.target, INT_MAX);
    EXPECT_EQ(q.plan.lun, -1);
}

TEST(Cli, ImageWords)
{
    parsed p = parse({"-image", "a.img", "-IMAGE", "-d", "-Image", "b.img"});
    EXPECT_EQ(p.result, PARSE_RUN);
    ASSERT_EQ(p.plan.images.size(), 3u);
    EXPECT_EQ(p.plan.images[0], "a.img");
    EXPECT_EQ(p.plan.images[1], "-d"); // taken whatever it starts with
    EXPECT_EQ(p.plan.images[2], "b.img");
    EXPECT_FALSE(p.options.show_device);
    EXPECT_EQ(p.plan.scsi_state, 0); // suppresses the default scan
    EXPECT_EQ(p.plan.disk_named, 0); // but names no disk command
    EXPECT_EQ(p.plan.drive, -1);
}

TEST(Cli, ImageAndScsiWord)
{
    EXPECT_EQ(parse({"-image", "a", "-scsi"}).plan.scsi_state, 1);
    EXPECT_EQ(parse({"-scsi", "-image", "a"}).plan.scsi_state, 1);
    parsed p = parse({"-image", "a", "-disk"});
    EXPECT_EQ(p.plan.scsi_state, 0);
    EXPECT_EQ(p.plan.disk_named, 1);
}

TEST(Cli, ImageArgumentMayLookLikeAnything)
{
    parsed p = parse({"-image", "-?", "-image", "3", "-image", "-scsi"});
    EXPECT_EQ(p.result, PARSE_RUN);
    EXPECT_EQ(p.plan.images, (std::vector<std::string>{"-?", "3", "-scsi"}));
    EXPECT_EQ(p.plan.scsi_state, 0);
}

TEST(Cli, BusTraceAndIscsiWords)
{
    parsed p = parse({"-bus", "bus.txt", "-TRACE", "out.txt", "-iscsi", "10.0.0.1", "-iScsi", "host:3261", "-l"});
    EXPECT_EQ(p.result, PARSE_RUN);
    EXPECT_EQ(p.plan.bus_file, "bus.txt");
    EXPECT_EQ(p.plan.trace_file, "out.txt");
    EXPECT_EQ(p.plan.iscsi_portals, (std::vector<std::string>{"10.0.0.1", "host:3261"}));
    EXPECT_TRUE(p.options.scan_luns);
    EXPECT_FALSE(p.options.show_device); // "-bus" and "-trace" are not letter groups
    EXPECT_EQ(p.plan.scsi_state, -1);    // they do not change the default scan
    EXPECT_TRUE(p.plan.images.empty());

    parsed q = parse({"-bus", "a", "-bus", "b", "-trace", "x", "-trace", "y"});
    EXPECT_EQ(q.plan.bus_file, "b");
    EXPECT_EQ(q.plan.trace_file, "y");

    EXPECT_EQ(parse({"-bus", "-p"}).plan.bus_file, "-p");
    EXPECT_FALSE(parse({"-bus", "-p"}).options.show_partitions);
}

TEST(Cli, NearExtensionWordsAreLetterGroups)
{
    parsed p = parse({"-images", "x", "-buses", "-traced", "-iscsi2"});
    EXPECT_EQ(p.result, PARSE_RUN);
    EXPECT_TRUE(p.plan.images.empty());
    EXPECT_EQ(p.plan.bus_file, "");
    EXPECT_EQ(p.plan.scsi_state, -1);
    EXPECT_TRUE(p.options.show_device); // the d of -traced
    EXPECT_FALSE(p.options.scan_luns || p.options.show_partitions || p.options.dump_sectors);
}

TEST(Cli, ExtensionWordWithoutArgumentIsAnError)
{
    struct {
        const char* word;
        const char* message;
    } cases[] = {
        {"-image", "vexum: -image needs a file name"},
        {"-bus", "vexum: -bus needs a file name"},
        {"-trace", "vexum: -trace needs a file name"},
        {"-iscsi", "vexum: -iscsi needs a portal (host[:port])"},
        {"-BUS", "vexum: -bus needs a file name"},
    };
    for (const auto& c : cases) {
        parsed p = parse({"-d", "-image", "a", c.word});
        EXPECT_EQ(p.result, PARSE_ERROR) << c.word;
        EXPECT_EQ(p.error, c.message);
        EXPECT_EQ(p.error.find('\n'), std::string::npos);
    }
}

TEST(Cli, ParsingPrintsNothing)
{
    FILE* out = temp_stream();
    FILE* err = temp_stream();
    set_output_stream(out);
    set_error_stream(err);
    parse({"-d", "-?"});
    parse({"-bus"});
    parse({"-scsi", "1:2:3", "-lop"});
    fflush(out);
    fflush(err);
    set_output_stream(nullptr);
    set_error_stream(nullptr);
    EXPECT_EQ(read_all(out), "");
    EXPECT_EQ(read_all(err), "");
    fclose(out);
    fclose(err);
}

TEST(Cli, UsageText)
{
    FILE* out = temp_stream();
    set_output_stream(out);
    print_usage();
    fflush(out);
    set_output_stream(nullptr);
    std::string text = read_all(out);
    fclose(out);
    // The banner and the eight table lines, then the extension words.
    const std::string expected =
        "***** scan SCSI device -- vexum version 0.99a edition #02 *****\n"
        "usage : vexum [<option>] [<command>]\n"
        "<command>\n"
        "    -scsi [<ha#>:[<scsi-id#>[:<lun#>]]]\n"
        "        scan aspi SCSI device         (default)\n"
        "  <option>\n"
        "    -l  scan SCSI lun\n"
        "    -d  print device information\n"
        "    -p  print partition/file-system/CD-track information\n"
        "    -image <file>    report a disk image file like a physical drive\n"
        "    -bus <file>      use a bus file as the SCSI bus\n"
        "    -trace <file>    record every SCSI exchange into a bus file\n"
        "    -iscsi <portal>  scan an iSCSI portal (host[:port]) as a host adapter\n";
    EXPECT_EQ(text, expected);
    // Line 5: eight leading blanks and nine before "(default)".
    EXPECT_NE(text.find("\n        scan aspi SCSI device         (default)\n"), std::string::npos);
    EXPECT_NE(text.find("device" + std::string(9, ' ') + "(default)"), std::string::npos);
}

TEST(Cli, ExactlyHelpAndVersionAreWords)
{
    parsed help = parse({"-d", "--help", "-disk"});
    EXPECT_EQ(help.result, PARSE_HELP);
    EXPECT_TRUE(help.options.show_device);
    EXPECT_EQ(help.plan.disk_named, 0); // nothing after it is examined
    EXPECT_EQ(parse({"--version", "-bus"}).result, PARSE_VERSION);
    EXPECT_EQ(parse({"-?", "--help"}).result, PARSE_USAGE);

    // Every other spelling keeps its letter reading.
    parsed upper = parse({"--HELP"});
    EXPECT_EQ(upper.result, PARSE_RUN);
    EXPECT_TRUE(upper.options.scan_luns && upper.options.show_partitions);
    parsed single = parse({"-help", "-version"});
    EXPECT_EQ(single.result, PARSE_RUN);
    EXPECT_TRUE(single.options.scan_luns && single.options.show_partitions && single.options.dump_sectors);
    EXPECT_EQ(parse({"--helpme"}).result, PARSE_RUN);
    EXPECT_EQ(parse({"--versions"}).result, PARSE_RUN);
    EXPECT_EQ(parse({"help"}).result, PARSE_RUN); // no dash: skipped

    // As the argument of an extension word it is a file name.
    parsed image = parse({"-image", "--help"});
    EXPECT_EQ(image.result, PARSE_RUN);
    EXPECT_EQ(image.plan.images, (std::vector<std::string>{"--help"}));
}
