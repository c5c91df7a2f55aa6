// Scenario fixture for the save event: an ExchangeFilter over a FakePlatform,
// an in-memory MailStore with one mailbox and a scripted spam engine. Helpers
// read like the behaviour (Marker(url), Items("Inbox"), Trace()), and any "Err:"
// log line a test did not announce with ExpectErr fails the test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "backends/mailstore/mail_store.h"
#include "host/exchange_filter.h"
#include "support/fake_platform.h"
#include "support/scripted_engine.h"

namespace varnolt::testing {

// A message with defaults; Bytes() is its Internet message text.
struct MessageSpec {
  std::string from = "Bob Sender <bob@example.org>";
  std::string subject = "Hello";
  std::string body = "Hello Alice,\r\nsee you tomorrow.\r\n";
  std::string html;  // when set, a multipart/alternative with both bodies
  std::string name;  // item name; empty: the subject + ".EML"
  bool internal = false;

  std::string Bytes() const;
};

class TriageTest : public ::testing::Test {
 protected:
  static constexpr const char* kDomain = "example.com";
  static constexpr const char* kUser = "alice";

  TriageTest();
  ~TriageTest() override;
  void TearDown() override;

  // Settings (before the first event: they are read once per platform). The
  // defaults: DebugLevel 1, HideSpam 0, ProviderMode 0, UseJunkMailFolder
  // "Junk E-Mail", UseWhiteList 0, AutoWhiteList 1.
  void SetDword(const std::string& name, uint32_t value) { platform_.SetSettingDword(name, value); }
  void SetText(const std::string& name, const std::string& value) { platform_.SetSettingText(name, value); }

  // The mailbox of kUser@kDomain.
  std::string FolderUrl(const std::string& path) const;
  std::string AddFolder(const std::string& path);
  bool FolderExists(const std::string& path);
  // Delivers through the store (delivery event); returns the URL after the event.
  std::string Deliver(const MessageSpec& message = {}, const std::string& folder = "Inbox");
  // Stores a message without any event: a starting point for moves.
  std::string Place(const MessageSpec& message, const std::string& folder, std::optional<int32_t> marker);
  // The user's move through the store; returns the URL after the event.
  std::string Move(const std::string& item_url, const std::string& folder);
  // Opens an existing item or folder for reading and writing through a
  // connection of its own (no events).
  std::unique_ptr<Record> OpenRecord(const std::string& url);
  // OnSyncSave called directly with our own event information on the record at
  // record_url; event_url is what the filter is told. Returns the status.
  HRESULT RaiseDirect(const std::string& record_url, const std::string& event_url, int32_t flags);

  // State of items.
  std::optional<int32_t> Marker(const std::string& url);
  bool Hidden(const std::string& url);
  std::vector<std::string> Items(const std::string& folder);  // item names
  std::string Content(const std::string& url) { return store_->ReadContent(url); }
  Variant Property(const std::string& url, const std::string& name);

  // Files below the data folder (relative, "/" separated), on disk.
  std::string DataFile(const std::string& relative) const;
  std::string UserFile(const std::string& suffix) const;  // "example.com/alice" + suffix
  std::string ReadDataFile(const std::string& relative) const;
  void WriteDataFile(const std::string& relative, const std::string& bytes) const;
  bool DataFileExists(const std::string& relative) const;
  // The composed path of the user's database, as the engine is given it.
  std::string DatPath() const;
  // Creates the domain directory ahead of the first event.
  void MakeDomainDir() const;
  // The domain directory and an (empty) database file: a user the engine knows.
  void MakeKnownUser() const;
  // Names in the data folder, sorted.
  std::vector<std::string> DataFolderNames() const;

  // The log's messages (date-time and tick cut off), one per Log call.
  std::vector<std::string> LogMessages() const;
  // The same without the settings cache's "Loading ..." lines.
  std::vector<std::string> TriageMessages() const;
  // The last trace report ("New Mail..." or "Mail moved by User..."), "" when none.
  std::string Trace() const;
  // The "Err: " lines, message only.
  std::vector<std::string> ErrorLines() const;
  // Allows "Err: " + prefix... lines in this test.
  void ExpectErr(const std::string& prefix) { expected_errors_.push_back(prefix); }

  FakePlatform platform_;
  std::shared_ptr<EngineScript> engine_ = std::make_shared<EngineScript>();
  std::unique_ptr<MailStore> store_;
  ExchangeFilter* filter_ = nullptr;
  std::string data_folder_;  // composed, ends in "\"
  std::shared_ptr<Connection> connection_;  // for direct record access
  static constexpr const char* kManualText =
      "From: Postmaster <postmaster@example.com>\r\nSubject: Your spam filter\r\n\r\nHow the filter works.\r\n";

 private:
  std::vector<std::string> expected_errors_;
};

}  // namespace varnolt::testing
