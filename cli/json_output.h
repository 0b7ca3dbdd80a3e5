// JSON output of the commands; the layout is described in json_output.cpp.
#ifndef TAMRIN_CLI_JSON_OUTPUT_H
#define TAMRIN_CLI_JSON_OUTPUT_H

#include <nlohmann/json.hpp>

#include <ostream>

#include "plugin_folder.h"
#include "streamkit/psr.h"
#include "unit_line.h"

namespace tamrin::cli {

using Json = nlohmann::ordered_json;

Json pluginJson(const PluginEntry& entry);
Json strInfoJson(const StrInfo& info);
// The fields of strInfoJson added to an object (after the fields it already has).
void addStrInfoFields(Json& object, const StrInfo& info);
Json unitJson(const UnitLine& unit);
Json unitTotalsJson(const UnitTotals& totals);

// Indented by two spaces, one document per call, followed by a newline.
void writeJson(std::ostream& out, const Json& document);

} // namespace tamrin::cli

#endif
