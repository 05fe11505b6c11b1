// The wait watch: one thread per connection that sleeps until a request
// has waited a second, then shows and updates the line until the request
// ends. It runs while the tool's own thread is blocked in the request (in
// the system call of the SCSI generic manager, the poll loop of the iSCSI
// manager, the completion wait of an ASPI manager).
#include "aspi/wait_watch.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "aspi/manager.h"
#include "format/output.h"

struct wait_watch {
    std::mutex mutex;
    std::condition_variable changed;
    std::thread thread;
    bool stopping = false;
    bool waiting = false;         // a request is out
    unsigned long long serial = 0; // which one
    std::chrono::steady_clock::time_point since;
    char what[64] = {};
};

static void run_watch(wait_watch* watch)
{
    std::unique_lock<std::mutex> lock(watch->mutex);
    while (!watch->stopping) {
        if (!watch->waiting) {
            watch->changed.wait(lock);
            continue;
        }
        const unsigned long long serial = watch->serial;
        auto over = [&] { return watch->stopping || !watch->waiting || watch->serial != serial; };
        for (unsigned seconds = 1;; seconds++) {
            if (watch->changed.wait_until(lock, watch->since + std::chrono::seconds(seconds), over))
                break;
            char line[128];
            std::snprintf(line, sizeof line, "vexum: waiting for %s, %u s", watch->what, seconds);
            err_status(line);
        }
    }
}

wait_watch* start_wait_watch()
{
    if (!error_stream_is_terminal())
        return nullptr;
    auto* watch = new wait_watch;
    watch->thread = std::thread(run_watch, watch);
    return watch;
}

void watch_request(wait_watch* watch, const srb_exec& request)
{
    if (!watch)
        return;
    const char* name = read_only_command_name(request.cdb[0]);
    std::lock_guard<std::mutex> lock(watch->mutex);
    std::snprintf(watch->what, sizeof watch->what, "unit %u:%u:%u to answer %s", unsigned(request.host_adapter),
                  unsigned(request.target), unsigned(request.lun), name ? name : "a command");
    watch->since = std::chrono::steady_clock::now();
    watch->serial++;
    watch->waiting = true;
    watch->changed.notify_one();
}

void end_watch(wait_watch* watch)
{
    if (!watch)
        return;
    std::lock_guard<std::mutex> lock(watch->mutex);
    watch->waiting = false;
    watch->changed.notify_one();
    err_clear_status();
}

void stop_wait_watch(wait_watch* watch)
{
    if (!watch)
        return;
    {
        std::lock_guard<std::mutex> lock(watch->mutex);
        watch->stopping = true;
        watch->changed.notify_one();
    }
    watch->thread.join();
    err_clear_status();
    delete watch;
}
