// The sector reader's algorithm on a scripted drive: which blocks it reads, retries, re-reads and
// gives up on, what CdReadSector hands out, and how the handle behaves around the worker.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "discport/discport.h"
#include "reader.h"

namespace discport {
namespace {

using namespace std::chrono_literals;

// The byte at a position of the disc's raw byte stream (sector * 2352 + offset): every sector,
// and every shift of the stream, looks different.
uint8_t discByte(uint64_t position)
{
    uint64_t x = position * 0x9E3779B97F4A7C15ull;
    x ^= x >> 29;
    return uint8_t(x >> 17);
}

// The user data of a 2048-byte read starts behind the 24 bytes of sync, header and sub-header.
constexpr uint32_t kUserOffset = 24;

bool sectorIs(const uint8_t* bytes, uint32_t lba, uint32_t size, int64_t shift = 0)
{
    const uint64_t base = uint64_t(lba) * kRawSectorSize + (size == kRawSectorSize ? 0 : kUserOffset) + shift;
    for (uint32_t i = 0; i < size; ++i) {
        if (bytes[i] != discByte(base + i))
            return false;
    }
    return true;
}

struct BlockRead
{
    uint32_t lba;
    uint32_t count;
    uint32_t size;
    bool operator==(const BlockRead&) const = default;
};

std::ostream& operator<<(std::ostream& out, const BlockRead& read)
{
    return out << "{" << read.lba << ", " << read.count << ", " << read.size << "}";
}

// A drive that answers READ CD and READ(10) from the disc bytes above, records every read, and
// can be told to fail sectors, to shift the data of chosen reads, and to hang in a read.
class ScriptedDrive : public ScsiTransport
{
  public:
    ScsiResult execute(const ScsiCommand& command) override
    {
        ScsiResult result;
        const uint8_t opcode = command.cdb[0];
        if ((opcode != 0xBE && opcode != 0x28) || !command.data)
            return result;
        const uint32_t size = opcode == 0xBE ? kRawSectorSize : kUserSectorSize;
        const uint32_t lba = uint32_t(command.cdb[2]) << 24 | uint32_t(command.cdb[3]) << 16 |
                             uint32_t(command.cdb[4]) << 8 | command.cdb[5];
        const uint32_t count = command.cdb[8];
        if (command.dataLength != count * size)
            return result;
        std::unique_lock lock(m_mutex);
        m_reads.push_back({lba, count, size});
        if (m_hangAt && *m_hangAt == lba) {
            m_hanging = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return !m_hangAt; });
            m_hanging = false;
        }
        bool fails = false;
        for (uint32_t s = lba; s < lba + count; ++s) {
            auto failure = m_failures.find(s);
            if (failure != m_failures.end() && failure->second != 0) {
                fails = true;
                if (failure->second > 0)
                    --failure->second;
            }
        }
        result.completed = true;
        if (fails) {
            result.status = 2; // CHECK CONDITION
            return result;
        }
        int64_t shift = 0;
        auto shifted = m_shifts.find(lba);
        if (count > 1 && shifted != m_shifts.end() && shifted->second.times != 0) {
            shift = shifted->second.bytes;
            if (shifted->second.times > 0)
                --shifted->second.times;
        }
        lock.unlock();
        for (uint32_t i = 0; i < count; ++i) {
            const uint64_t base =
                uint64_t(lba + i) * kRawSectorSize + (size == kRawSectorSize ? 0 : kUserOffset) + shift;
            uint8_t* out = command.data + size_t(i) * size;
            for (uint32_t b = 0; b < size; ++b)
                out[b] = discByte(base + b);
        }
        result.status = 0;
        result.transferred = command.dataLength;
        return result;
    }

