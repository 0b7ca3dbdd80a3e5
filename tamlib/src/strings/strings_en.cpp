// English texts of the library's string table.
#include "strings/string_table.h"

#include "tamlib/strings.h"

namespace tamlib {

namespace {

constexpr StringEntry kEnglish[] = {
    {PLB_IDS_AVI_NO_COMPRESSION, "All frames are un-compressed."},
    {PLB_IDS_AVI_VIDEO, "Video"},
    {PLB_IDS_ERROR, "ERROR"},
    {PLB_IDS_WARNING, "WARNING"},
    {PLB_IDS_INFORMATION, "INFORMATION"},
    {PLB_IDS_QUESTION, "QUESTION"},
    {PLB_IDS_SOUND_NONE, "No sound"},
    {PLB_IDS_SOUND_MONO, "Monaural sound"},
    {PLB_IDS_SOUND_STEREO, "Stereo sound"},
    {PLB_IDS_SOUND_MUSIC, "Sequenced music"},
    {PLB_IDS_CD_STATUS_1, "No SCSI generic device (/dev/sg*) can be listed.\n"},
    {PLB_IDS_CD_STATUS_2, "The SCSI generic driver does not offer the SG_IO interface.\n"},
    {PLB_IDS_CD_STATUS_3, "No SCSI generic device answers.\n"},
    {PLB_IDS_CD_UNUSABLE, "CD-ROM cannot be used."},
    {PLB_IDS_CHOOSE_DRIVE, "Choose CD-Drive"},
    {PLB_IDS_SETTINGS_TITLE, "Set options (Tamlib)"},
    {PLB_IDS_PAGE_DRIVE, "Drive"},
    {PLB_IDS_PAGE_PLUGINS, "PSR"},
    {PLB_IDS_PAGE_COLOR, "Color"},
    {PLB_IDS_PAGE_ANALYSIS, "Analysis"},
    {PLB_IDS_BUTTON_OK, "OK"},
    {PLB_IDS_BUTTON_CANCEL, "Cancel"},
    {PLB_IDS_BUTTON_ABORT, "Abort"},
    {PLB_IDS_BUTTON_RETRY, "Retry"},
    {PLB_IDS_BUTTON_IGNORE, "Ignore"},
    {PLB_IDS_BUTTON_YES, "Yes"},
    {PLB_IDS_BUTTON_NO, "No"},
    {PLB_IDS_CDAZ_REFUSED, "The CDAZ file from the server is not used: %s"},
    {PLB_IDS_CDAZ_NOT_ONE_FILE, "it is damaged or has data appended."},
    {PLB_IDS_CDAZ_INCOMPLETE, "its analysis was interrupted."},
    {PLB_IDS_CDAZ_NO_STREAMS, "it lists no stream."},
    {PLB_IDS_CDAZ_OUTSIDE_DISC, "it lists streams outside this CD-ROM."},
    {PLB_IDS_CDAZ_OTHER_DISC, "it belongs to another CD-ROM."},
    {PLB_IDS_CDAZ_UNKNOWN_DISC, "its name describes no CD-ROM."},
    {PLB_IDS_PLAY_CONTROL + 0, "Play / Pause"},
    {PLB_IDS_PLAY_CONTROL + 1, "Play"},
    {PLB_IDS_PLAY_CONTROL + 2, "Pause"},
    {PLB_IDS_PLAY_CONTROL + 3, "Stop"},
    {PLB_IDS_PLAY_CONTROL + 4, "Previous stream"},
    {PLB_IDS_PLAY_CONTROL + 5, "Rewind"},
    {PLB_IDS_PLAY_CONTROL + 6, "Fast forward"},
    {PLB_IDS_PLAY_CONTROL + 7, "Next stream"},
    {PLB_IDS_PLAY_CONTROL + 8, "One frame back"},
    {PLB_IDS_PLAY_CONTROL + 9, "One frame forward"},
    {PLB_IDS_PLAY_CONTROL + 10, "Play mode"},
    {PLB_IDS_PLAY_CONTROL + 11, "Volume"},
    {PLB_IDS_PLAY_CONTROL + 12, "Position"},
    {PLB_IDS_PLAY_MODE + 0, "One stream"},
    {PLB_IDS_PLAY_MODE + 1, "Repeat"},
    {PLB_IDS_PLAY_MODE + 2, "All streams in order"},
    {PLB_IDS_FRAME_COUNTER, "Frame / frames"},
    {PLB_IDS_PLAY_TIME, "Time / length"},
    {10037, "ENG"}, // language code sent to the CDAZ exchange
    {PLB_IDS_TO_AVI, "to AVI"},
    {PLB_IDS_TO_WAVE, "to WAVE"},
    {PLB_IDS_TO_MIDI, "to MIDI"},
    {PLB_IDS_TO_BMP, "to BMP"},
    {PLB_IDS_NO_CONVERSION, "No Convertion"},
    {PLB_IDS_TO_CSTR, "to CSTR"},
    {PLB_IDS_TO_MP3, "to MP3"},
    {PLB_IDS_MP3_ERROR + 0, "MP3 encoder : internal error"},
    {PLB_IDS_MP3_ERROR + 1, "MP3 encoder : parameter error"},
    {PLB_IDS_MP3_ERROR + 2, "MP3 encoder : no floating-point unit"},
    {PLB_IDS_MP3_ERROR + 3, "MP3 encoder : the input file was not found"},
    {PLB_IDS_MP3_ERROR + 4, "MP3 encoder : the output file cannot be created"},
    {PLB_IDS_MP3_ERROR + 5, "MP3 encoder : unsupported sampling frequency"},
    {PLB_IDS_MP3_ERROR + 6, "MP3 encoder : unsupported bit rate"},
    {PLB_IDS_MP3_ERROR + 7, "MP3 encoder : unsupported wave format"},
    {PLB_IDS_MP3_ERROR + 8, "MP3 encoder : the input cannot be positioned"},
    {PLB_IDS_MP3_ERROR + 9, "MP3 encoder : bit rate setting error"},
    {PLB_IDS_MP3_ERROR + 10, "MP3 encoder : bad mode or layer"},
    {PLB_IDS_MP3_ERROR + 11, "MP3 encoder : not enough memory"},
    {PLB_IDS_MP3_ERROR + 12, "MP3 encoder : the thread scope cannot be set"},
    {PLB_IDS_MP3_ERROR + 13, "MP3 encoder : the thread cannot be created"},
    {PLB_IDS_MP3_ERROR + 14, "MP3 encoder : lock of capacity of disk"},
};

} // namespace

std::span<const StringEntry> englishStrings()
{
    return kEnglish;
}

} // namespace tamlib
