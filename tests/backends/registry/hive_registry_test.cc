#include "backends/registry/hive_registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "support/fake_platform.h"

namespace varnolt {
namespace {

class HiveRegistryTest : public ::testing::Test {
 protected:
  HiveRegistryTest() : registry_(platform_.hive_path()) {}

  HKEY Create(const std::string& subkey, HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY key = 0;
    EXPECT_EQ(ERROR_SUCCESS, registry_.RegCreateKeyEx(root, subkey, KEY_ALL_ACCESS, &key));
    return key;
  }
  void SetText(HKEY key, const std::string& name, const std::string& text) {
    EXPECT_EQ(ERROR_SUCCESS, registry_.RegSetValueEx(key, name, REG_SZ, reinterpret_cast<const uint8_t*>(text.c_str()),
                                                     static_cast<uint32_t>(text.size() + 1)));
  }
  void SetDword(HKEY key, const std::string& name, uint32_t value) {
    EXPECT_EQ(ERROR_SUCCESS,
              registry_.RegSetValueEx(key, name, REG_DWORD, reinterpret_cast<const uint8_t*>(&value), 4));
  }
  // type, size and bytes of root\subkey\name through a fresh open; status on failure.
  int32_t Query(const std::string& subkey, const std::string& name, uint32_t* type, std::string* data,
                HKEY root = HKEY_LOCAL_MACHINE) {
    HKEY key = 0;
    int32_t status = registry_.RegOpenKeyEx(root, subkey, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) return status;
    uint32_t size = 0;
    status = registry_.RegQueryValueEx(key, name, type, nullptr, &size);
    if (status == ERROR_SUCCESS) {
      data->assign(size, '\0');
      status = registry_.RegQueryValueEx(key, name, type, reinterpret_cast<uint8_t*>(data->data()), &size);
    }
    registry_.RegCloseKey(key);
    return status;
  }
  std::string Hive() { return platform_.ReadFile(platform_.hive_path()); }

  testing::FakePlatform platform_;
  HiveRegistry registry_;
};

const char kHandWritten[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; kept as it is\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Varnolt]\r\n"
    "\"DebugLevel\"=dword:00000002\r\n"
    "\"UseJunkMailFolder\"=\"Junk E-Mail;Spam \\\"x\\\" C:\\\\Mail\"\r\n"
    "\"Expand\"=hex(2):25,00,54,00,\\\r\n"
    "  4d,00,00,00\r\n"
    "\"Weird\" = dword:A\r\n"
    "\"Gone\"=-\r\n"
    "@=\"default\"\r\n"
    "\r\n"
    "[HKEY_CLASSES_ROOT\\.eml]\r\n"
    "@=\"message\"\r\n"
    "\r\n";

TEST_F(HiveRegistryTest, ReadsTheFileFormat) {
  platform_.WriteFile(platform_.hive_path(), kHandWritten);
  struct Case {
    const char* subkey;
    const char* name;
    uint32_t type;
    std::string data;
  } cases[] = {
      {"software\\varnolt", "debuglevel", REG_DWORD, std::string("\x02\0\0\0", 4)},
      {"Software\\Varnolt", "UseJunkMailFolder", REG_SZ, std::string("Junk E-Mail;Spam \"x\" C:\\Mail\0", 29)},
      {"Software\\Varnolt", "Expand", REG_EXPAND_SZ, std::string("%\0T\0M\0\0\0", 8)},
      {"Software\\Varnolt", "Weird", REG_DWORD, std::string("\x0a\0\0\0", 4)},
      {"Software\\Varnolt", "", REG_SZ, std::string("default\0", 8)},
      {"Software\\Classes\\.EML", "", REG_SZ, std::string("message\0", 8)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.subkey) + " " + c.name);
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(ERROR_SUCCESS, Query(c.subkey, c.name, &type, &data));
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(c.data, data);
  }
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query("Software\\Varnolt", "Gone", &type, &data));
  EXPECT_EQ(ERROR_SUCCESS, Query(".eml", "", &type, &data, HKEY_CLASSES_ROOT));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, Query("Software\\Nothing", "", &type, &data));
}

