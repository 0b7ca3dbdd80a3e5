// A disc image that reaches the 80-minute mark: an audio track of `kLongAudioSectors` sectors
// (a sparse stretch of the BIN file), then a short Mode 2 data track that ends beyond sector
// 360000. Readers of such a disc give 2048-byte user data whatever was asked for.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "../plugins/disc_builder.h"
#include "../support/scratch_folder.h"

namespace clitest {

constexpr uint32_t kLongAudioSectors = 359990;

struct LongDisc
{
    testsupport::ScratchFolder folder{"long"};
    std::string cue;
    std::string bin;
    uint32_t dataStart = kLongAudioSectors;
    uint32_t dataSectors = 0;

    // The raw sector written at data track sector i.
    discbuild::Sector dataSector(uint32_t i) const
    {
        discbuild::Sector s = discbuild::foreignSector(11, i);
        discbuild::putSyncAndHeader(s.data(), dataStart + i);
        return s;
    }

    // False when the files cannot be written.
    bool write(uint32_t sectors)
    {
        dataSectors = sectors;
        if (!folder.made())
            return false;
        cue = (folder.path() / "long.cue").string();
        bin = (folder.path() / "long.bin").string();
        {
            std::ofstream out(bin, std::ios::binary | std::ios::trunc);
            out.seekp(std::streamoff(uint64_t(dataStart) * discbuild::kRaw));
            for (uint32_t i = 0; i < sectors; ++i) {
                const discbuild::Sector s = dataSector(i);
                out.write(reinterpret_cast<const char*>(s.data()), discbuild::kRaw);
            }
            if (!out)
                return false;
        }
        std::ofstream sheet(cue, std::ios::binary | std::ios::trunc);
        sheet << "FILE \"long.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
              << "  TRACK 02 MODE2/2352\n    INDEX 01 " << discbuild::msfText(dataStart) << "\n";
        return bool(sheet);
    }
};

} // namespace clitest
