// The iSCSI manager. Each portal named on the command line is one host
// adapter, numbered in command-line order. Its target numbers are the targets
// that the portal lists when asked (SendTargets), in the order it lists them;
// a URL that names one target makes that target number 0. LUNs are LUNs.
//
// Every request runs to completion inside its execute call: the connection, the
// login and each command are driven by a poll loop of our own that gives up
// at the request wait limit (10 seconds), so a silent portal or target costs
// one wait and then reads as "no unit" (selection time-out) for all of its
// addresses. Each portal or target that fails gets one line on the error
// stream naming it and the reason.
//
// libiscsi is loaded when the manager is opened, that is only in a run that
// names a portal; every call into it goes through the table of functions
// that the load fills.
#include <poll.h>
#include <sys/socket.h>

#include <iscsi/iscsi.h>
#include <iscsi/scsi-lowlevel.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

#include "aspi/aspi.h"
#include "aspi/iscsi_portal.h"
#include "aspi/manager.h"
#include "format/output.h"
#include "library/library.h"

// The functions of libiscsi that the manager calls.
struct iscsi_api {
#define VEXUM_ISCSI_FUNCTIONS(F)                                                                                    \
    F(iscsi_create_context) F(iscsi_destroy_context) F(iscsi_set_session_type) F(iscsi_set_targetname)               \
    F(iscsi_set_header_digest) F(iscsi_set_initiator_username_pwd) F(iscsi_set_noautoreconnect)                     \
    F(iscsi_set_reconnect_max_retries) F(iscsi_set_timeout) F(iscsi_connect_async) F(iscsi_login_async)             \
    F(iscsi_logout_async) F(iscsi_discovery_async) F(iscsi_get_fd) F(iscsi_which_events) F(iscsi_service)           \
    F(iscsi_get_error) F(iscsi_scsi_command_async) F(scsi_create_task) F(scsi_free_scsi_task)                       \
    F(scsi_task_add_data_in_buffer)
#define VEXUM_ISCSI_SLOT(name) decltype(&::name) name = nullptr;
    VEXUM_ISCSI_FUNCTIONS(VEXUM_ISCSI_SLOT)
#undef VEXUM_ISCSI_SLOT
};

namespace {

const char initiator_name[] = "iqn.2026-12.org.vexum:initiator";
// At most this many listed targets are kept: a target number is one byte.
const size_t max_targets = 256;
// A polite logout at the end may take this long before the link is dropped.
const unsigned logout_limit_ms = 2000;

enum link_state { LINK_UNTRIED = 0, LINK_READY = 1, LINK_FAILED = 2 };

struct target_link {
    std::string name;
    iscsi_context* context = nullptr;
    int state = LINK_UNTRIED;
};

struct portal_adapter {
    iscsi_portal_address portal;
    int state = LINK_UNTRIED; // the target list: untried, known, or unobtainable
    std::vector<target_link> targets;
};

struct iscsi_manager {
    aspi_manager record;
    std::vector<portal_adapter> adapters;
    iscsi_api lib;
    loaded_library library;
};

iscsi_manager& manager_of(void* context) { return *static_cast<iscsi_manager*>(context); }

std::vector<portal_adapter>& adapters_of(void* context) { return manager_of(context).adapters; }

// Destroys the context when the holder goes out of scope.
struct context_holder {
    const iscsi_api& lib;
    iscsi_context* context = nullptr;
    ~context_holder()
    {
        if (context)
            lib.iscsi_destroy_context(context);
    }
    iscsi_context* release()
    {
        iscsi_context* c = context;
        context = nullptr;
        return c;
    }
};

struct wait_state {
    bool finished = false;
    int status = 0;
    std::vector<std::string>* names = nullptr; // receives a target list
    int socket_error = 0; // the socket's error when it reported one
};

void note_finished(iscsi_context*, int status, void* command_data, void* private_data)
{
    auto* state = static_cast<wait_state*>(private_data);
    if (!state)
        return;
    state->status = status;
    state->finished = true;
    if (state->names && status == SCSI_STATUS_GOOD) {
        // The list is valid only during this call.
        for (auto* a = static_cast<iscsi_discovery_address*>(command_data); a; a = a->next)
            if (a->target_name && state->names->size() < max_targets)
                state->names->push_back(a->target_name);
    }
}

long long now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

enum wait_result { WAIT_DONE = 0, WAIT_TIMED_OUT = 1, WAIT_BROKEN = 2 };

// Drives the context until the callback has run or the limit has passed.
// The library's own task time-out is serviced on every turn.
wait_result run_until_finished(const iscsi_api& lib, iscsi_context* context, wait_state* state, unsigned limit_ms)
{
    const long long deadline = now_ms() + limit_ms;
    while (!state->finished) {
        long long left = deadline - now_ms();
        if (left <= 0)
            return WAIT_TIMED_OUT;
        int slice = int(std::min<long long>(left, 200));
        pollfd pfd{};
        pfd.fd = lib.iscsi_get_fd(context);
        pfd.events = short(lib.iscsi_which_events(context));
        // No events wanted (or no socket): just wait the slice out.
        int n = poll(&pfd, pfd.fd >= 0 && pfd.events ? 1 : 0, slice);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return WAIT_BROKEN;
        }
        if (n > 0 && (pfd.revents & (POLLERR | POLLHUP))) {
            // Keep the reason before the library closes the socket.
            int code = 0;
            socklen_t length = sizeof code;
            if (getsockopt(pfd.fd, SOL_SOCKET, SO_ERROR, &code, &length) == 0 && code != 0)
                state->socket_error = code;
        }
        if (lib.iscsi_service(context, n > 0 ? pfd.revents : 0) < 0 && !state->finished)
            return WAIT_BROKEN;
    }
    return WAIT_DONE;
}

