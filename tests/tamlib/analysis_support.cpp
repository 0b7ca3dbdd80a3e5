#include "analysis_support.h"

#include <cstring>

#include "discport/discport.h"
#include "env/environment_state.h"
#include "tamlib/environment.h"

namespace anatest {

namespace fs = std::filesystem;

RecordPtr own(CdazRecord* record)
{
    return RecordPtr(record, PlbFreeCDAZ);
}

void putVolumeDescriptor(discbuild::DiscBuilder& builder, const std::string& systemId,
                         const std::string& volumeId)
{
    discbuild::Sector& s = builder.at(16);
    uint8_t* data = s.data() + 24;
    std::memset(data, 0, 2048);
    data[0] = 1;
    std::memcpy(data + 1, "CD001", 5);
    data[6] = 1;
    std::memset(data + 8, ' ', 64);
    std::memcpy(data + 8, systemId.data(), std::min<size_t>(systemId.size(), 32));
    std::memcpy(data + 40, volumeId.data(), std::min<size_t>(volumeId.size(), 32));
}

namespace {

constexpr char kMovie[] = "mv1_v2_320x240_15fps_xa37800s.str";
constexpr char kXa[] = "xa1_37800_stereo.xa";

} // namespace

std::unique_ptr<discbuild::Image> movieDisc(const std::string& systemId, const std::string& volumeId)
{
    discbuild::DiscBuilder builder;
    builder.addForeign(20, 3);
    putVolumeDescriptor(builder, systemId, volumeId);
    builder.add(discbuild::loadMovie(kMovie));
    builder.addForeign(8, 5);
    const std::vector<discbuild::Sector> sound = discbuild::soundSectors(discbuild::loadXa(kXa));
    builder.placeSound(sound, 1, 0, builder.next(), 1, true);
    builder.addForeign(10, 4);
    builder.addAudioTrack(120);
    return builder.write();
}

std::unique_ptr<discbuild::Image> plainDisc(uint32_t sectors)
{
    discbuild::DiscBuilder builder;
    builder.addForeign(sectors, 7);
    return builder.write();
}

Environment::Environment()
{
    tamlib::EnvironmentOptions options = tamlib::defaultEnvironmentOptions();
    options.pluginFolders = {fs::path(TAMRIN_OUT_DIR) / "PsrPlugins", fs::path(TEST_PLUGIN_DIR)};
    m_started = tamlib::startEnvironment(options);
    // Nothing from outside: no server until a test sets one, every question asked.
    PlbSetServer("");
    PlbSetAnalyzeMode(0, 0, 0);
}

Environment::~Environment()
{
    while (PlbTerminate() == 1) {
    }
}

std::vector<std::string> Environment::cdazFiles() const
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(analyzeFolder(), error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Disc::Disc(const std::string& cue) : m_drive(CdMountImage(cue.c_str()))
{
    if (m_drive >= 0 && PlbSetCdDrive(m_drive) != 1) {
        CdUnmountImage(m_drive);
        m_drive = -1;
    }
}

Disc::Disc(std::unique_ptr<discbuild::Image> image) : Disc(image ? image->cue : std::string())
{
    m_image = std::move(image);
}

Disc::~Disc()
{
    if (m_drive >= 0)
        CdUnmountImage(m_drive);
}

std::vector<StrInfo> recordStreams(CdazRecord* record)
{
    std::vector<StrInfo> streams;
    const int32_t count = PlbGetCDAZInfo(record, nullptr, nullptr, nullptr, nullptr, nullptr);
    for (int32_t i = 0; i < count; ++i) {
        StrInfo info{};
        if (PlbGetCDAZStream(record, i, &info, nullptr, nullptr, nullptr) > 0)
            streams.push_back(info);
    }
    return streams;
}

std::vector<std::string> recordPlugins(CdazRecord* record)
{
    std::vector<std::string> files;
    for (int32_t i = 0;; ++i) {
        char file[PLB_CDAZ_PLUGIN_FILE_BYTES] = {};
        if (PlbGetCDAZPlugin(record, i, file, nullptr, nullptr, nullptr, nullptr) <= 0)
            break;
        files.push_back(file);
    }
    return files;
}

bool sameStream(const StrInfo& a, const StrInfo& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

} // namespace anatest
