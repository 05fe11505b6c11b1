// The trace file's platform layer on Windows: file kinds and identities
// from the file's handle, a temporary file created new beside the name,
// MoveFileEx to put it in place, and the console's ending signals.
#include "aspi/trace_file.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <windows.h>

namespace {

const int ending_signals[] = {SIGINT, SIGTERM, SIGBREAK};
void (*saved_handlers[3])(int) = {};
bool signals_caught = false;

HANDLE handle_of(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// errno for the last Win32 error, so that messages name the reason.
void set_errno_from_last_error()
{
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: errno = ENOENT; break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: errno = EACCES; break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: errno = ENOSPC; break;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: errno = EEXIST; break;
    default: errno = EIO; break;
    }
}

bool identity_of(HANDLE handle, file_identity* identity)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

} // namespace

path_kind inspect_trace_path(const char* path, file_identity* identity)
{
    // \\.\PhysicalDrive0, \\.\C: and the like name devices.
    if (path[0] == '\\' && path[1] == '\\' && path[2] == '.' && path[3] == '\\')
        return PATH_DEVICE;
    HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? PATH_ABSENT : PATH_OTHER;
    }
    path_kind kind = PATH_OTHER;
    switch (GetFileType(handle)) {
    case FILE_TYPE_CHAR: kind = PATH_DEVICE; break;
    case FILE_TYPE_PIPE: kind = PATH_FIFO; break;
    case FILE_TYPE_DISK: {
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileInformationByHandle(handle, &info) && identity_of(handle, identity))
            kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PATH_DIRECTORY : PATH_REGULAR;
        break;
    }
    default: break;
    }
    CloseHandle(handle);
    return kind;
}

bool standard_stream_identity(int stream, file_identity* identity)
{
    HANDLE handle = GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK)
        return false;
    return identity_of(handle, identity);
}

intptr_t create_file_beside(const char* path, std::string* temp_path)
{
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        char suffix[48];
        snprintf(suffix, sizeof suffix, ".partial-%lu-%u", static_cast<unsigned long>(GetCurrentProcessId()),
                 attempt);
        std::string name = std::string(path) + suffix;
        HANDLE handle = CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            *temp_path = name;
            return reinterpret_cast<intptr_t>(handle);
        }
        if (GetLastError() != ERROR_FILE_EXISTS) {
            set_errno_from_last_error();
            return -1;
        }
    }
    errno = EEXIST;
    return -1;
}

int write_whole(intptr_t file, const char* data, size_t length)
{
    size_t done = 0;
    while (done < length) {
        DWORD chunk = length - done > 0x40000000u ? 0x40000000u : DWORD(length - done);
        DWORD written = 0;
        if (!WriteFile(handle_of(file), data + done, chunk, &written, nullptr) || written == 0) {
            set_errno_from_last_error();
            return -1;
        }
        done += written;
    }
    return 0;
}

int cut_file(intptr_t file, int64_t length)
{
    LARGE_INTEGER at;
    at.QuadPart = length;
    if (!SetFilePointerEx(handle_of(file), at, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_of(file))) {
        set_errno_from_last_error();
        return -1;
    }
    return 0;
}

int sync_and_close(intptr_t file)
{
    int result = 0;
    if (!FlushFileBuffers(handle_of(file))) {
        set_errno_from_last_error();
        result = -1;
    }
    if (!CloseHandle(handle_of(file)) && result == 0) {
        set_errno_from_last_error();
        result = -1;
    }
    return result;
}

int replace_file(const char* from, const char* to)
{
    if (!MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        set_errno_from_last_error();
        return -1;
    }
    return 0;
}

void remove_file(const char* path) { DeleteFileA(path); }

// The console runs these handlers on a thread of its own, so the calls they
// make need not be safe in an interrupt.
void catch_ending_signals(void (*handler)(int))
{
    for (size_t i = 0; i < sizeof ending_signals / sizeof ending_signals[0]; i++)
        saved_handlers[i] = signal(ending_signals[i], handler);
    signals_caught = true;
}

void restore_ending_signals()
{
    if (!signals_caught)
        return;
    for (size_t i = 0; i < sizeof ending_signals / sizeof ending_signals[0]; i++)
        signal(ending_signals[i], saved_handlers[i] == SIG_ERR ? SIG_DFL : saved_handlers[i]);
    signals_caught = false;
}

void reraise_signal(int number)
{
    // The exit status of a console program ended by Ctrl+C.
    (void)number;
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

const char* ending_signal_name(int number)
{
    switch (number) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGBREAK: return "SIGBREAK";
    default: return "a signal";
    }
}
