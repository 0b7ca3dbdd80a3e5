// The drive table behind the Cd functions: at most 26 drives, found by the interface selection
// (the system's drives, through platform.h) and followed by the mounted disc images.
#pragma once

#include "tamrin_common/c_guard.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "drives.h"
#include "platform.h"

namespace discport {

struct DriveSlot
{
    // CD_USE_SG, CD_USE_SR or kImageInterface; 0 for the place of an unmounted image, which
    // fails every operation until the drives after it are gone too.
    int32_t interface = 0;
    int32_t host = 0; // the SCSI address of a SCSI generic device; 0 otherwise
    int32_t target = 0;
    int32_t lun = 0;
    std::shared_ptr<platform::DriveDevice> device; // device drives
    std::shared_ptr<ScsiTransport> image; // image drives
    VolumeCache volume;                   // not locked: read and written by CdGetVolumeInfo/CdReadToc
};

struct LibraryState
{
    // Guards every field below except the volume caches. Selection runs under it, so a second
    // thread that needs the table waits for the first one's enumeration.
    std::mutex lock;
    bool loaded = false;
    uint16_t mask = 0;
    int32_t interfaceInUse = CD_USE_NONE;
    int32_t status = CD_STATUS_OK;
    int32_t deviceDrives = 0; // drives the enumeration found
    int32_t count = 0;        // drives in the table: the devices, then the images
    std::array<DriveSlot, CD_MAX_DRIVES> slots;
};

// The library's one state; it lives until the process ends.
LibraryState& library();

// With the lock held: reads the mask when the library has not been loaded yet (the stored mask,
// else the interfaces usable here), and runs the selection while no interface is in use.
void ensureLoaded(LibraryState& state);
void ensureSelected(LibraryState& state);

struct DriveAddress
{
    int32_t interface = 0;
    int32_t host = 0;
    int32_t target = 0;
    int32_t lun = 0;
};
// False for an index out of range or an unmounted image's place.
bool driveAddress(int32_t drive, DriveAddress& address);

// Appends an image drive; its index, or -1 when the table is full.
int32_t appendImageDrive(std::shared_ptr<ScsiTransport> image);
// Removes an image drive (see CdUnmountImage); false when `drive` is no image drive.
bool removeImageDrive(int32_t drive);

// Forgets the mask, the interface, the status and every drive: the next call loads the library
// again. For tests, while no drive is open.
void resetDriveLibrary();

// Runs `body` and turns an exception into `fallback`: nothing is thrown across the C boundary.
using tamrin::guarded;

} // namespace discport
