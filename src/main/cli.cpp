// Command line (not yet built).
#include "main/cli.h"

report_options g_options;

parse_result parse_command_line(int, const char* const*, run_plan*, report_options*, std::string*) { return PARSE_RUN; }
void print_usage() {}
