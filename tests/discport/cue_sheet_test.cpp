// The CUE sheet parser on inline texts: what it accepts, what it records, what it refuses and why.
#include <gtest/gtest.h>

#include <string>

#include "image/cue_sheet.h"

using namespace discport::image;

namespace {

CueSheet parseOk(const std::string& text)
{
    CueSheet sheet;
    std::string error;
    EXPECT_TRUE(parseCueSheet(text, sheet, error)) << error << "\n" << text;
    EXPECT_TRUE(error.empty() || !sheet.tracks.empty());
    return sheet;
}

std::string parseError(const std::string& text)
{
    CueSheet sheet;
    std::string error;
    EXPECT_FALSE(parseCueSheet(text, sheet, error)) << text;
    EXPECT_FALSE(error.empty());
    return error;
}

} // namespace

TEST(CueSheet, TimesAreMinutesSecondsFrames)
{
    uint32_t sectors = 1;
    ASSERT_TRUE(parseCueTime("00:00:00", sectors));
    EXPECT_EQ(sectors, 0u);
    ASSERT_TRUE(parseCueTime("00:27:13", sectors));
    EXPECT_EQ(sectors, 2038u);
    ASSERT_TRUE(parseCueTime("00:25:13", sectors));
    EXPECT_EQ(sectors, 1888u);
    ASSERT_TRUE(parseCueTime("79:59:74", sectors));
    EXPECT_EQ(sectors, (79u * 60 + 59) * 75 + 74);
    ASSERT_TRUE(parseCueTime("100:00:00", sectors)); // long discs
    EXPECT_EQ(sectors, 100u * 60 * 75);
    ASSERT_TRUE(parseCueTime("1:2:3", sectors));
    EXPECT_EQ(sectors, 2u * 75 + 3 + 60 * 75);

    for (const char* bad : {"", "00:00", "00:60:00", "00:00:75", "0a:00:00", "00:00:00:00", "-1:00:00",
                            "1000:00:00", "00::00", "00:000:00", " 00:00:00", "00:00:00 "})
        EXPECT_FALSE(parseCueTime(bad, sectors)) << "'" << bad << "'";
}

TEST(CueSheet, SheetOfTheSharedDisc)
{
    const CueSheet sheet = parseOk("FILE \"psxdisc_a.bin\" BINARY\n"
                                   "  TRACK 01 MODE2/2352\n"
                                   "    INDEX 01 00:00:00\n"
                                   "  TRACK 02 AUDIO\n"
                                   "    INDEX 00 00:25:13\n"
                                   "    INDEX 01 00:27:13\n");
    ASSERT_EQ(sheet.files.size(), 1u);
    EXPECT_EQ(sheet.files[0].name, "psxdisc_a.bin");
    EXPECT_FALSE(sheet.files[0].bigEndianAudio);
    ASSERT_EQ(sheet.tracks.size(), 2u);
    EXPECT_EQ(sheet.tracks[0].number, 1);
    EXPECT_EQ(sheet.tracks[0].mode, TrackMode::Mode2_2352);
    EXPECT_FALSE(sheet.tracks[0].index0.has_value());
    EXPECT_EQ(sheet.tracks[0].index1, 0u);
    EXPECT_EQ(sheet.tracks[1].number, 2);
    EXPECT_EQ(sheet.tracks[1].mode, TrackMode::Audio);
    ASSERT_TRUE(sheet.tracks[1].index0.has_value());
    EXPECT_EQ(*sheet.tracks[1].index0, 1888u);
    EXPECT_EQ(sheet.tracks[1].index1, 2038u);
    EXPECT_EQ(sheet.tracks[1].file, 0u);
    EXPECT_TRUE(sheet.catalog.empty());
}

