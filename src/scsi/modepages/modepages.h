// Mode page decoders: each fetches one page with MODE SENSE(6) and prints its
// fields. Each returns the non-zero status of a failed request, else 0.
#pragma once
#include <cstdint>

#include "aspi/scsi_commands.h"

int print_disconnect_reconnect_page(device_address unit);
int print_format_device_page(device_address unit);
int print_rigid_disk_geometry_page(device_address unit);
int print_notch_page(device_address unit);
int print_caching_page(device_address unit);
int print_peripheral_device_page(device_address unit);
int print_device_configuration_page(device_address unit);
