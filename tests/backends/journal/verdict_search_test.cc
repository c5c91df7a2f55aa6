#include "backends/journal/verdict_search.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "backends/journal/verdict_journal.h"
#include "support/journal_audit_cases.h"
#include "support/journal_search_cases.h"

namespace varnolt::journal {
namespace {

namespace fs = std::filesystem;

class VerdictSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "varnolt-search-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    journal_ = VerdictJournal::Open(dir_ + "/journal.db", {});
    testing::FillForSearch(*journal_);
  }
  void TearDown() override {
    journal_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }

  std::string dir_;
  std::unique_ptr<VerdictJournal> journal_;
};

TEST_F(VerdictSearchTest, EveryFilterAloneAndTogether) {
  testing::ExpectSearchTable(*journal_);
}

TEST_F(VerdictSearchTest, TheDashboardsReaderRecordsItsActions) {
  std::unique_ptr<VerdictJournal> reader = VerdictJournal::Open(dir_ + "/journal.db", {.read_only = true});
  testing::ExpectAuditTrail(*reader);
}

}  // namespace
}  // namespace varnolt::journal
