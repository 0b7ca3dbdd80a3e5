// The check a CDAZ passes before it is shared: the disc end read back from CDAZ names the library
// made, the strict reading of the file (nothing appended, nothing cut), the record's own faults,
// and the client's download checked against the disc in the drive.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cdaz/cdaz_format.h"
#include "cdaz/cdaz_shared_check.h"
#include "exchange/exchange_client.h"
#include "exchange_test_support.h"
#include "tamlib/cdaz.h"

namespace {

using namespace tamlib;
using exchangetest::discName;
using exchangetest::makeRecord;
using exchangetest::RawServer;
using exchangetest::ScratchFolder;
using exchangetest::sendAll;

struct Layout
{
    const char* volume; // null: the name made without the volume information
    std::vector<std::pair<uint8_t, uint32_t>> tracks; // control, start
    uint32_t end;
};

std::string nameOf(const Layout& layout)
{
    std::vector<CdTocEntry> table;
    for (size_t i = 0; i < layout.tracks.size(); ++i) {
        CdTocEntry entry{};
        entry.track = uint8_t(i + 1);
        entry.control = layout.tracks[i].first;
        entry.start = layout.tracks[i].second;
        const uint32_t next = i + 1 < layout.tracks.size() ? layout.tracks[i + 1].second : layout.end;
        entry.length = next - entry.start;
        table.push_back(entry);
    }
    CdVolumeInfo volume{};
    if (layout.volume)
        std::strncpy(volume.volumeId, layout.volume, sizeof volume.volumeId - 1);
    char name[PLB_CDAZ_NAME_BYTES];
    return PlbMakeCDAZName(int32_t(table.size()), table.data(), layout.volume ? &volume : nullptr, name);
}

TEST(SharedCheck, DiscEndIsReadBackFromTheNamesTheLibraryMakes)
{
    const Layout layouts[] = {
        {"SLUS_000", {{4, 0}}, 3739},
        {"SLUS_000", {{4, 0}}, 1},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", {{4, 0}, {0, 150000}}, 300000}, // cut inside the layout
        {"SLPS_01234", {{4, 0}, {0, 1000}, {0, 2000}, {0, 3000}, {0, 4000}, {0, 5000}, {0, 6000}}, 7000},
        {nullptr, {{4, 0}, {0, 100}}, 333000},
        {"", {{0x41, 0}, {0xac, 100}}, 1234},
        {"X", {{4, 0}}, 10},
    };
    for (const Layout& layout : layouts) {
        const std::string name = nameOf(layout);
        EXPECT_EQ(discEndOfName(name.c_str(), layout.volume), layout.end) << name;
    }

    // The names of discs with one data track, the common case, read back exactly. Where the
    // digits can be read in more than one way the larger end is taken: the last start
    // running into the end ("ac99" "1234" or "ac9" "91234"), or whole pieces read otherwise
    // ("00" "2" "01" "50003" "100045000" for "00" "20150" "00" "31000" "45000").
    EXPECT_EQ(discEndOfName(nameOf({"", {{0x41, 0}, {0xac, 99}}, 1234}).c_str(), ""), 91234u);
    EXPECT_EQ(discEndOfName(nameOf({"GAMEDISC1", {{4, 0}, {0, 20150}, {0, 31000}}, 45000}).c_str(), "GAMEDISC1"),
              100045000u);

    // Any layout: the end read back is never below the real one, so no real disc is refused.
    std::mt19937 random(11);
    for (int i = 0; i < 300; ++i) {
        Layout layout{i % 3 ? "SLUS_00" : nullptr, {}, 0};
        uint32_t start = 0;
        const int count = 1 + int(random() % (i % 5 ? 4 : 40));
        for (int t = 0; t < count; ++t) {
            layout.tracks.push_back({uint8_t(t ? random() % 256 : 4), start});
            start += 1 + random() % (i % 2 ? 50 : 200000);
        }
        layout.end = start;
        const std::string name = nameOf(layout);
        const auto end = discEndOfName(name.c_str(), layout.volume);
        ASSERT_TRUE(end.has_value()) << name;
        EXPECT_GE(*end, layout.end) << name;
    }

    for (const char* bad : {"", ".cdaz", "x.cdaz", "SLUS_000.cdaz", "SLUS_0001040", "SLUS_000104-5.cdaz",
                            "SLUS_00010400001.cdaz"})
        EXPECT_FALSE(discEndOfName(bad, "SLUS_000").has_value()) << bad;
    EXPECT_FALSE(discEndOfName(nullptr, "SLUS_000").has_value());
}

std::vector<uint8_t> fileOf(CdazRecord& record)
{
    cdazNormalize(record);
    return cdazWriteV5(record);
}

TEST(SharedCheck, OnlyOneWholeCompleteFileWithStreamsInsideItsDiscPasses)
{
    const std::string name = discName(3739);
    auto good = makeRecord(name.c_str(), 5);
    const std::vector<uint8_t> file = fileOf(*good);
    auto incomplete = makeRecord(name.c_str(), 5);
    incomplete->anaSector = 1200;
    auto empty = makeRecord(name.c_str(), 0);
    auto beyond = makeRecord(name.c_str(), 5);
    beyond->streams[4].info.startSector = 16831;
    auto overhang = makeRecord(name.c_str(), 5);
    overhang->streams[4].info.sectorCount = 3739; // starts inside, ends past the end
    auto unnamed = makeRecord("disc.cdaz", 5);

    auto with = [&](std::vector<uint8_t> bytes, const std::vector<uint8_t>& tail) {
        bytes.insert(bytes.end(), tail.begin(), tail.end());
        return bytes;
    };
    struct Case
    {
        const char* what;
        std::vector<uint8_t> bytes;
        SharedCdazFault fault;
    };
    const Case cases[] = {
        {"as written", file, SharedCdazFault::None},
        {"one zero byte appended", with(file, {0}), SharedCdazFault::NotOneFile},
        {"the file twice", with(file, file), SharedCdazFault::NotOneFile},
        {"last byte cut", {file.begin(), file.end() - 1}, SharedCdazFault::NotOneFile},
        {"padding bits set", with({file.begin(), file.end() - 1}, {uint8_t(file.back() | 1)}),
         SharedCdazFault::NotOneFile},
        {"incomplete", fileOf(*incomplete), SharedCdazFault::Incomplete},
        {"no stream", fileOf(*empty), SharedCdazFault::NoStreams},
        {"a stream beyond the disc", fileOf(*beyond), SharedCdazFault::OutsideDisc},
        {"a stream past the end", fileOf(*overhang), SharedCdazFault::OutsideDisc},
        {"a name without a disc", fileOf(*unnamed), SharedCdazFault::UnknownDisc},
    };
    for (const Case& c : cases) {
        SharedCdazFault fault = SharedCdazFault::None;
        CdazRecord* record = readSharedCdaz(c.bytes, &fault);
        EXPECT_EQ(fault, c.fault) << c.what;
        EXPECT_EQ(record != nullptr, c.fault == SharedCdazFault::None) << c.what;
        cdazFree(record);
    }
    // A padded last byte may hold no set bit; "padding bits set" above only differs from the
    // file if the writer left room in its last byte.
    if ((file.back() & 1) == 0) {
        // The local store keeps reading files with bytes after them, as it always has.
        CdazRecord* lenient = cdazReadV5(with(file, file));
        EXPECT_NE(lenient, nullptr);
        cdazFree(lenient);
    }
}

TEST(SharedCheck, DownloadIsCheckedAgainstTheDiscInTheDrive)
{
    ScratchFolder temp("xchg-chk");
    const char* oldTemp = std::getenv("TMPDIR");
    const std::string saved = oldTemp ? oldTemp : "";
    ::setenv("TMPDIR", temp.path().c_str(), 1);

    const std::string name = discName(3739);
    auto record = makeRecord(name.c_str(), 5);
    const std::vector<uint8_t> file = fileOf(*record);
    std::string served;
    RawServer server([&](int s, const std::string&) {
        sendAll(s, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(served.size()) +
                       "\r\nConnection: close\r\n\r\n" + served);
    });
    const auto fetch = [&](const std::vector<uint8_t>& bytes, const std::vector<CdTocEntry>& tracks,
                           const std::string& discName, SharedCdazFault& fault) {
        served.assign(bytes.begin(), bytes.end());
        exchange::DownloadCheck check;
        check.tracks = tracks;
        check.discName = discName.c_str();
        CdazRecord* got =
            exchange::download(exchangetest::quickEndpoint(server.address()), 1, "ENG", name.c_str(), &check);
        fault = check.fault;
        const bool ok = got != nullptr;
        PlbFreeCDAZ(got);
        return ok;
    };
    CdTocEntry track{};
    track.control = 4;
    track.length = 3739;
    const std::vector<CdTocEntry> disc{track};
    track.length = 300; // a disc shorter than the streams
    const std::vector<CdTocEntry> shortDisc{track};

    SharedCdazFault fault;
    EXPECT_TRUE(fetch(file, disc, name, fault));
    EXPECT_EQ(fault, SharedCdazFault::None);
    std::vector<uint8_t> appended = file;
    appended.resize(file.size() + 200 * 1024, 0x5A);
    EXPECT_FALSE(fetch(appended, disc, name, fault));
    EXPECT_EQ(fault, SharedCdazFault::NotOneFile);
    EXPECT_FALSE(fetch(file, shortDisc, name, fault));
    EXPECT_EQ(fault, SharedCdazFault::OutsideDisc);
    EXPECT_FALSE(fetch(file, disc, discName(3740), fault));
    EXPECT_EQ(fault, SharedCdazFault::OtherDisc);
    EXPECT_TRUE(temp.files().empty()) << "temporary files are removed whatever the outcome";

    if (oldTemp)
        ::setenv("TMPDIR", saved.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
}

} // namespace