unsigned limit_ms() { return aspi_wait_limit_ms(); }

std::string seconds_text(unsigned ms)
{
    unsigned s = (ms + 999) / 1000;
    return std::to_string(s) + (s == 1 ? " second" : " seconds");
}

std::string library_error(const iscsi_api& lib, iscsi_context* context, const char* fallback)
{
    const char* text = context ? lib.iscsi_get_error(context) : nullptr;
    return make_printable(text && *text ? text : fallback);
}

// Why a connection failed: the socket's own error ("Connection refused")
// where it reported one, else what the library says.
std::string connect_error(const iscsi_api& lib, iscsi_context* context, const wait_state& state)
{
    if (state.socket_error != 0)
        return make_printable(std::strerror(state.socket_error));
    return library_error(lib, context, "connection failed");
}

// Connects and logs in, to the portal's discovery session (target empty) or
// to one target. Returns the logged-in context, or null with the reason and
// whether the peer stayed silent.
iscsi_context* open_session(const iscsi_api& lib, const portal_adapter& adapter, const std::string& target, std::string* reason,
                            bool* silent)
{
    *silent = false;
    context_holder holder{lib};
    holder.context = lib.iscsi_create_context(initiator_name);
    iscsi_context* context = holder.context;
    if (!context) {
        *reason = "cannot create an iSCSI context";
        return nullptr;
    }
    const bool discovery = target.empty();
    lib.iscsi_set_session_type(context, discovery ? ISCSI_SESSION_DISCOVERY : ISCSI_SESSION_NORMAL);
    if (!discovery && lib.iscsi_set_targetname(context, target.c_str()) != 0) {
        *reason = library_error(lib, context, "target name refused");
        return nullptr;
    }
    lib.iscsi_set_header_digest(context, ISCSI_HEADER_DIGEST_NONE_CRC32C);
    if (!adapter.portal.user.empty() &&
        lib.iscsi_set_initiator_username_pwd(context, adapter.portal.user.c_str(), adapter.portal.password.c_str()) != 0) {
        *reason = library_error(lib, context, "user name refused");
        return nullptr;
    }
    // Failures are reported, not hidden behind reconnection attempts.
    lib.iscsi_set_noautoreconnect(context, 1);
    lib.iscsi_set_reconnect_max_retries(context, 0);
    lib.iscsi_set_timeout(context, int((limit_ms() + 999) / 1000));

    wait_state connected;
    if (lib.iscsi_connect_async(context, adapter.portal.address.c_str(), note_finished, &connected) != 0) {
        *reason = "cannot connect: " + library_error(lib, context, "unknown error");
        return nullptr;
    }
    wait_result r = run_until_finished(lib, context, &connected, limit_ms());
    if (r == WAIT_TIMED_OUT) {
        *silent = true;
        *reason = "no connection within " + seconds_text(limit_ms());
        return nullptr;
    }
    if (r != WAIT_DONE || connected.status != SCSI_STATUS_GOOD) {
        *reason = "cannot connect: " + connect_error(lib, context, connected);
        return nullptr;
    }

    wait_state logged_in;
    if (lib.iscsi_login_async(context, note_finished, &logged_in) != 0) {
        *reason = "login failed: " + library_error(lib, context, "unknown error");
        return nullptr;
    }
    r = run_until_finished(lib, context, &logged_in, limit_ms());
    if (r == WAIT_TIMED_OUT || (r == WAIT_DONE && logged_in.status == SCSI_STATUS_TIMEOUT)) {
        *silent = true;
        *reason = "no answer to the login within " + seconds_text(limit_ms());
        return nullptr;
    }
    if (r != WAIT_DONE || logged_in.status != SCSI_STATUS_GOOD) {
        *reason = "login refused: " + library_error(lib, context, "login failed");
        return nullptr;
    }
    return holder.release();
}

