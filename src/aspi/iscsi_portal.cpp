// Portal texts and status translation of the iSCSI manager (see iscsi_portal.h).
#include "aspi/iscsi_portal.h"

#include <algorithm>
#include <cstring>

static int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Decodes %XX escapes; -1 on a broken escape.
static int decode_percent(const std::string& in, std::string* out)
{
    out->clear();
    for (size_t i = 0; i < in.size(); i++) {
        if (in[i] != '%') {
            *out += in[i];
            continue;
        }
        if (i + 2 >= in.size())
            return -1;
        int hi = hex_value(in[i + 1]);
        int lo = hex_value(in[i + 2]);
        if (hi < 0 || lo < 0)
            return -1;
        *out += char(hi * 16 + lo);
        i += 2;
    }
    return 0;
}

static bool has_blank_or_control(const std::string& s)
{
    for (unsigned char c : s)
        if (c <= 0x20 || c >= 0x7F)
            return true;
    return false;
}

// host, host:port, [v6], [v6]:port
static int parse_host_port(const std::string& text, iscsi_portal_address* portal, std::string* error)
{
    std::string host, port;
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string::npos) {
            *error = "missing \"]\" after an IPv6 address";
            return -1;
        }
        host = text.substr(1, close - 1);
        std::string rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':') {
                *error = "unexpected text after \"]\"";
                return -1;
            }
            port = rest.substr(1);
            if (port.empty()) {
                *error = "empty port number";
                return -1;
            }
        }
    } else {
        size_t colon = text.find(':');
        if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
            *error = "an IPv6 address must be written in brackets, as [address]:port";
            return -1;
        }
        host = text.substr(0, colon);
        if (colon != std::string::npos) {
            port = text.substr(colon + 1);
            if (port.empty()) {
                *error = "empty port number";
                return -1;
            }
        }
    }
    if (host.empty()) {
        *error = "no host name";
        return -1;
    }
    if (has_blank_or_control(host)) {
        *error = "blank or control character in the host name";
        return -1;
    }
    int value = 3260;
    if (!port.empty()) {
        if (port.size() > 5) {
            *error = "port number out of range";
            return -1;
        }
        value = 0;
        for (char c : port) {
            if (c < '0' || c > '9') {
                *error = "port number is not a decimal number";
                return -1;
            }
            value = value * 10 + (c - '0');
        }
        if (value < 1 || value > 65535) {
            *error = "port number out of range";
            return -1;
        }
    }
    portal->host = host;
    portal->port = value;
    bool v6 = host.find(':') != std::string::npos;
    portal->address = (v6 ? "[" + host + "]" : host) + ":" + std::to_string(value);
    return 0;
}

int parse_iscsi_portal(const std::string& text, iscsi_portal_address* portal, std::string* error)
{
    *portal = iscsi_portal_address();
    static const char scheme[] = "iscsi://";
    const size_t scheme_len = sizeof scheme - 1;
    if (text.compare(0, scheme_len, scheme) != 0) {
        if (text.find('/') != std::string::npos || text.find('@') != std::string::npos) {
            *error = "a target name or user name needs the iscsi:// form";
            return -1;
        }
        return parse_host_port(text, portal, error);
    }

    std::string rest = text.substr(scheme_len);
    size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    std::string path = slash == std::string::npos ? std::string() : rest.substr(slash + 1);

    // The credentials end at the last "@" before the host.
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        std::string credentials = authority.substr(0, at);
        authority = authority.substr(at + 1);
        size_t percent = credentials.find('%');
        portal->user = credentials.substr(0, percent);
        if (percent != std::string::npos)
            portal->password = credentials.substr(percent + 1);
        if (portal->user.empty()) {
            *error = "empty user name before \"@\"";
            return -1;
        }
        if (has_blank_or_control(portal->user) || has_blank_or_control(portal->password)) {
            *error = "blank or control character in the user name or password";
            return -1;
        }
    }
    if (parse_host_port(authority, portal, error) != 0)
        return -1;

    // path: "", "target", "target/", "target/lun"
    if (!path.empty()) {
        std::string name = path;
        size_t last = path.find('/');
        if (last != std::string::npos) {
            name = path.substr(0, last);
            std::string lun = path.substr(last + 1);
            if (lun.find('/') != std::string::npos) {
                *error = "too many \"/\" after the target name";
                return -1;
            }
            for (char c : lun) {
                if (c < '0' || c > '9') {
                    *error = "the LUN after the target name is not a decimal number";
                    return -1;
                }
            }
        }
        if (decode_percent(name, &portal->target) != 0) {
            *error = "broken %-escape in the target name";
            return -1;
        }
        if (portal->target.empty() && last != std::string::npos) {
            *error = "empty target name";
            return -1;
        }
        if (has_blank_or_control(portal->target)) {
            *error = "blank or control character in the target name";
            return -1;
        }
    }
    return 0;
}

void translate_iscsi_outcome(const iscsi_outcome& result, request_outcome* outcome)
{
    switch (result.kind) {
    case ISCSI_NO_UNIT:
        outcome->host_status = HASTAT_SEL_TO;
        return;
    case ISCSI_TIMED_OUT:
        outcome->host_status = HASTAT_COMMAND_TIMEOUT;
        return;
    case ISCSI_BROKEN:
        outcome->host_status = HASTAT_BUS_FREE;
        return;
    default:
        break;
    }
    if (result.scsi_status == STATUS_CHKCOND)
        set_check_condition(outcome, uint8_t(result.sense_key), uint8_t(result.asc), uint8_t(result.ascq), SENSE_LEN);
    outcome->target_status = uint8_t(result.scsi_status);
}

std::string make_printable(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            c = '.';
    return out;
}