    // Every read that covers `lba` fails, `times` times (-1: always).
    void failSector(uint32_t lba, int times)
    {
        std::lock_guard lock(m_mutex);
        m_failures[lba] = times;
    }
    // Multi-sector reads starting at `lba` deliver the stream moved by `bytes`, `times` times.
    void shiftReads(uint32_t lba, int times, int64_t bytes)
    {
        std::lock_guard lock(m_mutex);
        m_shifts[lba] = {times, bytes};
    }
    // The next read starting at `lba` waits until release().
    void hangAt(uint32_t lba)
    {
        std::lock_guard lock(m_mutex);
        m_hangAt = lba;
    }
    bool waitUntilHanging(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [this] { return m_hanging; });
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_hangAt.reset();
        m_changed.notify_all();
    }
    std::vector<BlockRead> reads()
    {
        std::lock_guard lock(m_mutex);
        return m_reads;
    }
    // Reads whose sectors include `lba`.
    size_t readsCovering(uint32_t lba)
    {
        std::lock_guard lock(m_mutex);
        return size_t(std::count_if(m_reads.begin(), m_reads.end(), [lba](const BlockRead& r) {
            return r.lba <= lba && lba < r.lba + r.count;
        }));
    }
    size_t readsOf(BlockRead read)
    {
        std::lock_guard lock(m_mutex);
        return size_t(std::count(m_reads.begin(), m_reads.end(), read));
    }

  private:
    struct Shift
    {
        int times;
        int64_t bytes;
    };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<BlockRead> m_reads;
    std::map<uint32_t, int> m_failures;
    std::map<uint32_t, Shift> m_shifts;
    std::optional<uint32_t> m_hangAt;
    bool m_hanging = false;
};

class ReaderAlgorithm : public ::testing::Test
{
  protected:
    CdReadHandle* open(TrackKind kind, uint32_t first, uint32_t count, uint32_t size = kRawSectorSize,
                       uint32_t stallLimitMs = kStallLimitMs)
    {
        ReaderSetup setup;
        setup.transport = m_drive;
        setup.range = {kind, first, count, size};
        setup.stallLimitMs = stallLimitMs;
        CdReadHandle* reader = openReader(setup);
        EXPECT_NE(reader, nullptr);
        return reader;
    }

    // Reads the next sector by address, checks it is `lba`, releases it.
    void expectNext(CdReadHandle* reader, uint32_t lba, uint32_t size = kRawSectorSize)
    {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr) << "sector " << lba;
        EXPECT_TRUE(sectorIs(sector, lba, size)) << "sector " << lba;
        EXPECT_EQ(CdUnlockReadBuffer(reader, sector), 1);
    }

    std::shared_ptr<ScriptedDrive> m_drive = std::make_shared<ScriptedDrive>();
};

TEST_F(ReaderAlgorithm, AudioRangeOf25SectorsIsReadInBlocksAt0_9And18)
{
    CdReadHandle* reader = open(TrackKind::Audio, 1000, 25);
    for (uint32_t i = 0; i < 25; ++i)
        expectNext(reader, 1000 + i);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr) << "past the end";
    ASSERT_EQ(CdReadClose(reader), 1);
    // Two single reads of the first sector agree and make the first reference; then the blocks,
    // each one overlapping the next by one sector, the last one holding 7 sectors.
    const std::vector<BlockRead> expected{
        {1000, 1, 2352}, {1000, 1, 2352}, {1000, 10, 2352}, {1009, 10, 2352}, {1018, 7, 2352}};
    EXPECT_EQ(m_drive->reads(), expected);
}

TEST_F(ReaderAlgorithm, DataRangeIsReadInBlocksOfTenWithoutReferenceReads)
{
    CdReadHandle* reader = open(TrackKind::Data, 50, 35);
    for (uint32_t i = 0; i < 35; ++i)
        expectNext(reader, 50 + i);
    ASSERT_EQ(CdReadClose(reader), 1);
    const std::vector<BlockRead> expected{{50, 10, 2352}, {60, 10, 2352}, {70, 10, 2352}, {80, 5, 2352}};
    EXPECT_EQ(m_drive->reads(), expected);
}

TEST_F(ReaderAlgorithm, UserDataSectorsAre2048BytesReadWithRead10)
{
    CdReadHandle* reader = open(TrackKind::Data, 16, 12, kUserSectorSize);
    EXPECT_EQ(CdGetSectorSize(reader), 2048);
    for (uint32_t i = 0; i < 12; ++i)
        expectNext(reader, 16 + i, kUserSectorSize);
    ASSERT_EQ(CdReadClose(reader), 1);
    const std::vector<BlockRead> expected{{16, 10, 2048}, {26, 2, 2048}};
    EXPECT_EQ(m_drive->reads(), expected);
}

