// The user-interface port of tamrin-cli: the library's messages on stderr; its questions answered
// from the command line's options, typed on a terminal, or with their default answer.
#ifndef TAMRIN_CLI_CONSOLE_PORT_H
#define TAMRIN_CLI_CONSOLE_PORT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tamlib/ui_port.h"

namespace tamrin::cli {

// Messages on a stream (stderr), answers from a preset answer, or from the terminal, or the
// default answer. It never waits for input that is not a terminal.
class ConsolePort : public tamlib::UiPort
{
  public:
    struct Options
    {
        // The answer every question takes when the box offers it (0: none). With it nothing is
        // asked on the terminal.
        int32_t presetAnswer = 0;
        // The choice every choice request takes (-2: none preset).
        int32_t presetChoice = -2;
        FILE* output = nullptr; // null: stderr
        FILE* input = nullptr;  // null: stdin
        // Whether the input is a terminal a person answers; -1: asked of the input itself.
        int interactive = -1;
        // The disc analysis: the adoption answer (-1: asked on a terminal, else the default),
        // the plugins by file name in the order wanted (the others unchecked; empty: as
        // offered), the title and prefix kept at the end (empty: the record's own), and a
        // progress line on the output when it is a terminal.
        int32_t presetAdopt = -1;
        std::vector<std::string> presetPlugins;
        std::string presetTitle;
        std::string presetPrefix;
        bool progressLine = true;
    };

    ConsolePort();
    explicit ConsolePort(const Options& options);

    int32_t message(const tamlib::MessageRequest& request) override;
    int32_t choose(const tamlib::ChoiceRequest& request) override;
    void setItemText(void* dialog, int32_t item, const std::string& text) override;
    tamlib::AdoptAnswer adoptCdaz(const tamlib::AdoptRequest& request) override;
    bool choosePlugins(tamlib::PluginChoiceRequest& request) override;
    void beginProgress(const std::string& caption, uint64_t total) override;
    void updateProgress(const tamlib::ProgressState& state) override;
    void endProgress() override;
    void analysisDone(tamlib::AnalysisDoneRequest& request) override;

  private:
    bool interactive() const;
    bool progressShown() const;
    FILE* output() const;
    FILE* input() const;
    bool readLine(std::string& line) const;

    Options m_options;
    bool m_progressOpen = false;
};

// For tests: records every request and answers from queues; an empty queue gives the default
// answer (messages) or the current item (choices).

} // namespace tamrin::cli

#endif
