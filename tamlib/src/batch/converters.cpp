// The converters a batch calls, by type, each taking its settings record untyped: the record is
// copied into its own type before the converter sees it, so its alignment never matters.
#include <cstring>

#include "tamlib/batch.h"

namespace tamlib::batch {

namespace {

template <typename Settings,
          int32_t (*Convert)(const char*, const char*, const StrInfo*, const Settings*, PlbProgressFn, void*)>
int32_t typed(const char* pluginName, const char* fileName, const StrInfo* info, const void* settings,
              PlbProgressFn progress, void* user)
{
    Settings record;
    std::memcpy(&record, settings, sizeof record);
    return Convert(pluginName, fileName, info, &record, progress, user);
}


} // namespace

ConverterTable libraryConverters()
{
    ConverterTable table{};
    table[PLB_CONV_TYPE_AVI] = typed<PlbAviSettings, PlbConvertAVI>;
    table[PLB_CONV_TYPE_WAVE] = typed<PlbWaveSettings, PlbConvertWAVE>;
    table[PLB_CONV_TYPE_MP3] = typed<PlbMp3Settings, PlbConvertGOGO>;
    table[PLB_CONV_TYPE_BMP] = typed<PlbBitmapSettings, PlbConvertBITMAP>;
    table[PLB_CONV_TYPE_MIDI] = typed<PlbMidiSettings, PlbConvertMIDI>;
    table[PLB_CONV_TYPE_CSTR] = typed<PlbCstrSettings, PlbConvertCSTR>;
    return table;
}

size_t settingsBytes(int32_t type)
{
    switch (type) {
    case PLB_CONV_TYPE_AVI:
        return sizeof(PlbAviSettings);
    case PLB_CONV_TYPE_WAVE:
        return sizeof(PlbWaveSettings);
    case PLB_CONV_TYPE_MP3:
        return sizeof(PlbMp3Settings);
    case PLB_CONV_TYPE_BMP:
        return sizeof(PlbBitmapSettings);
    case PLB_CONV_TYPE_MIDI:
        return sizeof(PlbMidiSettings);
    case PLB_CONV_TYPE_CSTR:
        return sizeof(PlbCstrSettings);
    default:
        return 0;
    }
}

Existing existingPolicy(int32_t value)
{
    switch (value) {
    case PLB_EXISTING_OVERWRITE:
        return Existing::Overwrite;
    case PLB_EXISTING_FAIL:
        return Existing::Fail;
    default:
        return Existing::Ask;
    }
}

} // namespace tamlib::batch
