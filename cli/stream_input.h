// The input of the stream commands (units, frames, audio): a file, or a stream on a disc image
// or in a drive. Finds the plugin and the stream's description, then opens the stream; the
// commands read it the same way whatever it came from.
#ifndef TAMRIN_CLI_STREAM_INPUT_H
#define TAMRIN_CLI_STREAM_INPUT_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "disc_source.h"
#include "plugin_folder.h"
#include "streamkit/lbr.h"
#include "tamlib/analysis.h"

namespace CLI {
class App;
} // namespace CLI

namespace tamrin::cli {

// --plugin, --start, --sectors and --stream of a stream command: a stream on a disc image or in a
// drive (`choice.hasStart` is set when --start is given).
void addStreamOptions(CLI::App* command, std::string& plugin, DiscStreamChoice& choice);

struct StreamCloser
{
    void operator()(StreamState* stream) const { LbrCloseStream(stream); }
};
using StreamPtr = std::unique_ptr<StreamState, StreamCloser>;

// True when the argument names a disc rather than a file: a CUE sheet (".cue" in any case), a
// drive index that names no file, "IMAGE#N" or "DRIVE#N" (the N-th listed stream of the disc's
// stored analysis, see analyze), or any argument given with --start or --stream. StreamInput
// takes "FILE#K" as the K-th stream of FILE instead when FILE is a file of several streams (as
// probe lists them).
bool isDiscInput(const std::string& argument, const DiscStreamChoice& choice);

struct StreamRequest
{
    std::string argument; // file, disc image or drive index
    std::string plugin;   // empty: files go to the first plugin that accepts them
    DiscStreamChoice disc;
    bool progress = true;         // a progress line while a disc is scanned for --stream
    DiscMounts* mounts = nullptr; // shares the discs of several inputs; null: each its own
};

class StreamInput
{
  public:
    StreamInput() = default;
    StreamInput(const StreamInput&) = delete;
    StreamInput& operator=(const StreamInput&) = delete;

    // Finds the plugin and its description of the stream; every failure is reported on stderr.
    bool accept(const StreamRequest& request);
    // Opens the accepted stream for `mode` (LBR_WANT_VIDEO | LBR_WANT_AUDIO); reports failures.
    bool open(uint32_t mode);

    const Acceptance& accepted() const { return m_accepted; }
    StreamState* stream() const { return m_stream.get(); }
    const std::string& subject() const { return m_subject; }
    // The file the stream is read from (the subject without a stream number); a disc's argument.
    const std::string& fileName() const { return m_file; }
    // The start of the names of files made from this stream: the file's stem, or the disc's stem
    // and which of its streams ("disc-scan3", "disc-cdaz2", "disc-lba1200"), so that the output
    // of two streams of one disc never share a name.
    const std::string& outputStem() const { return m_outputStem; }
    // The stream's title in the disc's stored analysis (IMAGE#N); empty for other inputs.
    const std::string& title() const { return m_title; }
    bool isDisc() const { return m_disc; }
    int32_t drive() const { return m_source ? m_source->drive() : -1; }

  private:
    bool acceptFile(const StreamRequest& request);
    bool acceptFileStream(const std::string& file, uint32_t number,
                          const std::vector<tamlib::FileIdentity>& streams);
    bool acceptArea(const StreamRequest& request);
    bool acceptListed(const StreamRequest& request);
    bool acceptStored(const std::string& argument, uint32_t number);
    bool openDisc(const StreamRequest& request, const std::string& disc);

    std::string m_subject;
    std::string m_file;
    std::string m_outputStem;
    std::string m_title;
    bool m_disc = false;
    std::shared_ptr<DiscSource> m_source; // keeps a mounted image until the stream is closed
    Acceptance m_accepted;
    StreamPtr m_stream;
};

} // namespace tamrin::cli

#endif
