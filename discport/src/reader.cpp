#include "reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "auto_event.h"
#include "drives.h"
#include "platform.h"
#include "tamrin_common/handle_registry.h"

using discport::AutoResetEvent;
using discport::ReaderRange;
using discport::ScsiTransport;
using discport::TrackKind;

namespace {

constexpr uint32_t kSlotBytes = discport::kSlotSectors * discport::kRawSectorSize; // 23520
constexpr int kNoSlot = -1;
// A block is read whole while the attempt counter is at most this.
constexpr uint32_t kWholeBlockAttempts = 5;
// Reads of an audio block's first sector alone when no reference is held.
constexpr int kReferenceTries = 10;

// Sector k of a slot is bit 0x8000 >> k of its masks.
constexpr uint16_t sectorBit(uint32_t k)
{
    return uint16_t(0x8000u >> k);
}

constexpr uint16_t firstSectorsMask(uint32_t n)
{
    return uint16_t((0xFFFF0000u >> n) & 0xFFFFu);
}

struct Slot
{
    uint32_t first = 0;  // range index of the slot's first sector
    uint16_t count = 0;  // sectors in the slot; 0 = free
    uint16_t filled = 0; // non-zero once the worker has finished the slot
    uint16_t locked = 0; // sectors handed out by address and not yet released
    uint16_t bad = 0;    // sectors that failed to read
    uint8_t* data = nullptr;
};

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void relaxCpu()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#else
    std::this_thread::yield();
#endif
}

// The reader's lock. Its holders keep it for a few hundred nanoseconds; the consumer takes it
// twice per sector and the worker twice per block, so a thread that finds it taken tries again
// for a moment before it sleeps: a sleep and a wake-up cost far more than the wait.
class ReaderLock
{
  public:
    void lock()
    {
        for (int spin = 0; spin < kSpins; ++spin) {
            if (m_mutex.try_lock())
                return;
            relax();
        }
        m_mutex.lock();
    }
    bool try_lock() { return m_mutex.try_lock(); }
    void unlock() { m_mutex.unlock(); }

  private:
    static constexpr int kSpins = 200;
    static void relax() { relaxCpu(); }
    std::mutex m_mutex;
};

// Values of CdReadHandle::idleSince besides a read position.
constexpr uint64_t kWorking = ~uint64_t(0);
constexpr uint64_t kIdleAtEnd = ~uint64_t(0) - 1;
// Blocks the caller uses up before it wakes a worker that found no slot (see wakeOnProgress).
constexpr uint32_t kRefillBlocks = 4;

} // namespace

struct CdReadHandle
{
    std::atomic<uint32_t> signature{0};
    std::thread worker;
    // The drive object: the transport given at opening, or the one the worker opens.
    std::shared_ptr<ScsiTransport> transport;
    AutoResetEvent dataReady;
    AutoResetEvent wake;
    AutoResetEvent finished; // set by the worker as its last act
    ReaderLock lock;

    int32_t drive = -1;
    TrackKind kind = TrackKind::Data;
    uint32_t blockSize = 10;
    uint32_t first = 0;
    uint32_t count = 0;
    int32_t speed = 0;
    uint32_t sectorSize = discport::kRawSectorSize;
    int32_t referenceSector = -1;
    uint8_t referenceBytes[discport::kReferenceBytes] = {};
    uint32_t readPosition = 0;
    uint32_t wantedBlock = 0;
    // Why the worker waits: kWorking while it is not idle, kIdleAtEnd when the range is read to
    // its end, else the read position at which it found no slot to read into.
    uint64_t idleSince = kWorking;
    uint32_t stallLimitMs = discport::kStallLimitMs;
    // Since when the worker is inside a disc command (steady milliseconds), 0 when it is not.
    std::atomic<int64_t> commandSince{0};

