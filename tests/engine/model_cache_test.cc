// Model files kept open between calls: reused while the file is the same,
// opened afresh when it was replaced or removed, and never stale when another
// process writes the file.
#include "engine/model_cache.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "engine/builtin_spam_engine.h"
#include "test_messages.h"

namespace varnolt {
namespace {

namespace fs = std::filesystem;
using engine::ModelCache;
using engine::ModelStore;

class ModelCacheTest : public ::testing::Test {
 protected:
  ModelCacheTest() : cache_(std::make_shared<ModelCache>()), engine_(OptionsWith(cache_)) {}

  static EngineOptions OptionsWith(std::shared_ptr<ModelCache> cache) {
    EngineOptions options;
    options.cache = std::move(cache);
    options.thin_model.min_each_class = 1;  // the few messages learned here make a model
    return options;
  }
  std::string DatPath(const std::string& name = "user.dat") const { return folder_.path().string() + "\\" + name; }
  fs::path FilePath(const std::string& name = "user.dat") const { return folder_.path() / name; }
  void Learn(const std::string& path, bool spam, int seed) {
    engine_.Learn(path, mail_.Header(spam, seed), mail_.Body(spam, seed), spam);
  }

  testing::TempFolder folder_;
  testing::MailMaker mail_;
  std::shared_ptr<ModelCache> cache_;
  BuiltinSpamEngine engine_;
};

TEST_F(ModelCacheTest, AStoreIsReusedWhileItsFileStaysTheSame) {
  Learn(DatPath(), true, 1);
  ASSERT_EQ(1u, cache_->idle_count());
  ModelStore* first = nullptr;
  {
    ModelCache::Lease lease = cache_->Acquire(DatPath(), ModelStore::Mode::kExistingOnly);
    first = lease.get();
    EXPECT_EQ(0u, cache_->idle_count()) << "taken out while in use";
    ModelCache::Lease second = cache_->Acquire(DatPath(), ModelStore::Mode::kExistingOnly);
    EXPECT_NE(first, second.get()) << "a store in use is not handed out twice";
    lease.Keep();
  }
  EXPECT_EQ(first, cache_->Acquire(DatPath(), ModelStore::Mode::kExistingOnly).get());
  EXPECT_EQ(0u, cache_->idle_count()) << "a lease not kept (a failed call) closes its store";
}

TEST_F(ModelCacheTest, ReplacedAndRemovedFilesAreNoticed) {
  for (int i = 0; i < 3; ++i) Learn(DatPath(), true, i);
  Learn(DatPath("other.dat"), false, 7);
  EXPECT_EQ(3, engine_.GetCounts(DatPath()).spam);

  // Renamed over the cached file: the path now names the other model.
  fs::rename(FilePath("other.dat"), FilePath());
  SpamCounts counts = engine_.GetCounts(DatPath());
  EXPECT_EQ(1, counts.ham);
  EXPECT_EQ(0, counts.spam);

  fs::remove(FilePath());
  counts = engine_.GetCounts(DatPath());
  EXPECT_EQ(0, counts.ham + counts.spam);
  EXPECT_FALSE(fs::exists(FilePath())) << "a removed file is not brought back by a read";
  Learn(DatPath(), true, 9);
  EXPECT_EQ(1, engine_.GetCounts(DatPath()).spam);
}

TEST_F(ModelCacheTest, WhatAnotherProcessLearnsIsSeenAtOnce) {
  Learn(DatPath(), true, 1);
  const std::string header = mail_.Header(false, 40), body = mail_.Body(false, 40);
  const double before = engine_.Peek(DatPath(), header, body).spamminess;
  ASSERT_EQ(1u, cache_->idle_count());

  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 0;
    try {
      // The child shares the parent's cache object, but never its connections.
      for (int i = 2; i < 12; ++i) Learn(DatPath(), i % 2 == 0, i);
    } catch (...) {
      status = 1;
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  const SpamCounts counts = engine_.GetCounts(DatPath());
  EXPECT_EQ(5, counts.ham);
  EXPECT_EQ(6, counts.spam);
  BuiltinSpamEngine fresh(OptionsWith(std::make_shared<ModelCache>()));
  EXPECT_EQ(fresh.Peek(DatPath(), header, body).spamminess, engine_.Peek(DatPath(), header, body).spamminess);
  EXPECT_NE(before, engine_.Peek(DatPath(), header, body).spamminess);
}

}  // namespace
}  // namespace varnolt
