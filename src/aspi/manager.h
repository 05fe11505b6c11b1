// The seam below the ASPI connection: a manager answers the two calls of the
// ASPI for Win32 interface. One manager is chosen at run time; everything
// above talks to it only through aspi_support_info and aspi_send_command.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct aspi_manager {
    const char* name;
    // GetASPI32SupportInfo: bits 8-15 status (1 = ready), bits 0-7 adapters.
    uint32_t (*support_info)();
    // SendASPI32Command on a host adapter inquiry or an execute record.
    // Returns the request status; 0 means pending (the event is signalled
    // when the request finishes).
    uint32_t (*send_command)(void* srb);
    // Releases what the manager holds; called once at exit. May be null.
    void (*shutdown)();
};

// Choose the manager used by the connection (null restores the default).
void select_aspi_manager(const aspi_manager* manager);
const aspi_manager* current_aspi_manager();
// The manager of this platform (SCSI generic on Linux, WNASPI32.DLL on
// Windows); one answering "not ready" where there is none.
const aspi_manager* platform_aspi_manager();

// Calls through the seam. aspi_send_command refuses every command block
// whose operation code is not one of the tool's read-only commands: the
// request completes at once with status SS_INVALID_SRB and nothing is sent.
uint32_t aspi_support_info();
uint32_t aspi_send_command(void* srb);
bool is_read_only_command(uint8_t operation_code);

// The bus file manager: replays a text description of a SCSI bus.
// Returns null and fills error ("FILE:LINE: reason") when the file is bad.
const aspi_manager* load_bus_file(const char* path, std::string* error);
// Parse bus file text; base_dir resolves image paths. For tests and fuzzing.
const aspi_manager* load_bus_text(const std::string& text, const char* name, const char* base_dir,
                                  std::string* error);

// The image files of the bus file loaded last, each once.
std::vector<std::string> bus_file_images();

// The trace wrapper: records every exchange of the wrapped manager into
// path, in bus file format. Returns the wrapping manager or null (error set)
// when path is not a regular file or a new name, or is one of the inputs.
struct run_input;
const aspi_manager* start_trace(const aspi_manager* inner, const char* path, const std::vector<run_input>& inputs,
                               std::string* error);
// Ends the trace and puts it in place: 0, or -1 with error set when it could
// not be written whole (nothing is left under its name then).
int finish_trace(std::string* error);
// Called by the executor when a request has an outcome (for the trace).
void trace_exchange(const void* srb, bool timed_out);

// The iSCSI manager: each portal (host[:port] or an iscsi:// URL) is one
// host adapter. Returns null with error set when this build has no iSCSI or
// a portal text is unusable.
const aspi_manager* open_iscsi_manager(const std::vector<std::string>& portals, std::string* error);
