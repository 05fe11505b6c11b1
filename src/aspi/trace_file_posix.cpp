// The trace file's platform layer on POSIX systems: file kinds and
// identities from stat, a temporary file made with mkstemp, plain
// descriptors written with write(2), and the ending signals.
#include "aspi/trace_file.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const int ending_signals[] = {SIGINT, SIGPIPE, SIGTERM, SIGHUP};
struct sigaction saved_actions[sizeof ending_signals / sizeof ending_signals[0]];
bool signals_caught = false;

path_kind kind_of(mode_t mode)
{
    if (S_ISREG(mode))
        return PATH_REGULAR;
    if (S_ISDIR(mode))
        return PATH_DIRECTORY;
    if (S_ISBLK(mode) || S_ISCHR(mode))
        return PATH_DEVICE;
    if (S_ISFIFO(mode))
        return PATH_FIFO;
    return PATH_OTHER;
}

} // namespace

path_kind inspect_trace_path(const char* path, file_identity* identity)
{
    struct stat st{};
    if (stat(path, &st) != 0) {
        // A name that does not exist yet is what a trace is usually given;
        // any other failure (no permission to look) is not that.
        if (errno == ENOENT) {
            // A dangling link would be written through to its target.
            if (lstat(path, &st) == 0)
                return PATH_OTHER;
            return PATH_ABSENT;
        }
        return PATH_OTHER;
    }
    identity->volume = uint64_t(st.st_dev);
    identity->index = uint64_t(st.st_ino);
    return kind_of(st.st_mode);
}

bool standard_stream_identity(int stream, file_identity* identity)
{
    struct stat st{};
    if (fstat(stream, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    identity->volume = uint64_t(st.st_dev);
    identity->index = uint64_t(st.st_ino);
    return true;
}

intptr_t create_file_beside(const char* path, std::string* temp_path)
{
    std::string name = std::string(path) + ".partial-XXXXXX";
    int fd = mkstemp(&name[0]);
    if (fd < 0)
        return -1;
    // mkstemp makes the file private; a trace is as readable as any file
    // the user creates.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    *temp_path = name;
    return fd;
}

int write_whole(intptr_t file, const char* data, size_t length)
{
    size_t done = 0;
    while (done < length) {
        ssize_t n = write(int(file), data + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return -1;
        }
        done += size_t(n);
    }
    return 0;
}

int cut_file(intptr_t file, int64_t length)
{
    if (ftruncate(int(file), off_t(length)) != 0)
        return -1;
    return lseek(int(file), off_t(length), SEEK_SET) < 0 ? -1 : 0;
}

int sync_and_close(intptr_t file)
{
    int result = 0;
    // A file system that cannot sync (EINVAL) has nothing to flush.
    if (fsync(int(file)) != 0 && errno != EINVAL && errno != EROFS)
        result = -1;
    int saved = errno;
    if (close(int(file)) != 0 && result == 0)
        return -1;
    errno = saved;
    return result;
}

int replace_file(const char* from, const char* to) { return rename(from, to); }

void remove_file(const char* path) { unlink(path); }

void catch_ending_signals(void (*handler)(int))
{
    struct sigaction action{};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int number : ending_signals)
        sigaddset(&action.sa_mask, number);
    for (size_t i = 0; i < sizeof ending_signals / sizeof ending_signals[0]; i++) {
        // A signal the parent has us ignore (SIGINT of a background job)
        // stays ignored.
        sigaction(ending_signals[i], nullptr, &saved_actions[i]);
        if (saved_actions[i].sa_handler != SIG_IGN)
            sigaction(ending_signals[i], &action, nullptr);
    }
    signals_caught = true;
}

void restore_ending_signals()
{
    if (!signals_caught)
        return;
    for (size_t i = 0; i < sizeof ending_signals / sizeof ending_signals[0]; i++)
        sigaction(ending_signals[i], &saved_actions[i], nullptr);
    signals_caught = false;
}

void reraise_signal(int number)
{
    signal(number, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, number);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    raise(number);
    _exit(128 + number);
}

const char* ending_signal_name(int number)
{
    switch (number) {
    case SIGINT: return "SIGINT";
    case SIGPIPE: return "SIGPIPE";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    default: return "a signal";
    }
}
