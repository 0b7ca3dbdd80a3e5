// Disc images as drives of the table. An image drive is appended after every other drive and
// keeps its index until it is unmounted. Unmounting gives back the places at the end of the
// table; an image unmounted while drives follow it leaves an empty place that fails every
// operation (as an index out of range does) and still counts in CdGetDriveNum, so that the
// indexes of the drives after it stay valid. A reader open on an image keeps reading it until the
// reader is closed.
#include <string>

#include "discport/discport.h"
#include "drive_table.h"
#include "image/image_transport.h"

using namespace discport;

namespace {

std::string& imageError()
{
    thread_local std::string text;
    return text;
}

} // namespace

CD_API int32_t CdMountImage(const char* path)
{
    std::string& error = imageError();
    try {
        error.clear();
        if (!path || !*path) {
            error = "No disc image was named.";
            return -1;
        }
        std::string reason;
        std::shared_ptr<ImageTransport> image = openImageTransport(path, reason);
        if (!image) {
            error = reason.empty() ? std::string("The disc image cannot be opened: ") + path : reason;
            return -1;
        }
        const int32_t drive = appendImageDrive(std::move(image));
        if (drive < 0)
            error = "No drive can be added: the table holds " + std::to_string(CD_MAX_DRIVES) + " drives.";
        return drive;
    } catch (...) {
        error = "Not enough memory to mount the disc image.";
        return -1;
    }
}

CD_API int32_t CdUnmountImage(int32_t drive)
{
    return guarded<int32_t>(0, [drive] { return removeImageDrive(drive) ? 1 : 0; });
}

CD_API const char* CdImageError(void)
{
    return imageError().c_str();
}
