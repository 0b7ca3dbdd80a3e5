// What the analysis tests share: an environment started on its own home folder with the plugins
// of the build and the probe plugins, a scripted port, disc images mounted as the selected drive
// (with an ISO volume descriptor when asked), and a look at the records the analysis leaves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../plugins/disc_builder.h"
#include "../support/scripted_port.h"
#include "streamkit/psr.h"
#include "support_env_home.h"
#include "tamlib/cdaz.h"
#include "tamlib/ui_port.h"

namespace anatest {

using RecordPtr = std::unique_ptr<CdazRecord, void (*)(CdazRecord*)>;
RecordPtr own(CdazRecord* record);

// Writes an ISO primary volume descriptor with these identifiers into sector 16 (a Form 1
// sector of the builder's data track, which must have at least 17 sectors).
void putVolumeDescriptor(discbuild::DiscBuilder& builder, const std::string& systemId,
                         const std::string& volumeId);

// A data track (20 foreign sectors, a movie, XA sound, more foreign sectors) and an audio
// track; a volume descriptor with these identifiers (blank when empty).
std::unique_ptr<discbuild::Image> movieDisc(const std::string& systemId, const std::string& volumeId);
// `sectors` foreign sectors and nothing else.
std::unique_ptr<discbuild::Image> plainDisc(uint32_t sectors);

// A started environment: TAMRIN_HOME of its own, the C locale, the scripted port installed.
class Environment
{
  public:
    Environment();
    ~Environment();
    Environment(const Environment&) = delete;
    Environment& operator=(const Environment&) = delete;

    bool started() const { return m_started; }
    tamlib::ScriptedPort& port() { return m_port; }
    const tamlib::ScriptedPort& port() const { return m_port; }
    std::filesystem::path analyzeFolder() const { return m_home.path() / "Analyze"; }
    std::vector<std::string> cdazFiles() const;

  private:
    tamlib::test::ScopedVariable m_locale{"LC_ALL", "C"};
    tamlib::test::TempHome m_home;
    tamlib::ScriptedPort m_port;
    tamlib::ScopedUiPort m_installed{m_port};
    bool m_started = false;
};

// An image mounted and selected as the drive of the environment.
class Disc
{
  public:
    explicit Disc(const std::string& cue);
    explicit Disc(std::unique_ptr<discbuild::Image> image);
    ~Disc();
    Disc(const Disc&) = delete;
    Disc& operator=(const Disc&) = delete;
    int32_t drive() const { return m_drive; }
    const discbuild::Image* image() const { return m_image.get(); }

  private:
    std::unique_ptr<discbuild::Image> m_image;
    int32_t m_drive = -1;
};

// The streams of a record in its order.
std::vector<StrInfo> recordStreams(CdazRecord* record);
// The file names of a record's plugin entries, in their order.
std::vector<std::string> recordPlugins(CdazRecord* record);

bool sameStream(const StrInfo& a, const StrInfo& b);

} // namespace anatest
