// The one way commands reach a drive: a command block of 6, 10 or 12 bytes, an optional
// data-to-host buffer and a time-out. SCSI generic devices, CD block devices and disc images
// are implementations; everything above them is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace discport {

struct ScsiCommand
{
    uint8_t cdb[12] = {};
    uint8_t cdbLength = 0;
    uint8_t* data = nullptr;      // data to host, or null
    uint32_t dataLength = 0;
    uint32_t timeoutMs = 5000;
};

struct ScsiResult
{
    bool completed = false;  // the command was carried and finished (not: succeeded)
    uint8_t status = 0xFF;   // SCSI status byte; 0 = good
    uint32_t transferred = 0;
    uint8_t senseLength = 0; // sense bytes that came back (0 = none)

    bool good() const { return completed && status == 0; }
};

class ScsiTransport
{
public:
    virtual ~ScsiTransport() = default;
    virtual ScsiResult execute(const ScsiCommand& command) = 0;
};

} // namespace discport
