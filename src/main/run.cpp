// Run driver (not yet built).
#include "main/run.h"

int run_vexum(int, const char* const*) { return 0; }
