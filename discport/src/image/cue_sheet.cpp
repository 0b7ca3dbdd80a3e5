#include "cue_sheet.h"

#include <algorithm>
#include <cctype>

namespace discport::image {
namespace {

struct Token
{
    std::string text;
    bool quoted = false;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) ==
                      std::toupper(static_cast<unsigned char>(y));
           });
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Splits a line into words; a word in double quotes may hold blanks.
bool tokenize(std::string_view line, std::vector<Token>& tokens, std::string& error)
{
    size_t i = 0;
    while (i < line.size()) {
        if (isBlank(line[i])) {
            ++i;
            continue;
        }
        Token token;
        if (line[i] == '"') {
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                error = "a quoted name has no closing quote";
                return false;
            }
            token.text = std::string(line.substr(i + 1, close - i - 1));
            token.quoted = true;
            i = close + 1;
        } else {
            const size_t start = i;
            while (i < line.size() && !isBlank(line[i]))
                ++i;
            token.text = std::string(line.substr(start, i - start));
        }
        if (token.text.find('\0') != std::string::npos) {
            error = "the line holds a zero byte";
            return false;
        }
        tokens.push_back(std::move(token));
    }
    return true;
}

bool parseNumber(std::string_view text, size_t maxDigits, uint32_t& value)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + uint32_t(c - '0');
    }
    return true;
}

bool parseTrackMode(std::string_view text, TrackMode& mode)
{
    static const struct
    {
        std::string_view name;
        TrackMode mode;
    } kModes[] = {{"AUDIO", TrackMode::Audio},
                  {"MODE1/2048", TrackMode::Mode1_2048},
                  {"MODE1/2352", TrackMode::Mode1_2352},
                  {"MODE2/2336", TrackMode::Mode2_2336},
                  {"MODE2/2352", TrackMode::Mode2_2352}};
    for (const auto& known : kModes) {
        if (equalsIgnoringCase(text, known.name)) {
            mode = known.mode;
            return true;
        }
    }
    return false;
}

class Parser
{
  public:
    explicit Parser(CueSheet& sheet) : m_sheet(sheet) {}

    bool line(std::vector<Token>& tokens, std::string& error);
    bool finish(std::string& error);

  private:
    bool closeTrack(std::string& error);
    bool closeFile(std::string& error);
    bool command(std::string_view name, std::vector<Token>& tokens, std::string& error);

    CueSheet& m_sheet;
    bool m_inFile = false;
    bool m_fileHasTrack = false;
    bool m_inTrack = false;
    int m_lastIndex = -1;         // index number last given in the current track
    uint32_t m_lastIndexTime = 0; // its time
    bool m_hasPregap = false;
    bool m_hasPostgap = false;
};

bool Parser::closeTrack(std::string& error)
{
    if (!m_inTrack)
        return true;
    const CueTrack& track = m_sheet.tracks.back();
    if (m_lastIndex < 1) {
        error = "track " + std::to_string(track.number) + " has no INDEX 01";
        return false;
    }
    m_inTrack = false;
    return true;
}

bool Parser::closeFile(std::string& error)
{
    if (!closeTrack(error))
        return false;
    if (m_inFile && !m_fileHasTrack) {
        error = "file \"" + m_sheet.files.back().name + "\" has no tracks";
        return false;
    }
    m_inFile = false;
    return true;
}

