// Feeds arbitrary sound units and stream formats to LbrDecodeAudio, and arbitrary PCM and
// formats to LbrConvAudioData. The units go to a stream opened once on a real test movie,
// whose description is rewritten for each input (channels, sample rate, music, format).
//
// Input layout:
//   0x00 u8  unit kind       any value, sound or not
//   0x01 u8  choices         bits 0-1: channels 0, 1, 2 or 3
//                            bit 2: a music stream (units copied)
//                            bit 3: audioFormat 2 instead of 1
//                            bit 4: bitsPerSample 8 instead of 16
//                            bit 5: decode the unit a second time (the history carries)
//                            bit 6: convert in place rather than into a second buffer
//                            bit 7: convert the decoded PCM rather than the payload itself
//   0x02 u32 sample rate     of the stream, any value including 0
//   0x06 u16 capacity        of the decoder's output, in bytes
//   0x08 10 bytes            source AudioFormat of the conversion: u32 rate, u16 channels,
//                            u16 bits, u16 level
//   0x12 10 bytes            target AudioFormat
//   0x1C ...                 payload (copied into a record of exactly that size, so that any
//                            read past its end is caught); its first byte also picks where
//                            the conversion input is split in two calls
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "movie_stream.h"
#include "streamkit/lbr.h"

namespace {

constexpr size_t kHeaderBytes = 0x1C;
constexpr uint8_t kFill = 0xA5;
// Conversions to rates thousands of times higher than the source would write gigabytes; those
// are measured (LbrConvAudioOutputBytes) but not run.
constexpr int32_t kMaxRoom = 1 << 20;

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p)
{
    return uint16_t(p[0] | p[1] << 8);
}

AudioFormat formatAt(const uint8_t* p)
{
    AudioFormat f{};
    f.sampleRate = le32(p);
    f.channels = le16(p + 4);
    f.bitsPerSample = le16(p + 6);
    f.level = le16(p + 8);
    return f;
}

// Decodes into a buffer of exactly `capacity` bytes. The result never exceeds the capacity,
// except for a music stream's copy, which then leaves the buffer as it was.
int32_t decode(StreamState* stream, PsrReadRecord* record, size_t capacity, bool music)
{
    auto* out = static_cast<uint8_t*>(std::malloc(std::max<size_t>(capacity, 1)));
    if (!out)
        return 0;
    std::memset(out, kFill, capacity);
    const int32_t result = LbrDecodeAudio(stream, record, out, int32_t(capacity));
    if (result < 0)
        std::abort();
    if (size_t(result) > capacity) {
        if (!music || uint32_t(result) != record->payloadBytes)
            std::abort();
        for (size_t i = 0; i < capacity; ++i)
            if (out[i] != kFill)
                std::abort();
    }
    std::free(out);
    return result;
}

// Converts `bytes` of `input` in two calls split at `split`, each into a buffer of exactly the
// size LbrConvAudioOutputBytes gives (or, in place, the larger of that and the input).
void convert(const uint8_t* input, size_t bytes, size_t split, const AudioFormat& source,
             const AudioFormat& target, bool inPlace)
{
    AudioConvState state{};
    LbrConvAudioData(&state, 0, &source, nullptr, &target, nullptr);
    const size_t pieces[2] = {std::min(split, bytes), bytes - std::min(split, bytes)};
    const uint8_t* at = input;
    for (size_t length : pieces) {
        if (length == 0)
            continue;
        const int32_t room = LbrConvAudioOutputBytes(&state, int32_t(length), &source, &target);
        if (room < 0)
            std::abort();
        if (room > kMaxRoom)
            return;
        const size_t size = inPlace ? std::max(size_t(room), length) : size_t(room);
        auto* out = static_cast<uint8_t*>(std::malloc(std::max<size_t>(size, 1)));
        if (!out)
            return;
        const uint8_t* from = at;
        if (inPlace) {
            std::memcpy(out, at, length);
            from = out;
        }
        const int32_t written = LbrConvAudioData(&state, int32_t(length), &source, from, &target, out);
        if (written < 0 || written > room)
            std::abort();
        std::free(out);
        at += length;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static StreamState* stream = fuzzing::openMovieStream(LBR_WANT_AUDIO);
    if (size < kHeaderBytes)
        return 0;
    const uint8_t kind = data[0];
    const uint8_t choices = data[1];
    const bool music = choices & 0x04;
    const size_t capacity = le16(data + 6);
    const size_t payloadBytes = size - kHeaderBytes;

    StrInfo* info = LbrGetStreamInfo(stream);
    if (!info)
        std::abort();
    info->channels = uint16_t(choices & 0x03);
    info->kind = uint16_t(StrVideo | StrAudio | (music ? StrMusic : 0));
    info->audioFormat = (choices & 0x08) ? 2 : 1;
    info->bitsPerSample = (choices & 0x10) ? 8 : 16;
    info->sampleRate = le32(data + 2);
    // Every input starts from a cleared history, so that a crash reproduces from its input alone.
    LbrSeekStream(stream, LBR_SEEK_FLUSH_ONLY);

    auto* record = static_cast<PsrReadRecord*>(std::malloc(PSR_READ_HEADER_BYTES + payloadBytes));
    if (!record)
        return 0;
    std::memset(record, 0, PSR_READ_HEADER_BYTES);
    record->unitKind = kind;
    record->payloadBytes = uint32_t(payloadBytes);
    std::memcpy(record->payload, data + kHeaderBytes, payloadBytes);

    const int32_t first = decode(stream, record, capacity, music);
    if (choices & 0x20)
        decode(stream, record, capacity, music);
    // Room for anything: the whole PCM of the unit, to convert.
    std::vector<uint8_t> pcm(payloadBytes * 4 + 64);
    const int32_t decoded = LbrDecodeAudio(stream, record, pcm.data(), int32_t(pcm.size()));
    if (decoded < 0 || size_t(decoded) > pcm.size())
        std::abort();
    // The size of a result does not depend on the history or the capacity, once it fits.
    if (first > 0 && size_t(first) <= capacity && first != decoded)
        std::abort();

    const AudioFormat source = formatAt(data + 0x08);
    const AudioFormat target = formatAt(data + 0x12);
    const uint8_t* input = (choices & 0x80) ? pcm.data() : record->payload;
    const size_t bytes = (choices & 0x80) ? size_t(decoded) : payloadBytes;
    const size_t split = payloadBytes ? size_t(record->payload[0]) * 4 : 0;
    convert(input, bytes, split, source, target, choices & 0x40);
    std::free(record);
    return 0;
}