TEST_F(ReaderAlgorithm, RawSectorsAre2352Bytes)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 3);
    EXPECT_EQ(CdGetSectorSize(reader), 2352);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, CopiedSectorsAreNotLockedAndMatchTheDisc)
{
    CdReadHandle* reader = open(TrackKind::Data, 300, 2500);
    std::vector<uint8_t> copy(kRawSectorSize);
    for (uint32_t i = 0; i < 2500; ++i) {
        std::fill(copy.begin(), copy.end(), 0);
        ASSERT_NE(CdReadSector(reader, copy.data()), nullptr) << i;
        ASSERT_TRUE(sectorIs(copy.data(), 300 + i, kRawSectorSize)) << i;
    }
    ASSERT_EQ(CdReadClose(reader), 1);
    // Each sector was read once: the read-ahead never read a block twice.
    for (uint32_t lba = 300; lba < 2800; lba += 97)
        EXPECT_EQ(m_drive->readsCovering(lba), 1u) << lba;
}

TEST_F(ReaderAlgorithm, EmptyRangeGivesNullAtOnce)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    ASSERT_EQ(CdReadClose(reader), 1);
    EXPECT_TRUE(m_drive->reads().empty());
}

TEST_F(ReaderAlgorithm, SteppingBackOneSectorGivesItAgainFromTheBuffer)
{
    CdReadHandle* reader = open(TrackKind::Data, 200, 40);
    const uint8_t* sectors[6] = {};
    for (int i = 0; i < 6; ++i) {
        sectors[i] = CdReadSector(reader, nullptr);
        ASSERT_NE(sectors[i], nullptr);
        CdUnlockReadBuffer(reader, sectors[i]);
    }
    // From read position 6 back by one: position 5, which lies in the block starting at 0.
    EXPECT_EQ(CdSetReadPointer(reader, -1, 1), 0);
    const uint8_t* again = CdReadSector(reader, nullptr);
    EXPECT_EQ(again, sectors[5]) << "the same place of the same slot";
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(sectorIs(again, 205, kRawSectorSize));
    EXPECT_EQ(m_drive->readsCovering(205), 1u) << "not read from the disc again";
    CdUnlockReadBuffer(reader, again);
    expectNext(reader, 206);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, RepositioningReturnsTheBlockOfTheNewPosition)
{
    CdReadHandle* reader = open(TrackKind::Audio, 0, 100);
    EXPECT_EQ(CdSetReadPointer(reader, 0, 1), 0) << "no move: the read position";
    EXPECT_EQ(CdSetReadPointer(reader, 40, 0), 36) << "9 x floor(40 / 9)";
    EXPECT_EQ(CdSetReadPointer(reader, 40, 0), 40) << "no move: the position itself";
    EXPECT_EQ(CdSetReadPointer(reader, -10, 2), 90);
    expectNext(reader, 90);
    EXPECT_EQ(CdSetReadPointer(reader, 1000, 1), 189) << "the offset is clamped to the count: 91 + 100 = 191";
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr) << "past the end";
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, LastSectorFromTheEndThenNothing)
{
    CdReadHandle* reader = open(TrackKind::Data, 500, 23);
    EXPECT_EQ(CdSetReadPointer(reader, -1, 2), 20);
    expectNext(reader, 522);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, PositionBeforeTheStartReadsLikeTheEnd)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 30);
    CdSetReadPointer(reader, -5, 0);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    EXPECT_EQ(CdSetReadPointer(reader, 7, 0), 0);
    expectNext(reader, 7);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, FailingBlockIsRetriedThenReadSectorBySector)
{
    m_drive->failSector(13, -1);
    CdReadHandle* reader = open(TrackKind::Data, 0, 30);
    for (uint32_t i = 0; i < 13; ++i)
        expectNext(reader, i);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr) << "sector 13 does not read";
    for (uint32_t i = 14; i < 30; ++i)
        expectNext(reader, i);
    ASSERT_EQ(CdReadClose(reader), 1);
    // The attempt counter starts at 1 after the first block: whole reads at 1 to 6, then singles.
    EXPECT_EQ(m_drive->readsOf({10, 10, 2352}), 6u);
    for (uint32_t lba = 10; lba < 20; ++lba)
        EXPECT_EQ(m_drive->readsOf({lba, 1, 2352}), 1u) << lba;
    EXPECT_EQ(m_drive->readsOf({20, 10, 2352}), 1u);
}

