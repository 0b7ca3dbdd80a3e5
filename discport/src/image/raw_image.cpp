// Raw images: 2352-byte sectors from address 0 without a CUE sheet, one data track (Mode 2 as
// the discs of this program are; each sector's own header tells its mode when it is read).
#include "disc_image.h"
#include "edc_ecc.h"

namespace discport::image {

std::unique_ptr<DiscImage> openRawImage(const std::string& path, std::string& error)
{
    auto files = std::make_unique<ImageFiles>();
    uint64_t size = 0;
    if (!files->open(path, size, error))
        return nullptr;
    const uint64_t sectors = size / kRawSectorSize; // a trailing partial sector is ignored
    if (sectors == 0 || sectors > 0x7FFFFFFF) {
        error = path + ": " + (sectors == 0 ? "shorter than one 2352-byte sector" : "too large");
        return nullptr;
    }
    const uint32_t count = uint32_t(sectors);
    std::vector<ImageArea> areas{{0, count, TrackMode::Mode2_2352, 0, 0, false}};
    std::vector<ImageTrack> tracks{{1, false, 0x04, 0, 0, count}};
    return std::make_unique<DiscImage>(std::move(files), std::move(areas), std::move(tracks), std::string());
}

} // namespace discport::image
