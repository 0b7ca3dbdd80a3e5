// Disc images as drives: a transport that answers MMC command blocks from an image file, so the
// command layer, the reader and the volume code run on an image exactly as on a drive.
//
// Images: CUE sheets (BIN files, several tracks), plain ISO files (2048-byte sectors) and raw
// 2352-byte images. Commands answered: INQUIRY, TEST UNIT READY, REQUEST SENSE, READ CAPACITY,
// READ TOC (formats 0 and 1, LBA or MSF), READ CD, READ(10), MODE SENSE(6) page 0x2A, SET CD
// SPEED, READ SUB-CHANNEL (position, catalogue number, ISRC), START STOP UNIT and PREVENT ALLOW
// MEDIUM REMOVAL. Anything else, a command block of the wrong length or an address beyond the
// disc ends with CHECK CONDITION and sense data (REQUEST SENSE gives the last one). Data never
// goes beyond the caller's dataLength. Several threads may use one image at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "scsi_transport.h"

namespace discport {

class ImageTransport : public ScsiTransport
{
  public:
    // For tests: the next `times` reads that include `lba` fail; reads of audio sectors return data
    // shifted by `sectors` (positive: later) so the reader's audio check is exercised.
    virtual void failSector(uint32_t lba, int times) = 0;
    virtual void shiftAudioReads(int32_t sectors) = 0;
    virtual uint32_t sectorCount() const = 0; // sectors of the whole disc, lead-out position
};

// Opens a disc image: a .cue sheet; otherwise a raw image when the file starts with the sync
// pattern or is a whole number of 2352-byte sectors (and is not named .iso); otherwise an ISO
// image of 2048-byte sectors. Null with a reason in `error` when the image cannot be used.
std::shared_ptr<ImageTransport> openImageTransport(const std::string& path, std::string& error);

} // namespace discport
