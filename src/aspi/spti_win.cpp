// The SPTI manager's system calls on Windows, and the choice of this
// platform's manager: WNASPI32.DLL when it loads and reports a ready
// manager, as it always was; otherwise the storage stack's pass-through
// (SPTI) when the machine has SCSI ports; with neither, the ASPI manager
// that says why it cannot serve.
#include <cstring>
#include <string>

#include <windows.h>

#include "aspi/manager.h"
#include "aspi/spti.h"
#include "aspi/wnaspi.h"

namespace {

intptr_t win32_open(void*, const char* name, spti_access access, uint32_t* error)
{
    DWORD rights = access == SPTI_READ_WRITE ? GENERIC_READ | GENERIC_WRITE : access == SPTI_READ ? GENERIC_READ : 0;
    HANDLE handle = CreateFileA(name, rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return SPTI_NO_HANDLE;
    }
    return reinterpret_cast<intptr_t>(handle);
}

bool win32_control(void*, intptr_t handle, uint32_t code, void* in, uint32_t in_size, void* out, uint32_t out_size,
                   uint32_t* returned, uint32_t* error)
{
    DWORD count = 0;
    BOOL ok = DeviceIoControl(reinterpret_cast<HANDLE>(handle), code, in, in_size, out, out_size, &count, nullptr);
    *returned = count;
    if (!ok)
        *error = GetLastError();
    return ok != FALSE;
}

void win32_close(void*, intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

// HKLM\HARDWARE\DEVICEMAP\Scsi\Scsi Port N, value Driver.
std::string win32_port_driver(void*, int port)
{
    std::string key = "HARDWARE\\DEVICEMAP\\Scsi\\Scsi Port " + std::to_string(port);
    char driver[64] = {};
    DWORD size = sizeof driver - 1;
    DWORD type = 0;
    HKEY handle;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return "";
    LONG result = RegQueryValueExA(handle, "Driver", nullptr, &type, reinterpret_cast<BYTE*>(driver), &size);
    RegCloseKey(handle);
    if (result != ERROR_SUCCESS || type != REG_SZ)
        return "";
    return std::string(driver, strnlen(driver, sizeof driver));
}

const spti_system win32_system = {nullptr, win32_open, win32_control, win32_close, win32_port_driver};

} // namespace

const aspi_manager* platform_aspi_manager()
{
    const aspi_manager* aspi = open_wnaspi_manager();
    if (is_wnaspi_ready(aspi))
        return aspi;
    const aspi_manager* spti = open_spti_manager(win32_system);
    if (spti_adapter_count(spti) > 0) {
        release_aspi_manager(aspi);
        return spti;
    }
    release_aspi_manager(spti);
    return aspi;
}
