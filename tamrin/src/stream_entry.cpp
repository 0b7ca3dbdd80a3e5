#include "stream_entry.h"

#include <QObject>

#include <array>

#include "tamlib/strings.h"

namespace tamrin {

namespace {

constexpr std::array<ConversionType, kConversionCount> kTypes{{
    {"AVI", PLB_IDS_TO_AVI, "avi", kKindVideo},
    {"WAVE", PLB_IDS_TO_WAVE, "wav", kKindAudio},
    {"CSTR", PLB_IDS_TO_CSTR, "cstr", kKindVideo},
    {"BMP", PLB_IDS_TO_BMP, "bmp", kKindStill},
    {"MID", PLB_IDS_TO_MIDI, "mid", kKindMusic},
    {"MP3", PLB_IDS_TO_MP3, "mp3", kKindAudio},
    {"", PLB_IDS_NO_CONVERSION, "", 0},
}};

} // namespace

const ConversionType& conversionType(Conversion type)
{
    const auto index = static_cast<size_t>(type);
    return kTypes[index < kTypes.size() ? index : kTypes.size() - 1];
}

bool conversionByShortName(const QString& name, Conversion* type)
{
    if (name.isEmpty())
        return false;
    for (size_t i = 0; i < kTypes.size(); ++i) {
        if (name.compare(QLatin1String(kTypes[i].shortName), Qt::CaseInsensitive) == 0) {
            if (type)
                *type = static_cast<Conversion>(i);
            return true;
        }
    }
    return false;
}

bool conversionAllowed(Conversion type, uint16_t kind)
{
    const uint16_t allowed = conversionType(type).allowedKind;
    return allowed == 0 || (kind & allowed) != 0;
}

Conversion defaultConversion(uint16_t kind)
{
    if (kind & kKindVideo)
        return Conversion::Avi;
    if (kind & kKindAudio)
        return Conversion::Wave;
    if (kind & kKindStill)
        return Conversion::Bmp;
    if (kind & kKindMusic)
        return Conversion::Midi;
    return Conversion::None;
}

bool passesFilter(uint16_t kind, int filter)
{
    if ((kind & kKindVideo) && !(filter & 1))
        return false;
    if (kind == kKindAudio && !(filter & 2))
        return false;
    if ((kind & kKindMusic) && !(filter & 4))
        return false;
    if ((kind & kKindStill) && !(filter & 8))
        return false;
    return true;
}

QString formatDuration(uint32_t ms)
{
    const uint32_t seconds = ms / 1000;
    const uint32_t hours = seconds / 3600;
    const QString minSec =
        QString("%1:%2").arg((seconds / 60) % 60, 2, 10, QChar('0')).arg(seconds % 60, 2, 10, QChar('0'));
    return hours ? QString("%1:%2").arg(hours).arg(minSec) : minSec;
}

QString kindText(uint16_t kind)
{
    if ((kind & kKindVideo) && (kind & kKindAudio))
        return QObject::tr("Movie with sound");
    if (kind & kKindVideo)
        return QObject::tr("Movie");
    if (kind & kKindAudio)
        return QObject::tr("Sound");
    if (kind & kKindStill)
        return QObject::tr("Still image");
    if (kind & kKindMusic)
        return QObject::tr("Music");
    return QObject::tr("Unknown");
}

} // namespace tamrin
