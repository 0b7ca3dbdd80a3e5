// SPU ADPCM decoding of the game movie plugins (spu_adpcm.h).
#include "sectorkit/spu_adpcm.h"

namespace sectorkit {

namespace {

constexpr int32_t kK0[5] = {0, 240, 460, 392, 488};
constexpr int32_t kK1[5] = {0, 0, -208, -220, -240};

struct BlockDecoder
{
    int32_t shift;
    int filter;

    explicit BlockDecoder(uint8_t header)
        : shift(12 - int32_t(header & 0x0F)), filter(header < 0x40 ? header >> 4 : 4)
    {
    }

    int32_t sample(uint8_t nibble, int32_t& s1, int32_t& s2) const
    {
        const int32_t n = int32_t(nibble & 0x0F) - ((nibble & 0x08) << 1);
        // n * 2^shift without shifting a negative value; a negative shift divides instead.
        const int32_t scaled = shift >= 0 ? n * (int32_t(1) << shift) : (n * 4096) >> (12 - shift);
        const int32_t weighted = s1 * kK0[filter] + s2 * kK1[filter];
        int32_t s = scaled + weighted / 256;
        s = s < -32768 ? -32768 : (s > 32767 ? 32767 : s);
        s2 = s1;
        s1 = s;
        return s;
    }
};

inline void put16(uint8_t* out, int32_t sample)
{
    out[0] = uint8_t(sample);
    out[1] = uint8_t(uint32_t(sample) >> 8);
}

} // namespace

void decodeSpuStereo(const uint8_t* left, const uint8_t* right, size_t blocks, SpuHistory& history,
                     uint8_t* out)
{
    for (size_t b = 0; b < blocks; ++b) {
        const uint8_t* block[2] = {left + b * kSpuBlockBytes, right + b * kSpuBlockBytes};
        const BlockDecoder decoder[2] = {BlockDecoder(block[0][0]), BlockDecoder(block[1][0])};
        for (size_t i = 0; i < 14; ++i) {
            for (int half = 0; half < 2; ++half) {
                for (int c = 0; c < 2; ++c) {
                    const uint8_t nibble = uint8_t(block[c][2 + i] >> (4 * half));
                    put16(out + 2 * c, decoder[c].sample(nibble, history.s1[c], history.s2[c]));
                }
                out += 4;
            }
        }
    }
}

} // namespace sectorkit