    uint8_t* buffer = nullptr; // kReaderSlots x kSlotBytes, aligned to 16 bytes
    Slot slots[discport::kReaderSlots];
    int lastSlot = 0; // the slot that held the last sector found: the next one is most likely there

    // Direct reading (no worker): the slot the next read starts at.
    bool direct = false;
    int nextDirectSlot = 0;

    ~CdReadHandle() { ::operator delete[](buffer, std::align_val_t(16)); }

    bool open() const { return signature.load(std::memory_order_acquire) == discport::kReaderSignature; }
    uint32_t blockOf(uint32_t position) const { return blockSize * (position / blockSize); }
};

namespace {

// ---- the set of open readers ----------------------------------------------------------------

tamrin_common::HandleRegistry g_readers;

// The reader behind a handle from a caller, or null when it is no open reader.
CdReadHandle* openReaderOf(CdReadHandle* handle)
{
    return g_readers.contains(handle) && handle->open() ? handle : nullptr;
}

// ---- the worker -----------------------------------------------------------------------------

struct SlotChoice
{
    int slot = kNoSlot;     // the slot to read the wanted block into
    int previous = kNoSlot; // the slot holding the block before the wanted one
};

// Under the reader's lock. May advance the wanted block past blocks that are already held.
SlotChoice chooseSlot(CdReadHandle& r)
{
    const uint64_t b = r.blockSize;
    const uint64_t p = r.readPosition;
    const uint64_t k = b * (p / b);
    const uint64_t l = k - std::min(8 * b, k);
    SlotChoice choice;
    int stale;
    int current;
restart:
    choice = SlotChoice{};
    stale = kNoSlot;
    current = kNoSlot;
    for (int i = 0; i < int(discport::kReaderSlots); ++i) {
        const Slot& slot = r.slots[i];
        if (slot.count == 0) {
            if (choice.slot == kNoSlot)
                choice.slot = i;
            continue;
        }
        if (slot.first == r.wantedBlock) {
            r.wantedBlock += r.blockSize;
            goto restart;
        }
        if (uint64_t(slot.first) + slot.count < l && slot.locked == 0 &&
            (stale == kNoSlot || slot.first < r.slots[stale].first))
            stale = i;
        if (uint64_t(slot.first) + b == r.wantedBlock)
            choice.previous = i;
        if (slot.first == k)
            current = i;
    }
    if (choice.slot != kNoSlot)
        return choice;
    if (stale != kNoSlot) {
        choice.slot = stale;
        return choice;
    }
    if (current != kNoSlot)
        return choice;
    // Far read-ahead (29 blocks or more beyond the read position) is given up.
    for (int i = 0; i < int(discport::kReaderSlots); ++i) {
        Slot& slot = r.slots[i];
        if (slot.count != 0 && slot.locked == 0 && slot.filled != 0 && slot.first >= p + 29 * b) {
            slot.count = 0;
            choice.slot = i;
        }
    }
    if (choice.previous != kNoSlot && r.slots[choice.previous].count == 0)
        choice.previous = kNoSlot;
    return choice;
}

enum class Pass
{
    Idle,
    Retry, // the block was given back to be read again
    Done,
};

class Worker
{
  public:
    explicit Worker(CdReadHandle& reader) : m_r(reader) {}

    void run()
    {
        discport::platform::raiseWorkerPriority();
        m_transport = m_r.transport ? m_r.transport : discport::openDrive(m_r.drive);
        uint32_t attempts = 0;
        while (m_r.open()) {
            if (pass(attempts) != Pass::Retry)
                attempts = 0;
            ++attempts;
        }
        m_transport.reset();
        m_r.transport.reset();
        m_r.finished.set();
    }

  private:
    // One disc command; the consumer watches how long it takes.
    bool read(uint32_t rangeIndex, uint32_t count, uint8_t* destination)
    {
        if (!m_transport)
            return false;
        m_r.commandSince.store(nowMs(), std::memory_order_release);
        const bool ok =
            discport::readBlocks(*m_transport, m_r.first + rangeIndex, count, m_r.sectorSize, destination);
        m_r.commandSince.store(0, std::memory_order_release);
        return ok;
    }

