// probe: for each file, the plugin that takes it (the library's choice: the first installed file
// plugin in priority order that accepts it) and the stream description it gives.
#include <iostream>
#include <optional>

#include "command_set.h"
#include "commands.h"
#include "input_file.h"
#include "json_output.h"
#include "library_session.h"
#include "output.h"
#include "tamlib/analysis.h"

namespace tamrin::cli {

int runProbe(const ProbeOptions& options)
{
    if (!libraryReady("probe"))
        return kExitFailure;
    int status = kExitOk;
    Json results = Json::array();
    for (const std::string& file : options.files) {
        std::optional<tamlib::FileIdentity> identity;
        std::optional<std::string> problem = inputFileProblem(file);
        if (!problem) {
            identity = tamlib::identifyFile(file.c_str());
            if (!identity)
                problem = rejectionMessage(file);
        }
        if (problem) {
            reportError(file, *problem);
            status = kExitFailure;
            if (options.json)
                results.push_back(Json{{"file", file}, {"error", *problem}});
            continue;
        }
        if (options.json) {
            results.push_back(
                Json{{"file", file}, {"plugin", identity->plugin}, {"info", strInfoJson(identity->info)}});
        } else {
            std::cout << file << ": " << identity->plugin << '\n';
            printStrInfoText(std::cout, identity->info);
        }
    }
    if (options.json)
        writeJson(std::cout, results);
    return status;
}

void addProbeCommand(CommandSet& commands)
{
    auto options = std::make_shared<ProbeOptions>();
    CLI::App* probe = commands.add(
        nullptr, "probe",
        "Find the plugin that takes each file, as the player (and identify) chooses it, and show its "
        "stream description.",
        [options] { return runProbe(*options); });
    probe->add_option("files", options->files, "Files to probe.")->required();
    addJsonFlag(probe, options->json);
}

} // namespace tamrin::cli