bool Parser::command(std::string_view name, std::vector<Token>& tokens, std::string& error)
{
    const size_t arguments = tokens.size() - 1;
    auto wantArguments = [&](size_t count) {
        if (arguments == count)
            return true;
        error = std::string(name) + " takes " + std::to_string(count) + " argument" + (count == 1 ? "" : "s");
        return false;
    };

    if (equalsIgnoringCase(name, "FILE")) {
        if (arguments < 2) {
            error = "FILE needs a name and a type";
            return false;
        }
        if (!closeFile(error))
            return false;
        CueFile file;
        // An unquoted name may hold blanks: everything between FILE and the type.
        if (arguments > 2 && tokens[1].quoted) {
            error = "FILE takes 2 arguments";
            return false;
        }
        for (size_t i = 1; i + 1 < tokens.size(); ++i)
            file.name += (i > 1 ? " " : "") + tokens[i].text;
        const std::string& type = tokens.back().text;
        if (file.name.empty()) {
            error = "FILE has an empty name";
            return false;
        }
        if (equalsIgnoringCase(type, "BINARY")) {
            file.bigEndianAudio = false;
        } else if (equalsIgnoringCase(type, "MOTOROLA")) {
            file.bigEndianAudio = true;
        } else {
            error = "file type " + type + " is not supported (only BINARY and MOTOROLA)";
            return false;
        }
        m_sheet.files.push_back(std::move(file));
        m_inFile = true;
        m_fileHasTrack = false;
        return true;
    }

    if (equalsIgnoringCase(name, "TRACK")) {
        if (!wantArguments(2))
            return false;
        if (!m_inFile) {
            error = "TRACK before any FILE";
            return false;
        }
        if (!closeTrack(error))
            return false;
        uint32_t number = 0;
        if (!parseNumber(tokens[1].text, 3, number)) {
            error = "bad track number " + tokens[1].text;
            return false;
        }
        if (number < 1 || number > uint32_t(kMaxTracks) || m_sheet.tracks.size() >= size_t(kMaxTracks)) {
            error = "track number " + tokens[1].text + " is out of range 1-99 (too many tracks)";
            return false;
        }
        if (!m_sheet.tracks.empty() && int(number) != m_sheet.tracks.back().number + 1) {
            error = "track " + tokens[1].text + " does not follow track " +
                    std::to_string(m_sheet.tracks.back().number);
            return false;
        }
        CueTrack track;
        track.number = int(number);
        track.file = m_sheet.files.size() - 1;
        if (!parseTrackMode(tokens[2].text, track.mode)) {
            error = "unsupported track mode " + tokens[2].text;
            return false;
        }
        m_sheet.tracks.push_back(track);
        m_inTrack = true;
        m_fileHasTrack = true;
        m_lastIndex = -1;
        m_lastIndexTime = 0;
        m_hasPregap = false;
        m_hasPostgap = false;
        return true;
    }

    if (equalsIgnoringCase(name, "INDEX")) {
        if (!wantArguments(2))
            return false;
        if (!m_inTrack) {
            error = "INDEX outside a track";
            return false;
        }
        uint32_t number = 0;
        if (!parseNumber(tokens[1].text, 2, number) || number > 99) {
            error = "bad index number " + tokens[1].text;
            return false;
        }
        uint32_t time = 0;
        if (!parseCueTime(tokens[2].text, time)) {
            error = "bad time " + tokens[2].text;
            return false;
        }
        if (m_hasPostgap) {
            error = "INDEX after POSTGAP";
            return false;
        }
        if (int(number) <= m_lastIndex) {
            error = "INDEX " + tokens[1].text + " does not follow INDEX " + std::to_string(m_lastIndex);
            return false;
        }
        if (m_lastIndex < 0 && number > 1) {
            error = "INDEX " + tokens[1].text + " before INDEX 01";
            return false;
        }
        if (m_lastIndex >= 0 && time < m_lastIndexTime) {
            error = "INDEX " + tokens[1].text + " at " + tokens[2].text + " comes before the previous index";
            return false;
        }
        CueTrack& track = m_sheet.tracks.back();
        // The first index of a track that shares its file with the track before must lie after
        // that track's INDEX 01, so every track keeps at least one sector.
        if (m_lastIndex < 0 && m_sheet.tracks.size() > 1) {
            const CueTrack& previous = m_sheet.tracks[m_sheet.tracks.size() - 2];
            if (previous.file == track.file && time <= previous.index1) {
                error = "INDEX " + tokens[1].text + " at " + tokens[2].text +
                        " does not lie after INDEX 01 of the track before";
                return false;
            }
        }
        if (number == 0)
            track.index0 = time;
        else if (number == 1)
            track.index1 = time;
        m_lastIndex = int(number);
        m_lastIndexTime = time;
        return true;
    }

    if (equalsIgnoringCase(name, "PREGAP") || equalsIgnoringCase(name, "POSTGAP")) {
        const bool pre = equalsIgnoringCase(name, "PREGAP");
        if (!wantArguments(1))
            return false;
        if (!m_inTrack) {
            error = std::string(name) + " outside a track";
            return false;
        }
        uint32_t time = 0;
        if (!parseCueTime(tokens[1].text, time)) {
            error = "bad time " + tokens[1].text;
            return false;
        }
        CueTrack& track = m_sheet.tracks.back();
        if (pre) {
            if (m_hasPregap || m_lastIndex >= 0) {
                error = "PREGAP must come once, before the track's indexes";
                return false;
            }
            track.pregap = time;
            m_hasPregap = true;
        } else {
            if (m_hasPostgap || m_lastIndex < 1) {
                error = "POSTGAP must come once, after INDEX 01";
                return false;
            }
            track.postgap = time;
            m_hasPostgap = true;
        }
        return true;
    }

    if (equalsIgnoringCase(name, "FLAGS")) {
        if (!m_inTrack) {
            error = "FLAGS outside a track";
            return false;
        }
        uint8_t control = 0;
        for (size_t i = 1; i < tokens.size(); ++i) {
            const std::string& flag = tokens[i].text;
            if (equalsIgnoringCase(flag, "PRE"))
                control |= 0x01;
            else if (equalsIgnoringCase(flag, "DCP"))
                control |= 0x02;
            else if (equalsIgnoringCase(flag, "4CH"))
                control |= 0x08;
            else if (!equalsIgnoringCase(flag, "SCMS")) {
                error = "unknown flag " + flag;
                return false;
            }
        }
        m_sheet.tracks.back().control = control;
        return true;
    }

    if (equalsIgnoringCase(name, "CATALOG")) {
        if (!wantArguments(1))
            return false;
        const std::string& digits = tokens[1].text;
        if (digits.size() != 13 ||
            !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            error = "CATALOG needs 13 digits";
            return false;
        }
        if (!m_sheet.catalog.empty()) {
            error = "second CATALOG";
            return false;
        }
        m_sheet.catalog = digits;
        return true;
    }

    static constexpr std::string_view kIgnored[] = {"REM",        "TITLE", "PERFORMER",
                                                    "SONGWRITER", "ISRC",  "CDTEXTFILE"};
    for (std::string_view ignored : kIgnored)
        if (equalsIgnoringCase(name, ignored))
            return true;

    std::string shown(name.substr(0, 32));
    for (char& c : shown)
        if (!std::isprint(static_cast<unsigned char>(c)))
            c = '?';
    error = "unknown command " + shown;
    return false;
}

