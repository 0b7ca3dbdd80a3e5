/*
 * libtamlib batch conversion: a list of streams converted one after the other, with a progress
 * report that learns how fast each kind of conversion runs and estimates the total time.
 *
 * An item names its source (plugin, file or disc drive, StrInfo), a conversion type, an output
 * path and optionally its own settings record. A run converts every item that is not done and
 * has a type 0 to 5, in list order, on the caller's thread, until it is cancelled:
 *   - a missing output folder is created; an existing output is overwritten, refused with
 *     PLB_CONV_EXISTS, or the user is asked through the user-interface port (tamlib/ui_port.h;
 *     "No" gives PLB_CONV_OVERWRITE_DECLINED), as the existing-file policy says;
 *   - the item's converter (PlbConvertAVI, ...) is called with the item's record, or the batch's
 *     default record of the type, the output path written into it;
 *   - the item keeps the converter's result and is marked done, so that a later run leaves it.
 *     A failed item does not stop the batch.
 * Cancelling (PlbCancelBatch, from any thread or a signal handler) answers the converter in
 * progress 0 at its next report: it removes its output and returns. That item and those after it
 * are not marked done, nor is an item that failed as the cancel came; items that finished stay
 * done.
 *
 * What a front end shows comes in PlbBatchStatus records, on the running thread:
 *   PLB_BATCH_ITEM_START  the item's number of the count ("%d/%d"), source and output names;
 *   PLB_BATCH_PROGRESS    the item's percentage, the elapsed time and the estimated total;
 *   PLB_BATCH_ITEM_END    the item's result code and whether it is marked done.
 * The estimated total (estimateSeconds) is redrawn only when it is worth it: after the learned
 * speed of the current type settles (two reports whose speeds fall in the same 10 us bucket), or
 * when the elapsed time passes it, or when it moved by more than a tenth of the remaining time.
 * It is 0 until it was first shown. PlbFormatRemainingTime gives the remaining time as the
 * progress dialog's title shows it.
 */
#ifndef TAMLIB_BATCH_H
#define TAMLIB_BATCH_H

#include <stdint.h>

#include "streamkit/psr.h"
#include "tamlib/convert.h"
#include "tamlib/plb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Conversion types: PLB_CONV_TYPE_AVI to PLB_CONV_TYPE_MP3 (tamlib/convert.h) with their
 * converters and settings records (AVI PlbAviSettings, WAVE PlbWaveSettings, CSTR
 * PlbCstrSettings, BMP PlbBitmapSettings, MIDI PlbMidiSettings, MP3 PlbMp3Settings), and: */
#define PLB_CONV_TYPE_NONE 6 /* not converted */
#define PLB_CONV_TYPES 6

/* Result codes of the batch itself, beside the converters' (tamlib/convert.h). */
#define PLB_CONV_EXISTS 1000             /* the output exists and the policy refuses it */
#define PLB_CONV_OVERWRITE_DECLINED 1001 /* the user would not overwrite the output */
#define PLB_CONV_UNAVAILABLE 1002        /* this library has no converter of the type */

/* Existing-file policies, the values the main program's options file keeps. Any other value
 * asks. */
#define PLB_EXISTING_OVERWRITE 1040
#define PLB_EXISTING_FAIL 1041
#define PLB_EXISTING_ASK 1043

/* Events of a run. */
#define PLB_BATCH_ITEM_START 1
#define PLB_BATCH_PROGRESS 2
#define PLB_BATCH_ITEM_END 3

typedef struct PlbBatchStatus
{
    int32_t event;            /* PLB_BATCH_* */
    int32_t index;            /* the item's place in the list */
    uint32_t itemNumber;      /* 1 to itemCount: the items of this run, in order */
    uint32_t itemCount;       /* items of this run */
    const char* source;       /* the source file, or the stream's title for a disc stream */
    const char* output;       /* the output path */
    uint32_t done;            /* the item's progress as last reported, ms of stream */
    uint32_t total;           /* the item's length as last reported, ms of stream */
    uint32_t percent;         /* 0 to 100 */
    uint32_t elapsedMs;       /* since the run started */
    uint32_t estimateSeconds; /* the estimated total time on show; 0 while none is */
    int32_t estimateChanged;  /* non-zero when this report changed estimateSeconds */
    uint32_t remainingMs;     /* the remaining time as this report computed it */
    int32_t result;           /* ITEM_END: the item's result code */
    int32_t marked;           /* ITEM_END: non-zero when the item is marked done */
} PlbBatchStatus;

