// Test helpers: run the tool in-process or as a process and capture its
// report, and read fixture files.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

struct run_result {
    int exit_code;
    std::string out;
    std::string err;
};

// Runs the driver in this process with output and error captured.
run_result run_in_process(const std::vector<std::string>& args);
// Runs the built vexum binary as a child process.
run_result run_binary(const std::vector<std::string>& args);
// The whole text of a stream, read from its start.
std::string read_stream(FILE* f);
// Text of a file, or "" when it cannot be read.
std::string read_text_file(const std::string& path);
std::string fixture_path(const std::string& name);

// Runs body with the report and error streams captured.
run_result capture_output(const std::function<void()>& body);
// Loads bus file text as the current manager and opens the connection;
// fails the calling test on a parse error.
bool use_bus_text(const std::string& text);
// Closes the connection and forgets the bus.
void drop_bus();
// The folder for temporary files: $TMPDIR, or /tmp when it is not set.
std::string temp_directory();
// A new folder under temp_directory() whose name starts with prefix; "" when
// it cannot be made.
std::string make_temp_directory(const std::string& prefix);
// An anonymous read-write file under temp_directory(), gone when closed.
FILE* temp_stream();
// Writes text to a new temporary file whose name ends in suffix; returns its path.
std::string write_temp_file(const std::string& text, const std::string& suffix = ".bus");
// Runs the driver in this process over bus file text (written to a
// temporary file, removed afterwards), with args after "-bus FILE".
run_result run_bus_text(const std::string& bus, std::vector<std::string> args = {});
// Standard output of a shell command (its standard error discarded).
std::string shell_output(const std::string& command);
// True when a shell command succeeds; its output is discarded.
bool run_quietly(const std::string& command);
// The digits of a number as reports print it, grouped with commas or plain
// ("1,024", "  512"); reading stops at the first other character.
uint64_t number_of(const std::string& text);
