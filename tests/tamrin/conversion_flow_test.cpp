// Conversions started from the main window as a user starts them: a movie file, the streams of
// the sample disc image, a still picture and a song opened, a conversion of each type set on the
// list and on the "Convertion" page, the batch run to completion and stopped, and the outputs
// judged from outside (ffprobe, the compact movie opened again by the window, BMP and MIDI headers).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QFileInfo>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "batch_dialog.h"
#include "conversion_outputs.h"
#include "conversion_page.h"
#include "gui_test.h"
#include "main_window.h"
#include "mediagen/sequence_layout.h"
#include "mediagen/tim_layout.h"
#include "scratch_folder.h"
#include "tamlib/convert.h"
#include "tamlib/strings.h"
#include "tamlib/ui_port.h"
#include "tamlibui/qt_ui_port.h"
#include "tamlibui/viewer.h"
#include "uiport_support.h"

using namespace tamrin;

namespace {

namespace fs = std::filesystem;
using convtest::LoopWatch;
using convtest::openDialog;
using convtest::writeFile;

const QString kMovie = QString(TAMRIN_TEST_DATA) + "/movies/mv4_v3_160x112_15fps_x1_xa37800s.str";
const QString kLongMovie = QString(TAMRIN_TEST_DATA) + "/movies/mv1_v2_320x240_15fps_xa37800s.str";
const QString kDisc = QString(TAMRIN_TEST_DATA) + "/disc/psxdisc_a.cue";
// Streams of the sample disc by their first sector.
constexpr uint32_t kDiscMv3 = 925;  // 256 x 224 movie, mono sound
constexpr uint32_t kDiscXa1 = 1570; // 37800 Hz stereo
constexpr uint32_t kDiscXa2 = 1645; // 18900 Hz mono

std::string probe(const QString& file, const char* stream, const char* entries)
{
    return convtest::probe(file.toStdString(), stream, entries);
}

std::string head(const QString& file, size_t bytes)
{
    return convtest::head(file.toStdString(), bytes);
}

class ConversionFlowTest : public testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_library.ready());
        ASSERT_TRUE(m_folder.made());
        OptionsEnvironment environment = systemOptionsEnvironment();
        environment.baseFolder = m_folder.path();
        m_options = defaultOptions(environment);
        m_window = std::make_unique<MainWindow>(&m_options);
        m_window->setSoundDriver("null");
        m_window->resize(960, 640);
    }

    bool openDisc()
    {
        uitest::ModalUser user;
        user.then("pluginChoiceDialog", [](QDialog& dialog) { uitest::click(dialog, "start"); })
            .then("analysisDoneDialog", [](QDialog& dialog) { uitest::click(dialog, "complete"); });
        return m_window->openDiscImage(kDisc) && user.finished();
    }

    int rowOf(const std::function<bool(const StreamEntry&)>& match) const
    {
        for (int row = 0; row < m_window->entryCount(); ++row)
            if (match(m_window->entry(row)))
                return row;
        return -1;
    }
    int fileRow(const QString& path) const
    {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        return rowOf([&](const StreamEntry& e) { return e.path == canonical; });
    }
    int discRow(uint32_t startSector) const
    {
        return rowOf([&](const StreamEntry& e) { return e.isDiscStream() && e.info.startSector == startSector; });
    }

    // Selects the rows (only them) as the user does.
    void select(std::initializer_list<int> rows)
    {
        QTreeWidget* list = m_window->streamList();
        list->clearSelection();
        for (int row : rows)
            list->topLevelItem(row)->setSelected(true);
    }
    int convert(int row, Conversion type)
    {
        select({row});
        return m_window->setSelectedConversion(type);
    }
    void convertNothing()
    {
        m_window->streamList()->selectAll();
        m_window->setSelectedConversion(Conversion::None);
    }
    ConversionPage& page() const { return *m_window->conversionPage(); }
    QString output(int row) const { return page().outputName(m_window->entry(row)); }
    QString tooltip(int row) const
    {
        return m_window->streamList()->topLevelItem(row)->toolTip(MainWindow::kColConversion);
    }
    static QString resultText(int32_t code)
    {
        char text[PLB_STRING_MAX];
        return QString::fromUtf8(PlbConvertResultText(code, text));
    }
    template <typename T> T* child(const char* name) const
    {
        T* found = page().findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void choose(const char* combo, int value)
    {
        auto* box = child<QComboBox>(combo);
        ASSERT_GE(box->findData(value), 0) << combo << " " << value;
        box->setCurrentIndex(box->findData(value));
    }

    uitest::Language m_english{"en"};
    uitest::LibraryWithDisc m_library;
    testsupport::ScratchFolder m_folder{"convflow"};
    tamlibui::QtUiPort m_port;
    tamlib::ScopedUiPort m_installed{m_port};
    TamrinOptions m_options{};
    std::unique_ptr<MainWindow> m_window;
};

} // namespace

