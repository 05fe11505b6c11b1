// The medium reader's checked read, and the report of a medium's start that
// every device side shares: as text, or as the "medium", "layout" and
// "sector0_hex" members of the drive's or unit's object.
#include "partition/medium.h"

#include <memory>
#include <new>

#include "format/dump.h"
#include "format/json.h"
#include "format/output.h"
#include "partition/partition.h"

int read_medium(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer)
{
    if (medium == nullptr || medium->read == nullptr || buffer == nullptr || count == 0)
        return -1;
    if (medium->sector_size == 0 || medium->sector_size > MAX_MEDIUM_SECTOR_SIZE)
        return -1;
    if (uint64_t(count) * medium->sector_size > UINT32_MAX)
        return -1;
    return medium->read(medium, block, count, buffer);
}

int report_medium(const medium_reader* medium, const report_options& options, void (*after_layout)(const void*),
                  const void* context)
{
    if (medium == nullptr || medium->sector_size == 0 || medium->sector_size > MAX_MEDIUM_SECTOR_SIZE)
        return -1;
    std::unique_ptr<uint8_t[]> sector0(new (std::nothrow) uint8_t[medium->sector_size]());
    if (!sector0) {
        err_printf("Out of memory!\n");
        return -1;
    }
    bool have_sector0 = read_medium(medium, 0, 1, sector0.get()) == 0;
    bool read_first_time = have_sector0;
    json_writer* json = options.json;
    if (json != nullptr)
        json_put(json, "medium",
                 {{"sector_size", medium->sector_size},
                  {"sector_count", medium->sector_count},
                  {"size_bytes", uint64_t(medium->sector_size) * medium->sector_count},
                  {"sector0_readable", have_sector0}});
    if (have_sector0)
        decode_medium(medium, sector0.get(), options);
    if (after_layout)
        after_layout(context);
    if (options.dump_sectors) {
        if (!have_sector0) {
            std::fill(sector0.get(), sector0.get() + medium->sector_size, uint8_t(0));
            have_sector0 = read_medium(medium, 0, 1, sector0.get()) == 0;
        }
        if (have_sector0 && json != nullptr)
            json_put(json, "sector0_hex", hex_text(sector0.get(), medium->sector_size));
        else if (have_sector0)
            print_sector_dump(0, 1, int(medium->sector_size), sector0.get());
    }
    return read_first_time ? 0 : -1;
}
