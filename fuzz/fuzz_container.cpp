// Fuzz target: the container header parsers. The input is read twice:
// - as a whole file: its first and last bytes as recognition reads them;
// - as the start and end of a larger file, whose size the first 8 bytes
//   claim, so that sizes in a header meet files of every length.
// Whatever the header says, an accepted container's data lies inside the
// file and its sector size is one the readers take; a refusal is one line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "format/bytes.h"
#include "physdrive/container.h"

static void check(const uint8_t* head, size_t head_size, const uint8_t* tail, size_t tail_size, uint64_t file_size)
{
    container_header header;
    std::string reason;
    int result = parse_container_header(head, head_size, tail, tail_size, file_size, &header, &reason);
    if (result == CONTAINER_BUILT_IN) {
        if (header.data_offset > file_size || header.media_size > file_size - header.data_offset)
            abort();
        uint32_t s = header.sector_size;
        if (s < MIN_CONTAINER_SECTOR || s > MAX_CONTAINER_SECTOR || (s & (s - 1)) != 0)
            abort();
    } else if (result == CONTAINER_REFUSED) {
        if (reason.empty() || reason.find('\n') != std::string::npos)
            abort();
    } else if (result == CONTAINER_RAW) {
        if (header.format != container_format::raw || header.media_size != file_size)
            abort();
    } else if (result != CONTAINER_LIBRARY) {
        abort();
    }
    if (container_name(header).empty())
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t n = size < CONTAINER_PROBE_SIZE ? size : CONTAINER_PROBE_SIZE;
    check(data, n, data + size - n, n, size);
    if (size >= 8) {
        const uint8_t* rest = data + 8;
        size_t rest_size = size - 8;
        size_t m = rest_size < CONTAINER_PROBE_SIZE ? rest_size : CONTAINER_PROBE_SIZE;
        uint64_t claimed = get_le64(data);
        if (claimed < m)
            claimed = m;
        check(rest, m, rest + rest_size - m, m, claimed);
    }
    return 0;
}
