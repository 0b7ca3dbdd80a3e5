// Command blocks of the drive operations and the parsing of their replies. Every operation is one
// or two command blocks sent through a ScsiTransport; replies are parsed from the bytes that
// arrived, so a short or malformed reply is a failure.
#pragma once

#include <cstddef>
#include <cstdint>

#include "discport/cd_types.h"
#include "discport/discport.h"
#include "scsi_transport.h"

namespace discport {

constexpr uint32_t kQueryTimeoutMs = 5000;
constexpr uint32_t kReadTimeoutMs = 60000;
constexpr uint32_t kMaxReadSectors = 255;

// Reads `count` (1 to kMaxReadSectors) sectors from `first` with one command: READ CD of raw
// 2352-byte sectors when sectorSize is 2352, READ(10) of 2048-byte user data otherwise. True when
// the command succeeded. Drives are given at most ten sectors a command; disc images take more.
bool readBlocks(ScsiTransport& transport, uint32_t first, uint32_t count, uint32_t sectorSize,
                uint8_t* destination);

// ---- INQUIRY --------------------------------------------------------------------------------

constexpr uint32_t kInquiryLength = 128;

struct InquiryReply
{
    uint8_t bytes[kInquiryLength] = {};
    uint32_t length = 0; // bytes that arrived
};

// Standard INQUIRY with a 128-byte reply; true when it succeeded and at least the peripheral
// byte arrived.
bool inquiry(ScsiTransport& transport, InquiryReply& reply, uint32_t timeoutMs = kQueryTimeoutMs);

// Vendor, product and revision exactly as the drive sent them (trailing blanks kept), each
// followed by a zero.
struct DriveIdentity
{
    char vendor[9] = {};
    char product[17] = {};
    char revision[5] = {};
};
bool parseIdentity(const uint8_t* reply, size_t length, DriveIdentity& identity);

// ---- TEST UNIT READY ------------------------------------------------------------------------

// Two TEST UNIT READY commands in a row; true only when both report good status.
bool driveReady(ScsiTransport& transport);

// ---- READ TOC -------------------------------------------------------------------------------

constexpr uint32_t kTocLeadOutLength = 12;
constexpr uint32_t kTocTracksLength = 816;
constexpr uint32_t kTrackGap = 150; // the two-second gap in front of every following track

// Both READ TOC commands and the entries of up to maxEntries tracks; the number of tracks on the
// disc, 0 on failure (then nothing is filled).
int32_t readToc(ScsiTransport& transport, int32_t maxEntries, CdTocEntry* entries);

// The entries from the replies of the two READ TOC commands (the lead-out reply, then the reply
// listing every track); the number of tracks, 0 for a short or malformed reply.
int32_t parseToc(const uint8_t* leadOut, size_t leadOutLength, const uint8_t* tracks, size_t tracksLength,
                 int32_t maxEntries, CdTocEntry* entries);

// ---- READ CD Mode 1 test --------------------------------------------------------------------

// READ CD of one sector at `start` expecting Mode 1; byte 9 asks for sync, headers, user data and
// EDC/ECC except over the SCSI generic interface, where no data is asked for.
bool readsAsMode1(ScsiTransport& transport, int32_t driveInterface, uint32_t start);

// ---- SET CD SPEED ---------------------------------------------------------------------------

// The read speed in kB/s that SET CD SPEED asks for, for a multiple of single speed (0 or less:
// the highest, 0xFFFF). The SCSI generic interface asks for n x 176; the CD block devices and
// disc images for the nearest of a few standard speeds.
uint16_t spinSpeedValue(int32_t driveInterface, int32_t speed);
bool setSpinSpeed(ScsiTransport& transport, int32_t driveInterface, int32_t speed);

// ---- MODE SENSE page 0x2A -------------------------------------------------------------------

constexpr uint32_t kModeSenseLength = 256;

struct Capabilities
{
    uint32_t word = 0;
    uint16_t maxReadSpeed = 0;  // kB/s
    uint16_t maxWriteSpeed = 0; // kB/s
};
bool parseCapabilities(const uint8_t* reply, size_t length, Capabilities& capabilities);
// Page control 0 current, 1 changeable, 2 default, 3 saved values.
bool readCapabilities(ScsiTransport& transport, int32_t pageControl, Capabilities& capabilities);

// ---- READ SUB-CHANNEL media catalogue number ------------------------------------------------

constexpr uint32_t kSubChannelLength = 48;

// True when the reply carries a valid catalogue number; `code` is written only then.
bool parseCatalogueNumber(const uint8_t* reply, size_t length, CdUpcEan& code);
bool readCatalogueNumber(ScsiTransport& transport, CdUpcEan& code);

} // namespace discport
