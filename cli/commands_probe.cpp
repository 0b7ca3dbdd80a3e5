// probe: for each file, the plugin that takes it (the library's choice: the first installed file
// plugin in priority order that accepts it) and the stream description it gives; a file of
// several streams (the channels of an XA file) shows each, numbered from 1 as FILE#K names them.
#include <iostream>
#include <optional>
#include <vector>

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
        std::vector<tamlib::FileIdentity> streams;
        std::optional<std::string> problem = inputFileProblem(file);
        if (!problem) {
            streams = tamlib::identifyFileStreams(file.c_str());
            if (streams.empty())
                problem = rejectionMessage(file);
        }
        if (problem) {
            reportError(file, *problem);
            status = kExitFailure;
            if (options.json)
                results.push_back(Json{{"file", file}, {"error", *problem}});
            continue;
        }
        const std::string& plugin = streams.front().plugin;
        if (options.json) {
            Json infos = Json::array();
            for (const tamlib::FileIdentity& stream : streams)
                infos.push_back(strInfoJson(stream.info));
            results.push_back(Json{{"file", file},
                                   {"plugin", plugin},
                                   {"info", strInfoJson(streams.front().info)},
                                   {"streams", infos}});
            continue;
        }
        for (size_t k = 0; k < streams.size(); ++k) {
            std::cout << file << ": " << plugin;
            if (streams.size() > 1)
                std::cout << ", stream " << k + 1 << " of " << streams.size() << " (" << file << '#' << k + 1
                          << ')';
            std::cout << '\n';
            printStrInfoText(std::cout, streams[k].info);
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
