// The drive the environment works with: the remembered one by index and identity, else the
// first that reads Mode 2 Form 1 and Form 2 sectors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamlib {

struct DriveIdentity
{
    std::string vendor, product, revision;

    bool operator==(const DriveIdentity&) const = default;
};

struct DriveFacts
{
    std::optional<DriveIdentity> identity; // nothing when the drive does not tell
    bool readsMode2 = false;               // capabilities: Mode 2 Form 1 (0x100000) and Form 2 (0x200000)
};

struct DriveChoice
{
    int32_t drive = -1;
    DriveIdentity remembered;
};

// Capability bits a drive must have to be chosen without being named.
constexpr uint32_t kMode2Form1 = 0x100000;
constexpr uint32_t kMode2Form2 = 0x200000;

// What the CD layer tells of every drive of its table.
std::vector<DriveFacts> listDrives();

// The identity of drive `index`, as the settings file stores it; nothing when it cannot be read.
std::optional<DriveIdentity> driveIdentity(int32_t index);

// The drive to use: the stored index when that drive has the remembered identity; else the first
// drive with that identity; else the first that reads Mode 2 sectors (its identity remembered
// from then on); else none, and the remembered identity is cleared.
DriveChoice chooseDrive(int32_t storedIndex, const DriveIdentity& remembered,
                        const std::vector<DriveFacts>& drives);

} // namespace tamlib
