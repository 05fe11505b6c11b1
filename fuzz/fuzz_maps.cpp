// Fuzz target: the partition maps on media of every sector size they meet.
// The input's first three bytes choose the medium: its sector size (256,
// 512, 1024, 2048 or 4096 bytes by the first byte's value modulo 5, whose
// bit 7 asks for the JSON document instead of the text report), and the
// heads and sectors per track its holder reports (0 for none); the rest is
// the medium, read in whole sectors, with every report option on.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz_common.h"
#include "format/json.h"
#include "format/report_options.h"
#include "partition/medium.h"

namespace {

struct fuzz_medium {
    const uint8_t* data;
    size_t size;
};

int read_fuzz_medium(const medium_reader* medium, uint64_t block, uint32_t count, uint8_t* buffer)
{
    const auto* m = static_cast<const fuzz_medium*>(medium->holder);
    if (block >= medium->sector_count || count > medium->sector_count - block)
        return -1;
    std::memcpy(buffer, m->data + block * medium->sector_size, size_t(count) * medium->sector_size);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    static const uint32_t sizes[] = {256, 512, 1024, 2048, 4096};
    uint32_t sector_size = sizes[(data[0] & 0x7F) % 5];
    fuzz_medium m{data + 3, size - 3};
    medium_reader reader{read_fuzz_medium, &m, sector_size, m.size / sector_size, data[1], data[2]};
    report_options options{false, true, true, true};
    json_writer json;
    if ((data[0] & 0x80) != 0)
        options.json = &json;
    begin_report();
    if (options.json != nullptr)
        json_open_object(options.json, nullptr);
    report_medium(&reader, options);
    if (options.json != nullptr)
        json_close(options.json);
    end_report();
    return 0;
}
