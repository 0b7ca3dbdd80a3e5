#include "linux/sg_transport.h"

namespace discport {

namespace {

// driver_status: the low three bits name a driver error (DRIVER_BUSY 1 ... DRIVER_HARD 7, with
// DRIVER_TIMEOUT 6); bit 3 (DRIVER_SENSE) only says sense data came back, which the SCSI status
// already tells.
constexpr unsigned kDriverErrorMask = 0x07;
constexpr unsigned kSenseBufferLength = 32;

} // namespace

ScsiResult sendSgIo(DeviceLayer& layer, int fd, const ScsiCommand& command)
{
    ScsiResult result;
    if (fd < 0 || command.cdbLength == 0 || command.cdbLength > sizeof(command.cdb))
        return result;
    if (command.dataLength != 0 && !command.data)
        return result;

    uint8_t cdb[sizeof(command.cdb)];
    for (size_t i = 0; i < sizeof(cdb); ++i)
        cdb[i] = command.cdb[i];
    uint8_t sense[kSenseBufferLength] = {};

    sg_io_hdr_t request{};
    request.interface_id = 'S';
    request.dxfer_direction = command.dataLength ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    request.cmd_len = command.cdbLength;
    request.mx_sb_len = sizeof(sense);
    request.dxfer_len = command.dataLength;
    request.dxferp = command.dataLength ? command.data : nullptr;
    request.cmdp = cdb;
    request.sbp = sense;
    request.timeout = command.timeoutMs;

    if (layer.sgIo(fd, request) != 0)
        return result;

    result.status = request.status;
    result.senseLength = request.sb_len_wr <= sizeof(sense) ? request.sb_len_wr : uint8_t(sizeof(sense));
    // resid as the driver reports it, kept within the buffer whatever the driver says.
    const int64_t resid = request.resid;
    if (resid <= 0)
        result.transferred = command.dataLength;
    else if (resid >= int64_t(command.dataLength))
        result.transferred = 0;
    else
        result.transferred = command.dataLength - uint32_t(resid);
    result.completed = request.host_status == 0 && (request.driver_status & kDriverErrorMask) == 0;
    return result;
}

class SharedDevice::Handle final : public ScsiTransport
{
  public:
    Handle(std::shared_ptr<SharedDevice> device, std::shared_ptr<DeviceLayer> layer, int fd)
        : m_device(std::move(device)), m_layer(std::move(layer)), m_fd(fd)
    {
    }
    ~Handle() override { m_device->release(); }

    ScsiResult execute(const ScsiCommand& command) override { return sendSgIo(*m_layer, m_fd, command); }

  private:
    std::shared_ptr<SharedDevice> m_device;
    std::shared_ptr<DeviceLayer> m_layer;
    int m_fd;
};

std::shared_ptr<ScsiTransport> SharedDevice::acquire()
{
    std::lock_guard lock(m_lock);
    if (m_openCount == 0) {
        std::shared_ptr<DeviceLayer> layer = deviceLayer();
        const int fd = openScsiDevice(*layer, m_path);
        if (fd < 0)
            return nullptr;
        m_fd = fd;
        m_layer = std::move(layer);
    }
    std::shared_ptr<ScsiTransport> handle;
    try {
        handle = std::make_shared<Handle>(shared_from_this(), m_layer, m_fd);
    } catch (...) {
        if (m_openCount == 0) {
            m_layer->closeDevice(m_fd);
            m_fd = -1;
            m_layer.reset();
        }
        throw;
    }
    ++m_openCount;
    return handle;
}

void SharedDevice::release()
{
    std::lock_guard lock(m_lock);
    if (--m_openCount == 0) {
        m_layer->closeDevice(m_fd);
        m_fd = -1;
        m_layer.reset();
    }
}

int SharedDevice::openCount() const
{
    std::lock_guard lock(m_lock);
    return m_openCount;
}

} // namespace discport