    Pass pass(uint32_t attempts)
    {
        std::unique_lock lock(m_r.lock);
        const SlotChoice choice = chooseSlot(m_r);
        const int64_t n =
            std::min<int64_t>(int64_t(m_r.count) - int64_t(m_r.wantedBlock), discport::kSlotSectors);
        m_r.idleSince = kWorking;
        if (n <= 0 || choice.slot == kNoSlot) {
            m_r.idleSince = n <= 0 ? kIdleAtEnd : m_r.readPosition;
            // Reset under the lock: a wake signalled after this pass looked at the slots (or
            // after a close cleared the signature, which it does under the lock) is kept.
            m_r.wake.reset();
            const bool closing = !m_r.open();
            lock.unlock();
            if (!closing)
                m_r.wake.waitFor(discport::kIdleWaitMs);
            return Pass::Idle;
        }
        Slot& slot = m_r.slots[choice.slot];
        slot.first = m_r.wantedBlock;
        slot.count = uint16_t(n);
        slot.filled = 0;
        slot.locked = 0;
        slot.bad = 0;
        const uint16_t filled = firstSectorsMask(uint32_t(n));
        uint16_t bad = 0;
        const bool audio = m_r.kind == TrackKind::Audio;
        const uint32_t size = m_r.sectorSize;

        if (audio && m_r.referenceSector != int64_t(slot.first)) {
            if (choice.previous != kNoSlot && choice.previous != choice.slot) {
                const Slot& previous = m_r.slots[choice.previous];
                const uint32_t last = previous.count - 1u;
                if ((previous.filled & sectorBit(last)) && !(previous.bad & sectorBit(last))) {
                    std::memcpy(m_r.referenceBytes, previous.data + last * size, discport::kReferenceBytes);
                    m_r.referenceSector = int32_t(previous.first + last);
                }
            }
            if (m_r.referenceSector != int64_t(slot.first))
                sampleReference(lock, slot);
        }

        const int64_t reference = m_r.referenceSector;
        lock.unlock();
        if (!read(slot.first, uint32_t(n), slot.data)) {
            if (attempts <= kWholeBlockAttempts) {
                lock.lock();
                slot.count = 0;
                lock.unlock();
                m_r.dataReady.set();
                return Pass::Retry;
            }
            for (uint32_t k = 0; k < uint32_t(n); ++k) {
                if (!m_r.open() || !read(slot.first + k, 1, slot.data + k * size))
                    bad |= sectorBit(k);
            }
        }

        lock.lock();
        if (audio) {
            if (reference == int64_t(slot.first) &&
                std::memcmp(m_r.referenceBytes, slot.data, discport::kReferenceBytes) != 0 &&
                attempts <= kWholeBlockAttempts) {
                // The drive put the overlapping sector elsewhere: its positioning drifted.
                slot.count = 0;
                lock.unlock();
                m_r.dataReady.set();
                return Pass::Retry;
            }
            std::memcpy(m_r.referenceBytes, slot.data + (n - 1) * size, discport::kReferenceBytes);
            m_r.referenceSector = int32_t(slot.first + n - 1);
        }
        slot.filled = filled;
        slot.bad = bad;
        lock.unlock();
        m_r.dataReady.set();
        return Pass::Done;
    }