TEST(CueSheet, SeveralFilesNamesFlagsGapsAndComments)
{
    // Byte order mark, CRLF line ends, lower-case commands, tabs, unquoted names with blanks.
    const CueSheet sheet = parseOk("\xEF\xBB\xBFREM GENRE Test\r\n"
                                   "CATALOG 0123456789012\r\n"
                                   "PERFORMER \"Someone\"\r\n"
                                   "TITLE \"A disc\"\r\n"
                                   "file \"Game (Track 1).bin\" binary\r\n"
                                   "\ttrack 1 mode1/2048\r\n"
                                   "\t\tindex 1 0:0:0\r\n"
                                   "\t\tPOSTGAP 00:02:00\r\n"
                                   "FILE Game Track 2.bin MOTOROLA\r\n"
                                   "  TRACK 02 AUDIO\r\n"
                                   "    TITLE \"Song\"\r\n"
                                   "    FLAGS DCP PRE\r\n"
                                   "    ISRC ABCDE1234567\r\n"
                                   "    PREGAP 00:02:00\r\n"
                                   "    INDEX 01 00:00:00\r\n"
                                   "    INDEX 02 00:01:00\r\n"
                                   "FILE track3.bin BINARY\r\n"
                                   "  TRACK 03 MODE2/2336\r\n"
                                   "    FLAGS 4CH SCMS\r\n"
                                   "    INDEX 00 00:00:00\r\n"
                                   "    INDEX 01 00:02:00\r\n"
                                   "  TRACK 04 MODE1/2352\r\n"
                                   "    INDEX 01 00:03:00\r\n");
    ASSERT_EQ(sheet.files.size(), 3u);
    EXPECT_EQ(sheet.files[0].name, "Game (Track 1).bin");
    EXPECT_EQ(sheet.files[1].name, "Game Track 2.bin");
    EXPECT_TRUE(sheet.files[1].bigEndianAudio);
    EXPECT_EQ(sheet.files[2].name, "track3.bin");
    EXPECT_EQ(sheet.catalog, "0123456789012");

    ASSERT_EQ(sheet.tracks.size(), 4u);
    EXPECT_EQ(sheet.tracks[0].mode, TrackMode::Mode1_2048);
    EXPECT_EQ(sheet.tracks[0].postgap, 150u);
    EXPECT_EQ(sheet.tracks[0].file, 0u);
    EXPECT_EQ(sheet.tracks[1].pregap, 150u);
    EXPECT_EQ(sheet.tracks[1].index1, 0u);
    EXPECT_EQ(sheet.tracks[1].control, 0x03); // DCP 2 + PRE 1
    EXPECT_EQ(sheet.tracks[1].file, 1u);
    EXPECT_EQ(sheet.tracks[2].mode, TrackMode::Mode2_2336);
    EXPECT_EQ(sheet.tracks[2].control, 0x08); // 4CH; SCMS has no control bit
    EXPECT_EQ(*sheet.tracks[2].index0, 0u);
    EXPECT_EQ(sheet.tracks[2].index1, 150u);
    EXPECT_EQ(sheet.tracks[3].mode, TrackMode::Mode1_2352);
    EXPECT_EQ(sheet.tracks[3].index1, 225u);
    EXPECT_EQ(sheet.tracks[3].file, 2u);

    EXPECT_EQ(storedSectorSize(TrackMode::Mode1_2048), 2048u);
    EXPECT_EQ(storedSectorSize(TrackMode::Mode2_2336), 2336u);
    EXPECT_EQ(storedSectorSize(TrackMode::Audio), 2352u);
    EXPECT_EQ(storedSectorSize(TrackMode::Mode2_2352), 2352u);
}

TEST(CueSheet, OldMacLineEndsAndNoFinalNewline)
{
    const CueSheet sheet =
        parseOk("FILE a.bin BINARY\rTRACK 05 AUDIO\rINDEX 01 00:00:00\rTRACK 06 AUDIO\rINDEX 01 00:00:10");
    ASSERT_EQ(sheet.tracks.size(), 2u);
    EXPECT_EQ(sheet.tracks[0].number, 5);
    EXPECT_EQ(sheet.tracks[1].index1, 10u);
}

TEST(CueSheet, NinetyNineTracksAreTheMost)
{
    std::string text = "FILE \"a.bin\" BINARY\n";
    for (int t = 1; t <= 99; ++t)
        text += "TRACK " + std::to_string(t) + " AUDIO\nINDEX 01 00:0" + std::to_string(t / 75) + ":" +
                std::to_string(t % 75) + "\n";
    const CueSheet sheet = parseOk(text);
    EXPECT_EQ(sheet.tracks.size(), 99u);

    text += "TRACK 100 AUDIO\nINDEX 01 00:02:00\n";
    const std::string error = parseError(text);
    EXPECT_NE(error.find("too many tracks"), std::string::npos) << error;
    EXPECT_NE(error.find("line 200"), std::string::npos) << error;
}

struct BadSheet
{
    const char* text;
    const char* reason; // part of the message
};

