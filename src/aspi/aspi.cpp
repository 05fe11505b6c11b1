// ASPI connection (not yet built).
#include "aspi/aspi.h"

int aspi_open() { return -1; }
void aspi_close() {}
int aspi_is_open() { return 0; }
int aspi_host_adapter_inquiry(int, uint8_t*) { return -1; }
int aspi_execute(srb_exec*) { return -1; }
int aspi_execute_probe(srb_exec*, uint8_t*) { return -1; }
aspi_event* aspi_completion_event() { return nullptr; }
void aspi_set_wait_limit_ms(unsigned) {}
unsigned aspi_wait_limit_ms() { return 10000; }
