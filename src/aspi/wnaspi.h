// The WNASPI32.DLL manager of the Windows build (wnaspi_win.cpp).
#pragma once
#include "aspi/manager.h"

const aspi_manager* open_wnaspi_manager();
// Whether the DLL loads and reports a ready manager. Asks quietly: why it
// does not is said when the connection asks the manager itself.
bool is_wnaspi_ready(const aspi_manager* manager);
