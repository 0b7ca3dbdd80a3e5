#include "window_texts.h"

#include "tamlib/environment.h"

namespace tabulor {

namespace {

constexpr WindowTexts kEnglish{
    "&File",
    "&Edit",
    "Hel&p",
    "&Open...",
    "&Exterior CDAZ is taken in...",
    "&Close",
    "&Save",
    "Save &As ...",
    "A&ll Save",
    "Sa&ve to Analyze-folder",
    "All Sav&e to Analyze-folder",
    "&Delete",
    "E&xit Tabulor",
    "&Show",
    "&Hidden",
    "&Change stream title",
    "Select &All",
    "&Select Reverce",
    "&Plug-in information...",
    "Se&ttings...",
    "&About Tabulor ...",
    "Open CDAZ files",
    "Save the CDAZ file as",
    "CDAZ files (*.cdaz)",
    "All files (*)",
    "Set options (Tabulor)",
    "CDAZ:",
    "CD title:",
    "Prefix:",
    {"Title of stream", "Time", "Start", "Number", "Plug-in", "List", "Status"},
    {"Plug-in", "File name", "Analyze", "Current", "Security", "Detection"},
    "Up",
    "Down",
    "Title:",
    "Type:",
    "Start sector:",
    "Number of sectors:",
    "Time:",
    "Frames:",
    "Frame size:",
    "Frame rate:",
    "Channels:",
    "Bits:",
    "Sampling rate:",
    "Display on a list : ",
    "Status:",
    "Plug-in:",
    "Looks after the CDAZ files of analysed discs: stream titles, hidden streams, plug-ins and disc "
    "texts.",
};

constexpr WindowTexts kJapanese{
    "ファイル(&F)",
    "編集(&E)",
    "ヘルプ(&P)",
    "開く(&O)...",
    "外部のCDAZを取り込む(&E)...",
    "閉じる(&C)",
    "上書き保存(&S)",
    "名前を付けて保存(&A)...",
    "すべて保存(&L)",
    "Analyzeフォルダに保存(&V)",
    "すべてAnalyzeフォルダに保存(&E)",
    "削除(&D)",
    "Tabulorの終了(&X)",
    "表示する(&S)",
    "隠す(&H)",
    "ストリーム名の変更(&C)",
    "すべて選択(&A)",
    "選択の反転(&S)",
    "プラグイン情報(&P)...",
    "設定(&T)...",
    "Tabulorについて(&A)...",
    "CDAZファイルを開く",
    "CDAZファイルに名前を付けて保存",
    "CDAZファイル (*.cdaz)",
    "すべてのファイル (*)",
    "オプションの設定 (Tabulor)",
    "CDAZ:",
    "CDタイトル:",
    "接頭辞:",
    {"ストリーム名", "時間", "開始", "セクタ数", "プラグイン", "リスト", "状態"},
    {"プラグイン", "ファイル名", "解析時", "現在", "セキュリティ", "検出数"},
    "上へ",
    "下へ",
    "タイトル:",
    "種類:",
    "開始セクタ:",
    "セクタ数:",
    "時間:",
    "フレーム数:",
    "フレームサイズ:",
    "フレームレート:",
    "チャンネル数:",
    "ビット数:",
    "サンプリングレート:",
    "リストに表示 : ",
    "状態:",
    "プラグイン:",
    "解析したディスクのCDAZファイルを管理します。ストリーム名、隠すストリーム、プラグイン、"
    "ディスクのテキストを編集できます。",
};

} // namespace

const WindowTexts& windowTexts()
{
    return PlbGetLanguage() == 1 ? kJapanese : kEnglish;
}

} // namespace tabulor
