// The report options: read from the command line by the run driver and
// handed down, read-only, to every report that depends on them.
#pragma once

struct json_writer;

struct report_options {
    bool scan_luns = false;       // l: probe LUNs 0 to 7
    bool show_device = false;     // d: device information
    bool show_partitions = false; // p: partition, file-system and CD track information
    bool dump_sectors = false;    // o: hex dump of sector 0 of each medium
    // -json: the JSON document the reports are written into, instead of the
    // text report; null for the text report.
    json_writer* json = nullptr;
};
