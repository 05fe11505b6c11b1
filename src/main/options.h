// The report options: set from the command line before any device is
// touched, read-only afterwards.
#pragma once

struct report_options {
    bool scan_luns;       // l: probe LUNs 0 to 7
    bool show_device;     // d: device information
    bool show_partitions; // p: partition, file-system and CD track information
    bool dump_sectors;    // o: hex dump of sector 0 of each medium
};

extern report_options g_options;
