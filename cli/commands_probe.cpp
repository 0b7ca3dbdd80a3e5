// probe: for each file, the first file plugin (in file name order) that accepts it and the
// stream description it gives.
#include <iostream>
#include <optional>

#include "commands.h"
#include "input_file.h"
#include "json_output.h"
#include "output.h"
#include "plugin_folder.h"

namespace tamrin::cli {

int runProbe(const ProbeOptions& options)
{
    const auto files = installedPluginFiles();
    if (!files)
        return kExitFailure;
    const std::vector<PluginEntry> plugins = filePlugins(*files);

    int status = kExitOk;
    Json results = Json::array();
    for (const std::string& file : options.files) {
        std::optional<Acceptance> accepted;
        std::optional<std::string> problem = inputFileProblem(file);
        if (!problem) {
            accepted = firstAcceptingPlugin(plugins, file);
            if (!accepted)
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
                Json{{"file", file}, {"plugin", accepted->plugin}, {"info", strInfoJson(accepted->info)}});
        } else {
            std::cout << file << ": " << accepted->plugin << '\n';
            printStrInfoText(std::cout, accepted->info);
        }
    }
    if (options.json)
        writeJson(std::cout, results);
    return status;
}

} // namespace tamrin::cli
