// The stream list's rules: which conversions a stream's kinds allow, the default conversion of a
// new entry, and which entries the list filter hides.
#include <gtest/gtest.h>

#include "stream_entry.h"

using namespace tamrin;

TEST(StreamEntry, ConversionsFollowTheStreamKinds)
{
    struct Case
    {
        Conversion type;
        uint16_t kind;
        bool allowed;
    };
    const Case cases[] = {
        {Conversion::Avi, kKindVideo, true},
        {Conversion::Avi, kKindVideo | kKindAudio, true},
        {Conversion::Avi, kKindAudio, false},
        {Conversion::Cstr, kKindAudio, false},
        {Conversion::Wave, kKindVideo | kKindAudio, true},
        {Conversion::Wave, kKindVideo, false},
        {Conversion::Mp3, kKindAudio, true},
        {Conversion::Mp3, kKindMusic, false},
        {Conversion::Bmp, kKindStill, true},
        {Conversion::Bmp, kKindVideo, false},
        {Conversion::Midi, kKindMusic, true},
        {Conversion::Midi, kKindAudio, false},
        {Conversion::None, 0, true},
        {Conversion::None, kKindStill, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(conversionAllowed(c.type, c.kind), c.allowed)
            << conversionType(c.type).shortName << " kind " << c.kind;

    EXPECT_EQ(defaultConversion(kKindVideo | kKindAudio), Conversion::Avi);
    EXPECT_EQ(defaultConversion(kKindAudio), Conversion::Wave);
    EXPECT_EQ(defaultConversion(kKindStill), Conversion::Bmp);
    EXPECT_EQ(defaultConversion(kKindMusic), Conversion::Midi);
    EXPECT_EQ(defaultConversion(0), Conversion::None);
    // A value out of the table reads as no conversion instead of past its end.
    EXPECT_STREQ(conversionType(static_cast<Conversion>(99)).extension, "");

    Conversion found = Conversion::None;
    EXPECT_TRUE(conversionByShortName("mid", &found));
    EXPECT_EQ(found, Conversion::Midi);
    EXPECT_FALSE(conversionByShortName("", &found));
    EXPECT_FALSE(conversionByShortName("OGG", &found));
}

TEST(StreamEntry, FilterHidesKindsWhoseBitIsClear)
{
    struct Case
    {
        uint16_t kind;
        int filter;
        bool shown;
    };
    const Case cases[] = {
        {kKindVideo | kKindAudio, kFilterAll, true},
        {kKindVideo | kKindAudio, 6, false}, // audio only: a movie with sound is not "exactly audio"
        {kKindAudio, 6, true},
        {kKindAudio, 1, false},
        {kKindVideo, 1, true},
        {kKindMusic, 6, true},
        {kKindMusic, 2, false},
        {kKindStill, 7, false},
        {kKindStill, 8, true},
        {0, 0, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(passesFilter(c.kind, c.filter), c.shown) << "kind " << c.kind << " filter " << c.filter;
}

TEST(StreamEntry, DurationsReadAsMinutesAndSeconds)
{
    EXPECT_EQ(formatDuration(0), "00:00");
    EXPECT_EQ(formatDuration(3000), "00:03");
    EXPECT_EQ(formatDuration(59999), "00:59");
    EXPECT_EQ(formatDuration(61000), "01:01");
    EXPECT_EQ(formatDuration(3600000 + 62000), "1:01:02");
}
