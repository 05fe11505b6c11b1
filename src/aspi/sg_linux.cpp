// The Linux SCSI generic manager (not yet built): answers "not ready".
#include "aspi/manager.h"

static uint32_t sg_support_info() { return 0xE800; }
static uint32_t sg_send_command(void*) { return 0x81; }
static const aspi_manager sg_manager = {"scsi-generic", sg_support_info, sg_send_command, nullptr};

const aspi_manager* platform_aspi_manager() { return &sg_manager; }
