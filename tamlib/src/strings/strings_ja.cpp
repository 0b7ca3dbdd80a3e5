// Japanese texts of the library's string table (UTF-8).
#include "strings/string_table.h"

#include "tamlib/strings.h"

namespace tamlib {

namespace {

constexpr StringEntry kJapanese[] = {
    {PLB_IDS_AVI_NO_COMPRESSION, "全フレーム非圧縮です。"},
    {PLB_IDS_AVI_VIDEO, "ビデオ"},
    {PLB_IDS_ERROR, "エラー"},
    {PLB_IDS_WARNING, "警告"},
    {PLB_IDS_INFORMATION, "情報"},
    {PLB_IDS_QUESTION, "確認"},
    {PLB_IDS_SOUND_NONE, "音声なし"},
    {PLB_IDS_SOUND_MONO, "モノラル音声"},
    {PLB_IDS_SOUND_STEREO, "ステレオ音声"},
    {PLB_IDS_SOUND_MUSIC, "シーケンス音楽"},
    {PLB_IDS_CD_STATUS_1, "SCSI ジェネリックデバイス (/dev/sg*) を列挙できません。\n"},
    {PLB_IDS_CD_STATUS_2, "SCSI ジェネリックドライバが SG_IO インターフェースを提供していません。\n"},
    {PLB_IDS_CD_STATUS_3, "応答する SCSI ジェネリックデバイスがありません。\n"},
    {PLB_IDS_CD_UNUSABLE, "CD-ROM は使用できません。"},
    {PLB_IDS_CHOOSE_DRIVE, "CD ドライブの選択"},
    {PLB_IDS_SETTINGS_TITLE, "オプション設定 (Tamlib)"},
    {PLB_IDS_PAGE_DRIVE, "ドライブ"},
    {PLB_IDS_PAGE_PLUGINS, "PSR"},
    {PLB_IDS_PAGE_COLOR, "色調"},
    {PLB_IDS_PAGE_ANALYSIS, "解析"},
    {PLB_IDS_BUTTON_OK, "OK"},
    {PLB_IDS_BUTTON_CANCEL, "キャンセル"},
    {PLB_IDS_BUTTON_ABORT, "中止"},
    {PLB_IDS_BUTTON_RETRY, "再試行"},
    {PLB_IDS_BUTTON_IGNORE, "無視"},
    {PLB_IDS_BUTTON_YES, "はい"},
    {PLB_IDS_BUTTON_NO, "いいえ"},
    {PLB_IDS_ANA_ADOPT_CAPTION, "CDAZ 採用の確認"},
    {PLB_IDS_ANA_COMPLETED, "解析は完了しています。"},
    {PLB_IDS_ANA_INTERRUPTED, "解析は中断されています。"},
    {PLB_IDS_ANA_NO_PLUGIN_ROW, "プラグインなし"},
    {PLB_IDS_ANA_AGAIN_ROW, "再解析が必要です"},
    {PLB_IDS_ANA_OK_ROW, "OK"},
    {PLB_IDS_ANA_SERVER_NEWER, "サーバーに最新の CDAZ ファイルが見つかりました。"},
    {PLB_IDS_ANA_SERVER_NONE_USE_LOCAL,
     "サーバーに最新の CDAZ ファイルは見つかりませんでした。\nローカルディスクで見つかった CDAZ "
     "ファイルを使いますか?"},
    {PLB_IDS_ANA_ASK_SEARCH,
     "CDAZ ファイルが見つかりませんでした。\nサーバーで CDAZ ファイルを検索しますか?"},
    {PLB_IDS_ANA_SERVER_NOT_FOUND, "サーバーに CDAZ が見つかりませんでした。\nメディアの解析を行います。"},
    {PLB_IDS_ANA_LOCAL_FOUND, "ローカルディスクに CDAZ ファイルが見つかりました。"},
    {PLB_IDS_ANA_ASK_UPLOAD, "この CDAZ ファイルをサーバーへアップロードしますか?"},
    {PLB_IDS_ANA_READ_ERROR, "%u 番目のセクタの読み込みでエラーが発生しました。"},
    {PLB_IDS_ANA_PROGRESS_CAPTION, "CD-ROM 解析中"},
    {PLB_IDS_ANA_THREAD_FAILED, "ストリームデータ検索スレッドを起動できませんでした。"},
    {PLB_IDS_ANA_NO_CD_PLUGIN, "CD-ROM を処理できるプラグインがありません。"},
    {PLB_IDS_ANA_CHOICE_CAPTION, "CD-ROM 解析の開始"},
    {PLB_IDS_ANA_NO_STREAM, "この CD-ROM にストリームデータは見つかりませんでした。"},
    {PLB_IDS_ANA_DONE_CAPTION, "CD-ROM 解析の完了"},
    {PLB_IDS_ANA_DONE_MESSAGE, "%d 個のストリームが見つかりました。\nこの CD-ROM "
                               "のタイトルと、省略時のストリームタイトルの接頭辞を指定できます。"},
    {PLB_IDS_ANA_NO_TOC,
     "CD-ROM から TOC を読み込めません。\nドライブの準備ができていない可能性があります。"},
    {PLB_IDS_ANA_NO_MEMORY, "メモリが足りません。"},
    {PLB_IDS_ANA_NO_FILE_PLUGIN, "ファイル'%s'を処理できるプラグインが見つかりませんでした。"},
    {PLB_IDS_ANA_REMAINING_HOURS, "残り約 %02u:%02u"},
    {PLB_IDS_ANA_REMAINING_SECONDS, "残り約 %02u秒"},
    {PLB_IDS_ANA_REMAINING_MINUTES, "残り約 %02u分%02u秒"},
    {PLB_IDS_PLAY_CONTROL + 0, "再生 / 一時停止"},
    {PLB_IDS_PLAY_CONTROL + 1, "再生"},
    {PLB_IDS_PLAY_CONTROL + 2, "一時停止"},
    {PLB_IDS_PLAY_CONTROL + 3, "停止"},
    {PLB_IDS_PLAY_CONTROL + 4, "前のストリーム"},
    {PLB_IDS_PLAY_CONTROL + 5, "巻き戻し"},
    {PLB_IDS_PLAY_CONTROL + 6, "早送り"},
    {PLB_IDS_PLAY_CONTROL + 7, "次のストリーム"},
    {PLB_IDS_PLAY_CONTROL + 8, "1 フレーム戻る"},
    {PLB_IDS_PLAY_CONTROL + 9, "1 フレーム進む"},
    {PLB_IDS_PLAY_CONTROL + 10, "再生モード"},
    {PLB_IDS_PLAY_CONTROL + 11, "音量"},
    {PLB_IDS_PLAY_CONTROL + 12, "再生位置"},
    {PLB_IDS_PLAY_MODE + 0, "1 ストリーム"},
    {PLB_IDS_PLAY_MODE + 1, "リピート"},
    {PLB_IDS_PLAY_MODE + 2, "全ストリームを順に"},
    {PLB_IDS_FRAME_COUNTER, "フレーム / 総フレーム数"},
    {PLB_IDS_PLAY_TIME, "時間 / 長さ"},
    {10037, "JPN"}, // language code sent to the CDAZ exchange
    {PLB_IDS_TO_AVI, "AVI へ"},
    {PLB_IDS_TO_WAVE, "WAVE へ"},
    {PLB_IDS_TO_MIDI, "MIDI へ"},
    {PLB_IDS_TO_BMP, "BMP へ"},
    {PLB_IDS_NO_CONVERSION, "変換しない"},
    {PLB_IDS_TO_CSTR, "CSTR へ"},
    {PLB_IDS_TO_MP3, "MP3 へ"},
    {PLB_IDS_MP3_ERROR + 0, "MP3 エンコーダ : 内部エラー"},
    {PLB_IDS_MP3_ERROR + 1, "MP3 エンコーダ : パラメータエラー"},
    {PLB_IDS_MP3_ERROR + 2, "MP3 エンコーダ : 浮動小数点演算装置がありません"},
    {PLB_IDS_MP3_ERROR + 3, "MP3 エンコーダ : 入力ファイルが見つかりません"},
    {PLB_IDS_MP3_ERROR + 4, "MP3 エンコーダ : 出力ファイルを作成できません"},
    {PLB_IDS_MP3_ERROR + 5, "MP3 エンコーダ : 対応していないサンプリング周波数です"},
    {PLB_IDS_MP3_ERROR + 6, "MP3 エンコーダ : 対応していないビットレートです"},
    {PLB_IDS_MP3_ERROR + 7, "MP3 エンコーダ : 対応していない WAVE 形式です"},
    {PLB_IDS_MP3_ERROR + 8, "MP3 エンコーダ : 入力をシークできません"},
    {PLB_IDS_MP3_ERROR + 9, "MP3 エンコーダ : ビットレート設定エラー"},
    {PLB_IDS_MP3_ERROR + 10, "MP3 エンコーダ : モードまたはレイヤーが不正です"},
    {PLB_IDS_MP3_ERROR + 11, "MP3 エンコーダ : メモリが足りません"},
    {PLB_IDS_MP3_ERROR + 12, "MP3 エンコーダ : スレッドの優先範囲を設定できません"},
    {PLB_IDS_MP3_ERROR + 13, "MP3 エンコーダ : スレッドを作成できません"},
    {PLB_IDS_MP3_ERROR + 14, "MP3 エンコーダ : ディスク容量が足りません"},
};

} // namespace

std::span<const StringEntry> japaneseStrings()
{
    return kJapanese;
}

} // namespace tamlib
