// Finding the drives of the two device interfaces: SCSI generic devices (/dev/sg*) answering
// INQUIRY as CD-ROM or write-once devices, and CD block devices (/dev/sr*).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "linux/device_layer.h"

namespace discport {

struct ScsiGenericDevice
{
    std::string path;
    int32_t host = 0;
    int32_t channel = 0;
    int32_t id = 0;
    int32_t lun = 0;
};

// The usability test of the SCSI generic interface. Status 0 when at least one device answers;
// otherwise the library status: 1 no /dev/sg* device can be listed, 2 the devices that could be
// opened do not offer SG_IO (a driver older than version 3), 3 no device can be opened or none
// tells its address (SG_GET_SCSI_ID).
struct ScsiGenericProbe
{
    int32_t status = 0;
    std::vector<ScsiGenericDevice> devices; // the answering devices, in device-number order
};
ScsiGenericProbe probeScsiGeneric(DeviceLayer& layer);

struct FoundDrive
{
    std::string path;
    int32_t host = 0;
    int32_t target = 0;
    int32_t lun = 0;
};

// The enumeration time-outs: the first probes wait 3000 ms; once a probe has used a whole
// time-out, every later probe waits 200 ms, and a target whose probes still take 200 ms gets no
// further LUN after the current one.
constexpr uint32_t kEnumerationTimeoutMs = 3000;
constexpr uint32_t kShortEnumerationTimeoutMs = 200;
constexpr int32_t kLunsPerTarget = 8;

// Probes the devices target by target (host, channel, id), LUN by LUN (0 to 7), with INQUIRY and
// keeps those whose peripheral byte is exactly 5 (CD-ROM) or 4 (write-once); at most `room`.
std::vector<FoundDrive> enumerateScsiGeneric(DeviceLayer& layer, std::vector<ScsiGenericDevice> devices,
                                             size_t room);

// True when CD block devices can exist: a /dev/sr* device or a block device sr* is present, or
// the CD-ROM driver is loaded.
bool cdBlockDevicesPossible(DeviceLayer& layer);

// The CD block devices in device-number order, one drive each, at most `room`.
std::vector<FoundDrive> enumerateCdBlockDevices(DeviceLayer& layer, size_t room);

} // namespace discport
