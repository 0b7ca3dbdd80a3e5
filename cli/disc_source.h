// The drive a DRIVE argument names: a drive index of `drives`, or a disc image file (CUE sheet,
// ISO or raw image) mounted for the run and unmounted with this object.
#ifndef TAMRIN_CLI_DISC_SOURCE_H
#define TAMRIN_CLI_DISC_SOURCE_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace tamrin::cli {

class DiscSource
{
  public:
    DiscSource() = default;
    DiscSource(const DiscSource&) = delete;
    DiscSource& operator=(const DiscSource&) = delete;
    ~DiscSource();

    // An argument that names an existing file is mounted; otherwise it must be a drive index.
    // False with `error` set when it is neither a mountable file nor a drive.
    bool open(const std::string& argument, std::string& error);

    int32_t drive() const { return m_drive; }

  private:
    int32_t m_drive = -1;
    bool m_mounted = false;
};

// The discs of a run that names several streams of one disc: each image is mounted (each drive
// taken) once, and stays so while an input holds it.
class DiscMounts
{
  public:
    // The disc of `argument`, opened on first use; null with `error` set when it cannot be.
    std::shared_ptr<DiscSource> open(const std::string& argument, std::string& error);

  private:
    std::map<std::string, std::shared_ptr<DiscSource>> m_open;
};

// True when `argument` is written as a drive index: decimal digits only.
bool looksLikeDriveIndex(const std::string& argument);

} // namespace tamrin::cli

#endif
