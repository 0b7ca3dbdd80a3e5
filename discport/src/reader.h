// The sector reader behind CdReadOpen and its companions.
//
// A reader hands out a range of consecutive disc sectors, one by one, in order, with stepping
// back and repositioning. A worker thread per reader reads ahead of the caller in blocks of up to
// ten sectors into thirty slots of ten raw sectors; a block starts every 10 sectors on a data
// track and every 9 on an audio track, so that consecutive audio blocks overlap by one sector and
// the worker can check that the drive put the same 80 bytes at the same place (drives do not
// position audio reads exactly). A failed block is read again while the attempt counter allows
// it, then sector by sector; each sector that still fails comes back from CdReadSector as null,
// and the next call gives the following sector.
//
// Sectors come back either as a pointer into the slot (locked until CdUnlockReadBuffer) or copied
// into the caller's buffer. A handle is checked against the set of open readers before it is
// used, so a closed or foreign pointer gets the failure value and is never dereferenced.
//
// A drive that never answers: the worker's commands carry a time-out (kReadTimeoutMs), so a
// reader normally always makes progress. Should a command hang beyond its time-out (a transport
// that does not honour it), CdReadSector does not wait for ever: when the worker has been inside
// one disc command for longer than kStallLimitMs (the read time-out plus a margin), the sector
// is reported bad (null, the read position advances), and so is every further sector asked for
// while that command still runs. CdReadClose still waits for the worker to end.
//
// Data tracks of disc images are read without a worker ("direct" readers): the caller's thread
// reads, when it needs a sector that is not in the buffer, that sector's block and up to four
// blocks after it into consecutive slots with one command (a file read costs about what copying
// the bytes costs; handing every block from one thread to another cost more than the reading).
// Failures are handled as the worker handles them. Slots whose sectors the caller holds are kept.
//
// Waking the worker: an idle worker that found no slot is woken once the caller has used up four
// blocks since (at once when the caller needs a sector that is not in the buffer, moves the read
// position, or closes the reader), so that it refills several slots per wake-up; waking it for
// every released slot costs a thread switch every ten sectors. Repositioning frees the blocks
// with bad sectors from the new block on, except those whose sectors the caller still holds.
//
// The worker asks the platform for a raised priority (platform.h); where the process may not
// have one it runs at normal priority.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "commands.h"
#include "discport/discport.h"
#include "scsi_transport.h"

namespace discport {

constexpr uint32_t kReaderSignature = 0x34C57E24;
constexpr uint32_t kReaderSlots = 30;
constexpr uint32_t kSlotSectors = 10;
constexpr uint32_t kRawSectorSize = 2352;
constexpr uint32_t kUserSectorSize = 2048;
// A disc or range of 80 minutes or more is always read as 2048-byte sectors.
constexpr uint32_t kLongDiscSectors = 360000;
// Bytes of an audio sector compared between overlapping blocks.
constexpr uint32_t kReferenceBytes = 80;
// How long CdReadSector lets the worker sit in one disc command before it reports the sector bad.
constexpr uint32_t kStallLimitMs = kReadTimeoutMs + 5000;
// How long an idle worker sleeps when nothing wakes it.
constexpr uint32_t kIdleWaitMs = 1000;
// How long CdReadClose waits for the worker before it signals both events.
constexpr uint32_t kCloseWaitMs = 2000;

enum class TrackKind : int32_t
{
    Audio = 1,
    Data = 2,
};

// What a reader reads: the track kind, the range and the sector size.
struct ReaderRange
{
    TrackKind kind = TrackKind::Data;
    uint32_t first = 0;      // logical block address of sector 0 of the range
    uint32_t count = 0;      // sectors in the range
    uint32_t sectorSize = 0; // 2048 or 2352
};

// The opening rules of CdReadOpen after the drive check: the sector size from bit 31 of
// `countAndMode`; the track kind from `track`, or, without it, from the entry of `toc` that holds
// `first`; 2048-byte sectors whatever was asked when the extent (the track's length or the end of
// the range, whichever is larger; without a track the sum of all lengths) reaches 360000 sectors.
// Nothing when there is no track and no entry of `toc` holds `first`.
std::optional<ReaderRange> readerRange(const CdTocEntry* track, std::span<const CdTocEntry> toc,
                                       uint32_t first, uint32_t countAndMode);

struct ReaderSetup
{
    int32_t drive = -1; // for CdSetSpinSpeed at opening and closing
    // The transport the worker reads with; null: the worker opens the drive with openDrive, and
    // when that fails every block read of the reader fails.
    std::shared_ptr<ScsiTransport> transport;
    ReaderRange range;
    int32_t speed = 0;
    uint32_t stallLimitMs = kStallLimitMs;
    // Read in the caller's thread, without a worker (data tracks only; needs `transport`).
    bool direct = false;
};

// Steps of CdReadOpen after the range is known: allocates the reader, sets the spin speed and
// starts the worker. Null when memory or the thread cannot be had.
CdReadHandle* openReader(const ReaderSetup& setup);

} // namespace discport
