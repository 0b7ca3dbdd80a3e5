// The drives of a Linux system: SCSI generic devices (/dev/sg*) for the addressed interface, CD
// block devices (/dev/sr*) for the other, both carried by SG_IO; the worker's priority as a nice
// value.
#include "platform.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "discport/discport.h"
#include "linux/device_enumeration.h"
#include "linux/sg_transport.h"

namespace discport::platform {

namespace {

std::vector<platform::FoundDrive> withDevices(const std::vector<discport::FoundDrive>& found)
{
    std::vector<platform::FoundDrive> drives;
    drives.reserve(found.size());
    for (const discport::FoundDrive& drive : found)
        drives.push_back({drive.host, drive.target, drive.lun, std::make_shared<SharedDevice>(drive.path)});
    return drives;
}

} // namespace

int32_t addressedInterfaceStatus()
{
    return probeScsiGeneric(*deviceLayer()).status;
}

Enumeration enumerateAddressedDrives(size_t room)
{
    const std::shared_ptr<DeviceLayer> layer = deviceLayer();
    const ScsiGenericProbe probe = probeScsiGeneric(*layer);
    if (probe.status != CD_STATUS_OK)
        return {probe.status, {}};
    return {CD_STATUS_OK, withDevices(enumerateScsiGeneric(*layer, probe.devices, room))};
}

bool deviceInterfacePossible()
{
    return cdBlockDevicesPossible(*deviceLayer());
}

std::vector<FoundDrive> enumerateDeviceDrives(size_t room)
{
    return withDevices(enumerateCdBlockDevices(*deviceLayer(), room));
}

void raiseWorkerPriority()
{
    // Only a privileged process may lower a nice value; others keep the normal priority.
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), -10);
}

} // namespace discport::platform
