// The sound of an open stream unit by unit: each unit read, decoded to 16-bit PCM and converted to
// the wanted format. The command-line tool's audio command writes what it gives into a WAVE file;
// the WAVE converter is the same loop.
#ifndef TAMLIB_SOUND_DECODER_H
#define TAMLIB_SOUND_DECODER_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "streamkit/lbr.h"
#include "tamlib/unit_buffer.h"

#ifndef PLB_CXX_API
#define PLB_CXX_API __attribute__((visibility("default")))
#endif

namespace tamlib {

class PLB_CXX_API SoundDecoder
{
  public:
    enum class Step
    {
        Unit,    // a unit was decoded (and converted): `pcm` and `converted` hold it
        BadUnit, // the unit could not be decoded (`problem` says why); the next may be fine
        Overrun, // the plugin gave a unit larger than the read buffer: nothing after it can be trusted
        End,     // no more units
    };

    struct Unit
    {
        uint8_t kind = 0;
        uint32_t payloadBytes = 0;
        std::span<const uint8_t> pcm;       // decoded, in the stream's format
        std::span<const uint8_t> converted; // in the target format (the same bytes when no conversion)
        std::string problem;
        bool returned = true; // false when the plugin did not take the unit back
    };

    // `source` is the stream's PCM (16 bits); `target` what the caller wants. The stream stays the
    // caller's.
    SoundDecoder(StreamState* stream, const AudioFormat& source, const AudioFormat& target);

    // Reads the next sound unit and decodes it into `unit`.
    Step next(Unit& unit);

  private:
    Step decode(Unit& unit);

    StreamState* m_stream;
    AudioFormat m_source;
    AudioFormat m_target;
    bool m_convert = false;
    AudioConvState m_state{};
    UnitBuffer m_buffer;
    std::vector<uint8_t> m_pcm;
    std::vector<uint8_t> m_converted;
};

} // namespace tamlib

#endif
