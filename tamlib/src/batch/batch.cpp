// The batch driver: the counting pass, then each item in list order: its output checked against
// the existing-file policy, its converter called with the batch's progress callback, its result
// and done mark kept, and the estimate told everything it learns.
#include <cstring>
#include <filesystem>
#include <system_error>

#include "strings/string_table.h"
#include "tamlib/batch.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"

namespace tamlib::batch {

namespace fs = std::filesystem;

namespace {

bool convertible(int32_t type)
{
    return type >= 0 && type < PLB_CONV_TYPES;
}

// The output path of an item: its own, else the one of its record; empty when neither fits a
// record's path field.
std::string outputOf(const Item& item)
{
    std::string path = item.output;
    if (path.empty() && item.settings.size() >= PLB_PATH_BYTES) {
        const char* field = reinterpret_cast<const char*>(item.settings.data());
        path.assign(field, strnlen(field, PLB_PATH_BYTES));
    }
    return path.size() < PLB_PATH_BYTES ? path : std::string();
}

std::string overwriteQuestion(const std::string& path)
{
    std::string text(lookupString(currentLanguage(), PLB_IDS_BATCH_OVERWRITE_QUESTION));
    if (const size_t at = text.find("%s"); at != std::string::npos)
        text.replace(at, 2, path);
    return text;
}

} // namespace

// What the progress callback of a running item needs.
struct Batch::Run
{
    Batch& batch;
    const Listener& listener;
    PlbBatchStatus status{};
    bool stopped = false; // the item was told to stop

    void emit(int32_t event)
    {
        status.event = event;
        if (!listener)
            return;
        try {
            listener(status);
        } catch (...) {
            batch.cancel();
        }
    }
};

Batch::Batch(ConverterTable converters, Clock clock) : m_converters(converters), m_estimator(std::move(clock))
{
}

bool Batch::add(Item item)
{
    if (m_running.load())
        return false;
    if (item.type < 0 || item.type > PLB_CONV_TYPE_NONE)
        return false;
    if (convertible(item.type)) {
        if (!item.settings.empty() && item.settings.size() != settingsBytes(item.type))
            return false;
        if (outputOf(item).empty())
            return false;
    }
    item.cancelled = false;
    m_items.push_back(std::move(item));
    return true;
}

bool Batch::setDefaults(int32_t type, const void* record, size_t bytes)
{
    if (m_running.load() || !convertible(type) || !record || bytes != settingsBytes(type))
        return false;
    const auto* begin = static_cast<const uint8_t*>(record);
    m_defaults[size_t(type)].assign(begin, begin + bytes);
    return true;
}

void Batch::setExisting(Existing policy, void* window)
{
    m_existing = policy;
    m_window = window;
}

std::vector<uint8_t> Batch::recordOf(const Item& item, const std::string& path) const
{
    std::vector<uint8_t> record = item.settings;
    if (record.empty())
        record = m_defaults[size_t(item.type)];
    record.resize(settingsBytes(item.type));
    std::memset(record.data(), 0, PLB_PATH_BYTES);
    std::memcpy(record.data(), path.data(), path.size());
    return record;
}

int32_t Batch::checkOutput(const std::string& path)
{
    if (path.empty())
        return PLB_CONV_OK; // the converter refuses it with its own code
    const fs::path target(path);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(target, error))) {
        if (target.has_parent_path())
            fs::create_directories(target.parent_path(), error); // a failure shows in the converter's code
        return PLB_CONV_OK;
    }
    switch (m_existing) {
    case Existing::Overwrite:
        return PLB_CONV_OK;
    case Existing::Fail:
        return PLB_CONV_EXISTS;
    case Existing::Ask:
        break;
    }
    const std::string caption(lookupString(currentLanguage(), PLB_IDS_BATCH_OVERWRITE_CAPTION));
    // No is the default answer: a port that cannot ask never overwrites.
    const int32_t answer = PlbMessage(m_window, PLB_MB_YESNO | PLB_MB_ICONQUESTION | PLB_MB_DEFBUTTON2,
                                      caption.c_str(), "%s", overwriteQuestion(path).c_str());
    return answer == PLB_IDYES ? PLB_CONV_OK : PLB_CONV_OVERWRITE_DECLINED;
}

