#include "linux/device_enumeration.h"

#include <algorithm>
#include <optional>
#include <set>
#include <tuple>

#include "commands.h"
#include "linux/sg_transport.h"

namespace discport {

namespace {

constexpr int kSgVersionWithSgIo = 30000; // SG_IO came with version 3.0 of the driver

// The number of a device name "<prefix><digits>", or nothing for any other name.
std::optional<int32_t> deviceNumber(const std::string& name, std::string_view prefix)
{
    if (name.size() <= prefix.size() || name.size() > prefix.size() + 6 ||
        name.compare(0, prefix.size(), prefix))
        return std::nullopt;
    int32_t number = 0;
    for (size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return std::nullopt;
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

std::set<int32_t> numberedDevices(DeviceLayer& layer, const std::string& folder, std::string_view prefix)
{
    std::set<int32_t> numbers;
    for (const std::string& name : layer.listDirectory(folder)) {
        if (const std::optional<int32_t> number = deviceNumber(name, prefix))
            numbers.insert(*number);
    }
    return numbers;
}

// One command at a time on a descriptor that the caller owns.
class DescriptorTransport final : public ScsiTransport
{
  public:
    DescriptorTransport(DeviceLayer& layer, int fd) : m_layer(layer), m_fd(fd) {}
    ScsiResult execute(const ScsiCommand& command) override { return sendSgIo(m_layer, m_fd, command); }

  private:
    DeviceLayer& m_layer;
    int m_fd;
};

bool answersAsCdDrive(DeviceLayer& layer, const std::string& path, uint32_t timeoutMs)
{
    const int fd = openScsiDevice(layer, path);
    if (fd < 0)
        return false;
    DescriptorTransport transport(layer, fd);
    InquiryReply reply;
    const bool found = inquiry(transport, reply, timeoutMs) && (reply.bytes[0] == 5 || reply.bytes[0] == 4);
    layer.closeDevice(fd);
    return found;
}

} // namespace

ScsiGenericProbe probeScsiGeneric(DeviceLayer& layer)
{
    ScsiGenericProbe probe;
    const std::set<int32_t> numbers = numberedDevices(layer, "/dev", "sg");
    if (numbers.empty()) {
        probe.status = 1;
        return probe;
    }
    bool opened = false, offersSgIo = false;
    for (const int32_t number : numbers) {
        const std::string path = "/dev/sg" + std::to_string(number);
        const int fd = openScsiDevice(layer, path);
        if (fd < 0)
            continue;
        opened = true;
        int version = 0;
        if (layer.sgGetVersion(fd, version) == 0 && version >= kSgVersionWithSgIo) {
            offersSgIo = true;
            sg_scsi_id id{};
            if (layer.sgGetScsiId(fd, id) == 0)
                probe.devices.push_back({path, id.host_no, id.channel, id.scsi_id, id.lun});
        }
        layer.closeDevice(fd);
    }
    if (probe.devices.empty())
        probe.status = opened && !offersSgIo ? 2 : 3;
    return probe;
}

std::vector<FoundDrive> enumerateScsiGeneric(DeviceLayer& layer, std::vector<ScsiGenericDevice> devices,
                                             size_t room)
{
    std::vector<FoundDrive> drives;
    const auto key = [](const ScsiGenericDevice& d) { return std::tuple(d.host, d.channel, d.id, d.lun); };
    std::stable_sort(devices.begin(), devices.end(),
                     [&](const auto& a, const auto& b) { return key(a) < key(b); });

    uint32_t timeout = kEnumerationTimeoutMs;
    size_t next = 0;
    while (next < devices.size()) {
        // One target: the devices of one host, channel and id, by LUN.
        const ScsiGenericDevice& first = devices[next];
        size_t end = next;
        while (end < devices.size() && devices[end].host == first.host &&
               devices[end].channel == first.channel && devices[end].id == first.id)
            ++end;

        int32_t lunLimit = kLunsPerTarget;
        uint64_t stamp = layer.nowMs();
        for (size_t i = next; i < end; ++i) {
            const ScsiGenericDevice& device = devices[i];
            if (device.lun < 0 || device.lun >= lunLimit)
                break;
            const uint64_t now = layer.nowMs();
            if (now - stamp >= timeout) {
                if (timeout == kShortEnumerationTimeoutMs)
                    lunLimit = 1;
                timeout = kShortEnumerationTimeoutMs;
                stamp = now;
            }
            if (drives.size() >= room)
                return drives;
            if (answersAsCdDrive(layer, device.path, timeout))
                drives.push_back({device.path, device.host, device.id, device.lun});
        }
        next = end;
    }
    return drives;
}

bool cdBlockDevicesPossible(DeviceLayer& layer)
{
    return !numberedDevices(layer, "/dev", "sr").empty() ||
           !numberedDevices(layer, "/sys/class/block", "sr").empty() || layer.exists("/sys/module/sr_mod");
}

std::vector<FoundDrive> enumerateCdBlockDevices(DeviceLayer& layer, size_t room)
{
    std::set<int32_t> numbers = numberedDevices(layer, "/dev", "sr");
    numbers.merge(numberedDevices(layer, "/sys/class/block", "sr"));
    std::vector<FoundDrive> drives;
    for (const int32_t number : numbers) {
        if (drives.size() >= room)
            break;
        drives.push_back({"/dev/sr" + std::to_string(number), 0, 0, 0});
    }
    return drives;
}

} // namespace discport