void close_session(const iscsi_api& lib, iscsi_context* context)
{
    if (!context)
        return;
    wait_state logged_out;
    if (lib.iscsi_logout_async(context, note_finished, &logged_out) == 0)
        run_until_finished(lib, context, &logged_out, std::min(limit_ms(), logout_limit_ms));
    lib.iscsi_destroy_context(context);
}

// Fills the adapter's target list: the URL's one target, or what the portal
// lists. A portal that cannot be asked gets one line and no targets.
void list_targets(const iscsi_api& lib, portal_adapter* adapter)
{
    adapter->state = LINK_FAILED;
    if (!adapter->portal.target.empty()) {
        target_link link;
        link.name = adapter->portal.target;
        adapter->targets.push_back(link);
        adapter->state = LINK_READY;
        return;
    }
    std::string reason;
    bool silent = false;
    iscsi_context* context = open_session(lib, *adapter, std::string(), &reason, &silent);
    if (!context) {
        err_printf("vexum: iSCSI portal %s: %s\n", adapter->portal.address.c_str(), reason.c_str());
        return;
    }
    std::vector<std::string> names;
    wait_state listed;
    listed.names = &names;
    wait_result r = WAIT_BROKEN;
    if (lib.iscsi_discovery_async(context, note_finished, &listed) == 0)
        r = run_until_finished(lib, context, &listed, limit_ms());
    if (r == WAIT_TIMED_OUT) {
        err_printf("vexum: iSCSI portal %s: no target list within %s\n", adapter->portal.address.c_str(),
                   seconds_text(limit_ms()).c_str());
        lib.iscsi_destroy_context(context);
        return;
    }
    if (r != WAIT_DONE || listed.status != SCSI_STATUS_GOOD) {
        err_printf("vexum: iSCSI portal %s: target list refused: %s\n", adapter->portal.address.c_str(),
                   library_error(lib, context, "discovery failed").c_str());
        lib.iscsi_destroy_context(context);
        return;
    }
    close_session(lib, context);
    // The library hands the list over last entry first.
    std::reverse(names.begin(), names.end());
    if (names.empty())
        err_printf("vexum: iSCSI portal %s: lists no targets\n", adapter->portal.address.c_str());
    for (const std::string& name : names) {
        target_link link;
        link.name = name;
        adapter->targets.push_back(link);
    }
    adapter->state = LINK_READY;
}

void report_target_failure(const portal_adapter& adapter, const target_link& link, const std::string& reason)
{
    err_printf("vexum: iSCSI target %s at %s: %s\n", make_printable(link.name).c_str(), adapter.portal.address.c_str(),
               reason.c_str());
}

// A target whose portal went silent takes the whole portal with it: every
// further address reads as "no unit" without another wait.
void give_up_portal(const iscsi_api& lib, portal_adapter* adapter)
{
    for (target_link& link : adapter->targets) {
        if (link.context) {
            lib.iscsi_destroy_context(link.context);
            link.context = nullptr;
        }
        link.state = LINK_FAILED;
    }
    adapter->state = LINK_FAILED;
}

