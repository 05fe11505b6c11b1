// The seam below the ASPI connection. Everything above it talks through the
// two calls of the ASPI for Win32 interface (aspi_support_info and
// aspi_send_command); below it, every manager has one shape: a record of a
// few calls with a context pointer. The seam checks each request once (the
// read-only operation codes, the lengths, the direction), hands it to the
// manager, and turns what the manager says came of it (a request_outcome)
// into the request's status bytes and sense in one place.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "aspi/aspi.h"

// How a request ended, as a manager saw it.
enum outcome_kind : uint8_t {
    OUTCOME_ANSWERED = 0,   // it went out: the host adapter and target statuses say how it ended
    OUTCOME_NO_ADAPTER = 1, // no such host adapter (81h)
    OUTCOME_NO_DEVICE = 2,  // the unit cannot be reached any more: removed, offline, no node (82h)
    OUTCOME_OS_ERROR = 3,   // the system failed the request before the unit saw it (02h)
    OUTCOME_NEVER = 4,      // it never completes: the caller's wait runs out
};

struct request_outcome {
    uint8_t kind = OUTCOME_ANSWERED;
    uint8_t host_status = HASTAT_OK;     // the transport, as an ASPI host adapter status
    uint8_t target_status = STATUS_GOOD;
    uint8_t sense_length = 0;            // bytes of sense, fixed or descriptor format
    uint8_t sense[32] = {};
    uint32_t transferred = 0;            // bytes the unit sent, where the manager knows
    int os_error = 0;                    // with OUTCOME_OS_ERROR: the system's error number
    int request_status = -1;             // a status given as such (a replayed file, an ASPI DLL); -1: derived
};

// The answer to a host adapter inquiry.
struct adapter_description {
    int count = 0;      // host adapters of the manager, 0 to 255
    int own_id = 7;     // SCSI ID of the adapter
    uint8_t ids[48] = {}; // manager identification, adapter identification, adapter-unique parameters
};

// Fills the three identification fields, each text cut to 16 bytes and
// padded with zero bytes.
void set_adapter_ids(adapter_description* description, const std::string& manager, const std::string& adapter,
                     const std::string& unique);

struct aspi_manager {
    const char* name;
    void* context;
    // GetASPI32SupportInfo: bits 8-15 status (1 = ready), bits 0-7 adapters.
    uint32_t (*support_info)(void* context);
    // The host adapter inquiry: 0 with description filled, or -1 when there
    // is no such adapter.
    int (*describe_adapter)(void* context, int adapter, adapter_description* description);
    // Runs one request that the seam has checked, writing what the unit sends
    // into request.data_buffer, and says how it ended.
    void (*execute)(void* context, const srb_exec& request, request_outcome* outcome);
    // The target IDs of an adapter's bus: 0, or -1 when the manager does not
    // know. May be null.
    int (*describe_targets)(void* context, int adapter, adapter_targets* targets);
    // Releases the context and whatever the manager holds (the record too,
    // when it lives in the context). May be null.
    void (*shutdown)(void* context);
};

// Choose the manager used by the connection (null: none, not ready).
void select_aspi_manager(const aspi_manager* manager);
const aspi_manager* current_aspi_manager();
// The manager of this platform (SCSI generic on Linux; WNASPI32.DLL or SPTI
// on Windows), newly made; released by its shutdown.
const aspi_manager* platform_aspi_manager();
void release_aspi_manager(const aspi_manager* manager);

// Calls through the seam, to the selected manager.
uint32_t aspi_support_info();
uint32_t aspi_send_command(void* srb);

// The seam's work on one request for one manager: checks the request,
// dispatches it on its command code, completes it. An execute request with
// an event to signal completes through the event and returns SS_PENDING, as
// an ASPI manager's does.
uint32_t send_to_manager(const aspi_manager* manager, void* srb);
uint32_t manager_support_info(const aspi_manager* manager);
// A manager's answers about an adapter: 0 with the record filled, -1 where
// it has none (no such adapter, or a manager without the call).
int manager_describe_adapter(const aspi_manager* manager, int adapter, adapter_description* description);
int manager_describe_targets(const aspi_manager* manager, int adapter, adapter_targets* targets);
bool is_read_only_command(uint8_t operation_code);
// The name of one of those commands ("INQUIRY"), or null for any other code.
const char* read_only_command_name(uint8_t operation_code);
// Whether the seam lets an execute request through to a manager: SS_COMP,
// or the status it is refused with.
uint8_t check_request(const srb_exec& request);

// The one classification: fills the request status, host adapter status,
// target status and sense area of srb from outcome and returns the request
// status. Sense reaches the record in fixed format (additional sense code at
// byte 12), at most the request's sense length.
uint8_t complete_request(const request_outcome& outcome, srb_exec* srb);
// Writes sense data in fixed format into out, converting descriptor-format
// sense; bytes not known are zero. Returns how many bytes of out are
// meaningful (0 for no sense).
size_t convert_sense_to_fixed(const uint8_t* sense, size_t length, uint8_t* out, size_t out_size);
// Check condition with fixed-format sense of length bytes (at most 32):
// response code 70h, the key, the additional sense code and its qualifier.
void set_check_condition(request_outcome* outcome, uint8_t key, uint8_t asc, uint8_t ascq, uint8_t length);

// The bus file manager: replays a text description of a SCSI bus.
// Returns null and fills error ("FILE:LINE: reason") when the file is bad.
const aspi_manager* load_bus_file(const char* path, std::string* error);
// Parse bus file text; base_dir resolves image paths. For tests and fuzzing.
const aspi_manager* load_bus_text(const std::string& text, const char* name, const char* base_dir,
                                  std::string* error);

// The image files that a bus file manager reads, each once (none for any
// other manager).
std::vector<std::string> bus_file_images(const aspi_manager* manager);

// The trace wrapper: records every exchange of the wrapped manager into
// path, in bus file format. Returns the wrapping manager or null (error set)
// when path is not a regular file or a new name, or is one of the inputs.
// Its shutdown shuts the wrapped manager down.
struct run_input;
const aspi_manager* start_trace(const aspi_manager* inner, const char* path, const std::vector<run_input>& inputs,
                               std::string* error);
// Ends the trace of a trace manager and puts it in place: 0 (also for any
// other manager), or -1 with error set when it could not be written whole
// (nothing is left under its name then).
int finish_trace(const aspi_manager* manager, std::string* error);

// The iSCSI manager: each portal (host[:port] or an iscsi:// URL) is one
// host adapter. secret, when not null, is the CHAP secret of every URL that
// names a user without one. Returns null with error set when this build has
// no iSCSI, libiscsi cannot be loaded, or a portal text is unusable.
const aspi_manager* open_iscsi_manager(const std::vector<std::string>& portals, std::string* error,
                                       const char* secret = nullptr);
