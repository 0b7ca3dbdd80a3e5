// Commands through the SG_IO ioctl, which both the SCSI generic devices (/dev/sg*) and the CD
// block devices (/dev/sr*) offer.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "linux/device_layer.h"
#include "platform.h"
#include "scsi_transport.h"

namespace discport {

// Sends one command block with SG_IO and reports how it ended: completed when the ioctl succeeded
// and neither the host adapter nor the driver reported an error (a time-out included); the SCSI
// status byte, the sense bytes that came back and the bytes transferred as the driver tells them.
ScsiResult sendSgIo(DeviceLayer& layer, int fd, const ScsiCommand& command);

// A device shared by every user of one drive: opened by the first user, closed when the last one
// lets go. The open count and the descriptor are guarded by the device's own lock; the commands
// themselves are not serialised.
class SharedDevice final : public platform::DriveDevice, public std::enable_shared_from_this<SharedDevice>
{
  public:
    explicit SharedDevice(std::string path) : m_path(std::move(path)) {}
    SharedDevice(const SharedDevice&) = delete;
    SharedDevice& operator=(const SharedDevice&) = delete;

    // A transport on the open device; null when the device cannot be opened (no such device, no
    // permission). The device stays open while the transport exists.
    std::shared_ptr<ScsiTransport> acquire() override;

    const std::string& path() const { return m_path; }
    int openCount() const;

  private:
    class Handle;
    void release();

    const std::string m_path;
    mutable std::mutex m_lock;
    int m_openCount = 0;
    int m_fd = -1;
    std::shared_ptr<DeviceLayer> m_layer; // the layer the descriptor belongs to
};

} // namespace discport
