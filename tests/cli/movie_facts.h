// What the corpus generator recorded about each test movie (tests/data/README.md and the
// corpus MANIFEST): sizes, sound and frame counts made by independent tools.
#ifndef TAMRIN_TESTS_MOVIE_FACTS_H
#define TAMRIN_TESTS_MOVIE_FACTS_H

#include <cstdint>
#include <string>

namespace clitest {

struct MovieFacts
{
    const char* file;
    uint32_t width;
    uint32_t height;
    uint32_t channels;
    uint32_t sampleRate;
    uint32_t frames;
    uint32_t soundSectors;
};

inline constexpr MovieFacts kMovies[] = {
    {"mv1_v2_320x240_15fps_xa37800s.str", 320, 240, 2, 37800, 45, 57},
    {"mv2_v3_320x240_15fps_xa37800s_ch1.str", 320, 240, 2, 37800, 45, 57},
    {"mv3_v2_256x224_15fps_xa18900m.str", 256, 224, 1, 18900, 42, 14},
    {"mv4_v3_160x112_15fps_x1_xa37800s.str", 160, 112, 2, 37800, 45, 56},
};

inline const MovieFacts* factsFor(const std::string& fileName)
{
    for (const MovieFacts& facts : kMovies) {
        if (fileName == facts.file)
            return &facts;
    }
    return nullptr;
}

} // namespace clitest

#endif