TEST_F(HiveRegistryTest, CarriageReturnsBeforeTheLineEndEndTheLine) {
  const char* const endings[] = {
      "\r",        // the LF of a CR LF file lost at its very end
      "\r\r\n",  // CR LF text converted to CR LF once more
  };
  for (const char* ending : endings) {
    platform_.WriteFile(platform_.hive_path(), std::string("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Varnolt]\n") +
                                                   "\"DebugLevel\"=dword:00000003" + ending);
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(ERROR_SUCCESS, Query("Software\\Varnolt", "DebugLevel", &type, &data));
    EXPECT_EQ(std::string("\x03\0\0\0", 4), data);
  }
}

TEST_F(HiveRegistryTest, ABlankHiveStaysReadableAfterAWrite) {
  for (const char* blank : {"", "\n", "\n \n ", "\t\r\n"}) {
    SCOPED_TRACE(::testing::PrintToString(blank));
    platform_.WriteFile(platform_.hive_path(), blank);
    const HKEY key = Create("Software\\Varnolt");
    SetDword(key, "DebugLevel", 3);
    registry_.RegCloseKey(key);
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(ERROR_SUCCESS, Query("Software\\Varnolt", "DebugLevel", &type, &data));
    EXPECT_EQ(std::string("\x03\0\0\0", 4), data);
  }
}

TEST_F(HiveRegistryTest, WritesKeepEverythingUntouchedByteForByte) {
  platform_.WriteFile(platform_.hive_path(), kHandWritten);
  const HKEY key = Create("Software\\Varnolt");
  SetDword(key, "DEBUGLEVEL", 7);
  SetText(key, "New", "a\\b \"q\"");
  registry_.RegCloseKey(key);

  std::string expected = kHandWritten;
  expected.replace(expected.find("\"DebugLevel\"=dword:00000002"), 27, "\"DebugLevel\"=dword:00000007");
  expected.insert(expected.find("\r\n\r\n[HKEY_CLASSES_ROOT") + 2, "\"New\"=\"a\\\\b \\\"q\\\"\"\r\n");
  EXPECT_EQ(expected, Hive());

  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(ERROR_SUCCESS, Query("Software\\Varnolt", "new", &type, &data));
  EXPECT_EQ(std::string("a\\b \"q\"\0", 8), data);
}

TEST_F(HiveRegistryTest, CreatingAndDeletingAKeyTreeRestoresTheFile) {
  platform_.WriteFile(platform_.hive_path(), kHandWritten);
  const HKEY key = Create("Software\\Classes\\CLSID\\{X}\\InprocServer32");
  SetText(key, "ThreadingModel", "Apartment");
  SetDword(key, "Binary", 1);
  const uint8_t bytes[40] = {1, 2, 3};
  EXPECT_EQ(ERROR_SUCCESS, registry_.RegSetValueEx(key, "Blob", REG_BINARY, bytes, sizeof bytes));
  registry_.RegCloseKey(key);
  EXPECT_NE(kHandWritten, Hive());

  uint32_t type = 0;
  std::string data;
  ASSERT_EQ(ERROR_SUCCESS, Query("CLSID\\{x}\\inprocserver32", "Blob", &type, &data, HKEY_CLASSES_ROOT));
  EXPECT_EQ(REG_BINARY, type);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes), sizeof bytes), data);

  EXPECT_EQ(ERROR_SUCCESS, registry_.RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID\\{X}"));
  EXPECT_EQ(kHandWritten, Hive());
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, registry_.RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID\\{X}"));
}

TEST_F(HiveRegistryTest, MissingHiveIsEmptyAndTheFirstWriteCreatesIt) {
  HKEY key = 0;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, registry_.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Varnolt", 0, KEY_READ, &key));
  EXPECT_FALSE(platform_.Exists(platform_.hive_path()));
  key = Create("Software\\Varnolt");
  SetDword(key, "HideSpam", 1);
  registry_.RegCloseKey(key);
  EXPECT_EQ(
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Varnolt]\n\"HideSpam\"=dword:00000001\n\n",
      Hive());
}

// text as regedit exports it: UTF-16LE with a byte-order mark.
std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out += c;
    out += '\0';
  }
  return out;
}