    // No reference is held for the slot's first sector: read that sector alone, up to ten times.
    // With no reference at all, two reads that agree make one; with a reference of some other
    // sector, the first good read replaces its bytes (and the comparison of the block is skipped).
    // Called and returning with the lock held; the reads run without it.
    void sampleReference(std::unique_lock<ReaderLock>& lock, const Slot& slot)
    {
        const bool none = m_r.referenceSector == -1;
        uint8_t samples[kReferenceTries][discport::kReferenceBytes];
        int taken = 0;
        int agreed = -1;
        lock.unlock();
        for (int attempt = 0; attempt < kReferenceTries && m_r.open(); ++attempt) {
            if (!read(slot.first, 1, slot.data))
                continue;
            std::memcpy(samples[taken], slot.data, discport::kReferenceBytes);
            ++taken;
            if (!none)
                break;
            for (int j = 0; j + 1 < taken && agreed < 0; ++j) {
                if (std::memcmp(samples[j], samples[taken - 1], discport::kReferenceBytes) == 0)
                    agreed = taken - 1;
            }
            if (agreed >= 0)
                break;
        }
        lock.lock();
        if (none && agreed >= 0) {
            std::memcpy(m_r.referenceBytes, samples[agreed], discport::kReferenceBytes);
            m_r.referenceSector = int32_t(slot.first);
        } else if (!none && taken > 0) {
            std::memcpy(m_r.referenceBytes, samples[0], discport::kReferenceBytes);
        }
    }

    CdReadHandle& m_r;
    std::shared_ptr<ScsiTransport> m_transport;
};

// The slot that holds sector `position`, finished by the worker; null when there is none.
Slot* filledSlotOf(CdReadHandle& r, uint32_t position)
{
    const auto holds = [position](const Slot& slot) {
        return slot.count != 0 && slot.filled != 0 && slot.first <= position &&
               uint64_t(position) < uint64_t(slot.first) + slot.count;
    };
    if (holds(r.slots[r.lastSlot]))
        return &r.slots[r.lastSlot];
    for (int i = 0; i < int(discport::kReaderSlots); ++i) {
        if (holds(r.slots[i])) {
            r.lastSlot = i;
            return &r.slots[i];
        }
    }
    return nullptr;
}

// ---- direct reading -------------------------------------------------------------------------

// Blocks a direct reader reads with one command: 120 raw sectors are about 282 KB (larger reads
// cost fewer calls, smaller ones stay in the processor's cache; this was the quickest scan).
constexpr uint32_t kDirectBlocks = 12;

// Slots a direct reader takes turns with: one read's worth, used again by the next read, so that
// the sectors it hands out stay in the processor's cache. The other slots are used only while the
// caller holds sectors in these.
constexpr int kDirectTurnSlots = int(kDirectBlocks);

struct Stretch
{
    int slot = kNoSlot;
    uint32_t blocks = 0;
};

// The consecutive slots the next direct read fills: from the slot after the last read on, the
// first slot whose sectors the caller does not hold and up to kDirectBlocks - 1 such slots after
// it, never past the end of the turn slots (or of all slots). None when the caller holds a sector
// in every slot.
Stretch directStretch(const CdReadHandle& r)
{
    for (const int slots : {kDirectTurnSlots, int(discport::kReaderSlots)}) {
        for (int tried = 0; tried < slots; ++tried) {
            const int start = (r.nextDirectSlot + tried) % slots;
            uint32_t length = 0;
            while (length < kDirectBlocks && start + int(length) < slots && r.slots[start + length].locked == 0)
                ++length;
            if (length > 0)
                return {start, length};
        }
    }
    return {};
}

// A direct reader's read of the block holding `position` and the blocks after it, in the caller's
// thread and under the lock: one command for the whole stretch of slots; when that fails, each
// block alone as the worker reads it (whole up to kWholeBlockAttempts more times, then sector by
// sector, keeping the sectors that still fail as bad). False when no slot can be had.
bool fillDirect(CdReadHandle& r, uint32_t position)
{
    Stretch stretch = directStretch(r);
    if (stretch.slot == kNoSlot)
        return false;
    const uint32_t bs = r.blockSize;
    const uint32_t first = r.blockOf(position);
    const uint32_t n = uint32_t(std::min<uint64_t>(uint64_t(stretch.blocks) * bs, r.count - first));
    const uint32_t blocks = (n + bs - 1) / bs;
    // Copies of these blocks in other slots (read before a repositioning) give way to the new ones.
    for (Slot& slot : r.slots) {
        if (slot.count != 0 && slot.locked == 0 && slot.first >= first && slot.first - first < n)
            slot.count = 0;
    }
    for (uint32_t j = 0; j < blocks; ++j) {
        Slot& slot = r.slots[stretch.slot + int(j)];
        slot.first = first + j * bs;
        slot.count = uint16_t(std::min(bs, n - j * bs));
        slot.filled = firstSectorsMask(slot.count);
        slot.locked = 0;
        slot.bad = 0;
    }
    const auto read = [&r](uint32_t at, uint32_t count, uint8_t* destination) {
        return r.transport && discport::readBlocks(*r.transport, r.first + at, count, r.sectorSize, destination);
    };
    if (!read(first, n, r.slots[stretch.slot].data)) {
        for (uint32_t j = 0; j < blocks; ++j) {
            Slot& slot = r.slots[stretch.slot + int(j)];
            bool whole = false;
            for (uint32_t attempt = 0; attempt < kWholeBlockAttempts && !whole; ++attempt)
                whole = read(slot.first, slot.count, slot.data);
            for (uint32_t k = 0; !whole && k < slot.count; ++k) {
                if (!read(slot.first + k, 1, slot.data + size_t(k) * r.sectorSize))
                    slot.bad |= sectorBit(k);
            }
        }
    }
    r.nextDirectSlot = (stretch.slot + int(blocks)) % kDirectTurnSlots;
    return true;
}

// Whether the caller's progress is worth waking the worker for, under the lock. A worker that
// is reading looks at the slots again before it waits, and one that has read the range to its
// end has nothing to do; one that found no slot is woken once the caller has used up
// kRefillBlocks blocks since, so that it refills several slots per wake-up instead of one per
// released slot (a thread switch every ten sectors would cost more than the reading).
// Repositioning and a sector that is not in the buffer wake the worker at once.
bool wakeOnProgress(const CdReadHandle& r)
{
    if (r.idleSince == kWorking || r.idleSince == kIdleAtEnd)
        return false;
    return r.readPosition >= r.idleSince + uint64_t(kRefillBlocks) * r.blockSize;
}

// How much longer the consumer waits for the worker: the stall limit, less the time the worker
// has already spent in its current disc command; 0 when the command has taken longer.
int64_t patienceMs(const CdReadHandle& r)
{
    const int64_t since = r.commandSince.load(std::memory_order_acquire);
    if (since == 0)
        return r.stallLimitMs;
    return std::max<int64_t>(0, since + int64_t(r.stallLimitMs) - nowMs());
}

} // namespace

