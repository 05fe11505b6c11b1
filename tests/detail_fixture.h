// Shared pieces of the detail report tests: every bus file under
// fixtures/detail/ describes adapter 0 the same way, and every unit in them
// answers INQUIRY with version 2, vendor VEXUM and revision 1.0.
#pragma once
#include <string>

#include "harness.h"

inline std::string detail_adapter_line()
{
    return "\nHost adapter #0 - VEXUM BUS" + std::string(7, ' ') + " DETAIL TEST" + std::string(5, ' ') + " " +
           std::string(16, ' ') + "\n";
}

// tag: "0)ID:3-1"; product: exactly 16 characters; removable: "Rigid" or
// "Removable".
inline std::string detail_device_line(const std::string& tag, const std::string& product,
                                      const std::string& removable, const std::string& type)
{
    std::string padded = removable + std::string(9 - removable.size(), ' ');
    return "\n" + tag + " SCSI-2 VEXUM    " + product + " 1.0  " + padded + " - " + type + "\n";
}

// Runs the tool over one bus file of fixtures/detail/ for one address
// ("0:3" or "0:3:1").
inline run_result run_detail(const std::string& bus, const std::string& options, const std::string& address)
{
    return run_in_process({"-bus", fixture_path("detail/" + bus), options, "-scsi", address});
}
