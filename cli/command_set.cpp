#include "command_set.h"

#include "commands.h"

namespace tamrin::cli {

CLI::App* CommandSet::add(CLI::App* parent, const std::string& name, const std::string& description,
                          std::function<int()> run)
{
    CLI::App* command = (parent ? parent : &m_app)->add_subcommand(name, description);
    m_commands.emplace_back(command, std::move(run));
    return command;
}

std::optional<int> CommandSet::runChosen() const
{
    for (const auto& [command, run] : m_commands)
        if (command->parsed())
            return run();
    return std::nullopt;
}

int runUnlessProblem(const char* subject, const std::optional<std::string>& problem,
                     const std::function<int()>& run)
{
    if (problem) {
        reportError(subject, *problem);
        return kExitUsage;
    }
    return run();
}

CLI::Validator wholeRange(uint64_t least, uint64_t most)
{
    return CLI::Validator(
        [least, most](std::string& text) -> std::string {
            uint64_t value = 0;
            const bool number = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos &&
                                text.size() <= 20 && CLI::detail::lexical_cast(text, value);
            if (number && value >= least && value <= most)
                return {};
            return "Value " + text + " is not a whole number from " + std::to_string(least) + " to " +
                   std::to_string(most);
        },
        "NUMBER " + std::to_string(least) + "-" + std::to_string(most));
}

void addJsonFlag(CLI::App* command, bool& json)
{
    command->add_flag("--json", json, "Write JSON instead of text.");
}

void addNoProgressFlag(CLI::App* command, bool& noProgress)
{
    command->add_flag("--no-progress", noProgress, "Never show the progress line on the terminal.");
}

} // namespace tamrin::cli