namespace discport {

std::optional<ReaderRange> readerRange(const CdTocEntry* track, std::span<const CdTocEntry> toc,
                                       uint32_t first, uint32_t countAndMode)
{
    ReaderRange range;
    range.first = first;
    range.count = countAndMode & ~CD_READ_USER_DATA;
    range.sectorSize = (countAndMode & CD_READ_USER_DATA) ? kUserSectorSize : kRawSectorSize;
    uint64_t extent = 0;
    if (!track) {
        for (const CdTocEntry& entry : toc) {
            extent += entry.length;
            if (!track && entry.start <= first && uint64_t(first) < uint64_t(entry.start) + entry.length)
                track = &entry;
        }
        if (!track)
            return std::nullopt;
    } else {
        extent = std::max<uint64_t>(track->length, uint64_t(first) + range.count);
    }
    range.kind = (track->control & CD_TOC_DATA_TRACK) ? TrackKind::Data : TrackKind::Audio;
    if (extent >= kLongDiscSectors)
        range.sectorSize = kUserSectorSize;
    return range;
}

CdReadHandle* openReader(const ReaderSetup& setup)
{
    CdReadHandle* r = new (std::nothrow) CdReadHandle;
    if (!r)
        return nullptr;
    r->buffer = static_cast<uint8_t*>(
        ::operator new[](size_t(kReaderSlots) * kSlotBytes, std::align_val_t(16), std::nothrow));
    if (!r->buffer) {
        delete r;
        return nullptr;
    }
    r->signature.store(kReaderSignature, std::memory_order_release);
    r->transport = setup.transport;
    r->drive = setup.drive;
    r->kind = setup.range.kind;
    r->blockSize = r->kind == TrackKind::Audio ? 9 : 10;
    r->first = setup.range.first;
    r->count = setup.range.count;
    r->speed = setup.speed;
    r->sectorSize = setup.range.sectorSize;
    r->stallLimitMs = setup.stallLimitMs;
    r->direct = setup.direct && setup.transport && r->kind == TrackKind::Data;
    // Consecutive slots are consecutive in memory, so that a direct read fills several with one command.
    for (uint32_t i = 0; i < kReaderSlots; ++i)
        r->slots[i].data = r->buffer + size_t(i) * kSlotSectors * r->sectorSize;

    if (!g_readers.add(r)) {
        delete r;
        return nullptr;
    }
    CdSetSpinSpeed(setup.drive, setup.speed);
    try {
        if (!r->direct)
            r->worker = std::thread([r] { Worker(*r).run(); });
    } catch (...) {
        g_readers.remove(r);
        delete r;
        CdSetSpinSpeed(setup.drive, -1);
        return nullptr;
    }
    return r;
}

} // namespace discport

