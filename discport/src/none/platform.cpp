// Systems without a pass-through facility of their own yet: no device drives, so the drive table
// holds the mounted disc images only; the worker keeps the normal priority.
#include "platform.h"

#include "discport/discport.h"

namespace discport::platform {

int32_t addressedInterfaceStatus()
{
    return CD_STATUS_NO_INTERFACE;
}

Enumeration enumerateAddressedDrives(size_t)
{
    return {CD_STATUS_NO_INTERFACE, {}};
}

bool deviceInterfacePossible()
{
    return false;
}

std::vector<FoundDrive> enumerateDeviceDrives(size_t)
{
    return {};
}

void raiseWorkerPriority() {}

} // namespace discport::platform
