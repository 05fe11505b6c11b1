// The manager seam: which manager answers, and the read-only guard that every
// request passes on its way down.
#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "aspi/scsi_commands.h"

static const aspi_manager* selected_manager = nullptr;

void select_aspi_manager(const aspi_manager* manager) { selected_manager = manager; }

const aspi_manager* current_aspi_manager()
{
    return selected_manager ? selected_manager : platform_aspi_manager();
}

bool is_read_only_command(uint8_t operation_code)
{
    switch (operation_code) {
    case OP_INQUIRY:
    case OP_MODE_SENSE6:
    case OP_READ_CAPACITY:
    case OP_READ_TOC:
    case OP_READ_DEFECT_DATA10:
    case OP_READ_BLOCK_LIMITS:
    case OP_READ10:
        return true;
    default:
        return false;
    }
}

uint32_t aspi_support_info() { return current_aspi_manager()->support_info(); }

uint32_t aspi_send_command(void* srb)
{
    auto* header = static_cast<uint8_t*>(srb);
    if (header[0] == SC_EXEC_SCSI_CMD) {
        auto* exec = static_cast<srb_exec*>(srb);
        // Nothing but the tool's own read-only commands ever reaches a device,
        // whatever a caller or a replayed file asks for.
        if (!is_read_only_command(exec->cdb[0])) {
            exec->status = SS_INVALID_SRB;
            return SS_INVALID_SRB;
        }
    } else if (header[0] != SC_HA_INQUIRY) {
        header[1] = SS_INVALID_SRB;
        return SS_INVALID_SRB;
    }
    return current_aspi_manager()->send_command(srb);
}
