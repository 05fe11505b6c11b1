// What the iSCSI manager needs without the iSCSI library: reading a portal
// text from the command line, and saying what the outcome of one iSCSI
// command means for the request.
#pragma once
#include <cstdint>
#include <string>

#include "aspi/manager.h"

// One -iscsi argument. Accepted forms:
//   host            host:port          [v6-address]:port
//   iscsi://[user[%password]@]host[:port][/]
//   iscsi://[user[%password]@]host[:port]/target-name[/lun]
// The default port is 3260. Percent escapes (%3A) are decoded in the target
// name; the LUN of a URL is accepted and not used (every LUN is scanned).
struct iscsi_portal_address {
    std::string host;     // name or address, an IPv6 address without brackets
    int port = 3260;
    std::string address;  // what is dialled: "host:port" or "[v6]:port"
    std::string target;   // the one target a URL names; empty: discover
    std::string user;     // CHAP name and secret (from a URL only)
    std::string password;
};

// 0 and portal filled, or -1 with error set to the reason (the text itself is
// not repeated in it).
int parse_iscsi_portal(const std::string& text, iscsi_portal_address* portal, std::string* error);

// How one command ended.
enum iscsi_outcome_kind {
    ISCSI_ANSWERED = 0, // the target returned a SCSI status
    ISCSI_NO_UNIT = 1,  // nothing to talk to at this address (no such target, login refused)
    ISCSI_TIMED_OUT = 2,
    ISCSI_BROKEN = 3,   // the connection failed under the command
};

struct iscsi_outcome {
    int kind = ISCSI_ANSWERED;
    int scsi_status = 0; // the SCSI status byte when answered
    int sense_key = 0;   // with check condition
    int asc = 0;
    int ascq = 0;
};

// What one command came to, in the terms of the seam: no unit, a time-out
// (host adapter status 0Bh), a connection that went away under the command
// (13h), or the target's status with, for a check condition, fixed-format
// sense of 14 bytes built from the key, code and qualifier.
void translate_iscsi_outcome(const iscsi_outcome& result, request_outcome* outcome);

// Replaces every byte outside 20h-7Eh by "." so that a text from the network
// or the library stays on one line of the error stream.
std::string make_printable(const std::string& text);