TEST_F(ReaderAlgorithm, FirstBlockAfterOpeningGetsOneWholeReadMore)
{
    m_drive->failSector(3, -1);
    CdReadHandle* reader = open(TrackKind::Data, 0, 10);
    for (uint32_t i = 0; i < 3; ++i)
        expectNext(reader, i);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    expectNext(reader, 4);
    ASSERT_EQ(CdReadClose(reader), 1);
    EXPECT_EQ(m_drive->readsOf({0, 10, 2352}), 7u);
}

TEST_F(ReaderAlgorithm, BlockThatFailsAFewTimesIsReadWholeInTheEnd)
{
    m_drive->failSector(15, 3);
    CdReadHandle* reader = open(TrackKind::Data, 0, 20);
    for (uint32_t i = 0; i < 20; ++i)
        expectNext(reader, i);
    ASSERT_EQ(CdReadClose(reader), 1);
    EXPECT_EQ(m_drive->readsOf({10, 10, 2352}), 4u);
    EXPECT_EQ(m_drive->readsOf({15, 1, 2352}), 0u) << "no sector-by-sector reads";
}

TEST_F(ReaderAlgorithm, SeveralBadSectorsAreReportedOneByOne)
{
    m_drive->failSector(21, -1);
    m_drive->failSector(22, -1);
    m_drive->failSector(27, -1);
    CdReadHandle* reader = open(TrackKind::Data, 0, 40);
    std::vector<uint32_t> bad;
    for (uint32_t i = 0; i < 40; ++i) {
        uint8_t copy[kRawSectorSize];
        if (!CdReadSector(reader, copy))
            bad.push_back(i);
        else
            EXPECT_TRUE(sectorIs(copy, i, kRawSectorSize)) << i;
    }
    EXPECT_EQ(bad, (std::vector<uint32_t>{21, 22, 27}));
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, RepositioningOntoABadBlockReadsItAgain)
{
    m_drive->failSector(13, -1);
    CdReadHandle* reader = open(TrackKind::Data, 0, 30);
    for (uint32_t i = 0; i < 13; ++i)
        expectNext(reader, i);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    expectNext(reader, 14);
    // The disc now reads (cleaned, say); going back frees the block with the bad sector.
    m_drive->failSector(13, 0);
    EXPECT_EQ(CdSetReadPointer(reader, 13, 0), 10);
    expectNext(reader, 13);
    expectNext(reader, 14);
    ASSERT_EQ(CdReadClose(reader), 1);
    EXPECT_GE(m_drive->readsOf({10, 10, 2352}), 7u);
}

TEST_F(ReaderAlgorithm, AudioBlockThatDriftedIsReadAgain)
{
    // The first two reads of the block at 9 come back 4 bytes off (a drive positioning audio
    // reads loosely); the head of its first sector then disagrees with the tail of block 0.
    m_drive->shiftReads(9, 2, 4);
    CdReadHandle* reader = open(TrackKind::Audio, 0, 25);
    for (uint32_t i = 0; i < 25; ++i)
        expectNext(reader, i);
    ASSERT_EQ(CdReadClose(reader), 1);
    EXPECT_EQ(m_drive->readsOf({9, 10, 2352}), 3u);
    EXPECT_EQ(m_drive->readsOf({18, 7, 2352}), 1u);
}

TEST_F(ReaderAlgorithm, AudioBlockThatKeepsDriftingIsAcceptedAsRead)
{
    m_drive->shiftReads(9, -1, 4);
    CdReadHandle* reader = open(TrackKind::Audio, 0, 18);
    // Sector 9 comes from the first block, which holds it too.
    for (uint32_t i = 0; i < 10; ++i)
        expectNext(reader, i);
    // Read whole while the counter (from 1) is at most 5, then taken as the drive delivers it.
    for (uint32_t i = 10; i < 18; ++i) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        ASSERT_NE(sector, nullptr);
        EXPECT_TRUE(sectorIs(sector, i, kRawSectorSize, 4)) << i;
        CdUnlockReadBuffer(reader, sector);
    }
    ASSERT_EQ(CdReadClose(reader), 1);
    EXPECT_EQ(m_drive->readsOf({9, 9, 2352}), 6u);
}