// Every type the sample media allow, from one start of the window's command: the outputs hold
// the streams, the page's settings reached the converters, the rows show the results.
TEST_F(ConversionFlowTest, EveryTypeIsConvertedFromTheWindowAndTheOutputsHoldTheStreams)
{
    const mediagen::TimPicture tim = mediagen::makeTim(3, 96, 48, 5); // 64 x 48, 24-bit
    writeFile(m_folder.path() / "still.tim", tim.bytes);
    writeFile(m_folder.path() / "song.seq", mediagen::scoreSong(2).file);
    m_window->show();
    ASSERT_EQ(m_window->openPaths({kMovie, QString::fromStdString((m_folder.path() / "still.tim").string()),
                                   QString::fromStdString((m_folder.path() / "song.seq").string())}),
              3);
    ASSERT_TRUE(openDisc());
    const int movie = fileRow(kMovie);
    const int still = fileRow(QString::fromStdString((m_folder.path() / "still.tim").string()));
    const int song = fileRow(QString::fromStdString((m_folder.path() / "song.seq").string()));
    const int mv3 = discRow(kDiscMv3), xa1 = discRow(kDiscXa1), xa2 = discRow(kDiscXa2);
    ASSERT_TRUE(movie >= 0 && still >= 0 && song >= 0 && mv3 >= 0 && xa1 >= 0 && xa2 >= 0);
    const bool mp3 = PlbIsGogo(nullptr, nullptr) != 0;

    convertNothing();
    EXPECT_EQ(convert(movie, Conversion::Avi), 1);
    EXPECT_EQ(convert(mv3, Conversion::Cstr), 1);
    EXPECT_EQ(convert(still, Conversion::Bmp), 1);
    EXPECT_EQ(convert(song, Conversion::Midi), 1);
    EXPECT_EQ(convert(still, Conversion::Avi), 0) << "a still picture is no movie";
    if (mp3) {
        EXPECT_EQ(convert(xa1, Conversion::Mp3), 1);
    }
    // XA2 to WAVE through the page, into an output path of its own.
    select({xa2});
    m_window->tabs()->setCurrentIndex(MainWindow::kPageConversion);
    auto* type = child<QComboBox>("conversionType");
    type->setCurrentIndex(type->findData(int(Conversion::Wave)));
    emit type->activated(type->currentIndex());
    EXPECT_EQ(m_window->entry(xa2).conversion, Conversion::Wave);
    const QString ownWave = QString::fromStdString((m_folder.path() / "own" / "chosen.wav").string());
    auto* outputEdit = child<QLineEdit>("outputPath");
    ASSERT_TRUE(outputEdit->isEnabled());
    outputEdit->setText(ownWave);
    emit outputEdit->editingFinished();
    EXPECT_EQ(m_window->entry(xa2).output, ownWave);
    // Settings of the options record the converters must follow.
    choose("waveRate", 22050);
    choose("aviRate", 22050);
    choose("mp3BitRate", 64);
    EXPECT_EQ(m_options.waveSampleRate, 22050);
    EXPECT_EQ(m_options.aviSampleRate, 22050);
    EXPECT_EQ(m_options.mp3BitRate, 64);

    const std::vector<int> converted = mp3 ? std::vector<int>{movie, mv3, still, song, xa1, xa2}
                                           : std::vector<int>{movie, mv3, still, song, xa2};
    std::vector<QString> outputs;
    for (int row : converted)
        outputs.push_back(output(row));

    qint64 worst = 0;
    {
        LoopWatch watch;
        m_window->startConversion();
        worst = watch.worstMs();
    }
    RecordProperty("worst_event_loop_gap_ms", int(worst));
    std::printf("[ conversion ] event loop's worst gap during the window's batch: %lld ms\n",
                static_cast<long long>(worst));
    EXPECT_LT(worst, 250) << "the event loop was blocked";
    EXPECT_EQ(openDialog(), nullptr);

    for (size_t i = 0; i < converted.size(); ++i) {
        const StreamEntry& e = m_window->entry(converted[i]);
        EXPECT_EQ(e.done & 1, 1) << e.title.toStdString();
        EXPECT_TRUE(e.tried);
        EXPECT_EQ(e.lastResult, PLB_CONV_OK) << e.title.toStdString();
        EXPECT_EQ(tooltip(converted[i]), resultText(PLB_CONV_OK));
        EXPECT_FALSE(m_window->streamList()->topLevelItem(converted[i])->icon(MainWindow::kColConversion).isNull());
        EXPECT_TRUE(QFileInfo::exists(outputs[i])) << outputs[i].toStdString();
    }
    for (int row = 0; row < m_window->entryCount(); ++row)
        if (std::find(converted.begin(), converted.end(), row) == converted.end()) {
            EXPECT_FALSE(m_window->entry(row).tried) << row;
        }

    const QString avi = QString::fromStdString((m_folder.path() / "Movie").string()) + "/" +
                        QFileInfo(kMovie).completeBaseName() + ".avi";
    EXPECT_EQ(outputs[0], avi);
    EXPECT_EQ(probe(avi, "v:0", "codec_type,width,height"), "video,160,112\n");
    EXPECT_EQ(probe(avi, "a:0", "sample_rate,channels"), "22050,2\n");
    EXPECT_EQ(probe(ownWave, "a:0", "codec_name,sample_rate,channels"), "pcm_s16le,22050,1\n");
    if (mp3) {
        EXPECT_TRUE(outputs[4].endsWith(".mp3"));
        EXPECT_EQ(probe(outputs[4], "a:0", "codec_name,bit_rate"), "mp3,64000\n");
    }
    EXPECT_EQ(convtest::bmpSize(outputs[2].toStdString()), (convtest::BmpSize{int32_t(tim.width()), int32_t(tim.height)}));
    EXPECT_EQ(head(outputs[3], 4), "MThd");

    // The compact movie opens in the window as a stream file: the disc movie's frames and size.
    const StrInfo source = m_window->entry(mv3).info;
    ASSERT_TRUE(outputs[1].endsWith(".cstr"));
    ASSERT_TRUE(m_window->openStreamFile(outputs[1]));
    const StreamEntry& repacked = m_window->entry(fileRow(outputs[1]));
    EXPECT_EQ(uint32_t{repacked.info.frameCount}, uint32_t{source.frameCount});
    EXPECT_GT(uint32_t{source.frameCount}, 0u);
    EXPECT_EQ(uint32_t{repacked.info.width}, uint32_t{source.width});
    EXPECT_EQ(uint32_t{repacked.info.height}, uint32_t{source.height});
    EXPECT_EQ(repacked.info.kind & kKindVideo, kKindVideo);

    // Done stays done: a second start converts only the new entry (it has no conversion).
    convert(fileRow(outputs[1]), Conversion::None);
    const auto modified = fs::last_write_time(avi.toStdString());
    ASSERT_TRUE(m_window->previewRow(movie));
    m_window->startConversion();
    EXPECT_EQ(openDialog(), nullptr);
    EXPECT_EQ(fs::last_write_time(avi.toStdString()), modified);
    EXPECT_NE(m_window->viewer()->player(), nullptr) << "with nothing to convert the preview stays open";
}

