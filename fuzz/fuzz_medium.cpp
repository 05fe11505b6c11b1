// Fuzz target: the input is a medium; every sector the decoders read comes
// from it. Each input is decoded twice, with every report option on:
// - as a disk image of exactly its length, through the image drive path;
// - as block 0 onwards of a SCSI unit of 2^32 blocks (the largest READ
//   CAPACITY can tell), whose blocks past the input read as zeros.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

#include "aspi/aspi.h"
#include "aspi/manager.h"
#include "fuzz_bus.h"
#include "fuzz_common.h"
#include "format/report_options.h"
#include "partition/partition.h"
#include "physdrive/physdrive.h"
#include "scsi/unit_medium.h"

// Every report option but the LUN scan, which a medium does not reach.
static const report_options every_report{false, true, true, true};

static void decode_as_image(const uint8_t* data, size_t size)
{
    int fd = memfd_create("medium", 0);
    if (fd < 0)
        abort();
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0)
            abort();
        done += size_t(n);
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    std::string error;
    if (open_image_drive(path.c_str(), &error) == 0)
        report_images(every_report);
    close_physical_drives();
    close(fd);
}

static void decode_as_scsi_unit(const uint8_t* data, size_t size)
{
    fuzz_bus_set_medium(data, size, true);
    select_aspi_manager(fuzz_bus_manager());
    if (aspi_open() != 0)
        abort();
    uint8_t sector0[DECODE_SECTOR_SIZE] = {};
    std::memcpy(sector0, data, size < sizeof sector0 ? size : sizeof sector0);
    device_address unit{0, 0, 0};
    medium_reader medium = unit_medium(&unit, DECODE_SECTOR_SIZE, uint64_t(1) << 32);
    decode_medium(&medium, sector0, every_report);
    aspi_close();
    select_aspi_manager(nullptr);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    aspi_set_wait_limit_ms(0);
    begin_report();
    decode_as_image(data, size);
    decode_as_scsi_unit(data, size);
    end_report();
    return 0;
}
