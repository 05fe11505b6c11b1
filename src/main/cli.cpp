// Command line: argument parsing and the usage text.
//
// Choices worth knowing:
// - Numbers are read as by atoi (leading digits, stop at the first non-digit)
//   but saturate at INT_MAX instead of overflowing.
// - An address text that ends right after "<ha#>:" stops there instead of
//   stepping over the terminating zero.
// - The extension words (-image, -bus, -trace, -iscsi, -json)
//   are whole words, matched without regard to case before the letter-group
//   reading; each but -json (also --json) takes the next argument whatever
//   it starts with.
// - Exactly "--help" and "--version", as every other tool reads them. Any
//   other spelling ("--HELP", "--helpme") is still a group of letters.
#include "main/cli.h"

#include <climits>
#include <cstring>

#include "format/output.h"

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

static char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// True when text equals word (lower case) without regard to case.
static bool word_is(const char* text, const char* word)
{
    for (; *word; text++, word++) {
        if (lower(*text) != *word)
            return false;
    }
    return *text == 0;
}

// The decimal value of the digits at text (0 when there are none), saturated
// at INT_MAX. Sets *end to the first character that is not a digit.
static int read_number(const char* text, const char** end)
{
    int value = 0;
    for (; is_digit(*text); text++) {
        int digit = *text - '0';
        value = value > (INT_MAX - digit) / 10 ? INT_MAX : value * 10 + digit;
    }
    if (end)
        *end = text;
    return value;
}

// <ha#>:[<scsi-id#>[:<lun#>]], the target field one character wide.
static void read_address(const char* text, run_plan* plan)
{
    const char* p = text;
    plan->adapter = read_number(p, &p);
    if (*p != ':')
        return;
    p++;
    if (is_digit(*p))
        plan->target = read_number(p, nullptr);
    if (*p == 0)
        return;
    p++; // the one-character target field
    if (*p != ':')
        return;
    p++;
    if (is_digit(*p))
        plan->lun = read_number(p, nullptr);
}

struct extension_word {
    const char* word;
    const char* lacking; // what the message says is missing
    bool empty_lacks;    // an empty argument counts as none
};

// An empty bus file name would leave the machine's own bus to be scanned,
// an empty trace name nothing to write to.
static const extension_word extension_words[] = {
    {"image", "a file name", false},
    {"bus", "a file name", true},
    {"trace", "a file name", true},
    {"iscsi", "a portal (host[:port])", false},
};

// Stores the argument of an extension word in the plan.
static void take_extension(const char* word, const char* argument, run_plan* plan)
{
    if (word_is(word, "image")) {
        plan->images.push_back(argument);
        // Counts like the disk word for the default scan, without naming it.
        if (plan->scsi_state == -1)
            plan->scsi_state = 0;
    } else if (word_is(word, "bus")) {
        plan->bus_file = argument;
    } else if (word_is(word, "trace")) {
        plan->trace_file = argument;
    } else {
        plan->iscsi_portals.push_back(argument);
    }
}

parse_result parse_command_line(int argc, const char* const* argv, run_plan* plan, report_options* options,
                                std::string* error)
{
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (arg == nullptr || arg[0] != '-')
            continue;
        const char* w = arg + 1;
        bool has_next = i + 1 < argc && argv[i + 1] != nullptr;

        if (w[0] == '?')
            return PARSE_USAGE;
        if (std::strcmp(arg, "--help") == 0)
            return PARSE_HELP;
        if (std::strcmp(arg, "--version") == 0)
            return PARSE_VERSION;

        if (word_is(w, "scsi")) {
            plan->scsi_state = 1;
            if (has_next && is_digit(argv[i + 1][0]))
                read_address(argv[++i], plan);
            continue;
        }

        if (word_is(w, "disk")) {
            plan->disk_named = 1;
            if (plan->scsi_state == -1)
                plan->scsi_state = 0;
            if (has_next && is_digit(argv[i + 1][0]))
                plan->drive = read_number(argv[++i], nullptr);
            continue;
        }

        // -json (--json too) takes no argument.
        if (word_is(w, "json") || word_is(w, "-json")) {
            plan->json = true;
            continue;
        }

        const extension_word* extension = nullptr;
        for (const auto& e : extension_words) {
            if (word_is(w, e.word))
                extension = &e;
        }
        if (extension) {
            if (!has_next || (extension->empty_lacks && argv[i + 1][0] == 0)) {
                if (error)
                    *error = std::string("vexum: -") + extension->word + " needs " + extension->lacking;
                return PARSE_ERROR;
            }
            take_extension(extension->word, argv[++i], plan);
            continue;
        }

        for (const char* c = w; *c; c++) {
            switch (lower(*c)) {
            case 'l': options->scan_luns = true; break;
            case 'd': options->show_device = true; break;
            case 'o': options->dump_sectors = true; break;
            case 'p': options->show_partitions = true; break;
            default: break; // other letters are ignored
            }
        }
    }
    return PARSE_RUN;
}

void print_usage()
{
    out_puts("***** scan SCSI device -- vexum version 0.99a edition #02 *****\n");
    out_puts("usage : vexum [<option>] [<command>]\n");
    out_puts("<command>\n");
    out_puts("    -scsi [<ha#>:[<scsi-id#>[:<lun#>]]]\n");
    out_puts("        scan aspi SCSI device         (default)\n");
    out_puts("  <option>\n");
    out_puts("    -l  scan SCSI lun\n");
    out_puts("    -d  print device information\n");
    out_puts("    -p  print partition/file-system/CD-track information\n");
    // The extension words.
    out_puts("    -image <file>    report a disk image file like a physical drive\n");
    out_puts("    -bus <file>      use a bus file as the SCSI bus\n");
    out_puts("    -trace <file>    record every SCSI exchange into a bus file\n");
    out_puts("    -iscsi <portal>  scan an iSCSI portal (host[:port]) as a host adapter\n");
}

void print_version() { out_printf("vexum %s\n", VEXUM_VERSION); }