TEST_F(HiveRegistryTest, ReadsUtf16AndByteOrderMarkedHivesAndWritesThemBackAlike) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Varnolt]\r\n"
      "\"DebugLevel\"=dword:00000004\r\n\"UseJunkMailFolder\"=\"Junk\"\r\n\r\n";
  for (const std::string& file : {Utf16Le(text), "\xEF\xBB\xBF" + text}) {
    SCOPED_TRACE(file.substr(0, 2) == "\xFF\xFE" ? "UTF-16LE" : "UTF-8 with mark");
    platform_.WriteFile(platform_.hive_path(), file);
    uint32_t type = 0;
    std::string data;
    ASSERT_EQ(ERROR_SUCCESS, Query("Software\\Varnolt", "DebugLevel", &type, &data));
    EXPECT_EQ(std::string("\x04\0\0\0", 4), data);
    ASSERT_EQ(ERROR_SUCCESS, Query("Software\\Varnolt", "UseJunkMailFolder", &type, &data));
    EXPECT_EQ(std::string("Junk\0", 5), data);
  }
  platform_.WriteFile(platform_.hive_path(), Utf16Le(text));
  const HKEY key = Create("Software\\Varnolt");
  SetDword(key, "HideSpam", 1);
  registry_.RegCloseKey(key);
  const std::string expected =
      "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Varnolt]\r\n"
      "\"DebugLevel\"=dword:00000004\r\n\"UseJunkMailFolder\"=\"Junk\"\r\n\"HideSpam\"=dword:00000001\r\n\r\n";
  EXPECT_EQ(Utf16Le(expected), Hive());
}

