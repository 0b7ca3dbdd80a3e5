// Arbitrary text as a CUE sheet: parsed, then opened as a disc image in a temporary folder that
// holds a few small files the sheet may name (a.bin: 30 raw sectors, 20 Mode 2 data and 10
// audio; b.iso: 10 sectors of 2048 bytes; c.bin: 12 audio sectors), and every track read.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "image/cue_sheet.h"
#include "image/image_transport.h"

namespace fs = std::filesystem;
using namespace discport;

namespace {

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class Folder
{
  public:
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "tamrin-cue-fuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        m_path = pattern;

        std::vector<uint8_t> a(30 * 2352);
        for (size_t i = 0; i < a.size(); ++i)
            a[i] = uint8_t(i * 7 + i / 2352);
        for (size_t sector = 0; sector < 20; ++sector) {
            uint8_t* s = &a[sector * 2352];
            s[0] = s[11] = 0;
            for (int k = 1; k <= 10; ++k)
                s[k] = 0xFF;
            s[15] = sector % 3 == 2 ? 1 : 2;
        }
        writeFile(m_path / "a.bin", a);
        writeFile(m_path / "b.iso", std::vector<uint8_t>(10 * 2048, 0x42));
        writeFile(m_path / "c.bin", std::vector<uint8_t>(12 * 2352, 0x17));
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

  private:
    fs::path m_path;
};

ScsiResult send(ScsiTransport& transport, std::initializer_list<uint8_t> cdb, std::vector<uint8_t>& buffer)
{
    ScsiCommand command;
    std::copy(cdb.begin(), cdb.end(), command.cdb);
    command.cdbLength = uint8_t(cdb.size());
    command.data = buffer.data();
    command.dataLength = uint32_t(buffer.size());
    return transport.execute(command);
}

uint8_t byte(uint32_t value, int shift)
{
    return uint8_t(value >> shift);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Folder folder;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    image::CueSheet sheet;
    std::string error;
    const bool parsed = image::parseCueSheet(text, sheet, error);
    if (!parsed && error.empty())
        std::abort(); // a refusal always has a reason
    if (!parsed)
        return 0;

    const fs::path cue = folder.path() / "fuzz.cue";
    {
        std::ofstream out(cue, std::ios::binary | std::ios::trunc);
        out.write(text.data(), std::streamsize(text.size()));
    }
    std::shared_ptr<ImageTransport> transport = openImageTransport(cue.string(), error);
    if (!transport) {
        if (error.empty())
            std::abort();
        return 0;
    }

    std::vector<uint8_t> buffer(10 * 2352);
    std::vector<uint8_t> toc(816);
    send(*transport, {0x43, 0, 0, 0, 0, 0, 0xAA, 0, 12, 0}, toc);
    const ScsiResult all = send(*transport, {0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x30, 0}, toc);
    if (!all.good() || all.transferred < 4)
        std::abort(); // every image that opens has a TOC
    const uint32_t sectors = transport->sectorCount();
    const size_t descriptors = (all.transferred - 4) / 8;
    for (size_t i = 0; i < descriptors; ++i) {
        const uint8_t* d = &toc[4 + 8 * i];
        const uint32_t lba = uint32_t(d[4]) << 24 | uint32_t(d[5]) << 16 | uint32_t(d[6]) << 8 | d[7];
        if (lba > sectors)
            std::abort();
        for (const uint32_t at : {lba, lba ? lba - 1 : 0u}) {
            send(*transport,
                 {0xBE, 0x08, byte(at, 24), byte(at, 16), byte(at, 8), byte(at, 0), 0, 0, 1, 0xF8, 0, 0},
                 buffer);
            send(*transport,
                 {0xBE, 0, byte(at, 24), byte(at, 16), byte(at, 8), byte(at, 0), 0, 0, 10, 0xF8, 0, 0},
                 buffer);
            send(*transport,
                 {0xBE, 0, byte(at, 24), byte(at, 16), byte(at, 8), byte(at, 0), 0, 0, 3, 0x58, 0, 0},
                 buffer);
            send(*transport, {0x28, 0, byte(at, 24), byte(at, 16), byte(at, 8), byte(at, 0), 0, 0, 10, 0},
                 buffer);
        }
    }
    const uint32_t last = sectors - 1;
    const ScsiResult lastRead = send(
        *transport,
        {0xBE, 0, byte(last, 24), byte(last, 16), byte(last, 8), byte(last, 0), 0, 0, 1, 0xF8, 0, 0}, buffer);
    if (!lastRead.good())
        std::abort(); // the files were checked to hold every stored sector
    return 0;
}