// ---- the C interface --------------------------------------------------------------------------

CD_API CdReadHandle* CdReadOpen(int32_t drive, const CdTocEntry* track, uint32_t firstSector,
                                uint32_t countAndMode, int32_t speed)
{
    try {
        if (drive < 0 || drive >= CdGetDriveNum())
            return nullptr;
        std::optional<ReaderRange> range;
        if (track) {
            range = discport::readerRange(track, {}, firstSector, countAndMode);
        } else {
            CdTocEntry toc[100] = {};
            const int32_t tracks = std::clamp(CdReadToc(drive, 100, toc), 0, 100);
            range = discport::readerRange(nullptr, std::span(toc, size_t(tracks)), firstSector, countAndMode);
        }
        if (!range)
            return nullptr;
        discport::ReaderSetup setup;
        setup.drive = drive;
        setup.range = *range;
        setup.speed = speed;
        // An image answers from a file: its data tracks are read in the caller's thread.
        if (discport::driveInterface(drive) == discport::kImageInterface && range->kind == TrackKind::Data) {
            setup.transport = discport::openDrive(drive);
            setup.direct = setup.transport != nullptr;
        }
        return discport::openReader(setup);
    } catch (...) {
        return nullptr;
    }
}

CD_API int32_t CdReadClose(CdReadHandle* reader)
{
    if (!openReaderOf(reader) || !g_readers.remove(reader))
        return 0;
    {
        std::lock_guard guard(reader->lock);
        reader->signature.store(0, std::memory_order_release);
    }
    if (reader->worker.joinable()) {
        // An idle worker sees the cleared signature at once instead of after its idle wait.
        reader->wake.set();
        if (!reader->finished.waitFor(discport::kCloseWaitMs)) {
            reader->wake.set();
            reader->dataReady.set();
        }
        reader->worker.join();
    }
    const int32_t drive = reader->drive;
    delete reader;
    CdSetSpinSpeed(drive, -1);
    return 1;
}

CD_API int32_t CdGetSectorSize(CdReadHandle* reader)
{
    CdReadHandle* r = openReaderOf(reader);
    if (!r)
        return 0;
    std::lock_guard guard(r->lock);
    return int32_t(r->sectorSize);
}