// A stop while the batch runs: the item under way leaves no file and is not done, no later item
// starts; the choices made in the dialog go back into the options record.
TEST_F(ConversionFlowTest, StoppedBatchLeavesNoPartialFileAndItsEntriesNotDone)
{
    m_window->show();
    ASSERT_EQ(m_window->openPaths({kLongMovie}), 1);
    ASSERT_TRUE(openDisc());
    convertNothing();
    std::vector<int> rows;
    for (int row = 0; row < m_window->entryCount(); ++row)
        if (m_window->entry(row).info.kind & kKindVideo)
            rows.push_back(row);
    ASSERT_GE(rows.size(), 3u);
    for (int row : rows)
        EXPECT_EQ(convert(row, Conversion::Avi), 1);
    std::vector<QString> outputs;
    for (int row : rows)
        outputs.push_back(output(row));
    m_options.batchPriority = kPriorityBelow;

    bool stopped = false;
    LoopWatch watch([&](BatchDialog& dialog) {
        // At the first progress seen: the items are short, so waiting for a later one could find
        // the batch already over.
        const QString percent = dialog.findChild<QLabel*>("percent")->text();
        if (stopped || percent.isEmpty())
            return;
        stopped = true;
        dialog.findChild<QRadioButton*>("priorityHigh")->click();
        QTest::mouseClick(dialog.findChild<QPushButton*>("stop"), Qt::LeftButton);
    });
    m_window->startConversion();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(openDialog(), nullptr);
    // The items finished before the stop keep their files; from the first one not done on, none
    // is done and none has a file.
    int done = 0;
    bool gap = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        const StreamEntry& e = m_window->entry(rows[i]);
        const bool isDone = (e.done & 1) != 0;
        done += isDone ? 1 : 0;
        EXPECT_FALSE(gap && isDone) << "an item after the stopped one was converted: " << outputs[i].toStdString();
        gap = gap || !isDone;
        EXPECT_EQ(QFileInfo::exists(outputs[i]), isDone) << outputs[i].toStdString();
    }
    EXPECT_LT(done, int(rows.size())) << "the batch went on to its end after the stop";
    // No partial output anywhere in the movie folder: only the finished items' files.
    int files = 0;
    for (const auto& file : fs::directory_iterator(m_folder.path() / "Movie"))
        files += file.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, done);
    EXPECT_EQ(m_options.batchPriority, kPriorityAbove) << "the choice made in the dialog is kept";
    std::printf("[ conversion ] stopped batch: %d of %zu items done, worst gap %lld ms\n", done, rows.size(),
                static_cast<long long>(watch.worstMs()));
}

