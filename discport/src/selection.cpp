// Loading the interface mask, choosing the interface and building the drive table; the Cd
// functions of the library and its drive table.
#include "discport/discport.h"
#include "drive_table.h"
#include "platform.h"
#include "settings_file.h"

namespace discport {

namespace {

void appendDevices(LibraryState& state, int32_t interface, const std::vector<platform::FoundDrive>& found)
{
    for (const platform::FoundDrive& drive : found) {
        if (state.count >= CD_MAX_DRIVES)
            break;
        DriveSlot& slot = state.slots[size_t(state.count++)];
        slot = DriveSlot{};
        slot.interface = interface;
        if (interface == CD_USE_SG) {
            slot.host = drive.host;
            slot.target = drive.target;
            slot.lun = drive.lun;
        }
        slot.device = drive.device;
        ++state.deviceDrives;
    }
}

size_t room(const LibraryState& state)
{
    return size_t(CD_MAX_DRIVES - state.count);
}

} // namespace

void ensureLoaded(LibraryState& state)
{
    if (state.loaded)
        return;
    if (const std::optional<uint32_t> stored = readStoredInterfaceMask()) {
        state.mask = uint16_t(*stored);
    } else {
        state.mask = uint16_t((platform::deviceInterfacePossible() ? CD_USE_SR : 0) |
                              (platform::addressedInterfaceStatus() == CD_STATUS_OK ? CD_USE_SG : 0));
    }
    state.interfaceInUse = CD_USE_NONE;
    state.status = CD_STATUS_OK;
    state.deviceDrives = 0;
    state.count = 0;
    for (DriveSlot& slot : state.slots)
        slot = DriveSlot{};
    state.loaded = true;
}

// Runs at every call that needs the table for as long as no interface is in use; once one is,
// the choice holds until the process ends (CdSetUseInterface only changes what the next process
// chooses).
void ensureSelected(LibraryState& state)
{
    ensureLoaded(state);
    if (state.interfaceInUse != CD_USE_NONE)
        return;
    if (state.mask & CD_USE_SG) {
        state.interfaceInUse = CD_USE_SG;
        const platform::Enumeration found = platform::enumerateAddressedDrives(room(state));
        if (found.status != CD_STATUS_OK)
            state.status = found.status;
        else
            appendDevices(state, CD_USE_SG, found.drives);
    }
    if (state.deviceDrives == 0 && (state.mask & CD_USE_SR) && platform::deviceInterfacePossible()) {
        state.interfaceInUse = CD_USE_SR;
        appendDevices(state, CD_USE_SR, platform::enumerateDeviceDrives(room(state)));
        state.status = CD_STATUS_OK;
    }
}

} // namespace discport

using namespace discport;

CD_API int32_t CdGetStatus(void)
{
    return guarded<int32_t>(CD_STATUS_OK, [] {
        LibraryState& state = library();
        std::lock_guard lock(state.lock);
        ensureSelected(state);
        return state.status;
    });
}

CD_API int32_t CdIsUseAspi(void)
{
    return guarded<int32_t>(0, [] { return platform::addressedInterfaceStatus() == CD_STATUS_OK ? 1 : 0; });
}

CD_API int32_t CdIsUseSpti(void)
{
    return guarded<int32_t>(0, [] { return platform::deviceInterfacePossible() ? 1 : 0; });
}

CD_API int32_t CdSetUseInterface(int32_t mask)
{
    return guarded<int32_t>(0, [mask] {
        LibraryState& state = library();
        std::lock_guard lock(state.lock);
        ensureLoaded(state);
        const int32_t previous = state.mask;
        if (mask != -1) {
            state.mask = uint16_t(mask);
            storeInterfaceMask(uint32_t(mask)); // a failed write is not reported
        }
        return previous;
    });
}

CD_API int32_t CdGetUseInterface(void)
{
    return guarded<int32_t>(CD_USE_NONE, [] {
        LibraryState& state = library();
        std::lock_guard lock(state.lock);
        ensureSelected(state);
        return state.interfaceInUse;
    });
}

CD_API int32_t CdGetDriveNum(void)
{
    return guarded<int32_t>(0, [] {
        LibraryState& state = library();
        std::lock_guard lock(state.lock);
        ensureSelected(state);
        return state.count;
    });
}
