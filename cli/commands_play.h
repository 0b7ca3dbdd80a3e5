// play: plays one stream (a file, IMAGE#N, IMAGE --stream K, a drive) on the sound device, with
// a status line and keys on a terminal, or one JSON object a line for each notification.
#ifndef TAMRIN_CLI_COMMANDS_PLAY_H
#define TAMRIN_CLI_COMMANDS_PLAY_H

#include <optional>
#include <string>

#include "commands.h"

namespace tamrin::cli {

struct PlayOptions
{
    std::string source;
    std::string plugin;
    DiscStreamChoice disc;
    std::string driver = "alsa"; // alsa or null
    std::string device;          // ALSA device name
    bool untimed = false;
    uint32_t tempo = 100;
    uint32_t volume = 100;
    uint32_t fromMs = 0;
    std::string size; // "WxH"
    bool json = false;
};

class CommandSet;
void addPlayCommand(CommandSet& commands);

int runPlay(const PlayOptions& options);

} // namespace tamrin::cli

#endif
