#include "commands.h"

#include <algorithm>

namespace discport {

namespace {

void putBig32(uint8_t* at, uint32_t value)
{
    at[0] = uint8_t(value >> 24);
    at[1] = uint8_t(value >> 16);
    at[2] = uint8_t(value >> 8);
    at[3] = uint8_t(value);
}

void putBig16(uint8_t* at, uint16_t value)
{
    at[0] = uint8_t(value >> 8);
    at[1] = uint8_t(value);
}

ScsiCommand command(uint8_t opcode, uint8_t length, uint8_t* data = nullptr, uint32_t dataLength = 0)
{
    ScsiCommand c;
    c.cdb[0] = opcode;
    c.cdbLength = length;
    c.data = data;
    c.dataLength = dataLength;
    c.timeoutMs = kQueryTimeoutMs;
    return c;
}

// The bytes of a reply that can be trusted: what the transport says arrived, never more than
// the buffer.
uint32_t arrived(const ScsiResult& result, uint32_t bufferLength)
{
    return std::min(result.transferred, bufferLength);
}

} // namespace

bool readBlocks(ScsiTransport& transport, uint32_t first, uint32_t count, uint32_t sectorSize,
                uint8_t* destination)
{
    if (count == 0 || count > kMaxReadSectors || !destination)
        return false;
    ScsiCommand command;
    if (sectorSize == 2352) {
        command.cdb[0] = 0xBE; // READ CD
        command.cdbLength = 12;
        command.cdb[9] = 0xF8; // sync, all headers, user data, EDC/ECC
    } else {
        command.cdb[0] = 0x28; // READ(10)
        command.cdbLength = 10;
    }
    command.cdb[2] = uint8_t(first >> 24);
    command.cdb[3] = uint8_t(first >> 16);
    command.cdb[4] = uint8_t(first >> 8);
    command.cdb[5] = uint8_t(first);
    command.cdb[8] = uint8_t(count);
    command.data = destination;
    command.dataLength = count * sectorSize;
    command.timeoutMs = kReadTimeoutMs;
    const ScsiResult result = transport.execute(command);
    return result.good() && result.transferred == command.dataLength;
}

bool inquiry(ScsiTransport& transport, InquiryReply& reply, uint32_t timeoutMs)
{
    ScsiCommand c = command(0x12, 6, reply.bytes, kInquiryLength);
    c.cdb[4] = uint8_t(kInquiryLength); // allocation length
    c.timeoutMs = timeoutMs;
    const ScsiResult result = transport.execute(c);
    reply.length = arrived(result, kInquiryLength);
    return result.good() && reply.length >= 1;
}

bool driveReady(ScsiTransport& transport)
{
    for (int i = 0; i < 2; ++i) {
        if (!transport.execute(command(0x00, 6)).good())
            return false;
    }
    return true;
}

int32_t readToc(ScsiTransport& transport, int32_t maxEntries, CdTocEntry* entries)
{
    // Format 0 (TOC), addresses as logical block addresses; starting at the lead-out first, then
    // from the first track.
    uint8_t leadOut[kTocLeadOutLength] = {};
    ScsiCommand first = command(0x43, 10, leadOut, kTocLeadOutLength);
    first.cdb[6] = 0xAA;
    putBig16(first.cdb + 7, kTocLeadOutLength);
    const ScsiResult firstResult = transport.execute(first);
    // A lead-out reply that came with sense data is no answer.
    if (!firstResult.good() || firstResult.senseLength != 0)
        return 0;

    uint8_t tracks[kTocTracksLength] = {};
    ScsiCommand second = command(0x43, 10, tracks, kTocTracksLength);
    putBig16(second.cdb + 7, kTocTracksLength);
    const ScsiResult secondResult = transport.execute(second);
    if (!secondResult.good())
        return 0;
    return parseToc(leadOut, arrived(firstResult, kTocLeadOutLength), tracks,
                    arrived(secondResult, kTocTracksLength), maxEntries, entries);
}

bool readsAsMode1(ScsiTransport& transport, int32_t driveInterface, uint32_t start)
{
    uint8_t sector[2352];
    ScsiCommand c = command(0xBE, 12, sector, sizeof(sector));
    c.cdb[1] = 0x08; // expected sector type: Mode 1
    putBig32(c.cdb + 2, start);
    c.cdb[8] = 1; // transfer length (bytes 6-8): one sector
    c.cdb[9] = driveInterface == CD_USE_SG ? 0x00 : 0xF8;
    return transport.execute(c).good();
}

uint16_t spinSpeedValue(int32_t driveInterface, int32_t speed)
{
    constexpr uint16_t kSingle = 176;
    if (speed <= 0)
        return 0xFFFF;
    if (driveInterface == CD_USE_SG)
        return uint16_t(uint32_t(speed) * kSingle);
    if (speed <= 3)
        return uint16_t(speed * kSingle);
    if (speed <= 7)
        return 4 * kSingle;
    if (speed <= 15)
        return 8 * kSingle;
    return 16 * kSingle;
}

bool setSpinSpeed(ScsiTransport& transport, int32_t driveInterface, int32_t speed)
{
    ScsiCommand c = command(0xBB, 12);
    putBig16(c.cdb + 2, spinSpeedValue(driveInterface, speed));
    putBig16(c.cdb + 4, 0xFFFF); // write speed: the highest
    return transport.execute(c).good();
}

bool readCapabilities(ScsiTransport& transport, int32_t pageControl, Capabilities& capabilities)
{
    uint8_t reply[kModeSenseLength] = {};
    ScsiCommand c = command(0x1A, 6, reply, sizeof(reply));
    c.cdb[2] = uint8_t(uint32_t(pageControl) * 64 + 0x2A);
    c.cdb[4] = 0xFF; // allocation length
    const ScsiResult result = transport.execute(c);
    if (!result.good())
        return false;
    return parseCapabilities(reply, arrived(result, sizeof(reply)), capabilities);
}

bool readCatalogueNumber(ScsiTransport& transport, CdUpcEan& code)
{
    uint8_t reply[kSubChannelLength] = {};
    ScsiCommand c = command(0x42, 10, reply, sizeof(reply));
    c.cdb[2] = 0x40; // sub-channel Q data
    c.cdb[3] = 0x02; // media catalogue number
    putBig16(c.cdb + 7, kSubChannelLength);
    const ScsiResult result = transport.execute(c);
    if (!result.good())
        return false;
    return parseCatalogueNumber(reply, arrived(result, sizeof(reply)), code);
}

} // namespace discport
