// Several delivering processes at once on one mailbox, one store, one log.
#include <algorithm>
#include <regex>
#include <set>

#include "cli/cli_fixture.h"

namespace varnolt {
namespace {

constexpr int kProcesses = 4;
constexpr int kMessagesEach = 200;
constexpr const char* kAlice = "alice@example.com";

class ReliabilityTest : public CliTest {};

TEST_F(ReliabilityTest, ConcurrentDeliveriesStoreEveryMessageOnceAndKeepLogLinesWhole) {
  Ok({"mailbox", "add", kAlice});
  std::set<std::string> expected;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    std::vector<std::string> args{"deliver", kAlice};
    for (int i = 0; i < kMessagesEach; ++i) {
      const std::string subject = "Load " + std::to_string(p) + "-" + std::to_string(i);
      expected.insert(subject);
      // Every fifth message carries the test string, so both verdicts and moves happen.
      const std::string body = i % 5 == 0 ? std::string(kGtube) : "Regular mail number " + std::to_string(i);
      args.push_back(MessageFile(subject + ".eml", MakeMessage("Sender <s" + std::to_string(p) + "@example.net>",
                                                               subject, body)));
    }
    children.push_back(Start(args, "worker" + std::to_string(p)));
  }
  for (int p = 0; p < kProcesses; ++p) {
    const RunResult result = Finish(children[p], "worker" + std::to_string(p));
    EXPECT_EQ(0, result.status) << result.err;
    EXPECT_EQ(static_cast<size_t>(kMessagesEach), static_cast<size_t>(std::count(result.out.begin(),
                                                                                 result.out.end(), '\n')));
  }

  std::multiset<std::string> stored;
  for (const char* folder : {"Inbox", "Junk E-Mail"}) {
    for (const Json& item : Items(kAlice, folder)) {
      if (item["name"] == "Varnolt_Manual.eml") continue;
      stored.insert(item["subject"].get<std::string>());
      EXPECT_FALSE(item["marker"].is_null()) << item.dump();
    }
  }
  EXPECT_EQ(expected, std::set<std::string>(stored.begin(), stored.end()));
  EXPECT_EQ(expected.size(), stored.size()) << "no message stored twice";

  // Every line is a whole entry: date, time, tick, text, CR LF.
  const std::string log = ReadAll(DataPath("Varnolt.log"));
  const std::regex whole_line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d -?\d+ [^\r\n]+\r)");
  std::istringstream lines(log);
  std::string line;
  int traces = 0;
  while (std::getline(lines, line)) {
    EXPECT_TRUE(std::regex_match(line, whole_line)) << line;
    if (line.find(" New Mail") != std::string::npos) ++traces;
  }
  EXPECT_EQ('\n', log.back());
  EXPECT_EQ(kProcesses * kMessagesEach, traces);
}

}  // namespace
}  // namespace varnolt
