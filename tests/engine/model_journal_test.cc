// The model's write-ahead log: readers beside a writer, and side files that
// belong to the model's owner even when root writes them.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "engine/builtin_spam_engine.h"
#include "engine/model_store.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using testing::MailMaker;

class ModelJournalTest : public ::testing::Test {
 protected:
  std::string DatPath() const { return folder_.path().string() + "\\user.dat"; }
  fs::path FilePath(const std::string& suffix = "") const { return folder_.path() / ("user.dat" + suffix); }

  testing::TempFolder folder_;
  MailMaker mail_;
};

TEST_F(ModelJournalTest, AReaderIsNotHeldUpByAnOpenWriteTransaction) {
  BuiltinSpamEngine engine;
  engine.Learn(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1), false);
  auto writer = engine::ModelStore::Open(DatPath(), engine::ModelStore::Mode::kExistingOnly);
  ASSERT_TRUE(writer);
  writer->BeginWrite();
  writer->SetCounts({5, 5});
  // Another connection reads the last committed state at once (a rollback
  // journal would make it wait out the busy timeout, then fail).
  auto reader = engine::ModelStore::Open(DatPath(), engine::ModelStore::Mode::kExistingOnly);
  reader->BeginRead();
  EXPECT_EQ(1, reader->Counts().ham);
  reader->Commit();
  writer->Commit();
  reader->BeginRead();
  EXPECT_EQ(5, reader->Counts().ham);
  reader->Commit();
}

TEST_F(ModelJournalTest, SideFilesWrittenByRootBelongToTheModelsOwner) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  constexpr uid_t kOwner = 65534;  // nobody
  {
    // Closed again: the last connection folds the log back and removes it.
    EngineOptions options;
    options.cache = std::make_shared<engine::ModelCache>();
    BuiltinSpamEngine engine(options);
    engine.Learn(DatPath(), mail_.Header(false, 1), mail_.Body(false, 1), false);
  }
  ASSERT_FALSE(fs::exists(FilePath("-wal")));
  ASSERT_EQ(0, chown(FilePath().c_str(), kOwner, kOwner));
  // A fresh process's view (its own cache), kept open as a mail server keeps it.
  EngineOptions options;
  options.cache = std::make_shared<engine::ModelCache>();
  BuiltinSpamEngine engine(options);
  engine.Learn(DatPath(), mail_.Header(true, 2), mail_.Body(true, 2), true);
  struct stat model {};
  ASSERT_EQ(0, stat(FilePath().c_str(), &model));
  for (const char* suffix : {"-wal", "-shm"}) {
    SCOPED_TRACE(suffix);
    struct stat st {};
    ASSERT_EQ(0, stat(FilePath(suffix).c_str(), &st));
    EXPECT_EQ(kOwner, st.st_uid);
    EXPECT_EQ(model.st_mode & 0777, st.st_mode & 0777);
  }
}

}  // namespace
}  // namespace varnolt