CD_API int32_t CdSetReadPointer(CdReadHandle* reader, int32_t offset, int32_t origin)
{
    CdReadHandle* r = openReaderOf(reader);
    if (!r)
        return -1;
    std::unique_lock lock(r->lock);
    const int64_t count = r->count;
    const int64_t step = std::clamp<int64_t>(offset, -count, count);
    const int64_t base = origin == 0 ? 0 : origin == 2 ? count : int64_t(r->readPosition);
    const uint32_t position = uint32_t(base + step); // below 0: a very large position, past the end
    if (position == r->readPosition)
        return int32_t(position);
    r->readPosition = position;
    r->referenceSector = -1;
    const uint32_t block = r->blockOf(position);
    bool freed = false;
    // Blocks with bad sectors from here on are read again; a slot whose sectors the caller still
    // holds by address is kept, as everywhere else.
    for (Slot& slot : r->slots) {
        if (slot.count != 0 && slot.first >= block && slot.bad != 0 && slot.locked == 0) {
            slot.count = 0;
            freed = true;
        }
    }
    if (freed)
        r->wantedBlock = block;
    lock.unlock();
    r->wake.set();
    return int32_t(block);
}

CD_API const uint8_t* CdReadSector(CdReadHandle* reader, uint8_t* destination)
{
    CdReadHandle* r = openReaderOf(reader);
    if (!r)
        return nullptr;
    std::unique_lock lock(r->lock);
    if (r->readPosition >= r->count)
        return nullptr;
    for (;;) {
        const uint32_t position = r->readPosition;
        if (Slot* slot = filledSlotOf(*r, position)) {
            const uint32_t k = position - slot->first;
            const uint8_t* address = slot->data + size_t(k) * r->sectorSize;
            ++r->readPosition;
            if (slot->bad & sectorBit(k))
                return nullptr;
            if (destination) {
                std::memcpy(destination, address, r->sectorSize);
                if (wakeOnProgress(*r))
                    r->wake.set();
            } else {
                slot->locked |= sectorBit(k);
            }
            return address;
        }
        if (r->direct) {
            if (!fillDirect(*r, position)) {
                // The caller holds a sector of every slot: nothing can be read for this one.
                ++r->readPosition;
                return nullptr;
            }
            continue;
        }
        r->wantedBlock = r->blockOf(position);
        r->dataReady.reset();
        const int64_t patience = patienceMs(*r);
        if (patience == 0) {
            // The drive does not answer: the sector is reported bad rather than waited for.
            ++r->readPosition;
            return nullptr;
        }
        lock.unlock();
        // The worker may be idle; the new wanted block is news for it.
        r->wake.set();
        r->dataReady.waitFor(uint32_t(patience));
        lock.lock();
    }
}

CD_API int32_t CdUnlockReadBuffer(CdReadHandle* reader, const uint8_t* sector)
{
    CdReadHandle* r = openReaderOf(reader);
    if (!r)
        return 0;
    std::unique_lock lock(r->lock);
    if (!sector) {
        for (Slot& slot : r->slots)
            slot.locked = 0;
        return 1;
    }
    const uintptr_t address = reinterpret_cast<uintptr_t>(sector);
    // Most often the sector comes back before the next is asked for: it is in the last slot used.
    for (int i = r->lastSlot, tried = 0; tried < int(discport::kReaderSlots);
         i = (i + 1) % int(discport::kReaderSlots), ++tried) {
        Slot& slot = r->slots[i];
        const uintptr_t data = reinterpret_cast<uintptr_t>(slot.data);
        if (data > address)
            continue;
        const uintptr_t k = (address - data) / r->sectorSize;
        if (k >= slot.count)
            continue;
        slot.locked = uint16_t(slot.locked & ~sectorBit(uint32_t(k)));
        const bool released = slot.locked == 0 && wakeOnProgress(*r);
        lock.unlock();
        if (released)
            r->wake.set();
        return 1;
    }
    return 0;
}