// Output names: the title with the characters no file name may hold made underscores (multi-byte
// characters kept whole), the folder and extension of the type, an entry's own path unchanged.
TEST_F(ConversionFlowTest, OutputNamesFollowTheTypeFolderAndTheTitle)
{
    struct Case
    {
        const char* file; // the stream file's name
        const char* base; // the output's name without folder and extension
    };
    const Case cases[] = {
        {"plain.str", "plain"},
        {"a:b,c;d.str", "a_b_c_d"},
        {"star*less<more>bar|q?.str", "star_less_more_bar_q_"},
        {"quote\"back\\slash.str", "quote_back_slash"},
        {"日本語:タイトル.str", "日本語_タイトル"},
        {"two.dots.str", "two.dots"},
    };
    for (const Case& c : cases) {
        const fs::path copy = m_folder.path() / fs::u8path(c.file);
        fs::copy_file(kMovie.toStdString(), copy);
        ASSERT_TRUE(m_window->openStreamFile(QString::fromStdString(copy.string()))) << c.file;
    }
    struct Folder
    {
        Conversion type;
        std::string folder;
        QString extension;
    };
    const std::string base = m_folder.path().string();
    const Folder folders[] = {
        {Conversion::Avi, base + "/Movie", "avi"},
        {Conversion::Cstr, base + "/Movie", "cstr"},
        {Conversion::Wave, base + "/Audio", "wav"},
    };
    // The folders of the record as the page edits them.
    auto* cstrFolder = child<QLineEdit>("cstrFolder");
    cstrFolder->setText(QString::fromStdString(base + "/Compact"));
    emit cstrFolder->editingFinished();
    EXPECT_EQ(fieldText(m_options.cstrFolder), base + "/Compact");
    const std::string tooLong(300, 'x');
    cstrFolder->setText(QString::fromStdString("/" + tooLong));
    emit cstrFolder->editingFinished();
    EXPECT_EQ(fieldText(m_options.cstrFolder), base + "/Compact") << "a folder too long for the record is refused";
    EXPECT_EQ(cstrFolder->text().toStdString(), base + "/Compact");

    for (const Case& c : cases) {
        const int row = fileRow(QString::fromStdString((m_folder.path() / fs::u8path(c.file)).string()));
        ASSERT_GE(row, 0) << c.file;
        for (const Folder& f : folders) {
            convert(row, f.type);
            const std::string folder = f.type == Conversion::Cstr ? base + "/Compact" : f.folder;
            EXPECT_EQ(output(row), QString::fromStdString(folder) + "/" + QString::fromUtf8(c.base) + "." + f.extension)
                << c.file;
        }
    }
    // MP3's extension follows its container.
    const int row = fileRow(QString::fromStdString((m_folder.path() / "plain.str").string()));
    const struct
    {
        int format;
        const char* extension;
    } formats[] = {{0, "mp3"}, {1, "wav"}, {2, "rmp"}};
    m_window->entryCount();
    for (const auto& f : formats) {
        m_options.mp3Format = int16_t(f.format);
        StreamEntry e = m_window->entry(row);
        e.conversion = Conversion::Mp3;
        EXPECT_EQ(page().outputName(e), QString::fromStdString(base + "/Audio/plain.") + f.extension);
    }
    // An own path is taken as it is; no conversion has no output.
    StreamEntry own = m_window->entry(row);
    own.output = "/somewhere/else.bin";
    EXPECT_EQ(page().outputName(own), "/somewhere/else.bin");
    StreamEntry none = m_window->entry(row);
    none.conversion = Conversion::None;
    EXPECT_EQ(page().outputName(none), QString());
}

