// The real program started on a home folder of its own and stopped as a service manager stops
// it (SIGTERM): the options file it leaves behind, whatever it found there at start.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <vector>

#include "../support/scratch_folder.h"
#include "options_file.h"

using namespace tamrin;

namespace {

std::vector<uint8_t> readBytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

template <typename T> T at(const std::vector<uint8_t>& bytes, size_t offset)
{
    T value{};
    if (offset + sizeof(T) <= bytes.size())
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
    return value;
}

std::string textAt(const std::vector<uint8_t>& bytes, size_t offset, size_t width)
{
    std::string text;
    for (size_t i = offset; i < offset + width && i < bytes.size() && bytes[i]; ++i)
        text += char(bytes[i]);
    return text;
}

struct ProgramRun
{
    int exitCode = -1;
    bool normalExit = false;
    QString errors;
};

// Starts the program with `home` as its only folder, lets the window come up and sends SIGTERM.
ProgramRun runProgram(const std::filesystem::path& home)
{
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("TAMRIN_HOME", QString::fromStdString(home.string()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.start(QString(TAMRIN_OUT_DIR) + "/tamrin", {});
    ProgramRun run;
    if (!program.waitForStarted(10000))
        return run;
    QTest::qWait(1500);
    program.terminate(); // SIGTERM
    if (!program.waitForFinished(15000)) {
        program.kill();
        program.waitForFinished(5000);
        return run;
    }
    run.exitCode = program.exitCode();
    run.normalExit = program.exitStatus() == QProcess::NormalExit;
    run.errors = QString::fromLocal8Bit(program.readAllStandardError());
    return run;
}

// What every file the program writes must satisfy, whatever it started from.
void expectValidRecord(const std::vector<uint8_t>& bytes)
{
    ASSERT_EQ(bytes.size(), kOptionsFileSize);
    EXPECT_LE(at<uint32_t>(bytes, 0x638), 15u);
    const int32_t mode = at<int32_t>(bytes, 0x624);
    EXPECT_TRUE(mode >= kPlayOne && mode <= kPlayAll) << mode;
    const int16_t volume = at<int16_t>(bytes, 0x65C);
    EXPECT_TRUE(volume >= 1 && volume <= 100) << volume;
    const uint16_t size = at<uint16_t>(bytes, 0x688);
    EXPECT_TRUE(size >= kPreviewHalf && size <= kPreviewEnlarged) << size;
    for (size_t field = 0; field < 6; ++field)
        EXPECT_LT(textAt(bytes, field * kFolderBytes, kFolderBytes).size(), kFolderBytes);
}

std::vector<uint8_t> olderRunRecord(const std::filesystem::path& home)
{
    OptionsEnvironment environment;
    environment.baseFolder = home;
    environment.createFolders = false;
    TamrinOptions options = defaultOptions(environment);
    options.listFilter = 40049; // written by a version that stored the menu command
    options.playMode = kPlayRepeat;
    options.volume = 37;
    options.sortKey = 2;
    options.previewSize = kPreviewEnlarged;
    options.previewFlags = kPreviewOnTop;
    options.popupLeft = 123;
    options.popupTop = 45;
    options.existingFiles = kExistingSkip;
    setFieldText(options.videoConversion, "CSTR");
    setFieldText(options.openFolder, (home / "streams").string());
    const auto bytes = writeOptions(options);
    return {bytes.begin(), bytes.end()};
}

} // namespace

TEST(ProgramOptions, WrittenAtTheEndWhateverTheProgramFoundAtStart)
{
    struct Case
    {
        const char* name;
        std::function<std::vector<uint8_t>(const std::filesystem::path& home)> stored; // empty: no file
        std::function<void(const std::filesystem::path& home, const std::vector<uint8_t>& written)> check;
    };
    const std::vector<Case> cases = {
        {"no file", nullptr,
         [](const std::filesystem::path& home, const std::vector<uint8_t>& written) {
             EXPECT_EQ(at<uint32_t>(written, 0x638), 15u);
             EXPECT_EQ(at<int32_t>(written, 0x61C), kExistingAsk);
             EXPECT_EQ(at<int32_t>(written, 0x620), kPriorityBelow);
             EXPECT_EQ(at<int32_t>(written, 0x624), kPlayOne);
             EXPECT_EQ(at<int32_t>(written, 0x62C), 44100);
             EXPECT_EQ(textAt(written, 0x63C, 7), "AVI");
             EXPECT_EQ(textAt(written, 0x643, 7), "WAVE");
             EXPECT_EQ(textAt(written, 0x64E, 7), "BMP");
             EXPECT_EQ(textAt(written, 0x655, 7), "MID");
             EXPECT_EQ(at<int16_t>(written, 0x65C), 100);
             EXPECT_EQ(at<uint16_t>(written, 0x688), kPreviewSame);
             EXPECT_EQ(textAt(written, 0x104, kFolderBytes), (home / "Movie").string());
             EXPECT_EQ(textAt(written, 0x514, kFolderBytes), (home / "Bitmap").string());
             // The output folders of a first run are made.
             EXPECT_TRUE(std::filesystem::is_directory(home / "Movie"));
             EXPECT_TRUE(std::filesystem::is_directory(home / "Audio"));
             EXPECT_TRUE(std::filesystem::is_directory(home / "Bitmap"));
         }},
        {"file of an older run", olderRunRecord,
         [](const std::filesystem::path& home, const std::vector<uint8_t>& written) {
             EXPECT_EQ(at<uint32_t>(written, 0x638), 1u); // old "movies only" command
             EXPECT_EQ(at<int32_t>(written, 0x624), kPlayRepeat);
             EXPECT_EQ(at<int16_t>(written, 0x65C), 37);
             EXPECT_EQ(at<int16_t>(written, 0x64A), 2);
             EXPECT_EQ(at<uint16_t>(written, 0x688), kPreviewEnlarged);
             EXPECT_EQ(at<uint16_t>(written, 0x68A), kPreviewOnTop);
             EXPECT_EQ(at<int32_t>(written, 0x61C), kExistingSkip);
             EXPECT_EQ(textAt(written, 0x63C, 7), "CSTR");
             EXPECT_EQ(textAt(written, 0, kFolderBytes), (home / "streams").string());
             // Every byte other than the translated filter is as it was stored.
             std::vector<uint8_t> expected = olderRunRecord(home);
             const uint32_t one = 1;
             std::memcpy(expected.data() + 0x638, &one, sizeof one);
             EXPECT_EQ(written, expected);
         }},
        {"file of 100 bytes",
         [](const std::filesystem::path& home) {
             const std::vector<uint8_t> whole = olderRunRecord(home);
             return std::vector<uint8_t>(whole.begin(), whole.begin() + 100);
         },
         [](const std::filesystem::path& home, const std::vector<uint8_t>& written) {
             EXPECT_EQ(at<uint32_t>(written, 0x638), 15u);
             EXPECT_EQ(at<int32_t>(written, 0x624), kPlayOne);
             EXPECT_EQ(textAt(written, 0x104, kFolderBytes), (home / "Movie").string());
         }},
        {"file of random bytes",
         [](const std::filesystem::path&) {
             std::mt19937 random(20);
             std::vector<uint8_t> bytes(kOptionsFileSize);
             for (uint8_t& byte : bytes)
                 byte = uint8_t(random());
             return bytes;
         },
         [](const std::filesystem::path&, const std::vector<uint8_t>&) {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScratchFolder home{"program-options"};
        ASSERT_TRUE(home.made());
        const std::filesystem::path file = home.path() / "Tamrin.ini";
        if (c.stored)
            writeBytes(file, c.stored(home.path()));
        const ProgramRun run = runProgram(home.path());
        EXPECT_TRUE(run.normalExit);
        EXPECT_EQ(run.exitCode, 0) << run.errors.toStdString();
        const std::vector<uint8_t> written = readBytes(file);
        expectValidRecord(written);
        c.check(home.path(), written);
    }
}

TEST(ProgramOptions, AFileThatCannotBeWrittenIsToldAndTheProgramEndsCleanly)
{
    testsupport::ScratchFolder home{"program-options-blocked"};
    ASSERT_TRUE(home.made());
    // A folder where the file should be: the record cannot replace it.
    std::filesystem::create_directory(home.path() / "Tamrin.ini");
    const ProgramRun run = runProgram(home.path());
    EXPECT_TRUE(run.normalExit);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.errors.contains("options were not saved")) << run.errors.toStdString();
    EXPECT_TRUE(std::filesystem::is_directory(home.path() / "Tamrin.ini"));
}
