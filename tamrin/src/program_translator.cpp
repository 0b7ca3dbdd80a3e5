#include "program_translator.h"

#include <QCoreApplication>
#include <QTranslator>

#include <cstring>

#include "tamlib/environment.h"

namespace tamrin {

namespace {

struct Text
{
    const char* english;
    const char* japanese;
};

// Sorted by nothing in particular: the table is small and looked up only when a window is made.
constexpr Text kJapanese[] = {
    // the stream list, the pages and the information page
    {"Stream", "ストリーム"},
    {"Time", "時間"},
    {"Plug-in", "プラグイン"},
    {"Convertion", "変換"},
    {"Information", "情報"},
    {"Preview", "プレビュー"},
    {"Kind", "種類"},
    {"Sectors", "セクタ"},
    {"File", "ファイル"},
    {"Picture", "画像サイズ"},
    {"Frames", "フレーム数"},
    {"Frame rate", "フレームレート"},
    {"Sound", "音声"},
    {"%1 Hz, %2 channel(s), %3 bits", "%1 Hz、%2 チャンネル、%3 ビット"},
    {"%1\n%2\n%3 streams", "%1\n%2\nストリーム数 %3"},
    {"Movie with sound", "音声付きムービー"},
    {"Movie", "ムービー"},
    {"Still image", "静止画"},
    {"Music", "シーケンス音楽"},
    {"Unknown", "不明"},
    // messages and file dialogs
    {"Environment for reproducing data stream was not opened.",
     "データストリームを再生する環境を開けませんでした。"},
    {"The disc image '%1' was not opened.\n%2", "ディスクイメージ '%1' を開けませんでした。\n%2"},
    {"There is no picture on screen.", "表示中の画像がありません。"},
    {"'%1' was not written.\n%2", "'%1' を書き込めませんでした。\n%2"},
    {"Save the frame", "フレームの保存"},
    {"Bitmap (*.bmp)", "ビットマップ (*.bmp)"},
    {"All files (*)", "すべてのファイル (*)"},
    {"Stream files (*.str *.STR *.xa *.XA *.cstr)", "ストリームファイル (*.str *.STR *.xa *.XA *.cstr)"},
    {"Disc images (*.cue *.iso *.bin)", "ディスクイメージ (*.cue *.iso *.bin)"},
    {"No program is set to show HTML pages.", "HTML ページを表示するプログラムが設定されていません。"},
    {"Settings", "設定"},
    {"Finds the movies, sound and pictures on PlayStation discs and disc images, "
     "previews them and converts them.",
     "PlayStation のディスクとディスクイメージにあるムービー、音声、画像を探し出し、"
     "プレビューして変換します。"},
    // the conversion page
    {"Selected streams", "選択したストリーム"},
    {"%n stream(s) selected", "%n 個のストリームを選択"},
    {"No stream is selected.", "ストリームが選択されていません。"},
    {"Convert to", "変換先"},
    {"Compression settings", "圧縮の設定"},
    {"Compression settings...", "圧縮の設定..."},
    {"Output file", "出力ファイル"},
    {"Output folder", "出力フォルダ"},
    {"Output folders", "出力フォルダ"},
    {"Browse...", "参照..."},
    {"Video codec", "ビデオコーデック"},
    {"Codec...", "コーデック..."},
    {"No audio track", "音声トラックなし"},
    {"Channels", "チャンネル"},
    {"Bits per sample", "量子化ビット数"},
    {"Sample rate", "サンプリング周波数"},
    {"As the source", "元のまま"},
    {"Mono", "モノラル"},
    {"Stereo", "ステレオ"},
    {"8 bits", "8 ビット"},
    {"16 bits", "16 ビット"},
    {"Width", "幅"},
    {"Height", "高さ"},
    {"The picture's size", "画像の大きさのまま"},
    {"Bit rate", "ビットレート"},
    {"Format", "形式"},
    {"Channel mode", "チャンネルモード"},
    {"Switches", "スイッチ"},
    {"Psycho-acoustic analysis", "聴覚心理分析"},
    {"Low-pass filter at 128 kbit/s and below", "128 kbit/s 以下でローパスフィルタ"},
    {"Allow MMX", "MMX を使う"},
    {"Allow 3DNow!", "3DNow! を使う"},
    {"Allow SSE", "SSE を使う"},
    {"Allow enhanced 3DNow!", "拡張 3DNow! を使う"},
    {"Keep the variable bit rate within the range", "可変ビットレートを範囲内に収める"},
    {"VBR range", "VBR の範囲"},
    {"User low-pass filter", "ユーザーローパスフィルタ"},
    {"Low-pass filter", "ローパスフィルタ"},
    {"Emphasis", "エンファシス"},
    {"none", "なし"},
    {"highest quality", "最高品質"},
    {"highest compression", "最高圧縮"},
    {"The MP3 encoder is not installed.", "MP3 エンコーダがインストールされていません。"},
    {"Existing output files", "既存の出力ファイル"},
    {"Ask", "確認する"},
    {"Overwrite", "上書きする"},
    {"Skip", "変換しない"},
    {"Priority", "優先度"},
    {"Below other programs", "他のプログラムより低く"},
    {"Above other programs", "他のプログラムより高く"},
    {"Batch conversion", "一括変換"},
};

class ProgramTranslator : public QTranslator
{
  public:
    using QTranslator::QTranslator;
    bool isEmpty() const override { return false; }
    QString translate(const char*, const char* source, const char*, int n) const override
    {
        if (!source || PlbGetLanguage() != 1)
            return {};
        QString text = japaneseText(source);
        if (n >= 0)
            text.replace("%n", QString::number(n));
        return text;
    }
};

} // namespace

QString japaneseText(const char* english)
{
    for (const Text& text : kJapanese)
        if (std::strcmp(text.english, english) == 0)
            return QString::fromUtf8(text.japanese);
    return {};
}

void installProgramTranslator()
{
    static ProgramTranslator* installed = nullptr;
    if (installed || !QCoreApplication::instance())
        return;
    installed = new ProgramTranslator(QCoreApplication::instance());
    QCoreApplication::installTranslator(installed);
}

} // namespace tamrin
