// The console port: messages on stderr, answers preset, typed on a terminal, or the default.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "console_port.h"
#include "tamlib/strings.h"

namespace tamrin::cli {

using namespace tamlib;

namespace {

// Lines longer than this are read and dropped past it.
constexpr size_t kMaxAnswerLine = 256;

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

bool sameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// The answer a typed line names: a button's number (1-based), its name, or the first letter of
// its English or local name when that letter names one button only. 0 when it names none.
int32_t typedAnswer(const std::string& typed, const std::vector<int32_t>& answers)
{
    static const char* const kEnglish[] = {"", "OK", "Cancel", "Abort", "Retry", "Ignore", "Yes", "No"};
    const std::string line = trimmed(typed);
    if (line.empty())
        return 0;
    char* end = nullptr;
    const long number = std::strtol(line.c_str(), &end, 10);
    if (end && *end == '\0')
        return number >= 1 && number <= long(answers.size()) ? answers[size_t(number - 1)] : 0;
    for (int32_t answer : answers) {
        if (sameIgnoringCase(line, kEnglish[answer]) || line == answerName(answer))
            return answer;
    }
    if (line.size() == 1) {
        int32_t found = 0;
        for (int32_t answer : answers) {
            if (std::tolower(static_cast<unsigned char>(line[0])) == std::tolower(kEnglish[answer][0])) {
                if (found)
                    return 0;
                found = answer;
            }
        }
        return found;
    }
    return 0;
}

// A text of the library's string table, in the language of the locale.
std::string tableText(uint32_t id)
{
    char text[PLB_STRING_MAX];
    return PlbLoadString(nullptr, text, id);
}

// A table text with numbers in it. The table's texts are the program's own, and each format
// below takes exactly the numbers its id documents.
template <typename... Numbers> std::string tableFormat(uint32_t id, Numbers... numbers)
{
    const std::string format = tableText(id);
    char text[PLB_STRING_MAX];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, format.c_str(), numbers...);
#pragma GCC diagnostic pop
    return text;
}

std::string adoptAnswerName(AdoptAnswer answer)
{
    return tableText(uint32_t(PLB_IDS_CONSOLE_ADOPT + int32_t(answer)));
}

} // namespace

ConsolePort::ConsolePort() : ConsolePort(Options{}) {}

ConsolePort::ConsolePort(const Options& options) : m_options(options) {}

FILE* ConsolePort::output() const
{
    return m_options.output ? m_options.output : stderr;
}

FILE* ConsolePort::input() const
{
    return m_options.input ? m_options.input : stdin;
}

bool ConsolePort::interactive() const
{
    if (m_options.interactive >= 0)
        return m_options.interactive != 0;
    const int fd = ::fileno(input());
    return fd >= 0 && ::isatty(fd) == 1;
}

bool ConsolePort::readLine(std::string& line) const
{
    line.clear();
    for (int c = std::fgetc(input()); c != EOF; c = std::fgetc(input())) {
        if (c == '\n')
            return true;
        if (line.size() < kMaxAnswerLine)
            line.push_back(char(c));
    }
    return !line.empty();
}

int32_t ConsolePort::message(const MessageRequest& request)
{
    FILE* out = output();
    if (request.caption.empty())
        std::fprintf(out, "%s\n", request.text.c_str());
    else
        std::fprintf(out, "%s: %s\n", request.caption.c_str(), request.text.c_str());
    const std::vector<int32_t> answers = answersOf(request.type);
    const int32_t fallback = defaultAnswer(request.type);
    if (answers.size() == 1)
        return answers.front();
    if (m_options.presetAnswer != 0 &&
        std::find(answers.begin(), answers.end(), m_options.presetAnswer) != answers.end())
        return m_options.presetAnswer;
    if (!interactive()) {
        std::fprintf(out, "(%s)\n", answerName(fallback).c_str());
        return fallback;
    }
    for (;;) {
        for (size_t i = 0; i < answers.size(); ++i)
            std::fprintf(out, "%s%zu) %s%s", i ? "  " : "", i + 1, answerName(answers[i]).c_str(),
                         answers[i] == fallback ? " *" : "");
        std::fprintf(out, ": ");
        std::fflush(out);
        std::string line;
        if (!readLine(line))
            return fallback;
        if (trimmed(line).empty())
            return fallback;
        if (const int32_t answer = typedAnswer(line, answers))
            return answer;
    }
}

