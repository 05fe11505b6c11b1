// Entry point.
#include "main/run.h"

int main(int argc, char** argv) { return run_vexum(argc, argv); }
