#include "session_texts.h"

#include "cdaz_session.h"

#include <cstdio>

#include "tamlib/cdaz.h"
#include "tamlib/environment.h"

namespace tabulor {

namespace {

constexpr SessionTexts kEnglish{
    "'%s' has not been opened as a CDAZ file which can be processed.\nIt may be CDAZ of a different version.",
    "Since it is the CDAZ file which a system manages,\n'%s' cannot be opened.",
    "CDAZ of the same CD-ROM as '%s' is already in Analyze-fonlder.\nDo you want to overwrite it?",
    "The '%s' file already exists.\nDo you want to overwrite it?",
    "CDAZ file Preservation of '%s' went wrong.",
    "\n(%s)",
    "unknown reason",
    "CDAZ file '%s' is changed.\nAre the edited contents saved?",
    "May I delete a CDAZ file : %s(%s)?",
    "CDAZ file '%s' has not been deleted.",
    "Hidden",
    "Show",
    "ON",
    "OFF",
    "No plug-in",
    "Old plug-in",
    "Duplication",
    "Un-supporting",
    "Unknown",
    "Normal",
    "MOVIE%s%s%s",
    "+",
    "AUDIO",
    "[Variable]",
    "BITMAP",
    "SEQUENCE",
    "%02d.%03d秒",
    "%d分%02d.%03d秒",
    "'%s'",
    "%d × %d",
    "%d bit",
    "%d Hz",
};

constexpr SessionTexts kJapanese{
    "'%s' は処理できるCDAZファイルとして開けませんでした。\n異なるバージョンのCDAZかもしれません。",
    "システムが管理しているCDAZファイルなので、\n'%s' は開けません。",
    "'%s' と同じCD-ROMのCDAZが既にAnalyzeフォルダにあります。\n上書きしますか?",
    "'%s' ファイルは既に存在します。\n上書きしますか?",
    "CDAZファイル '%s' の保存に失敗しました。",
    "\n(%s)",
    "原因不明",
    "CDAZファイル '%s' は変更されています。\n編集した内容を保存しますか?",
    "CDAZファイル : %s(%s) を削除してもよろしいですか?",
    "CDAZファイル '%s' は削除されませんでした。",
    "非表示",
    "表示",
    "ON",
    "OFF",
    "プラグインなし",
    "旧プラグイン",
    "重複",
    "未対応",
    "不明",
    "正常",
    "ムービー%s%s%s",
    "+",
    "オーディオ",
    "[可変]",
    "ビットマップ",
    "シーケンス",
    "%02d.%03d秒",
    "%d分%02d.%03d秒",
    "'%s'",
    "%d × %d",
    "%d bit",
    "%d Hz",
};

// One of the tables' numeric patterns ("%d" each) with up to three values.
std::string formatNumbers(const char* pattern, int a, int b = 0, int c = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, pattern, a, b, c);
    return text;
}

int asInt(uint32_t value)
{
    return value > 0x7FFFFFFFu ? 0x7FFFFFFF : int(value);
}

} // namespace

const SessionTexts& englishTexts()
{
    return kEnglish;
}

const SessionTexts& japaneseTexts()
{
    return kJapanese;
}

const SessionTexts& sessionTexts()
{
    return PlbGetLanguage() == 1 ? kJapanese : kEnglish;
}

std::string formatText(const char* pattern, std::initializer_list<std::string> values)
{
    std::string text;
    auto next = values.begin();
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            if (next != values.end())
                text += *next++;
            ++p;
        } else if (p[0] == '%' && p[1] == '%') {
            text += '%';
            ++p;
        } else {
            text += *p;
        }
    }
    return text;
}

std::string quotedTitleText(const std::string& title)
{
    return formatText(sessionTexts().quotedTitle, {title});
}

std::string frameSizeText(uint32_t width, uint32_t height)
{
    return formatNumbers(sessionTexts().frameSize, asInt(width), asInt(height));
}

std::string bitsText(uint32_t bits)
{
    return formatNumbers(sessionTexts().bits, asInt(bits));
}

std::string hertzText(uint32_t rate)
{
    return formatNumbers(sessionTexts().hertz, asInt(rate));
}

std::string displayText(int32_t flags)
{
    return (flags & PLB_CDAZ_STREAM_USER_HIDDEN) ? sessionTexts().off : sessionTexts().on;
}

std::string listText(int32_t flags)
{
    return (flags & PLB_CDAZ_STREAM_USER_HIDDEN) ? sessionTexts().hidden : sessionTexts().show;
}

std::string statusText(int32_t flags)
{
    const SessionTexts& texts = sessionTexts();
    if (flags & PLB_CDAZ_STREAM_NO_PLUGIN)
        return texts.noPlugin;
    if (flags & PLB_CDAZ_STREAM_REANALYZE)
        return texts.oldPlugin;
    if (flags & PLB_CDAZ_STREAM_HIDDEN)
        return texts.duplication;
    if (flags & PLB_CDAZ_STREAM_NO_KIND)
        return texts.unsupporting;
    // Bits 0 to 2 are the user's own marks.
    if (flags & ~0x07)
        return texts.unknown;
    return texts.normal;
}

std::string timeText(uint32_t ms)
{
    const uint32_t seconds = ms / 1000;
    return formatNumbers("%d:%02d", asInt(seconds / 60), int(seconds % 60));
}

std::string detailTimeText(uint32_t ms)
{
    const uint32_t seconds = ms / 1000;
    if (seconds < 60)
        return formatNumbers(sessionTexts().seconds, int(seconds), int(ms % 1000));
    return formatNumbers(sessionTexts().minutesSeconds, asInt(seconds / 60), int(seconds % 60),
                         int(ms % 1000));
}

std::string typeText(const StrInfo& info)
{
    const SessionTexts& texts = sessionTexts();
    if (info.kind & StrVideo) {
        const bool sound = info.kind & StrAudio;
        const std::string timed = (info.kind & StrTimed) ? texts.variable : "";
        return formatText(texts.movie, {sound ? texts.plus : "", sound ? texts.audio : "", timed});
    }
    if (info.kind & StrAudio)
        return texts.audio;
    if (info.kind & StrStill)
        return texts.bitmap;
    if (info.kind & StrMusic)
        return texts.sequence;
    return {};
}

std::string frameRateText(uint32_t rate)
{
    // Tenths of a frame per second up to 800, hundredths above.
    if (rate <= 800) {
        if (rate % 10 == 0)
            return formatNumbers("%d fps", int(rate / 10));
        return formatNumbers("%d.%d fps", int(rate / 10), int(rate % 10));
    }
    return formatNumbers("%d.%02d fps", asInt(rate / 100), int(rate % 100));
}

std::string versionText(int32_t version)
{
    // A negative version is a plugin that is not installed: nothing to show.
    if (version < 0)
        return {};
    return formatNumbers("%d.%02d", version / 100, version % 100);
}

std::string detectionText(int32_t streams, int32_t clean)
{
    return formatNumbers("%d(%d)", streams, clean);
}

} // namespace tabulor
