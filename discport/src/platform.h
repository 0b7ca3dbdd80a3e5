// What the drive table and the sector reader need from the system: finding the drives of the two
// pass-through interfaces, a transport on a drive, and the read-ahead worker's priority. One
// implementation per system, in its own folder (src/linux/, src/none/); the build compiles the
// one of the target system, and nothing above this header knows which it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "scsi_transport.h"

namespace discport::platform {

// A drive's device, shared by every user of the drive: opened by the first user's acquire, closed
// when the last transport it gave is let go.
class DriveDevice
{
  public:
    virtual ~DriveDevice() = default;
    // A transport on the open device; null when the device cannot be opened.
    virtual std::shared_ptr<ScsiTransport> acquire() = 0;
};

struct FoundDrive
{
    int32_t host = 0; // the SCSI address, for drives of the addressed interface; 0 otherwise
    int32_t target = 0;
    int32_t lun = 0;
    std::shared_ptr<DriveDevice> device;
};

// The usability test of the addressed interface (CD_USE_SG): CD_STATUS_OK when it can be used,
// otherwise the library status that says why.
int32_t addressedInterfaceStatus();

// The addressed interface's drives, at most `room`; `status` as addressedInterfaceStatus when the
// interface cannot be used (and then no drives).
struct Enumeration
{
    int32_t status = 0;
    std::vector<FoundDrive> drives;
};
Enumeration enumerateAddressedDrives(size_t room);

// True when drives of the one-device-per-drive interface (CD_USE_SR) can exist here.
bool deviceInterfacePossible();

// That interface's drives, at most `room`.
std::vector<FoundDrive> enumerateDeviceDrives(size_t room);

// Raises the calling thread (a reader's worker) above normal priority where the process may;
// best effort, nothing is reported.
void raiseWorkerPriority();

} // namespace discport::platform
