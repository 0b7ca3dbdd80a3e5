// Writes a small sample disc image for scripts/demo: a Mode 2 data track with an ISO volume
// descriptor, one test movie with its XA sound and a separate XA sound stream (both from
// tests/data), then a short CD audio track. Usage: tamrin-sample-disc FOLDER; writes
// FOLDER/disc.bin and FOLDER/disc.cue.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "../tests/plugins/disc_builder.h"

namespace {

void putVolumeDescriptor(discbuild::Sector& sector, const char* systemId, const char* volumeId)
{
    uint8_t* data = sector.data() + 24; // user data of a Form 1 sector
    std::memset(data, 0, 2048);
    data[0] = 1;
    std::memcpy(data + 1, "CD001", 5);
    data[6] = 1;
    std::memset(data + 8, ' ', 64);
    std::memcpy(data + 8, systemId, std::strlen(systemId));
    std::memcpy(data + 40, volumeId, std::strlen(volumeId));
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const auto movie = discbuild::loadMovie("mv1_v2_320x240_15fps_xa37800s.str");
    const auto sound = discbuild::soundSectors(discbuild::loadXa("xa1_37800_stereo.xa"));
    if (movie.empty() || sound.empty()) {
        std::fprintf(stderr, "%s: the test movies in %s cannot be read\n", argv[0], TAMRIN_TEST_DATA);
        return 1;
    }
    discbuild::DiscBuilder builder;
    builder.addForeign(24, 3);
    putVolumeDescriptor(builder.at(16), "PLAYSTATION", "TAMRIN_SAMPLE");
    builder.add(movie);
    builder.addForeign(8, 5);
    builder.placeSound(sound, 1, 0, builder.next(), 1, true);
    builder.addForeign(10, 4);
    builder.addAudioTrack(300);
    const auto image = builder.write();
    std::error_code error;
    const fs::path folder = argv[1];
    fs::create_directories(folder, error);
    if (!image || error)
        return 1;
    for (const std::string& file : {image->bin, image->cue}) {
        fs::copy_file(file, folder / fs::path(file).filename(), fs::copy_options::overwrite_existing, error);
        if (error) {
            std::fprintf(stderr, "%s: %s: %s\n", argv[0], file.c_str(), error.message().c_str());
            return 1;
        }
    }
    std::printf("%s\n", (folder / "disc.cue").c_str());
    return 0;
}
