// PlbConvertMIDI: a sequenced-music stream as a format-0 Standard MIDI File.
//
// File layout (big-endian):
//   0x00  "MThd", u32 6, u16 0 (format 0), u16 1 (one track), u16 division (bitsPerSample of the
//         stream's description: ticks per quarter note)
//   0x0E  "MTrk", u32 track length (0 while writing, patched at 0x12 at the end)
//   0x16  track prologue, 26 bytes: XG System On, the tempo (sampleRate: microseconds per quarter
//         note), the time signature (channels: numerator << 8 | power of the denominator, 0 for
//         4/4)
//   0x30  the raw sequencer events of every music unit, copied unchanged, in stream order
//   ....  00 FF 2F 00 (end of track) when the last event copied is not one already
//
// The deltas of the events copied are added up (the same walk the player makes over them, with
// system-exclusive events as in a MIDI file: status, variable-length length, data) and turned
// into milliseconds at the stream's tempo for the progress calls, which stop at the stream's
// length. A unit larger than the usual 64 KiB area is decoded again into a larger one.
//
// Results: 0 written or cancelled; 2 the stream cannot be opened, is not music (kind StrMusic),
// has no time division, or hands out a unit larger than the read buffer; 7 no settings, an empty or
// unterminated path, or the file cannot be created or written (a file-size limit met in the middle included).
#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "convert/conversion.h"
#include "convert/midi_file.h"
#include "tamlib/convert.h"
#include "tamlib/environment.h"
#include "tamlib/unit_buffer.h"
#include "tamrin_common/c_guard.h"
#include "tamrin_common/output_file.h"

namespace tamlib::convert {

namespace {

constexpr size_t kEventArea = size_t(64) << 10;

class MidiConversion
{
  public:
    MidiConversion(const ConversionStream& stream, const Progress& progress)
        : m_stream(stream), m_progress(progress), m_events(kEventArea)
    {
    }

    int32_t run(const std::filesystem::path& target)
    {
        const StrInfo& info = m_stream.info();
        const uint16_t division = info.bitsPerSample;
        if (!(info.kind & StrMusic) || division == 0) {
            // Anything else would copy sound samples or nonsense into the file as events.
            PlbDEBUG("midi: the stream is not sequenced music with a time division\n");
            return PLB_CONV_NO_STREAM;
        }
        m_lengthMs = info.durationMs;
        std::string error;
        const auto start = midiFileStart(division);
        const auto prologue = midiTrackPrologue(info.sampleRate, info.channels);
        if (!m_file.create(target, error) || !m_file.write(start.data(), start.size(), error) ||
            !m_file.write(prologue.data(), prologue.size(), error))
            return failed(error);
        m_trackBytes = prologue.size();
        if (!m_progress.report(0, m_lengthMs))
            return PLB_CONV_OK;

        UnitBuffer buffer;
        PsrReadRecord* record = buffer.record();
        while (LbrReadStream(m_stream.get(), LBR_WANT_AUDIO, record) == 1) {
            if (!buffer.holdsPayload()) {
                PlbDEBUG("midi: a unit claims %u payload bytes, more than the read buffer holds\n",
                         record->payloadBytes);
                LbrFreeReadBuffer(m_stream.get(), record);
                return PLB_CONV_NO_STREAM;
            }
            const size_t made = decode(*record);
            LbrFreeReadBuffer(m_stream.get(), record);
            if (made == 0)
                continue;
            if (!add(std::span<const uint8_t>(m_events.data(), made), error))
                return failed(error);
            if (!m_progress.report(positionMs(info), m_lengthMs))
                return PLB_CONV_OK;
        }
        // Readers want the track to end with its end-of-track event.
        if (!m_endsTrack && !add(kMidiEndOfTrack, error))
            return failed(error);
        uint8_t length[4] = {uint8_t(m_trackBytes >> 24), uint8_t(m_trackBytes >> 16),
                             uint8_t(m_trackBytes >> 8), uint8_t(m_trackBytes)};
        if (!m_file.writeAt(kMidiTrackLengthOffset, length, sizeof length, error))
            return failed(error);
        if (!m_progress.report(m_lengthMs, m_lengthMs))
            return PLB_CONV_OK;
        return m_file.commit(error) ? PLB_CONV_OK : failed(error);
    }

  private:
    // The unit's events into m_events; their byte count, 0 for a unit that gives none.
    size_t decode(PsrReadRecord& record)
    {
        int32_t made = LbrDecodeAudio(m_stream.get(), &record, m_events.data(), int32_t(m_events.size()));
        if (made > 0 && size_t(made) > m_events.size()) {
            // The length of a music unit that did not fit: room is made and it is decoded again.
            m_events.resize(size_t(made));
            made = LbrDecodeAudio(m_stream.get(), &record, m_events.data(), int32_t(m_events.size()));
        }
        return made > 0 && size_t(made) <= m_events.size() ? size_t(made) : 0;
    }

    bool add(std::span<const uint8_t> events, std::string& error)
    {
        if (m_trackBytes + events.size() > UINT32_MAX) {
            error = "the track grows past the 32-bit length of its header";
            return false;
        }
        if (!m_file.write(events.data(), events.size(), error))
            return false;
        m_trackBytes += events.size();
        const MidiEventWalk walk = walkMidiEvents(events);
        m_ticks += walk.ticks;
        m_endsTrack = walk.complete && walk.endOfTrack;
        return true;
    }

    uint32_t positionMs(const StrInfo& info) const
    {
        const auto ticks = uint32_t(std::min<uint64_t>(m_ticks, UINT32_MAX));
        const uint32_t ms = midiTicksToMs(ticks, info.sampleRate, info.bitsPerSample);
        return m_lengthMs > 0 ? std::min(ms, m_lengthMs) : ms;
    }

    int32_t failed(const std::string& error) const
    {
        PlbDEBUG("midi: %s\n", error.c_str());
        return PLB_CONV_WAVE_FILE;
    }

    const ConversionStream& m_stream;
    const Progress& m_progress;
    tamrin_common::OutputFile m_file;
    std::vector<uint8_t> m_events;
    uint64_t m_trackBytes = 0;
    uint64_t m_ticks = 0;
    uint32_t m_lengthMs = 0;
    bool m_endsTrack = false;
};

int32_t convertMidi(const char* pluginName, const char* fileName, const StrInfo* info,
                    const PlbMidiSettings* settings, PlbProgressFn progressFn, void* user)
{
    if (!info)
        return PLB_CONV_NO_STREAM;
    std::filesystem::path target;
    if (!settings || !outputPath(settings->outputPath, target))
        return PLB_CONV_WAVE_FILE;
    const Progress progress(progressFn, user);
    // Music comes as sound units only: anything else the plugin hands out is not kept.
    const ConversionStream stream(pluginName, fileName, *info, LBR_WANT_AUDIO);
    if (!stream.isOpen())
        return PLB_CONV_NO_STREAM;
    MidiConversion conversion(stream, progress);
    return conversion.run(target);
}

} // namespace

} // namespace tamlib::convert

PLB_API int32_t PlbConvertMIDI(const char* pluginName, const char* fileName, const StrInfo* info,
                               const PlbMidiSettings* settings, PlbProgressFn progress, void* user)
{
    return tamrin::guarded<int32_t>(PLB_CONV_WAVE_FILE, [&]() -> int32_t {
        try {
            return tamlib::convert::convertMidi(pluginName, fileName, info, settings, progress, user);
        } catch (const std::bad_alloc&) {
            return PLB_CONV_NO_MEMORY;
        }
    });
}