int32_t ConsolePort::choose(const ChoiceRequest& request)
{
    FILE* out = output();
    const int32_t count = int32_t(std::min(request.items.size(), size_t(INT32_MAX)));
    const int32_t fallback = request.current >= 0 && request.current < count ? request.current : -1;
    if (m_options.presetChoice >= -1)
        return m_options.presetChoice < count ? m_options.presetChoice : fallback;
    std::fprintf(out, "%s\n", request.caption.c_str());
    for (int32_t i = 0; i < count; ++i)
        std::fprintf(out, "  %d) %s\n", i + 1, request.items[size_t(i)].c_str());
    if (!interactive() || count == 0)
        return fallback;
    for (;;) {
        std::fputs(tableFormat(PLB_IDS_CONSOLE_CHOICE_PROMPT, int(count)).c_str(), out);
        std::fflush(out);
        std::string line;
        if (!readLine(line) || trimmed(line).empty())
            return fallback;
        char* end = nullptr;
        const std::string text = trimmed(line);
        const long number = std::strtol(text.c_str(), &end, 10);
        if (end && *end == '\0' && number >= 0 && number <= count)
            return int32_t(number) - 1;
    }
}

void ConsolePort::setItemText(void*, int32_t, const std::string&) {}

AdoptAnswer ConsolePort::adoptCdaz(const AdoptRequest& request)
{
    FILE* out = output();
    const uint32_t countId = request.streams == 1 ? PLB_IDS_CONSOLE_ONE_STREAM : PLB_IDS_CONSOLE_STREAMS;
    std::fprintf(out, "%s: %s\n  %s\n  %s\n  %s\n", request.caption.c_str(), request.message.c_str(),
                 request.title.c_str(), request.state.c_str(),
                 tableFormat(countId, int(request.streams), int(request.validStreams)).c_str());
    for (const AdoptRequest::Plugin& plugin : request.plugins)
        std::fprintf(out, "  %-24s %6s %6s  %s\n", plugin.name.c_str(), plugin.analysisVersion.c_str(),
                     plugin.installedVersion.c_str(), plugin.status.c_str());
    std::vector<AdoptAnswer> answers{AdoptAnswer::Adopt};
    if (request.twoRecords)
        answers.push_back(AdoptAnswer::Local);
    else if (request.serverEnabled)
        answers.push_back(AdoptAnswer::Server);
    answers.push_back(AdoptAnswer::Analyze);
    const auto offered = [&](int32_t value) {
        return std::find(answers.begin(), answers.end(), AdoptAnswer(value)) != answers.end();
    };
    if (m_options.presetAdopt >= 0 && offered(m_options.presetAdopt))
        return AdoptAnswer(m_options.presetAdopt);
    if (!interactive()) {
        std::fprintf(out, "(%s)\n", adoptAnswerName(request.defaultAnswer).c_str());
        return request.defaultAnswer;
    }
    for (;;) {
        for (size_t i = 0; i < answers.size(); ++i)
            std::fprintf(out, "%s%zu) %s%s", i ? "  " : "", i + 1, adoptAnswerName(answers[i]).c_str(),
                         answers[i] == request.defaultAnswer ? " *" : "");
        std::fprintf(out, ": ");
        std::fflush(out);
        std::string line;
        if (!readLine(line) || trimmed(line).empty())
            return request.defaultAnswer;
        const std::string text = trimmed(line);
        char* end = nullptr;
        const long number = std::strtol(text.c_str(), &end, 10);
        if (end && *end == '\0' && number >= 1 && size_t(number) <= answers.size())
            return answers[size_t(number) - 1];
    }
}

bool ConsolePort::choosePlugins(PluginChoiceRequest& request)
{
    if (m_options.presetPlugins.empty())
        return true;
    std::vector<PluginChoiceRequest::Row> rows;
    for (const std::string& file : m_options.presetPlugins)
        for (const PluginChoiceRequest::Row& row : request.rows)
            if (row.file == file)
                rows.push_back({row.name, row.file, true});
    for (const PluginChoiceRequest::Row& row : request.rows) {
        const auto& wanted = m_options.presetPlugins;
        if (std::find(wanted.begin(), wanted.end(), row.file) == wanted.end())
            rows.push_back({row.name, row.file, false});
    }
    request.rows = std::move(rows);
    return true;
}

bool ConsolePort::progressShown() const
{
    return m_options.progressLine && isatty(fileno(output()));
}

void ConsolePort::beginProgress(const std::string&, uint64_t)
{
    m_progressOpen = false;
}

void ConsolePort::updateProgress(const ProgressState& state)
{
    if (!progressShown())
        return;
    std::fprintf(output(), "\r%s  %s  %s\033[K", state.count.c_str(), state.elapsed.c_str(),
                 state.remaining.c_str());
    std::fflush(output());
    m_progressOpen = true;
}

void ConsolePort::endProgress()
{
    if (m_progressOpen)
        std::fprintf(output(), "\n");
    m_progressOpen = false;
}

void ConsolePort::analysisDone(AnalysisDoneRequest& request)
{
    if (!m_options.presetTitle.empty())
        request.title = m_options.presetTitle;
    if (!m_options.presetPrefix.empty())
        request.prefix = m_options.presetPrefix;
}

} // namespace tamrin::cli
