#include "env/drive_choice.h"

#include "discport/discport.h"
#include "env/settings.h"

namespace tamlib {

std::optional<DriveIdentity> driveIdentity(int32_t index)
{
    char vendor[64] = {}, product[64] = {}, revision[64] = {};
    if (CdGetDriveInfo(index, nullptr, nullptr, nullptr, vendor, product, revision) != 1)
        return std::nullopt;
    vendor[63] = product[63] = revision[63] = '\0';
    return DriveIdentity{storableText(vendor, kDriveTextMax), storableText(product, kDriveTextMax),
                         storableText(revision, kDriveTextMax)};
}

std::vector<DriveFacts> listDrives()
{
    std::vector<DriveFacts> drives;
    const int32_t count = CdGetDriveNum();
    for (int32_t i = 0; i < count && i < CD_MAX_DRIVES; ++i) {
        DriveFacts facts;
        facts.identity = driveIdentity(i);
        uint32_t word = 0;
        if (CdGetCapabilities(i, 0, &word, nullptr, nullptr) == 1)
            facts.readsMode2 = (word & (kMode2Form1 | kMode2Form2)) == (kMode2Form1 | kMode2Form2);
        drives.push_back(std::move(facts));
    }
    return drives;
}

DriveChoice chooseDrive(int32_t storedIndex, const DriveIdentity& remembered,
                        const std::vector<DriveFacts>& drives)
{
    const int32_t count = int32_t(drives.size());
    if (storedIndex >= 0 && storedIndex < count && drives[size_t(storedIndex)].identity == remembered)
        return {storedIndex, remembered};
    for (int32_t i = 0; i < count; ++i)
        if (drives[size_t(i)].identity == remembered)
            return {i, remembered};
    for (int32_t i = 0; i < count; ++i) {
        if (drives[size_t(i)].readsMode2) {
            if (!drives[size_t(i)].identity)
                break;
            return {i, *drives[size_t(i)].identity};
        }
    }
    return {-1, DriveIdentity{}};
}

} // namespace tamlib