TEST_F(ReaderAlgorithm, AudioReferenceIsSampledAgainAfterRepositioning)
{
    // Far enough that the read-ahead (30 blocks of 9, up to block 261) cannot have reached the
    // new place. The seek makes those blocks stale and wakes the worker, which goes on with block
    // 270 until the caller's read names the new block; that read is held in the drive until the
    // caller waits for sector 5000, so that the worker cannot read its way up to the new place
    // first (the drive answers at once, and a caller that is not scheduled for a while would
    // otherwise find the block before 4995 read, and its last sector taken as the reference).
    m_drive->hangAt(270);
    CdReadHandle* reader = open(TrackKind::Audio, 0, 10000);
    for (uint32_t i = 0; i < 5; ++i)
        expectNext(reader, i);
    EXPECT_EQ(CdSetReadPointer(reader, 5000, 0), 4995);
    ASSERT_TRUE(m_drive->waitUntilHanging(5s));
    std::thread releaser([this] {
        std::this_thread::sleep_for(200ms);
        m_drive->release();
    });
    expectNext(reader, 5000);
    releaser.join();
    ASSERT_EQ(CdReadClose(reader), 1);
    // No block before it was read: the block's first sector is read alone first, to get a
    // reference (twice when none is held at all, once when one of another sector is).
    const size_t samples = m_drive->readsOf({4995, 1, 2352});
    EXPECT_GE(samples, 1u);
    EXPECT_LE(samples, 2u);
    EXPECT_EQ(m_drive->readsOf({4995, 10, 2352}), 1u);
}

TEST_F(ReaderAlgorithm, FarJumpsInBothDirectionsDeliverTheRightSectors)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 5000);
    for (uint32_t i = 0; i < 25; ++i)
        expectNext(reader, i);
    CdSetReadPointer(reader, 4000, 0);
    for (uint32_t i = 4000; i < 4100; ++i)
        expectNext(reader, i);
    CdSetReadPointer(reader, 3, 0);
    for (uint32_t i = 3; i < 400; ++i)
        expectNext(reader, i);
    CdSetReadPointer(reader, -10, 2);
    for (uint32_t i = 4990; i < 5000; ++i)
        expectNext(reader, i);
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, LockedSectorsKeepTheirBytesWhileReadingGoesOn)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 2000);
    std::vector<const uint8_t*> held;
    for (uint32_t i = 0; i < 10; ++i)
        held.push_back(CdReadSector(reader, nullptr));
    for (uint32_t i = 10; i < 2000; ++i)
        expectNext(reader, i);
    for (uint32_t i = 0; i < 10; ++i) {
        ASSERT_NE(held[i], nullptr);
        EXPECT_TRUE(sectorIs(held[i], i, kRawSectorSize)) << "slot of sector " << i << " was reused";
        EXPECT_EQ(CdUnlockReadBuffer(reader, held[i]), 1);
    }
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, LockedReadAheadSurvivesAJumpBack)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 5000);
    CdSetReadPointer(reader, 1000, 0);
    const uint8_t* held = CdReadSector(reader, nullptr);
    ASSERT_NE(held, nullptr);
    // The worker fills all 30 slots with blocks 1000 to 1290.
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (m_drive->readsCovering(1290) == 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(m_drive->readsCovering(1290), 1u);
    // Back to the start: the read-ahead beyond 1000 is given up, except the slot still held.
    CdSetReadPointer(reader, 0, 0);
    for (uint32_t i = 0; i < 400; ++i)
        expectNext(reader, i);
    EXPECT_TRUE(sectorIs(held, 1000, kRawSectorSize)) << "the held slot was reused";
    EXPECT_EQ(CdUnlockReadBuffer(reader, held), 1);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, TheOldestBlocksAreReusedFirst)
{
    // 40 blocks through 30 slots: each block read after the 30th takes the slot of the oldest
    // one, so the last 30 blocks stay and can be read again without the drive.
    CdReadHandle* reader = open(TrackKind::Data, 0, 400);
    for (uint32_t i = 0; i < 400; ++i)
        expectNext(reader, i);
    EXPECT_EQ(CdSetReadPointer(reader, 100, 0), 100);
    for (uint32_t i = 100; i < 400; ++i)
        expectNext(reader, i);
    ASSERT_EQ(CdReadClose(reader), 1);
    for (uint32_t lba = 0; lba < 400; lba += 10)
        EXPECT_EQ(m_drive->readsOf({lba, 10, 2352}), 1u) << lba;
}

