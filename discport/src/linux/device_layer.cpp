#include "linux/device_layer.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>

namespace discport {

namespace {

class SystemDeviceLayer final : public DeviceLayer
{
  public:
    std::vector<std::string> listDirectory(const std::string& path) override
    {
        std::vector<std::string> names;
        DIR* folder = ::opendir(path.c_str());
        if (!folder)
            return names;
        while (const dirent* entry = ::readdir(folder)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(folder);
        return names;
    }

    bool exists(const std::string& path) override
    {
        struct stat info;
        return ::stat(path.c_str(), &info) == 0;
    }

    int openDevice(const std::string& path, int flags) override
    {
        const int fd = ::open(path.c_str(), flags);
        return fd >= 0 ? fd : -errno;
    }

    void closeDevice(int fd) override { ::close(fd); }

    int sgIo(int fd, sg_io_hdr_t& request) override { return call(fd, SG_IO, &request); }
    int sgGetScsiId(int fd, sg_scsi_id& id) override { return call(fd, SG_GET_SCSI_ID, &id); }
    int sgGetVersion(int fd, int& version) override { return call(fd, SG_GET_VERSION_NUM, &version); }

    uint64_t nowMs() override
    {
        using namespace std::chrono;
        return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

  private:
    static int call(int fd, unsigned long request, void* argument)
    {
        return ::ioctl(fd, request, argument) == 0 ? 0 : -errno;
    }
};

std::mutex g_layerLock;
std::shared_ptr<DeviceLayer> g_layer;

} // namespace

std::shared_ptr<DeviceLayer> deviceLayer()
{
    std::lock_guard lock(g_layerLock);
    if (!g_layer)
        g_layer = std::make_shared<SystemDeviceLayer>();
    return g_layer;
}

std::shared_ptr<DeviceLayer> setDeviceLayer(std::shared_ptr<DeviceLayer> layer)
{
    std::lock_guard lock(g_layerLock);
    std::shared_ptr<DeviceLayer> previous = std::move(g_layer);
    g_layer = std::move(layer);
    return previous;
}

int openScsiDevice(DeviceLayer& layer, const std::string& path)
{
    const int fd = layer.openDevice(path, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    return layer.openDevice(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

} // namespace discport
