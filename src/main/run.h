// The run driver: parse, then the disk command, then the SCSI command.
#pragma once

// Returns the process exit code: 0 after a run, --help or --version; 1 after
// the usage text of -? or a fatal ASPI error; 2 for an unusable extension
// argument (bus file, image).
int run_vexum(int argc, const char* const* argv);
