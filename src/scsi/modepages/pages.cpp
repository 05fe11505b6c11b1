// Mode page decoders (not yet built).
#include "scsi/modepages/modepages.h"

int print_disconnect_reconnect_page(device_address) { return 0; }
int print_format_device_page(device_address) { return 0; }
int print_rigid_disk_geometry_page(device_address) { return 0; }
int print_notch_page(device_address) { return 0; }
int print_caching_page(device_address) { return 0; }
int print_peripheral_device_page(device_address) { return 0; }
int print_device_configuration_page(device_address) { return 0; }