TEST_F(ReaderAlgorithm, UnlockingFindsSectorsByAddress)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 20);
    const uint8_t* sector = CdReadSector(reader, nullptr);
    ASSERT_NE(sector, nullptr);
    uint8_t elsewhere[16];
    EXPECT_EQ(CdUnlockReadBuffer(reader, elsewhere), 0) << "an address in no slot";
    EXPECT_EQ(CdUnlockReadBuffer(reader, sector + 100), 1) << "any address inside the sector";
    EXPECT_EQ(CdUnlockReadBuffer(reader, nullptr), 1);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, ClosingWaitsForTheWorkerInALongCommand)
{
    m_drive->hangAt(10);
    CdReadHandle* reader = open(TrackKind::Data, 0, 100);
    expectNext(reader, 0);
    ASSERT_TRUE(m_drive->waitUntilHanging(5s));
    auto closing = std::async(std::launch::async, [reader] { return CdReadClose(reader); });
    EXPECT_EQ(closing.wait_for(300ms), std::future_status::timeout)
        << "closed while the worker was in a command";
    m_drive->release();
    ASSERT_EQ(closing.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(closing.get(), 1);
    EXPECT_EQ(m_drive.use_count(), 1) << "the worker let go of the drive";
}

TEST_F(ReaderAlgorithm, ClosingAnIdleReaderIsQuick)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 5);
    for (uint32_t i = 0; i < 5; ++i)
        expectNext(reader, i);
    std::this_thread::sleep_for(50ms); // the worker is idle by now
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(CdReadClose(reader), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

TEST_F(ReaderAlgorithm, DriveThatNeverAnswersMakesSectorsBadAfterTheStallLimit)
{
    m_drive->hangAt(10);
    CdReadHandle* reader = open(TrackKind::Data, 0, 30, kRawSectorSize, 300);
    for (uint32_t i = 0; i < 10; ++i)
        expectNext(reader, i);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr) << "sector 10";
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, 3s);
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr) << "sector 11, while the command still hangs";
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    m_drive->release();
    std::this_thread::sleep_for(100ms); // the hung command returns
    expectNext(reader, 12);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, ReadersOnOneDriveDoNotMix)
{
    CdReadHandle* a = open(TrackKind::Data, 0, 300);
    CdReadHandle* b = open(TrackKind::Audio, 7000, 300);
    for (uint32_t i = 0; i < 300; ++i) {
        expectNext(a, i);
        expectNext(b, 7000 + i);
    }
    ASSERT_EQ(CdReadClose(a), 1);
    ASSERT_EQ(CdReadClose(b), 1);
}

TEST_F(ReaderAlgorithm, WithoutADriveEverySectorIsBad)
{
    ReaderSetup setup;
    setup.drive = -1; // no such drive: the worker cannot open it
    setup.range = {TrackKind::Data, 0, 12, kRawSectorSize};
    CdReadHandle* reader = openReader(setup);
    ASSERT_NE(reader, nullptr);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(CdReadSector(reader, nullptr), nullptr) << i;
    EXPECT_EQ(CdReadSector(reader, nullptr), nullptr);
    ASSERT_EQ(CdReadClose(reader), 1);
}