int32_t Batch::reportProgress(uint32_t done, uint32_t total, void* user)
{
    auto& run = *static_cast<Run*>(user);
    if (run.batch.m_cancel.load()) {
        run.stopped = true;
        return 0;
    }
    try {
        const Estimate estimate = run.batch.m_estimator.report(done, total);
        PlbBatchStatus& status = run.status;
        status.done = done;
        status.total = total;
        status.percent = estimate.percent;
        status.elapsedMs = estimate.elapsedMs;
        status.estimateSeconds = estimate.shownSeconds;
        status.estimateChanged = estimate.changed ? 1 : 0;
        status.remainingMs = estimate.remainingMs;
        run.emit(PLB_BATCH_PROGRESS);
    } catch (...) {
        run.batch.cancel();
    }
    if (run.batch.m_cancel.load()) {
        run.stopped = true;
        return 0;
    }
    return 1;
}

Batch::Outcome Batch::run(const Listener& listener)
{
    bool idle = false;
    if (!m_running.compare_exchange_strong(idle, true))
        return Outcome::Busy;
    struct Release
    {
        std::atomic<bool>& running;
        ~Release() { running.store(false); }
    } release{m_running};
    m_cancel.store(false);

    // The counting pass.
    m_estimator.start();
    std::vector<size_t> order;
    for (size_t index = 0; index < m_items.size(); ++index) {
        const Item& item = m_items[index];
        if (item.done || !convertible(item.type))
            continue;
        m_estimator.expect(item.type, item.source.info.durationMs);
        order.push_back(index);
    }

    Run run{*this, listener};
    run.status.itemCount = uint32_t(order.size());
    for (size_t number = 0; number < order.size(); ++number) {
        if (m_cancel.load())
            return Outcome::Cancelled;
        Item& item = m_items[order[number]];
        item.cancelled = false;
        const std::string output = outputOf(item);
        const std::string& source = !item.source.file.empty()    ? item.source.file
                                    : !item.source.title.empty() ? item.source.title
                                                                 : item.source.plugin;
        PlbBatchStatus& status = run.status;
        status = PlbBatchStatus{};
        status.index = int32_t(order[number]);
        status.itemNumber = uint32_t(number + 1);
        status.itemCount = uint32_t(order.size());
        status.source = source.c_str();
        status.output = output.c_str();
        status.total = item.source.info.durationMs;
        status.elapsedMs = m_estimator.elapsedMs();
        status.estimateSeconds = m_estimator.shownSeconds();
        status.remainingMs = m_estimator.remainingMs();
        status.result = -1;
        run.emit(PLB_BATCH_ITEM_START);
        if (m_cancel.load()) {
            // Stopped before it began: nothing asked, nothing converted.
            item.cancelled = true;
            status.marked = 0;
            run.emit(PLB_BATCH_ITEM_END);
            return Outcome::Cancelled;
        }

        run.stopped = false;
        int32_t result = checkOutput(output);
        m_estimator.beginItem(item.type, item.source.info.durationMs);
        if (result == PLB_CONV_OK) {
            if (const Converter convert = m_converters[size_t(item.type)]; !convert) {
                result = PLB_CONV_UNAVAILABLE;
            } else {
                const std::vector<uint8_t> record = recordOf(item, output);
                const int32_t drive = PlbSetConvertDrive(item.source.drive);
                result = convert(item.source.plugin.c_str(),
                                 item.source.file.empty() ? nullptr : item.source.file.c_str(),
                                 &item.source.info, record.data(), reportProgress, &run);
                PlbSetConvertDrive(drive);
            }
        }
        item.result = result;
        // An item told to stop did not finish: it neither counts nor is marked. One that failed
        // while the batch was being cancelled is not marked either; one that finished is kept
        // done, its output being complete.
        const bool stopped = run.stopped || (m_cancel.load() && result != PLB_CONV_OK);
        if (!run.stopped)
            m_estimator.endItem(result);
        item.done = !stopped;
        item.cancelled = stopped;
        status.result = result;
        status.marked = item.done ? 1 : 0;
        status.elapsedMs = m_estimator.elapsedMs();
        run.emit(PLB_BATCH_ITEM_END);
        if (stopped)
            return Outcome::Cancelled;
    }
    return Outcome::Completed;
}

} // namespace tamlib::batch
