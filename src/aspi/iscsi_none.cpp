// The iSCSI manager of a build without libiscsi.
#include "aspi/manager.h"

const aspi_manager* open_iscsi_manager(const std::vector<std::string>&, std::string* error, const char*)
{
    *error = "this build of vexum has no iSCSI support (built without libiscsi)";
    return nullptr;
}
