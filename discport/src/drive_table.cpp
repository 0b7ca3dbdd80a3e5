#include "drive_table.h"

namespace discport {

namespace {

// The live slot of a drive with the lock held, or null.
DriveSlot* liveSlot(LibraryState& state, int32_t drive)
{
    if (drive < 0 || drive >= state.count)
        return nullptr;
    DriveSlot& slot = state.slots[size_t(drive)];
    return slot.interface != CD_USE_NONE ? &slot : nullptr;
}

} // namespace

LibraryState& library()
{
    // Never destroyed: reader threads and volume cache pointers may outlive static destruction.
    static LibraryState* state = new LibraryState;
    return *state;
}

std::shared_ptr<ScsiTransport> openDrive(int32_t drive)
{
    LibraryState& state = library();
    std::shared_ptr<platform::DriveDevice> device;
    {
        std::lock_guard lock(state.lock);
        ensureSelected(state);
        DriveSlot* slot = liveSlot(state, drive);
        if (!slot)
            return nullptr;
        if (slot->image)
            return slot->image;
        device = slot->device;
    }
    return device ? device->acquire() : nullptr;
}

int32_t driveInterface(int32_t drive)
{
    LibraryState& state = library();
    std::lock_guard lock(state.lock);
    ensureSelected(state);
    const DriveSlot* slot = liveSlot(state, drive);
    return slot ? slot->interface : CD_USE_NONE;
}

VolumeCache* volumeCache(int32_t drive)
{
    LibraryState& state = library();
    std::lock_guard lock(state.lock);
    ensureSelected(state);
    DriveSlot* slot = liveSlot(state, drive);
    return slot ? &slot->volume : nullptr;
}

bool driveAddress(int32_t drive, DriveAddress& address)
{
    LibraryState& state = library();
    std::lock_guard lock(state.lock);
    ensureSelected(state);
    const DriveSlot* slot = liveSlot(state, drive);
    if (!slot)
        return false;
    address = {slot->interface, slot->host, slot->target, slot->lun};
    return true;
}

int32_t appendImageDrive(std::shared_ptr<ScsiTransport> image)
{
    LibraryState& state = library();
    std::lock_guard lock(state.lock);
    ensureSelected(state);
    if (!image || state.count >= CD_MAX_DRIVES)
        return -1;
    DriveSlot& slot = state.slots[size_t(state.count)];
    slot = DriveSlot{};
    slot.interface = kImageInterface;
    slot.image = std::move(image);
    return state.count++;
}

bool removeImageDrive(int32_t drive)
{
    LibraryState& state = library();
    std::shared_ptr<ScsiTransport> image; // let go of outside the lock
    std::lock_guard lock(state.lock);
    DriveSlot* slot = liveSlot(state, drive);
    if (!slot || slot->interface != kImageInterface)
        return false;
    image = std::move(slot->image);
    slot->interface = CD_USE_NONE;
    slot->volume.valid = false;
    // Places at the end of the table are given back; one in the middle stays empty so that the
    // drives after it keep their indexes.
    while (state.count > 0 && state.slots[size_t(state.count - 1)].interface == CD_USE_NONE)
        --state.count;
    return true;
}

void resetDriveLibrary()
{
    LibraryState& state = library();
    std::lock_guard lock(state.lock);
    state.loaded = false;
    state.mask = 0;
    state.interfaceInUse = CD_USE_NONE;
    state.status = CD_STATUS_OK;
    state.deviceDrives = 0;
    state.count = 0;
    for (DriveSlot& slot : state.slots)
        slot = DriveSlot{};
}

} // namespace discport