/* The status and its texts are valid during the call only. */
typedef void (*PlbBatchEventFn)(const PlbBatchStatus* status, void* user);

/* A source: a stream file (fileName), or a stream of the disc in `drive` (fileName null; drive -1
 * for the drive chosen in the settings) described by `title`. */
typedef struct PlbBatchSource
{
    const char* pluginName;
    const char* fileName;
    const char* title; /* may be null */
    int32_t drive;
    StrInfo info; /* its durationMs is the item's size for the estimate */
} PlbBatchSource;

typedef struct PlbBatch PlbBatch;

/* A new, empty batch (policy: ask); null when out of memory. */
PLB_API PlbBatch* PlbCreateBatch(void);
/* Not while it runs. */
PLB_API void PlbDestroyBatch(PlbBatch* batch);
/* Appends an item; returns its index, or -1 when refused: while the batch runs, a type outside 0
 * to 6, a record whose size is not the type's, or no output path that fits the record (outputPath
 * null or empty takes the record's own). `settings` null: the batch's default record of the type
 * at run time. */
PLB_API int32_t PlbAddBatchItem(PlbBatch* batch, const PlbBatchSource* source, int32_t type,
                                const char* outputPath, const void* settings, uint32_t settingsBytes);
/* The record used for items of `type` that have none (its output path is replaced); 1 when
 * taken, 0 for a record of another size or while the batch runs. Without one, a zeroed record is
 * used. */
PLB_API int32_t PlbSetBatchDefaults(PlbBatch* batch, int32_t type, const void* settings,
                                    uint32_t settingsBytes);
/* The existing-file policy and the window that questions belong to; set before a run. */
PLB_API void PlbSetBatchExisting(PlbBatch* batch, int32_t policy, void* window);
/* Runs the batch on this thread, telling `events` (may be null) what happens. 1 when every item
 * was visited, 0 when cancelled, -1 for a null batch or one already running. */
PLB_API int32_t PlbRunBatch(PlbBatch* batch, PlbBatchEventFn events, void* user);
/* Asks the running batch to stop; safe from any thread and from a signal handler. The next run
 * starts afresh. */
PLB_API void PlbCancelBatch(PlbBatch* batch);
/* An item's last result (-1 when never tried) and done mark; 1, or 0 for no such item. */
PLB_API int32_t PlbGetBatchItemState(const PlbBatch* batch, int32_t index, int32_t* result, int32_t* done);
/* The remaining time as the progress title shows it, rounded up to ten seconds: "HH:" when an
 * hour or more, "MM'" above a minute, "SS\"" for the seconds left over (3590 s shows as "60'").
 * Returns the length, or -1 when it does not fit `capacity` bytes with the terminator. */
PLB_API int32_t PlbFormatRemainingTime(uint32_t remainingMs, char* text, int32_t capacity);

#ifdef __cplusplus
}

#include <array>
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#ifndef PLB_CXX_API
#define PLB_CXX_API __attribute__((visibility("default")))
#endif

namespace tamlib::batch {

// Milliseconds of a monotonic clock; they wrap, and differences are taken modulo 2^32.
using Clock = std::function<uint32_t()>;
PLB_CXX_API uint32_t steadyMs();

// The learned figures of one conversion type.
struct TypeStats
{
    uint32_t totalItems = 0; // items of the type still expected to finish
    uint32_t doneItems = 0;  // finished successfully
    uint32_t totalSize = 0;  // ms of stream of the expected items
    uint32_t doneSize = 0;   // ms of stream of the finished ones
    uint32_t startTime = 0;  // ms an item needs before its first progress report
    uint32_t unitTime = 0;   // us of conversion per ms of stream
};

// The figures at the start of every batch, by type.
PLB_CXX_API TypeStats defaultStats(int32_t type);

// What one progress report of an item gives.
struct Estimate
{
    uint32_t elapsedMs = 0;
    uint32_t percent = 0;
    uint32_t remainingMs = 0;
    uint32_t totalSeconds = 0; // computed by this report
    uint32_t shownSeconds = 0; // on show after this report (0: none yet)
    bool stable = false;       // the learned speed did not move out of its 10 us bucket
    bool changed = false;      // shownSeconds was replaced by this report
};

// The time estimate of one batch: learns the start time and the speed of each type from the
// progress reports of its items, and scales the types that have no finished item yet alike.
class PLB_CXX_API Estimator
{
  public:
    explicit Estimator(Clock clock = steadyMs);
    // A new batch: the start is now, the figures are the defaults, nothing is expected.
    void start();
    // The counting pass: one more item of `type` (0 to 5) of `size` ms.
    void expect(int32_t type, uint32_t size);
    // The item now starting; its time counts from now.
    void beginItem(int32_t type, uint32_t size);
    // A progress report of the current item.
    Estimate report(uint32_t done, uint32_t total);
    // The item ended with `result`: a failure takes it out of the expectation, a success counts
    // it done. Not called for an item that was cancelled.
    void endItem(int32_t result);

