// The command with its models in PostgreSQL: a home made for it, the
// commands that read and write models, and mail kept while the server is down.
#include <gmock/gmock.h>

#include <fstream>

#include "backends/journal/postgres_journal.h"
#include "cli/cli_fixture.h"
#include "engine/stores/store_fixture.h"

namespace varnolt {
namespace {

using ::testing::HasSubstr;

constexpr char kAlice[] = "alice@example.com";

class PostgresHomeTest : public CliTest {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "varnolt-pg-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(pattern.data()));
    dir_ = pattern;
    home_ = dir_ + "/home";
    static int next = 0;
    const std::string database = "home_" + std::to_string(++next);
    postgres::Connection::Open(testing::StoreTest::server->ConnectionString())->Exec("CREATE DATABASE " + database);
    conninfo_ = testing::StoreTest::server->ConnectionString(database);
    const RunResult init = Run({"init", "--postgresql", conninfo_});
    ASSERT_EQ(0, init.status) << init.err;
    EXPECT_THAT(init.out, HasSubstr("model schema at version " + std::to_string(postgres::kModelSchemaVersion)));
    Ok({"mailbox", "add", kAlice});
  }

  std::string samples_ = std::string(VARNOLT_SOURCE_DIR) + "/samples/train";
  std::string conninfo_;
};

// Two servers' homes on one database keep one journal there: every record
// names its server, and each server reads them all.
TEST_F(PostgresHomeTest, TwoHomesKeepOneJournalInTheDatabase) {
  Ok({"train", kAlice, "--spam", samples_ + "/spam"});
  Ok({"train", kAlice, "--ham", samples_ + "/ham"});
  const std::string first = home_, second = dir_ + "/second";
  home_ = second;
  ASSERT_EQ(0, Run({"init", "--postgresql", conninfo_}).status);
  Ok({"mailbox", "add", kAlice});
  for (const auto& [home, server] : {std::pair{first, "mx1"}, std::pair{second, "mx2"}}) {
    home_ = home;
    std::ofstream(home_ + "/varnolt.conf", std::ios::app) << "\n[journal]\nstore = postgresql\nserver = " << server
                                                           << "\n";
    Ok({"deliver", kAlice, MessageFile("m.eml", MakeMessage("B <B@X.net>", std::string("To ") + server, "hello"))});
  }
  journal::PostgresJournal reader(conninfo_, "mx1");
  const std::vector<journal::VerdictRecord> records = reader.Search({});
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ("mx2", records[0].server);
  EXPECT_EQ("mx1", records[1].server);
  for (const journal::VerdictRecord& record : records) {
    EXPECT_EQ("b@x.net", record.sender);
    EXPECT_FALSE(record.clues.empty());  // the models held both classes: the verdict's clues came with it
  }
  EXPECT_FALSE(fs::exists(first + "/journal.db"));
}

TEST_F(PostgresHomeTest, TrainStatsResetAndMigrateWorkOnTheDatabase) {
  EXPECT_EQ("model schema at version " + std::to_string(postgres::kModelSchemaVersion), Ok({"db", "migrate"}));
  EXPECT_EQ("learned 10 (0 HAM, 10 SPAM), 0 already known, 0 skipped for alice@example.com (now 0 HAM, 10 SPAM)",
            Ok({"train", kAlice, "--spam", samples_ + "/spam"}));
  Ok({"train", kAlice, "--ham", samples_ + "/ham/ham-01.eml", samples_ + "/ham/ham-02.eml"});
  EXPECT_EQ("ham 2\nspam 10\nwhitelist 0", Ok({"stats", kAlice}));
  // The file says "user known"; the counts are in the database.
  EXPECT_TRUE(fs::exists(DataPath("example.com/alice.dat")));
  Ok({"model", "reset", kAlice});
  EXPECT_EQ("ham 0\nspam 0\nwhitelist 0", Ok({"stats", kAlice}));
  // The domain's model has no file of its own here.
  Ok({"train", "--domain", "example.com", "--spam", samples_ + "/spam/spam-01.eml"});
  EXPECT_THAT(Ok({"stats", "--domain", "example.com"}), HasSubstr("spam 1"));
  Ok({"model", "reset", "--domain", "example.com"});
  EXPECT_THAT(Ok({"stats", "--domain", "example.com"}), HasSubstr("spam 0"));
  EXPECT_TRUE(fs::exists(DataPath("example.com/alice.dat")));
  EXPECT_THAT(Ok({"backup", dir_ + "/copy"}), HasSubstr("not copied: the spam models, which are in PostgreSQL"));
}

TEST_F(PostgresHomeTest, MailIsKeptWhileTheServerIsDownAndNothingNeedsRepairAfter) {
  Ok({"train", kAlice, "--spam", samples_ + "/spam"});
  ASSERT_TRUE(testing::StoreTest::server->Stop());
  const std::string message = MakeMessage("B <b@x.net>", "While down", "Kept all the same");
  const RunResult delivered = Run({"deliver", kAlice, MessageFile("down.eml", message)});
  EXPECT_EQ(0, delivered.status) << delivered.err;
  testing::StoreTest::server->Restart();
  EXPECT_EQ(1u, Items(kAlice, "Inbox").size());
  EXPECT_THAT(Log(), HasSubstr("PostgreSQL"));

  ASSERT_TRUE(testing::StoreTest::server->Stop());
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"train", kAlice, "--ham", samples_ + "/ham/ham-01.eml"},
        std::vector<std::string>{"check", kAlice, MessageFile("check.eml", message)}}) {
    const RunResult failed = Run(args);
    EXPECT_NE(0, failed.status) << args[0];
    EXPECT_THAT(failed.err, HasSubstr("PostgreSQL")) << args[0];
  }
  ASSERT_TRUE(testing::StoreTest::server->Restart());
  Ok({"train", kAlice, "--ham", samples_ + "/ham/ham-01.eml"});
  EXPECT_EQ("ham 1\nspam 10\nwhitelist 0", Ok({"stats", kAlice}));
}

}  // namespace
}  // namespace varnolt