// The link to target number `target`, logged in; null when there is no unit.
target_link* reach_target(const iscsi_api& lib, portal_adapter* adapter, unsigned target)
{
    if (adapter->state == LINK_UNTRIED)
        list_targets(lib, adapter);
    if (adapter->state != LINK_READY || target >= adapter->targets.size())
        return nullptr;
    target_link* link = &adapter->targets[target];
    if (link->state == LINK_UNTRIED) {
        std::string reason;
        bool silent = false;
        link->context = open_session(lib, *adapter, link->name, &reason, &silent);
        link->state = link->context ? LINK_READY : LINK_FAILED;
        if (!link->context) {
            report_target_failure(*adapter, *link, reason);
            if (silent)
                give_up_portal(lib, adapter);
        }
    }
    return link->state == LINK_READY ? link : nullptr;
}

iscsi_outcome run_command(const iscsi_api& lib, portal_adapter* adapter, target_link* link, const srb_exec& srb)
{
    iscsi_outcome outcome;
    // The LUN travels in the iSCSI header; the old LUN bits of byte 1 would
    // read as other fields (READ(10) protection bits) to a current device.
    unsigned char cdb[16] = {};
    std::memcpy(cdb, srb.cdb, srb.cdb_length);
    cdb[1] &= 0x1F;
    const int length = int(srb.data_length);
    scsi_task* task = lib.scsi_create_task(srb.cdb_length, cdb, length > 0 ? SCSI_XFER_READ : SCSI_XFER_NONE, length);
    if (!task) {
        outcome.kind = ISCSI_BROKEN;
        return outcome;
    }
    // The data lands in the caller's buffer and never beyond its length.
    if (length > 0 && lib.scsi_task_add_data_in_buffer(task, length, srb.data_buffer) != 0) {
        lib.scsi_free_scsi_task(task);
        outcome.kind = ISCSI_BROKEN;
        return outcome;
    }
    wait_state done;
    wait_result r = WAIT_BROKEN;
    if (lib.iscsi_scsi_command_async(link->context, srb.lun, task, note_finished, nullptr, &done) == 0)
        r = run_until_finished(lib, link->context, &done, limit_ms());
    else
        done.status = SCSI_STATUS_ERROR;

    if (r == WAIT_DONE && done.status >= 0 && done.status < 0x100) {
        outcome.kind = ISCSI_ANSWERED;
        outcome.scsi_status = done.status;
        outcome.sense_key = int(task->sense.key);
        outcome.asc = (task->sense.ascq >> 8) & 0xFF;
        outcome.ascq = task->sense.ascq & 0xFF;
        lib.scsi_free_scsi_task(task);
        return outcome;
    }
    // No answer, or the session broke: the link is closed for good.
    bool timed_out = r == WAIT_TIMED_OUT || (r == WAIT_DONE && done.status == SCSI_STATUS_TIMEOUT);
    std::string reason = timed_out ? "no answer within " + seconds_text(limit_ms()) + ", session closed"
                                   : "session lost: " + library_error(lib, link->context, "connection failed");
    report_target_failure(*adapter, *link, reason);
    lib.iscsi_destroy_context(link->context); // completes the task as cancelled
    link->context = nullptr;
    link->state = LINK_FAILED;
    lib.scsi_free_scsi_task(task);
    if (timed_out)
        give_up_portal(lib, adapter);
    outcome.kind = timed_out ? ISCSI_TIMED_OUT : ISCSI_BROKEN;
    return outcome;
}

uint32_t iscsi_support_info(void* context) { return (1u << 8) | uint32_t(adapters_of(context).size()); }

int iscsi_describe_adapter(void* context, int adapter, adapter_description* description)
{
    const std::vector<portal_adapter>& adapters = adapters_of(context);
    if (adapter < 0 || size_t(adapter) >= adapters.size())
        return -1;
    description->count = int(adapters.size());
    set_adapter_ids(description, "iSCSI", adapters[size_t(adapter)].portal.address, "");
    return 0;
}

