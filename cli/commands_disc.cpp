// drives, toc, volume, read: the drive table, a disc's table of contents and identity, and
// sectors read through the sector reader, for CD-ROM drives and disc images alike.
//
// A DRIVE argument that names an existing file is mounted as a disc image for the run (CUE
// sheet, ISO or raw image) and unmounted at the end; otherwise it is a drive index of `drives`.
//
// JSON layouts (keys in this order; every number a plain JSON number):
//   drives --json: an array, one object per drive in table order:
//     {"index", "interface": "sg" | "sr" | "image", "address": "A:T:L", "vendor", "product",
//      "revision", "capabilities", "maxReadSpeed", "maxWriteSpeed"}
//     vendor, product and revision are the INQUIRY texts as the drive sent them (trailing
//     blanks kept); null when the drive did not answer. capabilities is the capability word,
//     maxReadSpeed and maxWriteSpeed are in kB/s; all three null when MODE SENSE failed.
//   toc --json: {"source", "drive", "tracks", "entries": [{"track", "control", "start",
//     "length"}, ...]}   tracks is the disc's track count; entries as CdReadToc filled them.
//   volume --json: {"source", "drive", "volume": {"systemId", "volumeId", "volumeSpaceSize",
//     "volumeSetSize", "volumeSequenceNumber", "pathTableSize", "pathTableL",
//     "optionalPathTableL", "volumeSetId", "publisherId", "dataPreparerId", "applicationId",
//     "copyrightFileId", "abstractFileId", "bibliographicFileId"}}   (the CdVolumeInfo fields)
//   read --json: {"source", "drive", "lba", "count", "sectorSize", "out", "badSectors": [lba...]}
//     A sector that could not be read is written as zeros and listed in badSectors.

#include <algorithm>
#include <iomanip>
#include <iostream>
#include <optional>
#include <vector>

#include "atomic_file.h"
#include "command_set.h"
#include "commands.h"
#include "disc_source.h"
#include "discport/discport.h"
#include "json_output.h"
#include "output.h"
#include "progress.h"

