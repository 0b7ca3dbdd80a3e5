// A fake /dev and a fake SG_IO: folders, devices with their SCSI addresses and INQUIRY replies,
// a clock that advances by the time commands take, and a record of every open, close and request.
#pragma once

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "linux/device_layer.h"

namespace discport::testing {

// Standard INQUIRY data of `type` with the identity strings blank-padded.
inline std::vector<uint8_t> inquiryData(uint8_t type, const std::string& vendor = "VENDOR",
                                        const std::string& product = "PRODUCT",
                                        const std::string& revision = "1.0")
{
    std::vector<uint8_t> data(96, 0);
    data[0] = type;
    data[4] = uint8_t(data.size() - 5);
    const auto put = [&](size_t at, size_t width, const std::string& text) {
        for (size_t i = 0; i < width; ++i)
            data[at + i] = uint8_t(i < text.size() ? text[i] : ' ');
    };
    put(8, 8, vendor);
    put(16, 16, product);
    put(32, 4, revision);
    return data;
}

struct FakeScsiDevice
{
    int openError = 0;          // errno of every open (EACCES: no permission)
    int readWriteOpenError = 0; // errno of read-write opens only
    int version = 30536;        // SG_GET_VERSION_NUM
    bool answersVersion = true;
    bool answersScsiId = true;
    sg_scsi_id id{};
    std::vector<uint8_t> inquiry; // empty: INQUIRY ends with CHECK CONDITION
    uint32_t commandTakesMs = 0;  // at or above the request's time-out, the command times out
    // Answers any request itself when set (the default: INQUIRY as above, other commands good
    // status with nothing transferred).
    std::function<void(sg_io_hdr_t&)> respond;
};

class FakeDeviceLayer final : public DeviceLayer
{
  public:
    struct OpenAttempt
    {
        std::string path;
        int flags = 0;
    };
    struct Request
    {
        std::string path;
        sg_io_hdr_t header{};
        std::vector<uint8_t> cdb;
    };

    std::map<std::string, std::vector<std::string>> folders;
    std::set<std::string> paths;
    std::map<std::string, FakeScsiDevice> devices;
    std::vector<OpenAttempt> opens;
    std::vector<int> closes;
    std::map<int, std::string> openFds;
    std::vector<Request> requests;
    uint64_t clock = 1000;
    int nextFd = 100;

    FakeScsiDevice& addSg(int number, int host, int channel, int id, int lun, int type)
    {
        const std::string name = "sg" + std::to_string(number);
        folders["/dev"].push_back(name);
        FakeScsiDevice& device = devices["/dev/" + name];
        device.id.host_no = host;
        device.id.channel = channel;
        device.id.scsi_id = id;
        device.id.lun = lun;
        device.id.scsi_type = type;
        device.inquiry = inquiryData(uint8_t(type), "SG" + std::to_string(number));
        return device;
    }

    FakeScsiDevice& addSr(int number)
    {
        const std::string name = "sr" + std::to_string(number);
        folders["/dev"].push_back(name);
        FakeScsiDevice& device = devices["/dev/" + name];
        device.inquiry = inquiryData(5, "SR" + std::to_string(number));
        return device;
    }

    size_t requestsWithOpcode(uint8_t opcode) const
    {
        size_t n = 0;
        for (const Request& r : requests)
            n += !r.cdb.empty() && r.cdb[0] == opcode;
        return n;
    }

    std::vector<std::string> listDirectory(const std::string& path) override
    {
        const auto found = folders.find(path);
        return found == folders.end() ? std::vector<std::string>{} : found->second;
    }

    bool exists(const std::string& path) override { return paths.count(path) || devices.count(path); }

    int openDevice(const std::string& path, int flags) override
    {
        opens.push_back({path, flags});
        const auto found = devices.find(path);
        if (found == devices.end())
            return -ENOENT;
        if (found->second.openError)
            return -found->second.openError;
        if ((flags & O_ACCMODE) == O_RDWR && found->second.readWriteOpenError)
            return -found->second.readWriteOpenError;
        const int fd = nextFd++;
        openFds[fd] = path;
        return fd;
    }

    void closeDevice(int fd) override
    {
        closes.push_back(fd);
        openFds.erase(fd);
    }

    int sgIo(int fd, sg_io_hdr_t& request) override
    {
        const auto open = openFds.find(fd);
        if (open == openFds.end())
            return -EBADF;
        Request recorded;
        recorded.path = open->second;
        recorded.header = request;
        recorded.cdb.assign(request.cmdp, request.cmdp + request.cmd_len);
        requests.push_back(recorded);

        FakeScsiDevice& device = devices[open->second];
        if (device.respond) {
            device.respond(request);
            return 0;
        }
        clock += std::min<uint64_t>(device.commandTakesMs, request.timeout);
        if (device.commandTakesMs >= request.timeout) {
            request.host_status = 0x03; // DID_TIME_OUT
            request.resid = int(request.dxfer_len);
            return 0;
        }
        if (recorded.cdb[0] == 0x12 && device.inquiry.empty()) {
            request.status = 0x02; // CHECK CONDITION
            request.driver_status = 0x08;
            request.sb_len_wr = 18;
            request.resid = int(request.dxfer_len);
            return 0;
        }
        size_t copied = 0;
        if (recorded.cdb[0] == 0x12) {
            copied = std::min<size_t>(device.inquiry.size(), request.dxfer_len);
            std::memcpy(request.dxferp, device.inquiry.data(), copied);
        }
        request.status = 0;
        request.resid = int(request.dxfer_len - copied);
        return 0;
    }

    int sgGetScsiId(int fd, sg_scsi_id& id) override
    {
        const auto open = openFds.find(fd);
        if (open == openFds.end() || !devices[open->second].answersScsiId)
            return -EINVAL;
        id = devices[open->second].id;
        return 0;
    }

    int sgGetVersion(int fd, int& version) override
    {
        const auto open = openFds.find(fd);
        if (open == openFds.end() || !devices[open->second].answersVersion)
            return -EINVAL;
        version = devices[open->second].version;
        return 0;
    }

    uint64_t nowMs() override { return clock; }
};

} // namespace discport::testing
