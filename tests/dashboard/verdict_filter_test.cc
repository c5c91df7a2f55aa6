#include "dashboard/verdict_filter.h"

#include <gtest/gtest.h>

namespace varnolt {
namespace {

TEST(VerdictFilterTest, ParametersBecomeAQueryOrAClearError) {
  struct Case {
    std::map<std::string, std::string> parameters;
    std::string error;  // a part of it; "" when accepted
  } cases[] = {
      {{{"from", "2026-12-07"}, {"to", "2026-12-07"}}, ""},
      {{{"from", "2026-12-07T14:30"}, {"mailbox", ""}, {"verdict", ""}}, ""},  // a form's empty fields
      {{{"from", "1796637900"}}, ""},
      {{{"from", "yesterday"}}, "from is a time"},
      {{{"to", "2026-13-01"}}, "to is a time"},
      {{{"to", "2026-12-07T14:30:00"}}, "to is a time"},
      {{{"verdict", "SPAM"}}, "verdict is ham, spam or none"},
      {{{"action", "deleted"}}, "action is filed"},
      {{{"min_score", "1.5"}}, "min_score is a number from 0 to 1"},
      {{{"max_score", "0.5x"}}, "max_score is a number"},
      {{{"max_score", "nan"}}, "max_score is a number"},
      {{{"corrected", "1"}}, "corrected is yes or no"},
      {{{"before", "-3"}}, "before is a record's number"},
      {{{"limit", "many"}}, "limit is a number"},
      {{{"mailbox", std::string(2000, 'a')}}, "mailbox is too long"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.parameters.begin()->first + "=" + c.parameters.begin()->second.substr(0, 40));
    const dashboard::ParsedFilters parsed = dashboard::ParseFilters(c.parameters, 50, 1000);
    if (c.error.empty()) {
      EXPECT_EQ("", parsed.error);
    } else {
      EXPECT_NE(std::string::npos, parsed.error.find(c.error)) << parsed.error;
    }
  }
  const dashboard::ParsedFilters day =
      dashboard::ParseFilters({{"from", "2026-12-07"}, {"to", "2026-12-07"}, {"limit", "5000"}}, 50, 1000);
  EXPECT_EQ(1796601600, day.query.from);
  EXPECT_EQ(1796601600 + 86400, day.query.to);  // a day as the end includes it
  EXPECT_EQ(1000, day.query.limit);
  EXPECT_EQ("m@x", dashboard::ParseFilters({{"message_id", "<m@x>"}}, 50, 1000).query.message_id);
}

TEST(VerdictFilterTest, LinksCarryTheFiltersEscaped) {
  const dashboard::ParsedFilters parsed = dashboard::ParseFilters({{"mailbox", "a&b@example.com"},
                                                                   {"message_id", "<x\"y>"},
                                                                   {"min_score", "0.25"},
                                                                   {"corrected", "no"},
                                                                   {"before", "7"}},
                                                                  50, 1000);
  ASSERT_EQ("", parsed.error);
  EXPECT_EQ("&amp;mailbox=a%26b%40example.com&amp;message_id=x%22y&amp;min_score=0.25&amp;corrected=no",
            dashboard::FilterParameters(parsed.query));
}

}  // namespace
}  // namespace varnolt