TEST(CueSheet, MalformedSheetsAreRefusedWithAReason)
{
    const BadSheet cases[] = {
        {"", "no tracks"},
        {"REM nothing here\n", "no tracks"},
        {"TRACK 01 AUDIO\nINDEX 01 00:00:00\n", "TRACK before any FILE"},
        {"FILE a.bin BINARY\n", "has no tracks"},
        {"FILE a.bin BINARY\nFILE b.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "has no tracks"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\n", "no INDEX 01"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:01:00\n",
         "no INDEX 01"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n", "bad time 00:60:00"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:75\n", "bad time"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 0x:00:00\n", "bad time"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nPREGAP 2 seconds\n", "PREGAP takes 1 argument"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nPREGAP 00:02\n", "bad time"},
        {"FILE a.bin BINARY\nTRACK 00 AUDIO\nINDEX 01 00:00:00\n", "out of range"},
        {"FILE a.bin BINARY\nTRACK 1a AUDIO\nINDEX 01 00:00:00\n", "bad track number"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 00:01:00\n",
         "does not follow track 1"},
        {"FILE a.bin BINARY\nTRACK 01 CDG\nINDEX 01 00:00:00\n", "unsupported track mode CDG"},
        {"FILE a.bin BINARY\nTRACK 01 MODE2/2048\nINDEX 01 00:00:00\n", "unsupported track mode"},
        {"FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "WAVE is not supported"},
        {"FILE \"a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "closing quote"},
        {"FILE \"a.bin\" \"b.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "FILE takes 2 arguments"},
        {"FILE BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "needs a name and a type"},
        {"FILE \"\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "empty name"},
        // Indexes out of order, within a track and across tracks of one file.
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:02:00\nINDEX 01 00:03:00\n",
         "does not follow INDEX 1"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:02:00\nINDEX 00 00:01:00\n",
         "does not follow INDEX 1"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 00 00:02:00\nINDEX 01 00:01:00\n",
         "comes before the previous"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:01:00\nINDEX 02 00:00:10\n",
         "comes before the previous"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 02 00:01:00\n", "before INDEX 01"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:10:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n",
         "does not lie after INDEX 01 of the track before"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:10:00\nTRACK 02 AUDIO\nINDEX 00 00:10:00\nINDEX 01 "
         "00:12:00\n",
         "does not lie after INDEX 01 of the track before"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 100 00:01:00\n", "bad index number"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nPREGAP 00:02:00\n", "PREGAP must come once"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nPREGAP 00:02:00\nPREGAP 00:02:00\nINDEX 01 00:00:00\n",
         "PREGAP must come once"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nPOSTGAP 00:02:00\nINDEX 01 00:00:00\n",
         "POSTGAP must come once"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 00 00:00:00\nINDEX 01 00:02:00\nPOSTGAP 00:01:00\nINDEX "
         "02 00:03:00\n",
         "INDEX after POSTGAP"},
        {"FILE a.bin BINARY\nINDEX 01 00:00:00\n", "INDEX outside a track"},
        {"FILE a.bin BINARY\nPREGAP 00:02:00\n", "PREGAP outside a track"},
        {"FILE a.bin BINARY\nFLAGS DCP\n", "FLAGS outside a track"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nFLAGS LOUD\nINDEX 01 00:00:00\n", "unknown flag LOUD"},
        {"CATALOG 12345\nFILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n", "13 digits"},
        {"CATALOG 0123456789012\nCATALOG 0123456789012\n", "second CATALOG"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01\n", "INDEX takes 2 arguments"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO extra\nINDEX 01 00:00:00\n", "TRACK takes 2 arguments"},
        {"FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nJUMP 00:00:00\n", "unknown command JUMP"},
        {"\"FILE\" a.bin BINARY\n", "starts with a quoted word"},
        {"\x7F"
         "ELF\x02\x01\x01\x00\x00\x00\x00",
         "unknown command"},
    };
    for (const BadSheet& bad : cases) {
        const std::string text(bad.text);
        const std::string error = parseError(text);
        EXPECT_NE(error.find(bad.reason), std::string::npos) << "text: " << text << "\nerror: " << error;
    }
}

TEST(CueSheet, ErrorsNameTheLine)
{
    const std::string error = parseError("FILE a.bin BINARY\n\nTRACK 01 AUDIO\n  INDEX 01 00:99:00\n");
    EXPECT_EQ(error.rfind("line 4: ", 0), 0u) << error;
}

TEST(CueSheet, ZeroBytesAreRefused)
{
    const std::string text =
        "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTITLE \"x" + std::string(1, '\0') + "y\"\n";
    const std::string error = parseError(text);
    EXPECT_NE(error.find("zero byte"), std::string::npos) << error;
}

TEST(CueSheet, EachParseStartsFromAnEmptySheet)
{
    const std::string text = "CATALOG 0123456789012\nFILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n";
    CueSheet sheet;
    std::string error;
    ASSERT_TRUE(parseCueSheet(text, sheet, error)) << error;
    ASSERT_TRUE(parseCueSheet(text, sheet, error)) << error;
    EXPECT_EQ(sheet.files.size(), 1u);
    EXPECT_EQ(sheet.tracks.size(), 1u);
}