namespace tamrin::cli {

namespace {

constexpr int32_t kTocEntries = 100;
constexpr uint32_t kMode2Form1Bit = 1u << 20;
constexpr uint32_t kMode2Form2Bit = 1u << 21;
// Sectors gathered before one write to the output file.
constexpr size_t kWriteChunk = size_t(1) << 20;

std::string interfaceName(int32_t interface)
{
    switch (interface) {
    case CD_USE_SG:
        return "sg";
    case CD_USE_SR:
        return "sr";
    default:
        return "none";
    }
}

std::string capabilityWords(uint32_t word)
{
    std::string words;
    if (word & kMode2Form1Bit)
        words = "mode2form1";
    if (word & kMode2Form2Bit)
        words += words.empty() ? "mode2form2" : ", mode2form2";
    return words.empty() ? "no mode 2 reading" : words;
}

struct DriveLine
{
    int32_t index = 0;
    std::string interface;
    std::string address;
    bool identified = false;
    char vendor[9] = {};
    char product[17] = {};
    char revision[5] = {};
    bool capable = false;
    uint32_t capabilities = 0;
    int32_t maxRead = 0;
    int32_t maxWrite = 0;
};

DriveLine describeDrive(int32_t index, const std::string& interface)
{
    DriveLine line;
    line.index = index;
    line.interface = interface;
    int32_t adapter = 0, target = 0, lun = 0;
    line.identified =
        CdGetDriveInfo(index, &adapter, &target, &lun, line.vendor, line.product, line.revision) == 1;
    line.address = std::to_string(adapter) + ":" + std::to_string(target) + ":" + std::to_string(lun);
    line.capable = CdGetCapabilities(index, 0, &line.capabilities, &line.maxRead, &line.maxWrite) == 1;
    return line;
}

Json driveJson(const DriveLine& line)
{
    Json object;
    object["index"] = line.index;
    object["interface"] = line.interface;
    object["address"] = line.address;
    object["vendor"] = line.identified ? Json(recordText(line.vendor)) : Json(nullptr);
    object["product"] = line.identified ? Json(recordText(line.product)) : Json(nullptr);
    object["revision"] = line.identified ? Json(recordText(line.revision)) : Json(nullptr);
    object["capabilities"] = line.capable ? Json(line.capabilities) : Json(nullptr);
    object["maxReadSpeed"] = line.capable ? Json(line.maxRead) : Json(nullptr);
    object["maxWriteSpeed"] = line.capable ? Json(line.maxWrite) : Json(nullptr);
    return object;
}

void printDriveText(std::ostream& out, const DriveLine& line)
{
    out << std::left << std::setw(6) << line.index << std::setw(10) << line.interface << std::setw(9)
        << line.address;
    if (line.identified)
        out << recordText(line.vendor) << "  " << recordText(line.product) << "  "
            << recordText(line.revision);
    else
        out << "(no answer to INQUIRY)";
    if (line.capable)
        out << "  " << hexText(line.capabilities, 8) << " (" << capabilityWords(line.capabilities) << ")";
    else
        out << "  (capabilities unknown)";
    out << std::right << '\n';
}

Json volumeJson(const CdVolumeInfo& v)
{
    Json object;
    object["systemId"] = recordText(v.systemId);
    object["volumeId"] = recordText(v.volumeId);
    object["volumeSpaceSize"] = v.volumeSpaceSize;
    object["volumeSetSize"] = v.volumeSetSize;
    object["volumeSequenceNumber"] = v.volumeSequenceNumber;
    object["pathTableSize"] = v.pathTableSize;
    object["pathTableL"] = v.pathTableL;
    object["optionalPathTableL"] = v.optionalPathTableL;
    object["volumeSetId"] = recordText(v.volumeSetId);
    object["publisherId"] = recordText(v.publisherId);
    object["dataPreparerId"] = recordText(v.dataPreparerId);
    object["applicationId"] = recordText(v.applicationId);
    object["copyrightFileId"] = recordText(v.copyrightFileId);
    object["abstractFileId"] = recordText(v.abstractFileId);
    object["bibliographicFileId"] = recordText(v.bibliographicFileId);
    return object;
}

// Why CdReadOpen refused the range, for the user.
std::string openFailure(int32_t drive, uint32_t lba)
{
    CdTocEntry toc[kTocEntries] = {};
    const int32_t tracks = CdReadToc(drive, kTocEntries, toc);
    if (tracks <= 0)
        return "cannot read the table of contents (no disc in the drive, or it does not answer)";
    std::string list;
    for (int32_t i = 0; i < tracks && i < kTocEntries; ++i) {
        list += i ? ", " : "";
        list +=
            std::to_string(toc[i].start) + "-" + std::to_string(uint64_t(toc[i].start) + toc[i].length - 1);
    }
    return "sector " + std::to_string(lba) + " lies in no track (tracks hold sectors " + list + ")";
}

} // namespace

int runDrives(const DrivesOptions& options)
{
    const int32_t devices = CdGetDriveNum();
    const std::string deviceInterface = interfaceName(CdGetUseInterface());
    int status = kExitOk;
    std::vector<int32_t> images;
    for (const std::string& image : options.images) {
        const int32_t drive = CdMountImage(image.c_str());
        if (drive < 0) {
            const char* reason = CdImageError();
            reportError(image, reason && *reason ? reason : "cannot be mounted as a disc image");
            status = kExitFailure;
            continue;
        }
        images.push_back(drive);
    }

    // Devices come first in the table; what follows them are the images mounted above.
    std::vector<DriveLine> lines;
    const int32_t drives = CdGetDriveNum();
    for (int32_t index = 0; index < drives; ++index)
        lines.push_back(describeDrive(index, index >= devices ? "image" : deviceInterface));
    for (int32_t drive : images)
        CdUnmountImage(drive);

    if (options.json) {
        Json list = Json::array();
        for (const DriveLine& line : lines)
            list.push_back(driveJson(line));
        writeJson(std::cout, list);
    } else if (lines.empty()) {
        std::cout << "No CD-ROM drives found.\n";
    } else {
        std::cout << "index interface address  vendor    product           rev.  capabilities\n";
        for (const DriveLine& line : lines)
            printDriveText(std::cout, line);
    }
    return status;
}

int runToc(const DiscOptions& options)
{
    DiscSource source;
    std::string error;
    if (!source.open(options.drive, error)) {
        reportError(options.drive, error);
        return kExitFailure;
    }
    CdTocEntry entries[kTocEntries] = {};
    const int32_t tracks = CdReadToc(source.drive(), kTocEntries, entries);
    if (tracks <= 0) {
        reportError(options.drive,
                    "cannot read the table of contents (no disc in the drive, or it does not answer)");
        return kExitFailure;
    }
    const int32_t filled = std::min(tracks, kTocEntries);
    if (options.json) {
        Json list = Json::array();
        for (int32_t i = 0; i < filled; ++i) {
            list.push_back(Json{{"track", entries[i].track},
                                {"control", entries[i].control},
                                {"start", entries[i].start},
                                {"length", entries[i].length}});
        }
        writeJson(std::cout, Json{{"source", options.drive},
                                  {"drive", source.drive()},
                                  {"tracks", tracks},
                                  {"entries", list}});
        return kExitOk;
    }
    std::cout << "tracks " << tracks << '\n' << "track  control  start     length    kind\n";
    for (int32_t i = 0; i < filled; ++i) {
        const CdTocEntry& e = entries[i];
        std::cout << std::setw(5) << unsigned(e.track) << "  " << hexText(e.control, 2) << "     "
                  << std::left << std::setw(10) << e.start << std::setw(10) << e.length << std::right
                  << ((e.control & CD_TOC_DATA_TRACK) ? "data" : "audio") << '\n';
    }
    return kExitOk;
}

int runVolume(const DiscOptions& options)
{
    DiscSource source;
    std::string error;
    if (!source.open(options.drive, error)) {
        reportError(options.drive, error);
        return kExitFailure;
    }
    CdVolumeInfo info{};
    if (CdGetVolumeInfo(source.drive(), &info) != 1) {
        reportError(options.drive, "cannot read the volume descriptor (sector 16 of the first data track)");
        return kExitFailure;
    }
    const Json volume = volumeJson(info);
    if (options.json) {
        writeJson(std::cout, Json{{"source", options.drive}, {"drive", source.drive()}, {"volume", volume}});
        return kExitOk;
    }
    for (const auto& item : volume.items()) {
        std::cout << std::left << std::setw(22) << item.key() << std::right
                  << (item.value().is_string() ? item.value().get<std::string>() : item.value().dump())
                  << '\n';
    }
    return kExitOk;
}

std::optional<std::string> readUsageProblem(const ReadOptions& options)
{
    if (options.count == 0)
        return "--count must be at least 1";
    if (options.count & CD_READ_USER_DATA)
        return "--count must be below 2^31";
    if (options.out.empty())
        return "--out FILE is required";
    return std::nullopt;
}

int runRead(const ReadOptions& options)
{
    DiscSource source;
    std::string error;
    if (!source.open(options.drive, error)) {
        reportError(options.drive, error);
        return kExitFailure;
    }
    const uint32_t mode = options.user ? CD_READ_USER_DATA : 0u;
    CdReadHandle* reader = CdReadOpen(source.drive(), nullptr, options.lba, options.count | mode, 0);
    if (!reader) {
        reportError(options.drive, openFailure(source.drive(), options.lba));
        return kExitFailure;
    }
    const uint32_t size = uint32_t(CdGetSectorSize(reader));
    if (!options.user && size != 2352)
        std::cerr << "tamrin-cli: " << options.drive
                  << ": the disc is 80 minutes or longer; its sectors are read as 2048 bytes of user data\n";

    AtomicFile file;
    if (!file.create(options.out, error)) {
        CdReadClose(reader);
        reportError(options.out, error);
        return kExitFailure;
    }
    std::vector<uint32_t> bad;
    std::vector<uint8_t> chunk;
    chunk.reserve(kWriteChunk + size);
    SectorProgressLine progress(!options.noProgress);
    bool written = true;
    for (uint32_t i = 0; i < options.count && written; ++i) {
        const uint8_t* sector = CdReadSector(reader, nullptr);
        if (sector) {
            chunk.insert(chunk.end(), sector, sector + size);
            CdUnlockReadBuffer(reader, sector);
        } else {
            bad.push_back(options.lba + i);
            chunk.insert(chunk.end(), size, 0);
        }
        if (chunk.size() >= kWriteChunk) {
            written = file.write(chunk.data(), chunk.size(), error);
            chunk.clear();
        }
        progress.update(i, options.count);
    }
    progress.finish();
    CdReadClose(reader);
    if (written && !chunk.empty())
        written = file.write(chunk.data(), chunk.size(), error);
    if (!written || !file.commit(error)) {
        reportError(options.out, error);
        return kExitFailure;
    }

    for (uint32_t lba : bad)
        reportError(options.drive,
                    "sector " + std::to_string(lba) + " could not be read; zeros written in its place");
    if (options.json) {
        writeJson(std::cout, Json{{"source", options.drive},
                                  {"drive", source.drive()},
                                  {"lba", options.lba},
                                  {"count", options.count},
                                  {"sectorSize", size},
                                  {"out", options.out},
                                  {"badSectors", bad}});
    } else {
        std::cout << "wrote " << counted(options.count, "sector", "sectors") << " of " << size
                  << " bytes (sectors " << options.lba << " to " << uint64_t(options.lba) + options.count - 1
                  << ") to " << options.out;
        if (!bad.empty())
            std::cout << "; " << bad.size() << " could not be read";
        std::cout << '\n';
    }
    return bad.empty() ? kExitOk : kExitFailure;
}

void addDiscCommands(CommandSet& commands)
{
    const char* driveHelp = "A drive index (see drives) or a disc image (CUE, ISO, raw).";
    auto drivesOptions = std::make_shared<DrivesOptions>();
    CLI::App* drives = commands.add(
        nullptr, "drives",
        "List the CD-ROM drives: index, interface, address, vendor, product, revision, capabilities.",
        [drivesOptions] { return runDrives(*drivesOptions); });
    drives->add_option("images", drivesOptions->images,
                       "Disc images to mount for the run and list as drives too.");
    addJsonFlag(drives, drivesOptions->json);

    auto tocOptions = std::make_shared<DiscOptions>();
    CLI::App* toc =
        commands.add(nullptr, "toc", "Show the table of contents of the disc in a drive or of a disc image.",
                     [tocOptions] { return runToc(*tocOptions); });
    toc->add_option("drive", tocOptions->drive, driveHelp)->required();
    addJsonFlag(toc, tocOptions->json);

    auto volumeOptions = std::make_shared<DiscOptions>();
    CLI::App* volume =
        commands.add(nullptr, "volume", "Show the volume identity of the disc in a drive or of a disc image.",
                     [volumeOptions] { return runVolume(*volumeOptions); });
    volume->add_option("drive", volumeOptions->drive, driveHelp)->required();
    addJsonFlag(volume, volumeOptions->json);

    auto readOptions = std::make_shared<ReadOptions>();
    CLI::App* read = commands.add(
        nullptr, "read",
        "Read sectors of a drive or a disc image through the sector reader into a file; sectors that "
        "cannot be read are reported and written as zeros.",
        [readOptions] {
            return runUnlessProblem("read", readUsageProblem(*readOptions),
                                    [&] { return runRead(*readOptions); });
        });
    read->add_option("drive", readOptions->drive, driveHelp)->required();
    read->add_option("--lba", readOptions->lba, "First sector (logical block address).")->required();
    read->add_option("--count", readOptions->count, "Number of sectors.")->required();
    read->add_flag("--user", readOptions->user,
                   "Read 2048 bytes of user data per sector instead of raw 2352.");
    read->add_option("--out", readOptions->out, "The file to write.")->required();
    addJsonFlag(read, readOptions->json);
    addNoProgressFlag(read, readOptions->noProgress);
}

} // namespace tamrin::cli
