// The editor's session on CDAZ files that tamrin-cli makes of the sample disc.
#include <gtest/gtest.h>

#include "cdaz_session.h"

namespace {

class NoAnswers : public tabulor::Asker
{
  public:
    void tell(const std::string&) override {}
    Answer ask(const std::string&, bool) override { return Answer::Cancel; }
};

TEST(CdazSession, StartsEmpty)
{
    NoAnswers asker;
    tabulor::CdazSession session(asker);
    EXPECT_EQ(session.mode(), tabulor::Mode::Nothing);
    EXPECT_EQ(session.count(), 0);
    EXPECT_EQ(session.current(), -1);
}

} // namespace