    // The remaining ms by the averages alone (what shows before an item's first report).
    uint32_t remainingMs() const;
    uint32_t elapsedMs() const;
    uint32_t shownSeconds() const { return m_shown; }
    const TypeStats& stats(int32_t type) const { return m_stats[size_t(type)]; }

  private:
    uint64_t remainingUs(uint32_t done, uint32_t total, uint32_t sinceItem) const;

    Clock m_clock;
    std::array<TypeStats, PLB_CONV_TYPES> m_stats{};
    uint32_t m_batchStart = 0;
    uint32_t m_itemStart = 0;
    int32_t m_type = 0;
    uint32_t m_size = 0;
    uint32_t m_shown = 0;
};

// The remaining time as the progress title shows it (see PlbFormatRemainingTime).
PLB_CXX_API std::string remainingText(uint32_t remainingMs);

// A converter of the table: the converters' six arguments, the settings record untyped.
using Converter = int32_t (*)(const char* pluginName, const char* fileName, const StrInfo* info,
                              const void* settings, PlbProgressFn progress, void* user);
using ConverterTable = std::array<Converter, PLB_CONV_TYPES>;
// This library's converters by type. A null entry (a converter this build lacks) makes items
// of that type fail with PLB_CONV_UNAVAILABLE.
PLB_CXX_API ConverterTable libraryConverters();
// The size of a type's settings record; 0 for PLB_CONV_TYPE_NONE and unknown types.
PLB_CXX_API size_t settingsBytes(int32_t type);

enum class Existing
{
    Overwrite,
    Fail,
    Ask,
};
// The policy of an options-file value (PLB_EXISTING_*; any other value asks).
PLB_CXX_API Existing existingPolicy(int32_t value);

struct Source
{
    std::string plugin;
    std::string file; // empty: a stream of the disc in `drive`
    std::string title;
    int32_t drive = -1; // -1: the drive of the settings
    StrInfo info{};
};

struct Item
{
    Source source;
    int32_t type = PLB_CONV_TYPE_NONE;
    std::string output;            // empty: the record's own path
    std::vector<uint8_t> settings; // the type's record, or empty for the batch's default
    bool done = false;             // converted (or failed) in an earlier run: left alone
    bool cancelled = false;        // stopped in progress by the last run
    int32_t result = -1;           // the last result; -1 when never tried
};

class PLB_CXX_API Batch
{
  public:
    using Listener = std::function<void(const PlbBatchStatus&)>;

    explicit Batch(ConverterTable converters = libraryConverters(), Clock clock = steadyMs);

    // Appends an item; false when refused (as PlbAddBatchItem) or while a run goes on.
    bool add(Item item);
    // The list; change it only while no run is going on.
    std::vector<Item>& items() { return m_items; }
    const std::vector<Item>& items() const { return m_items; }
    // Both before a run, as PlbSetBatchDefaults and PlbSetBatchExisting.
    bool setDefaults(int32_t type, const void* record, size_t bytes);
    void setExisting(Existing policy, void* window = nullptr);

    enum class Outcome
    {
        Completed, // every item was visited
        Cancelled,
        Busy, // a run was already going on
    };
    // Converts the items not done, on this thread. A listener's exception cancels the run.
    Outcome run(const Listener& listener = {});
    // Stops the run at the next report or between items; any thread, a signal handler too.
    void cancel() { m_cancel.store(true); }
    bool cancelRequested() const { return m_cancel.load(); }
    const Estimator& estimator() const { return m_estimator; }

  private:
    struct Run;
    static int32_t reportProgress(uint32_t done, uint32_t total, void* user);
    int32_t checkOutput(const std::string& path);
    std::vector<uint8_t> recordOf(const Item& item, const std::string& path) const;

    ConverterTable m_converters;
    Estimator m_estimator;
    std::vector<Item> m_items;
    std::array<std::vector<uint8_t>, PLB_CONV_TYPES> m_defaults;
    Existing m_existing = Existing::Ask;
    void* m_window = nullptr;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_running{false};
};

} // namespace tamlib::batch

static_assert(sizeof(PlbBatchSource) == 80, "batch source layout");
#endif

#endif
