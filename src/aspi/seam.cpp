// The manager seam: which manager answers, the checks every request passes
// on its way down, the dispatch on the request's command code, and the one
// place where what became of a request turns into its status bytes.
#include <algorithm>
#include <cstring>

#include "aspi/manager.h"
#include "aspi/scsi_commands.h"

namespace {

// Far beyond any transfer the tool asks for; a larger length is refused
// rather than handed on.
constexpr uint32_t LARGEST_TRANSFER = 16u * 1024 * 1024;

uint32_t none_support_info(void*) { return 0xE300; } // no ASPI manager

const aspi_manager no_manager = {"none", nullptr, none_support_info, nullptr, nullptr, nullptr, nullptr};

// The manager of the connection; like the connection, one per process.
const aspi_manager* selected_manager = nullptr;

uint32_t refuse(uint8_t* header, uint8_t status)
{
    header[1] = status;
    return status;
}

uint32_t answer_adapter_inquiry(const aspi_manager* manager, srb_ha_inquiry* srb)
{
    adapter_description d;
    if (manager_describe_adapter(manager, srb->host_adapter, &d) != 0) {
        srb->status = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    srb->adapter_count = uint8_t(d.count);
    srb->adapter_scsi_id = uint8_t(d.own_id);
    std::memcpy(srb->manager_id, d.ids, sizeof d.ids);
    srb->status = SS_COMP;
    return SS_COMP;
}

uint32_t execute_request(const aspi_manager* manager, srb_exec* srb)
{
    uint8_t verdict = check_request(*srb);
    if (verdict != SS_COMP || !manager->execute) {
        srb->status = verdict != SS_COMP ? verdict : uint8_t(SS_INVALID_CMD);
        return srb->status;
    }
    srb->status = SS_PENDING;
    request_outcome outcome;
    manager->execute(manager->context, *srb, &outcome);
    if (outcome.kind == OUTCOME_NEVER)
        return SS_PENDING; // the caller's wait runs out
    complete_request(outcome, srb);
    // Complete the way an ASPI manager does: through the event, when the
    // request names one.
    if (srb->post_event && (srb->flags & SRB_EVENT_NOTIFY)) {
        event_signal(srb->post_event);
        return SS_PENDING;
    }
    return srb->status;
}

} // namespace

void select_aspi_manager(const aspi_manager* manager) { selected_manager = manager; }

void set_adapter_ids(adapter_description* description, const std::string& manager, const std::string& adapter,
                     const std::string& unique)
{
    std::memset(description->ids, 0, sizeof description->ids);
    const std::string* fields[3] = {&manager, &adapter, &unique};
    for (int i = 0; i < 3; i++)
        std::memcpy(description->ids + 16 * i, fields[i]->data(), std::min<size_t>(fields[i]->size(), 16));
}

const aspi_manager* current_aspi_manager() { return selected_manager ? selected_manager : &no_manager; }

void release_aspi_manager(const aspi_manager* manager)
{
    if (manager && manager->shutdown)
        manager->shutdown(manager->context);
}

// The tool's read-only commands, the only ones that reach a device.
static const struct {
    uint8_t code;
    const char* name;
} read_only_commands[] = {
    {OP_INQUIRY, "INQUIRY"},
    {OP_MODE_SENSE6, "MODE SENSE(6)"},
    {OP_READ_CAPACITY, "READ CAPACITY"},
    {OP_READ_TOC, "READ TOC"},
    {OP_READ_DEFECT_DATA10, "READ DEFECT DATA(10)"},
    {OP_READ_BLOCK_LIMITS, "READ BLOCK LIMITS"},
    {OP_READ10, "READ(10)"},
};

const char* read_only_command_name(uint8_t operation_code)
{
    for (const auto& command : read_only_commands)
        if (command.code == operation_code)
            return command.name;
    return nullptr;
}

bool is_read_only_command(uint8_t operation_code) { return read_only_command_name(operation_code) != nullptr; }

uint8_t check_request(const srb_exec& request)
{
    // Nothing but the tool's own read-only commands ever reaches a device,
    // whatever a caller or a replayed file asks for; no data ever flows
    // towards one.
    if (!is_read_only_command(request.cdb[0]) || (request.flags & SRB_DIR_OUT))
        return SS_INVALID_SRB;
    switch (request.cdb_length) {
    case 6:
    case 10:
    case 12:
    case 16:
        break;
    default:
        return SS_INVALID_SRB;
    }
    if (request.data_length > 0 && !request.data_buffer)
        return SS_INVALID_SRB;
    if (request.data_length > LARGEST_TRANSFER)
        return SS_BUFFER_TOO_BIG;
    return SS_COMP;
}

uint32_t manager_support_info(const aspi_manager* manager) { return manager->support_info(manager->context); }

int manager_describe_adapter(const aspi_manager* manager, int adapter, adapter_description* description)
{
    if (!manager->describe_adapter)
        return -1;
    return manager->describe_adapter(manager->context, adapter, description);
}

int manager_describe_targets(const aspi_manager* manager, int adapter, adapter_targets* targets)
{
    *targets = adapter_targets();
    if (!manager->describe_targets)
        return -1;
    return manager->describe_targets(manager->context, adapter, targets);
}

uint32_t send_to_manager(const aspi_manager* manager, void* srb)
{
    auto* header = static_cast<uint8_t*>(srb);
    switch (header[0]) {
    case SC_HA_INQUIRY:
        return answer_adapter_inquiry(manager, static_cast<srb_ha_inquiry*>(srb));
    case SC_EXEC_SCSI_CMD:
        return execute_request(manager, static_cast<srb_exec*>(srb));
    default:
        return refuse(header, SS_INVALID_SRB);
    }
}

uint32_t aspi_support_info() { return manager_support_info(current_aspi_manager()); }

uint32_t aspi_send_command(void* srb) { return send_to_manager(current_aspi_manager(), srb); }

int aspi_describe_targets(int adapter, adapter_targets* targets)
{
    return manager_describe_targets(current_aspi_manager(), adapter, targets);
}

size_t convert_sense_to_fixed(const uint8_t* sense, size_t length, uint8_t* out, size_t out_size)
{
    std::memset(out, 0, out_size);
    if (length == 0 || out_size == 0)
        return 0;
    uint8_t code = sense[0] & 0x7F;
    if (code == 0x72 || code == 0x73) {
        // Descriptor format: key, code and qualifier in bytes 1-3.
        uint8_t fixed[18] = {};
        fixed[0] = code == 0x72 ? 0x70 : 0x71;
        fixed[2] = length > 1 ? sense[1] & 0x0F : 0;
        fixed[7] = 10;
        fixed[12] = length > 2 ? sense[2] : 0;
        fixed[13] = length > 3 ? sense[3] : 0;
        size_t n = std::min(out_size, sizeof fixed);
        std::memcpy(out, fixed, n);
        return n;
    }
    size_t n = std::min(out_size, length);
    std::memcpy(out, sense, n);
    return n;
}

void set_check_condition(request_outcome* outcome, uint8_t key, uint8_t asc, uint8_t ascq, uint8_t length)
{
    outcome->kind = OUTCOME_ANSWERED;
    outcome->target_status = STATUS_CHKCOND;
    outcome->sense_length = std::min<uint8_t>(length, sizeof outcome->sense);
    std::memset(outcome->sense, 0, sizeof outcome->sense);
    outcome->sense[0] = 0x70;
    outcome->sense[2] = key & 0x0F;
    outcome->sense[7] = uint8_t(outcome->sense_length - 8);
    outcome->sense[SENSE_ASC] = asc;
    outcome->sense[SENSE_ASC + 1] = ascq;
}

uint8_t complete_request(const request_outcome& outcome, srb_exec* srb)
{
    // The request status of each kind of outcome that never reached a
    // target status.
    static const uint8_t status_of_kind[] = {SS_COMP, SS_INVALID_HA, SS_NO_DEVICE, SS_ABORTED, SS_PENDING};
    static_assert(sizeof status_of_kind == OUTCOME_NEVER + 1, "one status per kind");
    size_t room = std::min<size_t>(srb->sense_length, sizeof srb->sense);
    std::memset(srb->sense, 0, room);
    srb->host_status = HASTAT_OK;
    srb->target_status = STATUS_GOOD;
    if (outcome.kind == OUTCOME_ANSWERED) {
        srb->host_status = outcome.host_status;
        srb->target_status = outcome.target_status;
        convert_sense_to_fixed(outcome.sense, std::min<size_t>(outcome.sense_length, sizeof outcome.sense),
                               srb->sense, room);
        srb->status = srb->host_status == HASTAT_OK && srb->target_status == STATUS_GOOD ? SS_COMP : SS_ERR;
    } else {
        srb->status = outcome.kind <= OUTCOME_NEVER ? status_of_kind[outcome.kind] : uint8_t(SS_ABORTED);
    }
    if (outcome.request_status >= 0)
        srb->status = uint8_t(outcome.request_status);
    return srb->status;
}
