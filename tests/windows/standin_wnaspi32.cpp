// A stand-in WNASPI32.DLL for tests: the bus file manager behind the two
// calls of the ASPI for Win32 interface. It reads the bus file named by the
// environment variable VEXUM_STANDIN_BUS when first asked whether it is
// ready; without one, or with a bad one, it answers "no adapters" (E800h) and
// says why on standard error. Requests complete later through the event named
// in the record, as a real manager's do.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

#include "aspi/aspi.h"
#include "aspi/manager.h"

namespace {

const aspi_manager* bus = nullptr;
bool bus_tried = false;

const aspi_manager* load_standin_bus()
{
    if (bus_tried)
        return bus;
    bus_tried = true;
    const char* path = std::getenv("VEXUM_STANDIN_BUS");
    if (!path || !*path) {
        std::fprintf(stderr, "stand-in WNASPI32.DLL: VEXUM_STANDIN_BUS names no bus file\n");
        return nullptr;
    }
    std::string error;
    bus = load_bus_file(path, &error);
    if (!bus)
        std::fprintf(stderr, "stand-in WNASPI32.DLL: %s\n", error.c_str());
    return bus;
}

} // namespace

extern "C" __declspec(dllexport) DWORD __cdecl GetASPI32SupportInfo()
{
    const aspi_manager* manager = load_standin_bus();
    return manager ? DWORD(manager_support_info(manager)) : DWORD(0xE800);
}

extern "C" __declspec(dllexport) DWORD __cdecl SendASPI32Command(void* srb)
{
    auto* header = static_cast<uint8_t*>(srb);
    const aspi_manager* manager = load_standin_bus();
    // Only the two requests the bus file describes; any other is an invalid
    // ASPI command (80h) here.
    if (!manager || (header[0] != SC_HA_INQUIRY && header[0] != SC_EXEC_SCSI_CMD)) {
        header[1] = 0x80;
        return 0x80;
    }
    return DWORD(send_to_manager(manager, srb));
}