// A conversion that fails shows the library's message of its code on the row and is done (the
// batch was not stopped); the existing-file policy of the page decides between 1000 and a new file.
TEST_F(ConversionFlowTest, FailuresShowTheLibrarysMessageOnTheirRow)
{
    ASSERT_EQ(m_window->openPaths({kMovie}), 1);
    const int row = fileRow(kMovie);
    struct Case
    {
        const char* name;
        int existing;   // the page's choice
        bool occupied;  // the output is there before
        QString output; // the entry's own path
        int32_t result;
    };
    const QString taken = QString::fromStdString((m_folder.path() / "taken.wav").string());
    const Case cases[] = {
        {"unwritable folder", kExistingOverwrite, false, "/proc/self/no/such.wav", PLB_CONV_WAVE_FILE},
        {"existing, skipped", kExistingSkip, true, taken, PLB_CONV_OUTPUT_EXISTS},
        {"existing, overwritten", kExistingOverwrite, true, taken, PLB_CONV_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A fresh entry each time: what is done is never converted again.
        m_window->streamList()->selectAll();
        m_window->removeSelected();
        ASSERT_TRUE(m_window->openStreamFile(kMovie));
        ASSERT_EQ(convert(row, Conversion::Wave), 1);
        choose("existingFiles", c.existing);
        EXPECT_EQ(m_options.existingFiles, c.existing);
        if (c.occupied)
            writeFile(taken.toStdString(), {'o', 'l', 'd'});
        auto* edit = child<QLineEdit>("outputPath");
        edit->setText(c.output);
        emit edit->editingFinished();
        m_window->startConversion();
        const StreamEntry& e = m_window->entry(row);
        EXPECT_TRUE(e.tried);
        EXPECT_EQ(e.lastResult, c.result);
        EXPECT_EQ(e.done & 1, 1);
        EXPECT_EQ(tooltip(row), resultText(c.result));
        EXPECT_FALSE(tooltip(row).isEmpty());
        if (c.occupied) {
            EXPECT_EQ(head(taken, 4), c.result == PLB_CONV_OK ? "RIFF" : "old");
        }
    }
    EXPECT_EQ(resultText(PLB_CONV_OUTPUT_EXISTS), "Output file already exists.");
}

// The page in both languages, the selection holding a movie converted to AVI.
TEST(ConversionPageScreenshot, MainWindowConversionInBothLanguages)
{
    if (!guitest::screenshotsWanted())
        GTEST_SKIP() << "screenshots are not asked for";
    for (const char* language : {"en", "ja"}) {
        uitest::ProgramScope scope{language};
        ASSERT_TRUE(scope.library.ready());
        MainWindow window;
        window.resize(1100, 720);
        ASSERT_EQ(window.openPaths({kMovie}), 1);
        window.streamList()->setCurrentItem(window.streamList()->topLevelItem(0));
        window.streamList()->topLevelItem(0)->setSelected(true);
        window.tabs()->setCurrentIndex(MainWindow::kPageConversion);
        EXPECT_TRUE(guitest::saveScreenshot(window, QString(language) + "/main-window-conversion"));
    }
}

// The compression settings command gives the selected movies a codec of their own, which their
// conversion uses; the options' codec and the other entries stay as they were; Cancel changes
// nothing.
TEST_F(ConversionFlowTest, CompressionSettingsOfTheSelectedMoviesAreTheirOwn)
{
    const QString second = QString::fromStdString((m_folder.path() / "second.str").string());
    fs::copy_file(kMovie.toStdString(), second.toStdString());
    ASSERT_EQ(m_window->openPaths({kMovie, second}), 2);
    const int first = fileRow(kMovie), other = fileRow(second);
    ASSERT_EQ(convert(first, Conversion::Avi), 1);
    ASSERT_EQ(convert(other, Conversion::Wave), 1);
    const PlbAviCompression before = m_options.aviCompression;

    // The WAVE entry's own settings come first; both dialogs cancelled.
    uitest::ModalUser cancel;
    cancel.then("entrySettingsDialog", [](QDialog& dialog) { uitest::click(dialog, "cancel"); })
        .then("codecDialog", [](QDialog& dialog) { uitest::click(dialog, "cancel"); });
    select({first, other});
    EXPECT_FALSE(m_window->editConversionSettings());
    EXPECT_TRUE(cancel.finished());
    EXPECT_FALSE(m_window->entry(first).avi.has_value());

    bool offered = false;
    uitest::ModalUser user;
    user.then("entrySettingsDialog", [](QDialog& dialog) { uitest::click(dialog, "cancel"); });
    user.then("codecDialog", [&](QDialog& dialog) {
        auto* codec = dialog.findChild<QComboBox*>("codec");
        for (int i = 0; i < codec->count(); ++i)
            if (codec->itemText(i).contains("JPEG", Qt::CaseInsensitive)) {
                codec->setCurrentIndex(i);
                offered = true;
                break;
            }
        uitest::click(dialog, offered ? "ok" : "cancel");
    });
    select({first, other});
    m_window->action(40021)->trigger();
    ASSERT_TRUE(user.finished());
    if (!offered)
        GTEST_SKIP() << "no Motion JPEG encoder in this build of the codecs";
    ASSERT_TRUE(m_window->entry(first).avi.has_value());
    EXPECT_EQ(m_window->entry(first).avi->compression.handler, 0x47504A4Du) << "MJPG";
    EXPECT_FALSE(m_window->entry(other).avi.has_value()) << "a WAVE entry has no codec";
    EXPECT_FALSE(m_window->entry(other).wave.has_value()) << "its own settings were cancelled";
    EXPECT_EQ(std::memcmp(&before, &m_options.aviCompression, sizeof before), 0) << "the options' codec stays";

    convert(other, Conversion::None);
    m_window->startConversion();
    EXPECT_EQ(m_window->entry(first).lastResult, PLB_CONV_OK);
    EXPECT_EQ(probe(output(first), "v:0", "codec_name"), "mjpeg\n");
}

// The sound entries' own settings: the dialog's choice reaches the selected entry's conversion
// only; Cancel leaves the entry on the options' settings.
TEST_F(ConversionFlowTest, OwnSoundSettingsReachTheSelectedEntryOnly)
{
    const QString second = QString::fromStdString((m_folder.path() / "second.str").string());
    fs::copy_file(kMovie.toStdString(), second.toStdString());
    ASSERT_EQ(m_window->openPaths({kMovie, second}), 2);
    const int first = fileRow(kMovie), other = fileRow(second);
    ASSERT_EQ(convert(first, Conversion::Wave), 1);
    ASSERT_EQ(convert(other, Conversion::Wave), 1);

    uitest::ModalUser cancel;
    cancel.then("entrySettingsDialog", [](QDialog& dialog) {
        auto* rate = dialog.findChild<QComboBox*>("waveRate");
        EXPECT_EQ(rate->currentData().toInt(), 37800) << "the source's rate, as the options ask";
        rate->setCurrentIndex(rate->findData(11025));
        uitest::click(dialog, "cancel");
    });
    select({first});
    EXPECT_FALSE(m_window->editConversionSettings());
    EXPECT_TRUE(cancel.finished());
    EXPECT_FALSE(m_window->entry(first).wave.has_value());

    uitest::ModalUser user;
    user.then("entrySettingsDialog", [](QDialog& dialog) {
        EXPECT_EQ(dialog.findChild<QWidget*>("mp3Settings"), nullptr) << "no MP3 entry is selected";
        auto* rate = dialog.findChild<QComboBox*>("waveRate");
        rate->setCurrentIndex(rate->findData(11025));
        auto* channels = dialog.findChild<QComboBox*>("waveChannels");
        channels->setCurrentIndex(channels->findData(1));
        uitest::click(dialog, "ok");
    });
    select({first});
    m_window->action(40021)->trigger();
    ASSERT_TRUE(user.finished());
    ASSERT_TRUE(m_window->entry(first).wave.has_value());
    EXPECT_FALSE(m_window->entry(other).wave.has_value());

    m_window->startConversion();
    EXPECT_EQ(m_window->entry(first).lastResult, PLB_CONV_OK);
    EXPECT_EQ(probe(output(first), "a:0", "sample_rate,channels"), "11025,1\n");
    EXPECT_EQ(probe(output(other), "a:0", "sample_rate,channels"), "37800,2\n");
}