bool Parser::line(std::vector<Token>& tokens, std::string& error)
{
    if (tokens.empty())
        return true;
    if (tokens[0].quoted) {
        error = "a line starts with a quoted word";
        return false;
    }
    return command(tokens[0].text, tokens, error);
}

bool Parser::finish(std::string& error)
{
    if (!closeFile(error))
        return false;
    if (m_sheet.tracks.empty()) {
        error = "the sheet names no tracks";
        return false;
    }
    return true;
}

} // namespace

uint32_t storedSectorSize(TrackMode mode)
{
    switch (mode) {
    case TrackMode::Mode1_2048:
        return 2048;
    case TrackMode::Mode2_2336:
        return 2336;
    default:
        return 2352;
    }
}

bool parseCueTime(std::string_view text, uint32_t& sectors)
{
    const size_t first = text.find(':');
    const size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos)
        return false;
    uint32_t minutes = 0, seconds = 0, frames = 0;
    if (!parseNumber(text.substr(0, first), 3, minutes) ||
        !parseNumber(text.substr(first + 1, second - first - 1), 2, seconds) ||
        !parseNumber(text.substr(second + 1), 2, frames))
        return false;
    if (seconds >= 60 || frames >= 75)
        return false;
    sectors = (minutes * 60 + seconds) * 75 + frames;
    return true;
}

bool parseCueSheet(std::string_view text, CueSheet& sheet, std::string& error)
{
    sheet = CueSheet{};
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);

    Parser parser(sheet);
    size_t position = 0;
    int lineNumber = 0;
    std::vector<Token> tokens;
    while (position < text.size()) {
        ++lineNumber;
        size_t end = position;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r')
            ++end;
        const std::string_view line = text.substr(position, end - position);
        position = end;
        if (position < text.size() && text[position] == '\r')
            ++position;
        if (position < text.size() && text[position] == '\n')
            ++position;

        tokens.clear();
        std::string reason;
        if (!tokenize(line, tokens, reason) || !parser.line(tokens, reason)) {
            error = "line " + std::to_string(lineNumber) + ": " + reason;
            return false;
        }
    }
    std::string reason;
    if (!parser.finish(reason)) {
        error = reason;
        return false;
    }
    return true;
}

} // namespace discport::image
