// The system calls the drive code makes: listing device folders, opening devices and the SCSI
// generic ioctls, plus the clock the enumeration measures time-outs with. They go through one
// interface so that tests can stand in a fake /dev and a fake SG_IO.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace discport {

class DeviceLayer
{
  public:
    virtual ~DeviceLayer() = default;

    // Names of the entries of a folder, without "." and ".."; empty when it cannot be read.
    virtual std::vector<std::string> listDirectory(const std::string& path) = 0;
    virtual bool exists(const std::string& path) = 0;

    // A file descriptor, or -errno.
    virtual int openDevice(const std::string& path, int flags) = 0;
    virtual void closeDevice(int fd) = 0;

    // 0, or -errno.
    virtual int sgIo(int fd, sg_io_hdr_t& request) = 0;
    virtual int sgGetScsiId(int fd, sg_scsi_id& id) = 0;
    virtual int sgGetVersion(int fd, int& version) = 0;

    // Milliseconds of a monotonic clock.
    virtual uint64_t nowMs() = 0;
};

// The layer in use: the system's unless a test replaced it.
std::shared_ptr<DeviceLayer> deviceLayer();

// Replaces the layer (tests); null restores the system's. Returns the layer replaced. Only to be
// called while no drive is open.
std::shared_ptr<DeviceLayer> setDeviceLayer(std::shared_ptr<DeviceLayer> layer);

// Opens a device for SCSI commands: read and write, else read only; never blocks on a missing
// disc. A file descriptor or -errno (of the read-only attempt).
int openScsiDevice(DeviceLayer& layer, const std::string& path);

} // namespace discport
