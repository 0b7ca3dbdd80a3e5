// The editor's session on the sample disc's CDAZ: a temporary home whose analyze folder holds the
// CDAZ that tamrin-cli makes of the disc, the library started on it, and an Asker that answers
// from a script and keeps every text it was shown.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cdaz_session.h"
#include "cli/cli_runner.h"
#include "scratch_folder.h"

namespace tabulortest {

namespace fs = std::filesystem;
using nlohmann::json;

inline constexpr const char* kDiscCdaz = "CORPUS_A21401020382263.cdaz";

// The language the library reads from the locale, for one test.
class Locale
{
  public:
    explicit Locale(const char* name)
    {
        if (const char* old = std::getenv("LC_ALL"))
            m_previous = old;
        ::setenv("LC_ALL", name, 1);
    }
    ~Locale()
    {
        if (m_previous)
            ::setenv("LC_ALL", m_previous->c_str(), 1);
        else
            ::unsetenv("LC_ALL");
    }

  private:
    std::optional<std::string> m_previous;
};

class ScriptedAsker : public tabulor::Asker
{
  public:
    std::deque<Answer> answers; // taken in turn; an unexpected question is answered Cancel
    std::vector<std::string> told;
    std::vector<std::string> asked;

    void tell(const std::string& text) override { told.push_back(text); }
    Answer ask(const std::string& text, bool withCancel) override
    {
        asked.push_back(text);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return withCancel ? Answer::Cancel : Answer::No;
        }
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class SessionOnDisc : public testing::Test
{
  protected:
    void SetUp() override;
    void TearDown() override;

    fs::path analyze() const { return m_home.path() / "Analyze"; }
    fs::path elsewhere() const { return m_home.path() / "elsewhere"; }
    // A copy of the disc's CDAZ outside the analyze folder.
    fs::path outsideCopy(const std::string& name = kDiscCdaz) const;
    std::vector<std::string> analyzeList() const; // `cdaz list --json`: the file names
    json show(const fs::path& file) const;        // `cdaz show --json`
    std::vector<std::string> environment() const;

    Locale m_english{"C"}; // the texts compared are the English ones
    testsupport::ScratchFolder m_home{"tabulor"};
    ScriptedAsker m_asker;
    bool m_started = false;

  private:
    std::optional<std::string> m_previousHome;
};

std::string fileBytes(const fs::path& path);

} // namespace tabulortest