TEST_F(ReaderAlgorithm, InvalidHandlesGetTheFailureValues)
{
    CdReadHandle* reader = open(TrackKind::Data, 0, 10);
    ASSERT_EQ(CdReadClose(reader), 1);
    // A closed reader (its memory is gone), a pointer that never was a reader, and null.
    struct NotAReader
    {
        uint32_t signature = kReaderSignature;
        uint8_t rest[64] = {};
    } foreign;
    for (CdReadHandle* handle :
         {reader, reinterpret_cast<CdReadHandle*>(&foreign), static_cast<CdReadHandle*>(nullptr)}) {
        EXPECT_EQ(CdReadClose(handle), 0);
        EXPECT_EQ(CdGetSectorSize(handle), 0);
        EXPECT_EQ(CdSetReadPointer(handle, 0, 0), -1);
        EXPECT_EQ(CdReadSector(handle, nullptr), nullptr);
        EXPECT_EQ(CdUnlockReadBuffer(handle, nullptr), 0);
    }
}

// ---- the opening rules ----------------------------------------------------------------------

CdTocEntry entry(uint8_t track, uint8_t control, uint32_t start, uint32_t length)
{
    CdTocEntry e{};
    e.track = track;
    e.control = control;
    e.start = start;
    e.length = length;
    return e;
}

TEST(ReaderRange, Bit31AsksForUserData)
{
    const CdTocEntry track = entry(1, 0x04, 0, 5000);
    const auto raw = readerRange(&track, {}, 16, 1);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->sectorSize, 2352u);
    EXPECT_EQ(raw->count, 1u);
    const auto user = readerRange(&track, {}, 16, 0x80000001u);
    ASSERT_TRUE(user);
    EXPECT_EQ(user->sectorSize, 2048u);
    EXPECT_EQ(user->count, 1u) << "bit 31 is no part of the count";
    EXPECT_EQ(user->first, 16u);
    EXPECT_EQ(user->kind, TrackKind::Data);
}

TEST(ReaderRange, TrackKindFollowsTheControlByte)
{
    const CdTocEntry audio = entry(2, 0x00, 2038, 225);
    EXPECT_EQ(readerRange(&audio, {}, 2038, 25)->kind, TrackKind::Audio);
    const CdTocEntry data = entry(1, 0x14, 0, 100);
    EXPECT_EQ(readerRange(&data, {}, 0, 25)->kind, TrackKind::Data);
}

TEST(ReaderRange, EightyMinutesOrMoreAreAlways2048Bytes)
{
    const CdTocEntry longTrack = entry(1, 0x04, 0, 360000);
    EXPECT_EQ(readerRange(&longTrack, {}, 0, 10)->sectorSize, 2048u);
    const CdTocEntry shortTrack = entry(1, 0x04, 0, 359999);
    EXPECT_EQ(readerRange(&shortTrack, {}, 0, 10)->sectorSize, 2352u);
    EXPECT_EQ(readerRange(&shortTrack, {}, 359990, 10)->sectorSize, 2048u) << "the range reaches 360000";
    const CdTocEntry toc[] = {entry(1, 0x04, 0, 200000), entry(2, 0x00, 200150, 160000)};
    EXPECT_EQ(readerRange(nullptr, toc, 5, 10)->sectorSize, 2048u) << "the whole disc is 80 minutes";
}

TEST(ReaderRange, WithoutATrackTheTocEntryHoldingTheStartIsTaken)
{
    // Lengths as the TOC reports them: every track but the last 150 sectors short of the next.
    const CdTocEntry toc[] = {entry(1, 0x04, 0, 1738), entry(2, 0x00, 1888, 225), entry(3, 0x00, 2263, 500)};
    EXPECT_EQ(readerRange(nullptr, toc, 0, 5)->kind, TrackKind::Data);
    EXPECT_EQ(readerRange(nullptr, toc, 1737, 5)->kind, TrackKind::Data);
    EXPECT_FALSE(readerRange(nullptr, toc, 1738, 5)) << "the gap before track 2 lies in no track";
    EXPECT_FALSE(readerRange(nullptr, toc, 1887, 5));
    EXPECT_EQ(readerRange(nullptr, toc, 1888, 5)->kind, TrackKind::Audio);
    EXPECT_EQ(readerRange(nullptr, toc, 2762, 5)->kind, TrackKind::Audio);
    EXPECT_FALSE(readerRange(nullptr, toc, 2763, 5)) << "past the last track";
    EXPECT_FALSE(readerRange(nullptr, {}, 0, 5)) << "no TOC";
}

} // namespace
} // namespace discport
