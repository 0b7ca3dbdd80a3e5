// The C face of the batch driver: a handle over the C++ batch, every export guarded.
#include <cstring>
#include <new>

#include "tamlib/batch.h"
#include "tamrin_common/c_guard.h"

struct PlbBatch
{
    tamlib::batch::Batch batch;
};

PLB_API PlbBatch* PlbCreateBatch(void)
{
    return tamrin::guarded<PlbBatch*>(nullptr, [] { return new (std::nothrow) PlbBatch; });
}

PLB_API void PlbDestroyBatch(PlbBatch* batch)
{
    delete batch;
}

PLB_API int32_t PlbAddBatchItem(PlbBatch* batch, const PlbBatchSource* source, int32_t type,
                                const char* outputPath, const void* settings, uint32_t settingsBytes)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        if (!batch || !source || (settingsBytes != 0 && !settings))
            return -1;
        tamlib::batch::Item item;
        item.source.plugin = source->pluginName ? source->pluginName : "";
        item.source.file = source->fileName ? source->fileName : "";
        item.source.title = source->title ? source->title : "";
        item.source.drive = source->drive;
        item.source.info = source->info;
        item.type = type;
        if (outputPath)
            item.output = outputPath;
        if (settings) {
            const auto* bytes = static_cast<const uint8_t*>(settings);
            item.settings.assign(bytes, bytes + settingsBytes);
        }
        if (!batch->batch.add(std::move(item)))
            return -1;
        return int32_t(batch->batch.items().size() - 1);
    });
}

PLB_API int32_t PlbSetBatchDefaults(PlbBatch* batch, int32_t type, const void* settings,
                                    uint32_t settingsBytes)
{
    return tamrin::guarded<int32_t>(
        0, [&] { return batch && batch->batch.setDefaults(type, settings, settingsBytes) ? 1 : 0; });
}

PLB_API void PlbSetBatchExisting(PlbBatch* batch, int32_t policy, void* window)
{
    if (batch)
        batch->batch.setExisting(tamlib::batch::existingPolicy(policy), window);
}

PLB_API int32_t PlbRunBatch(PlbBatch* batch, PlbBatchEventFn events, void* user)
{
    return tamrin::guarded<int32_t>(-1, [&]() -> int32_t {
        if (!batch)
            return -1;
        tamlib::batch::Batch::Listener listener;
        if (events)
            listener = [events, user](const PlbBatchStatus& status) { events(&status, user); };
        switch (batch->batch.run(listener)) {
        case tamlib::batch::Batch::Outcome::Completed:
            return 1;
        case tamlib::batch::Batch::Outcome::Cancelled:
            return 0;
        case tamlib::batch::Batch::Outcome::Busy:
            break;
        }
        return -1;
    });
}

PLB_API void PlbCancelBatch(PlbBatch* batch)
{
    if (batch)
        batch->batch.cancel();
}

PLB_API int32_t PlbGetBatchItemState(const PlbBatch* batch, int32_t index, int32_t* result, int32_t* done)
{
    if (!batch || index < 0 || size_t(index) >= batch->batch.items().size())
        return 0;
    const tamlib::batch::Item& item = batch->batch.items()[size_t(index)];
    if (result)
        *result = item.result;
    if (done)
        *done = item.done ? 1 : 0;
    return 1;
}
