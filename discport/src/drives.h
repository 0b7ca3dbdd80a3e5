// What the reader, the volume code and the command layer share about the drive table.
#pragma once

#include <cstdint>
#include <memory>

#include "discport/discport.h"
#include "scsi_transport.h"

namespace discport {

// The drive's transport, selecting the interface and building the table first when that has not
// happened yet. For device drives the device stays open while any holder keeps the pointer (the
// open count of the drive); null for an index out of range or a device that cannot be opened.
std::shared_ptr<ScsiTransport> openDrive(int32_t drive);

// The interface of a drive: CD_USE_SG, CD_USE_SR, or kImageInterface for a mounted image; 0 when
// there is no such drive.
constexpr int32_t kImageInterface = 3;
int32_t driveInterface(int32_t drive);

// The drive's cached volume identity: valid from a successful CdGetVolumeInfo until the next
// CdReadToc of that drive. Null for an index out of range.
struct VolumeCache
{
    bool valid = false;
    CdVolumeInfo info{};
};
VolumeCache* volumeCache(int32_t drive);

} // namespace discport