// A portal's targets are its target IDs: asking lists them, once.
int iscsi_describe_targets(void* context, int adapter, adapter_targets* targets)
{
    std::vector<portal_adapter>& adapters = adapters_of(context);
    if (adapter < 0 || size_t(adapter) >= adapters.size())
        return -1;
    portal_adapter& portal = adapters[size_t(adapter)];
    if (portal.state == LINK_UNTRIED)
        list_targets(manager_of(context).lib, &portal);
    if (portal.state != LINK_READY)
        return -1;
    targets->count = int(portal.targets.size());
    targets->own_id = -1;
    return 0;
}

void iscsi_execute(void* context, const srb_exec& request, request_outcome* outcome)
{
    const iscsi_api& lib = manager_of(context).lib;
    std::vector<portal_adapter>& adapters = adapters_of(context);
    if (request.host_adapter >= adapters.size()) {
        outcome->kind = OUTCOME_NO_ADAPTER;
        return;
    }
    portal_adapter* adapter = &adapters[request.host_adapter];
    target_link* link = reach_target(lib, adapter, request.target);
    iscsi_outcome result;
    if (link)
        result = run_command(lib, adapter, link, request);
    else
        result.kind = ISCSI_NO_UNIT;
    translate_iscsi_outcome(result, outcome);
}

void close_sessions(const iscsi_api& lib, std::vector<portal_adapter>& adapters)
{
    for (portal_adapter& adapter : adapters)
        for (target_link& link : adapter.targets)
            if (link.context) {
                close_session(lib, link.context);
                link.context = nullptr;
            }
}

void iscsi_shutdown(void* context)
{
    iscsi_manager* m = &manager_of(context);
    close_sessions(m->lib, m->adapters);
    unload_library(&m->library);
    delete m;
}

// Binds the table, or says why it cannot: 0 or -1 with error set.
int load_iscsi_library(iscsi_api* lib, loaded_library* library, std::string* error)
{
    const char* names[] = {VEXUM_LIBISCSI_SONAME};
#define VEXUM_ISCSI_ENTRY(name) library_entry(#name, &lib->name),
    const library_symbol symbols[] = {VEXUM_ISCSI_FUNCTIONS(VEXUM_ISCSI_ENTRY)};
#undef VEXUM_ISCSI_ENTRY
    std::string reason;
    if (load_library(names, 1, symbols, sizeof symbols / sizeof symbols[0], library, &reason) != 0) {
        *error = "-iscsi needs libiscsi (" + make_printable(reason) + ")";
        return -1;
    }
    return 0;
}

// A portal text as it may be shown: a CHAP secret becomes "***".
std::string hide_secret(const std::string& text)
{
    const std::string scheme = "iscsi://";
    if (text.compare(0, scheme.size(), scheme) != 0)
        return text;
    size_t end = text.find('/', scheme.size());
    size_t at = text.rfind('@', end == std::string::npos ? std::string::npos : end);
    if (at == std::string::npos || at < scheme.size())
        return text;
    size_t percent = text.find('%', scheme.size());
    if (percent == std::string::npos || percent > at)
        return text;
    return text.substr(0, percent + 1) + "***" + text.substr(at);
}

} // namespace

const aspi_manager* open_iscsi_manager(const std::vector<std::string>& portals, std::string* error,
                                       const char* secret)
{
    if (portals.empty()) {
        *error = "-iscsi: no portal given";
        return nullptr;
    }
    if (portals.size() > 255) {
        *error = "-iscsi: more than 255 portals";
        return nullptr;
    }
    std::vector<portal_adapter> parsed;
    for (const std::string& text : portals) {
        portal_adapter adapter;
        std::string reason;
        if (parse_iscsi_portal(text, &adapter.portal, &reason) != 0) {
            *error = "iSCSI portal \"" + make_printable(hide_secret(text)) + "\": " + reason;
            return nullptr;
        }
        // A user named without a secret takes the one from the environment.
        if (!adapter.portal.user.empty() && adapter.portal.password.empty() && secret)
            adapter.portal.password = secret;
        parsed.push_back(adapter);
    }
    auto* m = new iscsi_manager;
    if (load_iscsi_library(&m->lib, &m->library, error) != 0) {
        delete m;
        return nullptr;
    }
    m->adapters = std::move(parsed);
    m->record = {"iSCSI", m, iscsi_support_info, iscsi_describe_adapter, iscsi_execute, iscsi_describe_targets,
                 iscsi_shutdown};
    return &m->record;
}