namespace varnolt {
namespace {

// A home that starts with its models in files, then moves them.
class ModelTransferTest : public CliTest {
 protected:
  void SetConfigStore(const std::string& store_lines) {
    const std::string path = home_ + "/varnolt.conf";
    std::string text = ReadAll(path);
    const size_t at = text.find("store = ");
    const size_t end = text.find("\n\n", at);
    text.replace(at, end - at, store_lines);
    WriteAll(path, text);
  }

  // The scores of every sample message, as check gives them.
  std::string Scores() {
    std::vector<std::string> args{"check", "alice@example.com", "--json"};
    for (const char* folder : {"/samples/incoming", "/samples/later"}) {
      for (const fs::directory_entry& entry : fs::directory_iterator(std::string(VARNOLT_SOURCE_DIR) + folder)) {
        args.push_back(entry.path().string());
      }
    }
    std::string scores;
    for (const Json& checked : Json::parse(Ok(args))) scores += checked["score"].dump() + " ";
    return scores;
  }
};

TEST_F(ModelTransferTest, EveryModelMovesBothWaysAndScoresAsBefore) {
  const std::string samples = std::string(VARNOLT_SOURCE_DIR) + "/samples/train";
  Ok({"mailbox", "add", "alice@example.com"});
  Ok({"mailbox", "add", "bob@example.com"});
  Ok({"train", "alice@example.com", "--spam", samples + "/spam"});
  Ok({"train", "alice@example.com", "--ham", samples + "/ham"});
  Ok({"train", "bob@example.com", "--ham", samples + "/ham/ham-01.eml"});
  Ok({"train", "--domain", "example.com", "--spam", samples + "/spam/spam-01.eml"});
  // Bob's correction waits in the domain's model for a second user: it moves with the model.
  Ok({"move", Deliver("bob@example.com", MakeMessage("S <s@x.net>", "Cheap pills", "Buy now")), "Junk E-Mail"});
  const std::string in_files = Scores();

  static int next = 0;
  const std::string database = "transfer_" + std::to_string(++next);
  postgres::Connection::Open(testing::StoreTest::server->ConnectionString())->Exec("CREATE DATABASE " + database);
  SetConfigStore("store = postgresql\npostgresql = " + testing::StoreTest::server->ConnectionString(database));
  Ok({"db", "migrate"});
  EXPECT_EQ("imported 3 model(s) from the files into PostgreSQL (11 HAM, 12 SPAM messages learned in all); each "
            "read back equal",
            Ok({"model", "import"}));
  EXPECT_EQ(in_files, Scores());
  EXPECT_EQ("ham 1\nspam 1\nwhitelist 0", Ok({"stats", "bob@example.com"}));
  EXPECT_EQ("ham 0\nspam 1\nwaiting 1", Ok({"stats", "--domain", "example.com"}));

  // Taught more in the database, then moved back: the files score as the database did.
  Ok({"train", "alice@example.com", "--spam", std::string(VARNOLT_SOURCE_DIR) + "/samples/later"});
  const std::string in_database = Scores();
  EXPECT_NE(in_files, in_database);
  EXPECT_THAT(Ok({"model", "export"}), ::testing::HasSubstr("exported 3 model(s) from PostgreSQL into the files"));
  SetConfigStore("store = file\npostgresql =");
  EXPECT_EQ(in_database, Scores());
}

}  // namespace
}  // namespace varnolt
