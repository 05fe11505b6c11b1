// JSON twins of the golden reports: a fixture NAME.bus beside NAME.json
// (the sample bus beside samples/sample.json), the document worked out from
// the same device answers. The run's own
// format_version and program are checked here; every other member must
// equal the fixture's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "harness.h"

namespace {

// base: the path of the pair without ".bus" and ".json".
void expect_twin_at(const std::string& base, const std::vector<std::string>& options)
{
    std::vector<std::string> args{"-bus", base + ".bus"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("-json");
    run_result r = run_in_process(args);
    nlohmann::json actual = nlohmann::json::parse(r.out);
    nlohmann::json expected = nlohmann::json::parse(read_text_file(base + ".json"));
    ASSERT_TRUE(expected.is_object()) << base;
    EXPECT_EQ(actual["format_version"], nlohmann::json::array({1, 0}));
    std::vector<std::string> argv{"vexum"};
    argv.insert(argv.end(), args.begin(), args.end());
    EXPECT_EQ(actual["program"], nlohmann::json({{"name", "vexum"}, {"version", VEXUM_VERSION}, {"argv", argv}}));
    for (auto member = expected.begin(); member != expected.end(); ++member)
        EXPECT_EQ(actual[member.key()], member.value()) << base << ": " << member.key();
    EXPECT_EQ(actual.size(), expected.size() + 2) << base;
}

void expect_twin(const std::string& name, const std::vector<std::string>& options)
{
    expect_twin_at(fixture_path(name), options);
}

} // namespace

TEST(JsonTwin, CdCapacityAndTrackTables) { expect_twin("detail/cd", {"-l", "-p"}); }
TEST(JsonTwin, ModePagesOfEveryPageAndItsBounds) { expect_twin("detail/modepages", {"-l", "-d"}); }
TEST(JsonTwin, VitalProductDataPages) { expect_twin("detail/vpd", {"-l", "-d"}); }
TEST(JsonTwin, DefectListsInEveryFormat) { expect_twin("detail/defects", {"-l", "-d"}); }
TEST(JsonTwin, EachDeviceClassWithEveryDetail) { expect_twin("detail/classes", {"-l", "-dp"}); }
TEST(JsonTwin, TracesOfTheTestMachine)
{
    expect_twin("vm-qemu", {"-l", "-p", "-scsi", "0"});
    expect_twin("vm-scsi-debug", {"-l", "-p", "-scsi", "1"});
}
TEST(JsonTwin, IdentificationLinesWithoutBytes) { expect_twin("hostile/empty-identification", {}); }
TEST(JsonTwin, TheSampleBus) { expect_twin_at(std::string(VEXUM_SOURCE_DIR) + "/samples/sample", {"-l", "-dp"}); }
TEST(JsonTwin, TraceOfTheIscsiTarget) { expect_twin("iscsi-tgt", {"-l", "-dp"}); }
