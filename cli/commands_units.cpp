// units: read a file's stream from start to end, as the player does, and show every unit with
// a CRC-32 of its payload. The per-unit checksums are the regression guard of the plugins.
#include <unistd.h>
#include <zlib.h>

#include <iostream>
#include <memory>
#include <optional>

#include "command_set.h"
#include "commands.h"
#include "json_output.h"
#include "output.h"
#include "plugin_folder.h"
#include "progress.h"
#include "stream_input.h"
#include "streamkit/lbr.h"
#include "tamlib/unit_buffer.h"

namespace tamrin::cli {

namespace {

uint32_t crcOf(uint32_t crc, const uint8_t* bytes, size_t length)
{
    // zlib takes lengths as uInt; payloads here are far below its limit.
    return uint32_t(::crc32(crc, bytes, uInt(length)));
}

// The checksum of a unit as it would be stored: an owned unit's reference replaced by the
// block it points to, so that the value does not depend on where the plugin allocated it.
uint32_t payloadCrc(const PsrReadRecord& record)
{
    uint32_t crc = uint32_t(::crc32(0, nullptr, 0));
    if ((record.unitFlags & UnitOwned) && record.payloadBytes >= PSR_OWNED_REF_BYTES) {
        const auto* block = static_cast<const uint8_t*>(PsrOwnedBlock(&record));
        if (block)
            crc = crcOf(crc, block, PsrOwnedBlockSize(&record));
        return crcOf(crc, record.payload + PSR_OWNED_REF_BYTES, record.payloadBytes - PSR_OWNED_REF_BYTES);
    }
    return crcOf(crc, record.payload, record.payloadBytes);
}

} // namespace

std::optional<std::string> unitsUsageProblem(const UnitsOptions& options)
{
    return streamChoiceProblem(options.file, options.plugin, options.disc);
}

int runUnits(const UnitsOptions& options)
{
    StreamInput input;
    if (!input.accept({options.file, options.plugin, options.disc, !options.noProgress}) ||
        !input.open(LBR_WANT_VIDEO | LBR_WANT_AUDIO))
        return kExitFailure;
    const Acceptance* accepted = &input.accepted();
    StreamState* const stream = input.stream();
    const std::string& subject = input.subject();

    tamlib::UnitBuffer buffer;
    PsrReadRecord* record = buffer.record();

    if (!options.json) {
        std::cout << subject << ": " << shownPluginName(accepted->plugin) << '\n';
        printUnitHeaderText(std::cout);
    }
    // In text mode on a terminal the unit lines themselves show the progress; a second line on
    // the same screen would only tear them.
    const bool linesOnTerminal = !options.json && ::isatty(STDOUT_FILENO) == 1;
    ProgressLine progress(!options.noProgress && !linesOnTerminal);

    int status = kExitOk;
    UnitTotals totals;
    Json units = Json::array();
    uint32_t lastFrame = 0;
    for (uint64_t index = 0; options.limit == 0 || index < options.limit; ++index) {
        if (LbrReadStream(stream, 0, record) != 1)
            break;
        if (!buffer.holdsPayload()) {
            progress.finish();
            reportError(subject, "unit " + std::to_string(index) + " claims " +
                                     std::to_string(record->payloadBytes) +
                                     " payload bytes, more than the read buffer holds");
            status = kExitFailure;
            break;
        }
        const UnitLine unit{index,
                            record->frameNumber,
                            record->width,
                            record->height,
                            record->param,
                            record->unitKind,
                            record->unitFlags,
                            record->payloadBytes,
                            payloadCrc(*record)};
        if (LbrFreeReadBuffer(stream, record) != 1) {
            progress.finish();
            reportError(subject, shownPluginName(accepted->plugin) + " did not take back unit " +
                                     std::to_string(index));
            status = kExitFailure;
        }

        if (isVideoKind(unit.unitKind)) {
            ++totals.videoUnits;
            lastFrame = unit.frameNumber;
        } else {
            ++totals.audioUnits;
        }
        totals.payloadBytes += unit.payloadBytes;
        if (options.json)
            units.push_back(unitJson(unit));
        else
            printUnitText(std::cout, unit);
        progress.update(index + 1, lastFrame, accepted->info.frameCount);
    }
    progress.finish();

    if (options.json) {
        Json document;
        document["file"] = options.file;
        document["plugin"] = shownPluginName(accepted->plugin);
        document["info"] = strInfoJson(accepted->info);
        document["units"] = std::move(units);
        document["totals"] = unitTotalsJson(totals);
        writeJson(std::cout, document);
    } else {
        printUnitTotalsText(std::cout, totals);
    }
    return status;
}

void addUnitsCommand(CommandSet& commands)
{
    auto options = std::make_shared<UnitsOptions>();
    CLI::App* units = commands.add(
        nullptr, "units", "Read a file's stream unit by unit; show each unit and a checksum of its payload.",
        [options] {
            return runUnlessProblem("units", unitsUsageProblem(*options), [&] { return runUnits(*options); });
        });
    units->add_option("file", options->file, "The file to read, a disc image or drive index, or IMAGE#N.")
        ->required();
    addStreamOptions(units, options->plugin, options->disc);
    units->add_option("--limit", options->limit, "Stop after this many units.")
        ->check(wholeRange(1, UINT64_MAX));
    addJsonFlag(units, options->json);
    addNoProgressFlag(units, options->noProgress);
}

} // namespace tamrin::cli
