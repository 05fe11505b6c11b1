// Reading the command line into the report options and the run plan.
#pragma once
#include <string>
#include <vector>

#include "format/report_options.h"

struct run_plan {
    int scsi_state = -1;   // -1 default scan, 0 disk word only, 1 scsi word seen
    int disk_named = 0;
    int drive = -1;        // -1: drives 0 to 31
    int adapter = -1;      // -1: every adapter
    int target = -1;       // -1: targets 0 to 6
    int lun = -1;          // -1: LUN 0, or 0 to 7 with scan_luns
    // Extension words, each taking the argument after it.
    std::vector<std::string> images; // -image FILE, in command-line order
    std::string bus_file;            // -bus FILE
    std::string trace_file;          // -trace FILE
    std::vector<std::string> iscsi_portals; // -iscsi PORTAL
    bool json = false;                      // -json or --json: one JSON document
};

enum parse_result { PARSE_RUN = 0, PARSE_USAGE = 1, PARSE_ERROR = 2, PARSE_HELP = 3, PARSE_VERSION = 4 };

// Reads argv[1..argc-1]. PARSE_USAGE: a question mark was met (nothing after
// it is examined). PARSE_HELP, PARSE_VERSION: an argument was exactly
// "--help" or "--version" (likewise). PARSE_ERROR: an extension word lacks
// its argument; error holds one line naming it.
parse_result parse_command_line(int argc, const char* const* argv, run_plan* plan, report_options* options,
                                std::string* error);
void print_usage();
// "vexum VERSION", the version of the package.
void print_version();
