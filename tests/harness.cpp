// Test helpers (see harness.h).
#include "harness.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "format/output.h"
#include "main/run.h"

std::string read_stream(FILE* f)
{
    std::string text;
    rewind(f);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    return text;
}

run_result capture_output(const std::function<void()>& body)
{
    FILE* out = temp_stream();
    FILE* err = temp_stream();
    set_output_stream(out);
    set_error_stream(err);
    run_result r;
    r.exit_code = 0;
    body();
    fflush(out);
    fflush(err);
    set_output_stream(nullptr);
    set_error_stream(nullptr);
    r.out = read_stream(out);
    r.err = read_stream(err);
    fclose(out);
    fclose(err);
    return r;
}

bool use_bus_text(const std::string& text)
{
    std::string error;
    const aspi_manager* manager = load_bus_text(text, "test.bus", ".", &error);
    if (!manager) {
        ADD_FAILURE() << error;
        return false;
    }
    select_aspi_manager(manager);
    return aspi_open() == 0;
}

void drop_bus()
{
    aspi_close();
    const aspi_manager* manager = current_aspi_manager();
    select_aspi_manager(nullptr);
    release_aspi_manager(manager);
}

run_result run_in_process(const std::vector<std::string>& args)
{
    std::vector<const char*> argv{"vexum"};
    for (const auto& a : args)
        argv.push_back(a.c_str());
    FILE* out = temp_stream();
    FILE* err = temp_stream();
    set_output_stream(out);
    set_error_stream(err);
    run_result r;
    r.exit_code = run_vexum(int(argv.size()), argv.data());
    fflush(out);
    fflush(err);
    set_output_stream(nullptr);
    set_error_stream(nullptr);
    r.out = read_stream(out);
    r.err = read_stream(err);
    fclose(out);
    fclose(err);
    return r;
}

static std::string shell_quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s) {
        if (c == '\'')
            q += "'\\''";
        else
            q += c;
    }
    return q + "'";
}

std::string temp_directory()
{
    const char* dir = getenv("TMPDIR");
    return dir && *dir ? dir : "/tmp";
}

std::string make_temp_directory(const std::string& prefix)
{
    std::string pattern = temp_directory() + "/" + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    return mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

FILE* temp_stream()
{
    std::string pattern = temp_directory() + "/vexum-stream-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back(0);
    int fd = mkstemp(name.data());
    if (fd < 0)
        return nullptr;
    unlink(name.data());
    FILE* f = fdopen(fd, "w+b");
    if (!f)
        close(fd);
    return f;
}

run_result run_binary(const std::vector<std::string>& args)
{
    std::string err_path = temp_directory() + "/vexum-err-XXXXXX";
    std::vector<char> err_buffer(err_path.begin(), err_path.end());
    err_buffer.push_back(0);
    char* err_name = err_buffer.data();
    int fd = mkstemp(err_name);
    if (fd >= 0)
        close(fd);
    std::string command = shell_quote(VEXUM_BINARY);
    for (const auto& a : args)
        command += " " + shell_quote(a);
    command += " 2>" + shell_quote(err_name);
    run_result r;
    FILE* p = popen(command.c_str(), "r");
    char buffer[4096];
    size_t n;
    while (p && (n = fread(buffer, 1, sizeof buffer, p)) > 0)
        r.out.append(buffer, n);
    int status = p ? pclose(p) : -1;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = read_text_file(err_name);
    remove(err_name);
    return r;
}

std::string read_text_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string fixture_path(const std::string& name) { return std::string(VEXUM_FIXTURES) + "/" + name; }

std::string write_temp_file(const std::string& text, const std::string& suffix)
{
    std::string name = temp_directory() + "/vexum-test-XXXXXX" + suffix;
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back(0);
    int fd = mkstemps(buffer.data(), int(suffix.size()));
    if (fd < 0)
        return "";
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            break;
        done += size_t(n);
    }
    close(fd);
    return buffer.data();
}

std::string shell_output(const std::string& command)
{
    std::string text;
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (p == nullptr)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        text.append(buffer, n);
    pclose(p);
    return text;
}

bool run_quietly(const std::string& command) { return system(("{ " + command + "; } >/dev/null 2>&1").c_str()) == 0; }

run_result run_bus_text(const std::string& bus, std::vector<std::string> args)
{
    std::string path = write_temp_file(bus);
    args.insert(args.begin(), {"-bus", path});
    run_result r = run_in_process(args);
    remove(path.c_str());
    return r;
}

uint64_t number_of(const std::string& text)
{
    uint64_t value = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            value = value * 10 + uint64_t(c - '0');
        else if (c != ',' && c != ' ')
            break;
    }
    return value;
}
