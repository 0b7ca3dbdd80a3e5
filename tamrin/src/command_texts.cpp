#include "command_texts.h"

#include <array>

#include "tamlib/environment.h"

namespace tamrin {

namespace {

struct CommandRow
{
    int id;
    const char* text; // null: the menu shows the library's name of the conversion type
    const char* help;
    const char* jaText;
    const char* jaHelp;
};

// clang-format off
constexpr CommandRow kCommands[] = {
    {40005, nullptr, "Converts the selected movies to AVI files", nullptr, "選択したムービーを AVI ファイルに変換します"},
    {40006, nullptr, "Converts the selected sound to WAVE files", nullptr, "選択したサウンドを WAVE ファイルに変換します"},
    {40051, nullptr, "Converts the selected movies to CSTR files", nullptr, "選択したムービーを CSTR ファイルに変換します"},
    {40058, nullptr, "Converts the selected still images to BMP files", nullptr, "選択した静止画を BMP ファイルに変換します"},
    {40057, nullptr, "Converts the selected music to MIDI files", nullptr, "選択した音楽を MIDI ファイルに変換します"},
    {40060, nullptr, "Converts the selected sound to MP3 files", nullptr, "選択したサウンドを MP3 ファイルに変換します"},
    {40007, nullptr, "The selected streams are not converted", nullptr, "選択したストリームを変換しません"},
    {40008, "Select &all", "Selects every stream of the list", "すべて選択(&A)", "リストのすべてのストリームを選択します"},
    {40009, "&Invert selection", "Selects the streams not selected and deselects the others", "選択の切り替え(&I)", "選択されていないストリームを選択し、選択を解除します"},
    {40011, "&Edit the title...", "Changes the title of the selected disc stream (kept in the CDAZ)", "タイトルの編集(&E)...", "選択したディスクのストリームのタイトルを変更します (CDAZ に保存)"},
    {40012, "&Open stream files...", "Opens stream files from disk", "ストリームファイルを開く(&O)...", "ディスク上のストリームファイルを開きます"},
    {40013, "Open and Analyze CD-&ROM", "Analyses the CD-ROM and lists its streams, or closes it", "CD-ROM を開いて解析(&R)", "CD-ROM を解析してストリームを一覧に表示します。または閉じます"},
    {40014, "E&xit", "Ends Tamrin", "終了(&X)", "Tamrin を終了します"},
    {40015, "&Start conversion", "Converts every listed stream that has a conversion", "変換開始(&S)", "変換の指定されたストリームをすべて変換します"},
    {40016, "Set Tamrin &options...", "Sets the drive, the plug-ins and the analysis", "Tamrin のオプション設定(&O)...", "ドライブ、プラグイン、解析の設定をします"},
    {40017, "E&xport the list...", "Writes the stream list to a file", "リストの書き出し(&X)...", "ストリームの一覧をファイルに書き出します"},
    {40018, "&Manual", "Opens the HTML manual", "マニュアル(&M)", "HTML マニュアルを開きます"},
    {40019, "&About Tamrin...", "Shows the version of Tamrin and of its library", "Tamrin について(&A)...", "Tamrin とライブラリのバージョンを表示します"},
    {40020, "&Remove from list", "Takes the selected streams out of the list", "リストから削除(&R)", "選択したストリームをリストから外します"},
    {40021, "Compression settings...", "Edits the conversion settings of the selected streams", "圧縮の設定...", "選択したストリームの変換の設定を編集します"},
    {40024, "&Play / Pause", "Plays the stream on preview, or pauses it", "再生 / 一時停止(&P)", "プレビュー中のストリームを再生、または一時停止します"},
    {40025, "P&ause", "Pauses the stream on preview", "一時停止(&A)", "プレビュー中のストリームを一時停止します"},
    {40026, "S&top", "Stops the stream on preview", "停止(&T)", "プレビュー中のストリームを停止します"},
    {40029, "Remove the CD-ROM's streams", "Takes the streams of the disc out of the list", "CD-ROM のストリームを削除", "ディスクのストリームをリストから外します"},
    {40031, "&Copy the frame", "Copies the picture on screen to the clipboard", "フレームのコピー(&C)", "表示中の画像をクリップボードにコピーします"},
    {40032, "Save the frame as &BMP", "Saves the picture on screen in the BMP folder under a numbered name", "フレームを BMP で保存(&B)", "表示中の画像を番号付きの名前で BMP フォルダに保存します"},
    {40033, "Save the frame &as...", "Saves the picture on screen under a name you choose", "名前を付けてフレームを保存(&A)...", "表示中の画像を指定した名前で保存します"},
    {40034, "P&revious stream", "Plays the stream above in the list", "前のストリーム(&R)", "リストの一つ前のストリームを再生します"},
    {40035, "&Next stream", "Plays the stream below in the list", "次のストリーム(&N)", "リストの次のストリームを再生します"},
    {40036, "&AVI folder", "Opens the folder of the AVI files", "AVI フォルダ(&A)", "AVI ファイルのフォルダを開きます"},
    {40037, "&WAVE folder", "Opens the folder of the WAVE and MIDI files", "WAVE フォルダ(&W)", "WAVE と MIDI ファイルのフォルダを開きます"},
    {40038, "&BMP folder", "Opens the folder of the BMP files", "BMP フォルダ(&B)", "BMP ファイルのフォルダを開きます"},
    {40039, "Play one stream", "Stops at the end of the stream", "1 ストリーム再生", "ストリームの最後で停止します"},
    {40040, "Repeat", "Plays the stream again from its start", "リピート再生", "ストリームを最初から繰り返し再生します"},
    {40041, "Play all streams in order", "Goes on with the next stream of the list", "全ストリームを順に再生", "リストの次のストリームを続けて再生します"},
    {40043, "Tamrin &home page", "Opens the home page of Tamrin\nhttps://tamrin.example.org/", "Tamrin ホームページ(&H)", "Tamrin のホームページを開きます\nhttps://tamrin.example.org/"},
    {40044, "&Plug-ins on the web", "Opens the page of the plug-ins\nhttps://tamrin.example.org/plugins/", "Web 上のプラグイン(&P)", "プラグインのページを開きます\nhttps://tamrin.example.org/plugins/"},
    {40045, "&CDAZ library", "Opens the library of disc analyses\nhttps://tamrin.example.org/cdaz/", "CDAZ ライブラリ(&C)", "ディスク解析のライブラリを開きます\nhttps://tamrin.example.org/cdaz/"},
    {40046, "&Questions and answers", "Opens the questions and answers\nhttps://tamrin.example.org/faq/", "よくある質問(&Q)", "よくある質問のページを開きます\nhttps://tamrin.example.org/faq/"},
    {40047, "&Report a problem", "Opens the page to report a problem\nhttps://tamrin.example.org/report/", "問題の報告(&R)", "問題を報告するページを開きます\nhttps://tamrin.example.org/report/"},
    {40048, "Show everything", "Lists streams of every kind", "すべて表示", "すべての種類のストリームを表示します"},
    {40049, "Movies only", "Lists the movies only", "ムービーのみ", "ムービーのみを表示します"},
    {40050, "Audio only", "Lists the sound and music only", "オーディオのみ", "サウンドと音楽のみを表示します"},
    {40052, "Movies", "Shows or hides the movies", "ムービー", "ムービーの表示を切り替えます"},
    {40053, "Wave audio", "Shows or hides the sound", "ウェーブオーディオ", "サウンドの表示を切り替えます"},
    {40054, "Sequenced music", "Shows or hides the sequenced music", "シーケンス音楽", "シーケンス音楽の表示を切り替えます"},
    {40055, "Still images", "Shows or hides the still images", "静止画", "静止画の表示を切り替えます"},
    {40061, "&Half size", "Shows the preview at half the picture's size", "1/2 サイズ(&H)", "プレビューを画像の半分の大きさで表示します"},
    {40062, "&Same size", "Shows the preview at the picture's size", "等倍(&S)", "プレビューを画像と同じ大きさで表示します"},
    {40063, "&Enlarged", "Shows the preview at twice the picture's size", "拡大(&E)", "プレビューを画像の 2 倍の大きさで表示します"},
    {40064, "&Full screen", "Shows the pop-up preview on the whole screen", "全画面(&F)", "ポップアップのプレビューを全画面で表示します"},
    {40065, "Always on &top", "Keeps the pop-up preview above other windows", "常に手前に表示(&T)", "ポップアップのプレビューを他のウィンドウの手前に表示します"},
    {40066, "&Keep the window size", "Keeps the pop-up's size when the stream changes", "ウィンドウサイズを固定(&K)", "ストリームが変わってもポップアップの大きさを変えません"},
    {40067, "&Pop-up preview", "Shows the preview in a window of its own", "ポップアッププレビュー(&P)", "プレビューを別のウィンドウに表示します"},
};
// clang-format on

bool japanese()
{
    return PlbGetLanguage() == 1;
}

const CommandRow* rowOf(int id)
{
    for (const CommandRow& row : kCommands)
        if (row.id == id)
            return &row;
    return nullptr;
}

QString pick(const char* english, const char* japaneseText)
{
    return QString::fromUtf8(japanese() && japaneseText ? japaneseText : english ? english : "");
}

} // namespace

QString commandText(int id)
{
    const CommandRow* row = rowOf(id);
    return row ? pick(row->text, row->jaText) : QString();
}

QString commandHelp(int id)
{
    const CommandRow* row = rowOf(id);
    if (!row)
        return QString();
    // A link command's help ends in its address: the status bar shows the first line.
    return pick(row->help, row->jaHelp).section('\n', 0, 0);
}

QString commandLink(int id)
{
    if (id < 40043 || id > 40047)
        return QString();
    const CommandRow* row = rowOf(id);
    const QString help = row ? QString::fromUtf8(row->help) : QString();
    const qsizetype at = help.indexOf("http");
    return at < 0 ? QString() : help.mid(at).trimmed();
}

QString menuTitle(MenuTitle title)
{
    struct Title
    {
        const char* english;
        const char* japaneseText;
    };
    static constexpr std::array<Title, 10> kTitles{{
        {"&File", "ファイル(&F)"},
        {"&Edit", "編集(&E)"},
        {"&List filter", "表示するストリーム(&L)"},
        {"&Convertion", "変換(&C)"},
        {"&Preview", "プレビュー(&P)"},
        {"Preview &size", "プレビューサイズ(&S)"},
        {"CD-ROM &drive", "CD-ROM ドライブ(&D)"},
        {"Output &folders", "出力フォルダ(&F)"},
        {"&Help", "ヘルプ(&H)"},
        {"Commands", "コマンド"},
    }};
    const Title& t = kTitles[size_t(title)];
    return pick(t.english, t.japaneseText);
}

QString commandMessage(CommandMessage message)
{
    struct Text
    {
        const char* english;
        const char* japaneseText;
    };
    static constexpr std::array<Text, 11> kTexts{{
        {"Initialized Tamrin options. Please carry out [Set Tamrin options] in case of need.",
         "Tamrin のオプションを初期化しました。必要に応じて [Tamrin のオプション設定] を実行してください。"},
        {"Sorry, This command is not supported yet.",
         "申し訳ありません。このコマンドはまだサポートされていません。"},
        {"HTML manual   '%1' was not opened.\n%2", "HTML マニュアル   '%1' を開けませんでした。\n%2"},
        {"Please specify the stream data in CD-ROM by [Analyze and open CD-ROM].\nDo you open '%1'?",
         "CD-ROM のストリームデータは [CD-ROM を開いて解析] で指定してください。\n'%1' を開きますか?"},
        {"The folder '%1' was not opened.", "フォルダ '%1' を開けませんでした。"},
        {"The page '%1' was not opened.", "ページ '%1' を開けませんでした。"},
        {"Stream title", "ストリームのタイトル"},
        {"Title:", "タイトル:"},
        {"The title was not saved in the CDAZ.\n%1", "タイトルを CDAZ に保存できませんでした。\n%1"},
        {"No drive", "ドライブなし"},
        {"Close CD-&ROM", "CD-ROM を閉じる(&R)"},
    }};
    const Text& t = kTexts[size_t(message)];
    return pick(t.english, t.japaneseText);
}

} // namespace tamrin
