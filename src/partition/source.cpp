// Sector source and partition decoders (not yet built).
#include "partition/partition.h"

#include "aspi/scsi_commands.h"

int read_sectors(const sector_source* source, uint32_t block, uint32_t sector_count, uint32_t transfer_length,
                 uint8_t* buffer)
{
    if (source->kind != SOURCE_SCSI_UNIT)
        return -1;
    return scsi_read({source->adapter, source->target, source->lun}, block, uint16_t(sector_count),
                     uint16_t(transfer_length), buffer);
}
void print_partition_extent(uint32_t, uint32_t) {}
const char* partition_type_name(uint32_t) { return ""; }
int decode_ibm_floppy(const sector_source*, uint32_t, uint32_t, uint8_t*) { return -1; }
int decode_ibm_hard_disk(const sector_source*, uint32_t, uint32_t, uint8_t*) { return -1; }
int decode_fmr_towns(const sector_source*, uint32_t, uint32_t, uint8_t*) { return -1; }
int decode_medium(const sector_source*, uint32_t, uint32_t, uint8_t*) { return -1; }
void report_fat_bpb(const uint8_t*) {}
void report_fat32_bpb(const uint8_t*) {}