TEST_F(HiveRegistryTest, AFileThatIsNoHiveIsAnErrorAndNeverOverwritten) {
  const std::string cases[] = {"garbage\n[HKEY_LOCAL_MACHINE\\Software\\Varnolt]\n\"DebugLevel\"=dword:1\n",
                               std::string("\x89PNG\r\n\x1a\n\0\0", 10),
                               std::string("\xFF\xFE\x00\xD8", 4)};  // half a UTF-16 character
  for (const std::string& file : cases) {
    SCOPED_TRACE(file);
    platform_.WriteFile(platform_.hive_path(), file);
    HKEY key = 0;
    EXPECT_EQ(ERROR_BADDB, registry_.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Varnolt", 0, KEY_READ, &key));
    EXPECT_EQ(ERROR_BADDB, registry_.RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Varnolt", KEY_ALL_ACCESS, &key));
    EXPECT_EQ(file, Hive());
  }
}

TEST_F(HiveRegistryTest, TemporaryFilesOfAKilledWriterGoWithTheNextWrite) {
  const std::string stale[] = {".tmp.4242.1", ".tmp.99999.17"};
  for (const std::string& suffix : stale) platform_.WriteFile(platform_.hive_path() + suffix, "half a hive");
  platform_.WriteFile(platform_.hive_path() + ".tmp.notes", "someone else's");
  const HKEY key = Create("Software\\Varnolt");
  SetDword(key, "HideSpam", 1);
  registry_.RegCloseKey(key);
  for (const std::string& suffix : stale) EXPECT_FALSE(platform_.Exists(platform_.hive_path() + suffix)) << suffix;
  EXPECT_TRUE(platform_.Exists(platform_.hive_path() + ".tmp.notes"));
}

TEST_F(HiveRegistryTest, StatusCodesOfTheApi) {
  const HKEY writable = Create("Software\\Varnolt");
  SetText(writable, "Name", "abc");
  HKEY read_only = 0;
  ASSERT_EQ(ERROR_SUCCESS, registry_.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\VARNOLT", 0, KEY_QUERY_VALUE,
                                                  &read_only));
  uint32_t dword = 5;
  EXPECT_EQ(ERROR_ACCESS_DENIED,
            registry_.RegSetValueEx(read_only, "x", REG_DWORD, reinterpret_cast<uint8_t*>(&dword), 4));
  EXPECT_EQ(ERROR_ACCESS_DENIED, registry_.RegDeleteValue(read_only, "Name"));
  HKEY sub = 0;
  EXPECT_EQ(ERROR_ACCESS_DENIED, registry_.RegCreateKeyEx(read_only, "Sub", KEY_ALL_ACCESS, &sub));

  uint32_t type = 0, size = 0;
  EXPECT_EQ(ERROR_SUCCESS, registry_.RegQueryValueEx(read_only, "name", &type, nullptr, &size));
  EXPECT_EQ(4u, size);  // the NUL counts
  uint8_t small[2];
  size = sizeof small;
  EXPECT_EQ(ERROR_MORE_DATA, registry_.RegQueryValueEx(read_only, "Name", &type, small, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, registry_.RegQueryValueEx(read_only, "Other", &type, nullptr, &size));

  HKEY write_only = 0;
  ASSERT_EQ(ERROR_SUCCESS, registry_.RegOpenKeyEx(HKEY_LOCAL_MACHINE, "Software\\Varnolt", 0, KEY_SET_VALUE,
                                                  &write_only));
  EXPECT_EQ(ERROR_ACCESS_DENIED, registry_.RegQueryValueEx(write_only, "Name", &type, nullptr, &size));
  EXPECT_EQ(ERROR_SUCCESS, registry_.RegDeleteValue(write_only, "NAME"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, registry_.RegDeleteValue(write_only, "Name"));

  for (HKEY key : {writable, read_only, write_only}) EXPECT_EQ(ERROR_SUCCESS, registry_.RegCloseKey(key));
  EXPECT_EQ(ERROR_INVALID_HANDLE, registry_.RegCloseKey(read_only));
  EXPECT_EQ(ERROR_INVALID_HANDLE, registry_.RegQueryValueEx(read_only, "Name", &type, nullptr, &size));
  EXPECT_EQ(ERROR_INVALID_HANDLE, registry_.RegOpenKeyEx(0x80000001u, "Software", 0, KEY_READ, &sub));
}

TEST_F(HiveRegistryTest, OpeningAKeyReadsWhatAnotherWriterChanged) {
  HiveRegistry other(platform_.hive_path());
  HKEY key = 0;
  ASSERT_EQ(ERROR_SUCCESS, other.RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Varnolt", KEY_ALL_ACCESS, &key));
  const uint32_t one = 1;
  ASSERT_EQ(ERROR_SUCCESS, other.RegSetValueEx(key, "DebugLevel", REG_DWORD, reinterpret_cast<const uint8_t*>(&one), 4));
  uint32_t type = 0;
  std::string data;
  EXPECT_EQ(ERROR_SUCCESS, Query("Software\\Varnolt", "DebugLevel", &type, &data));
  EXPECT_EQ(std::string("\x01\0\0\0", 4), data);
  other.RegCloseKey(key);
}

// Writers in several processes and threads: each read-modify-write keeps the others' values.
TEST_F(HiveRegistryTest, ConcurrentWritersLoseNothing) {
  constexpr int kValues = 15;
  auto write_values = [&](const std::string& prefix) {
    HiveRegistry own(platform_.hive_path());
    HKEY key = 0;
    if (own.RegCreateKeyEx(HKEY_LOCAL_MACHINE, "Software\\Varnolt", KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    bool ok = true;
    for (uint32_t i = 0; i < kValues; ++i) {
      ok &= own.RegSetValueEx(key, prefix + std::to_string(i), REG_DWORD, reinterpret_cast<const uint8_t*>(&i), 4) ==
            ERROR_SUCCESS;
    }
    own.RegCloseKey(key);
    return ok;
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(write_values("process") ? 0 : 1);
  bool thread_ok = false;
  std::thread thread([&] { thread_ok = write_values("thread"); });
  EXPECT_TRUE(write_values("main"));
  thread.join();
  int status = 0;
  ASSERT_EQ(child, ::waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(thread_ok);

  for (const char* prefix : {"process", "thread", "main"}) {
    for (int i = 0; i < kValues; ++i) {
      uint32_t type = 0;
      std::string data;
      EXPECT_EQ(ERROR_SUCCESS, Query("Software\\Varnolt", prefix + std::to_string(i), &type, &data)) << prefix << i;
    }
  }
}

}  // namespace
}  // namespace varnolt
