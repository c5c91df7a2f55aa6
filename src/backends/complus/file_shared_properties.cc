#include "backends/complus/file_shared_properties.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "backends/system/new_files.h"
#include "platform/com/com_error.h"

namespace varnolt {
namespace {

// File format, one entry a line: the first line is the instance key; then
// "<group>\t<property>\t<kind>\t<value>", texts escaped (\\, \t, \n).
std::string Escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return out;
}

std::string Encode(const Variant& value) {
  switch (value.kind()) {
    case Variant::Kind::kEmpty: return "e\t";
    case Variant::Kind::kInt16: return "s\t" + std::to_string(value.AsNumber());
    case Variant::Kind::kInt32: return "i\t" + std::to_string(value.AsNumber());
    case Variant::Kind::kBool: return std::string("b\t") + (value.AsBool() ? "1" : "0");
    case Variant::Kind::kText: return "t\t" + Escape(value.AsText());
  }
  return "e\t";
}

std::optional<Variant> Decode(const std::string& kind, const std::string& text) {
  try {
    if (kind == "e") return Variant();
    if (kind == "s") return Variant::Int16(static_cast<int16_t>(std::stoi(text)));
    if (kind == "i") return Variant::Int32(static_cast<int32_t>(std::stol(text)));
    if (kind == "b") return Variant::Bool(text == "1");
    if (kind == "t") return Variant::Text(Unescape(text));
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

using Key = std::pair<std::string, std::string>;  // group, property
using Entries = std::map<Key, Variant>;

// The file, locked for the duration of one read or one read and rewrite.
class LockedFile {
 public:
  LockedFile(const std::string& path, bool write) {
    fd_ = write ? OpenOrCreate(path, O_RDWR | O_CLOEXEC) : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ >= 0 && ::flock(fd_, write ? LOCK_EX : LOCK_SH) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~LockedFile() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  bool ok() const { return fd_ >= 0; }

  std::string Read() {
    std::string bytes;
    char buffer[4096];
    ::lseek(fd_, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
    return bytes;
  }
  void Write(const std::string& bytes) {
    if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return;
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<size_t>(n);
    }
  }

 private:
  int fd_ = -1;
};

// The entries of a file written for this instance; none for another's.
Entries Parse(const std::string& bytes, const std::string& instance_key) {
  Entries entries;
  size_t pos = bytes.find('\n');
  if (pos == std::string::npos || bytes.substr(0, pos) != instance_key) return entries;
  while (++pos < bytes.size()) {
    const size_t end = bytes.find('\n', pos);
    if (end == std::string::npos) break;  // a line cut short is not trusted
    const std::string line = bytes.substr(pos, end - pos);
    pos = end;
    const size_t a = line.find('\t'), b = line.find('\t', a + 1), c = line.find('\t', b + 1);
    if (c == std::string::npos) continue;
    if (auto value = Decode(line.substr(b + 1, c - b - 1), line.substr(c + 1))) {
      entries[{Unescape(line.substr(0, a)), Unescape(line.substr(a + 1, b - a - 1))}] = *value;
    }
  }
  return entries;
}

std::string Serialize(const Entries& entries, const std::string& instance_key) {
  std::string bytes = instance_key + "\n";
  for (const auto& [key, value] : entries) bytes += Escape(key.first) + "\t" + Escape(key.second) + "\t" + Encode(value) + "\n";
  return bytes;
}

}  // namespace

struct FileComponentServices::State {
  std::string path;
  std::string instance_key;
  std::mutex mutex;
  Entries known;  // this process's view: what it read or wrote
  // The file, held locked for writing while this process loads properties.
  std::weak_ptr<LockedFile> loading;

  // The value stored for the property by any process of the instance. Waits
  // while another process loads one: what it finds is then settled.
  std::optional<Variant> Find(const Key& key) {
    std::lock_guard<std::mutex> guard(mutex);
    if (auto it = known.find(key); it != known.end()) return it->second;
    std::optional<Entries> read = WithFile(false, [&](LockedFile& file) { return Parse(file.Read(), instance_key); });
    if (!read) return std::nullopt;
    for (auto& [k, v] : *read) known.emplace(k, v);
    if (auto it = known.find(key); it != known.end()) return it->second;
    return std::nullopt;
  }

  void Store(const Key& key, const Variant& value) {
    std::lock_guard<std::mutex> guard(mutex);
    known[key] = value;
    WithFile(true, [&](LockedFile& file) {
      Entries entries = Parse(file.Read(), instance_key);
      entries[key] = value;
      file.Write(Serialize(entries, instance_key));
      return true;
    });
  }

  // Locks the file for writing until the last holder lets go (nullptr when
  // it cannot be used): no other process reads or writes it meanwhile.
  std::shared_ptr<LockedFile> Hold() {
    std::lock_guard<std::mutex> guard(mutex);
    if (auto held = loading.lock()) return held;
    auto file = std::make_shared<LockedFile>(path, true);
    if (!file->ok()) return nullptr;
    loading = file;
    return file;
  }

 private:
  // Runs use on the file: through this process's hold when it has one (a
  // second lock of its own would wait for itself), else locked for the call.
  // nullopt when the file cannot be used. Called under the mutex.
  template <typename Use>
  auto WithFile(bool write, Use use) -> std::optional<decltype(use(std::declval<LockedFile&>()))> {
    if (auto held = loading.lock()) return use(*held);
    LockedFile file(path, write);
    if (!file.ok()) return std::nullopt;
    return use(file);
  }
};

namespace {

class FileProperty final : public SharedProperty {
 public:
  FileProperty(std::shared_ptr<FileComponentServices::State> state, Key key)
      : state_(std::move(state)), key_(std::move(key)) {}
  // A property this process makes now, with the file held until its value is in.
  FileProperty(std::shared_ptr<FileComponentServices::State> state, Key key, std::shared_ptr<LockedFile> hold)
      : state_(std::move(state)), key_(std::move(key)), pending_(true), hold_(std::move(hold)) {}
  ~FileProperty() override {
    // Never assigned: the instance's other processes find it so, as made.
    if (pending_) state_->Store(key_, Variant());
  }
  Variant Value() override { return state_->Find(key_).value_or(Variant()); }
  void SetValue(const Variant& value) override {
    state_->Store(key_, value);
    pending_ = false;
    hold_.reset();
  }

 private:
  std::shared_ptr<FileComponentServices::State> state_;
  Key key_;
  bool pending_ = false;
  std::shared_ptr<LockedFile> hold_;
};

class FileGroup final : public SharedPropertyGroup {
 public:
  FileGroup(std::shared_ptr<FileComponentServices::State> state, std::string name)
      : state_(std::move(state)), name_(std::move(name)) {}

  std::shared_ptr<SharedProperty> CreateProperty(const std::string& name, bool* exists) override {
    Key key{name_, name};
    bool found = state_->Find(key).has_value();
    std::shared_ptr<LockedFile> hold;
    if (!found) {
      // The maker loads the value with the file held, so that no other
      // process reads the property unassigned meanwhile and keeps that for
      // its life (a process reads each setting once). One that waited here
      // finds what the maker stored.
      hold = state_->Hold();
      found = state_->Find(key).has_value();
    }
    if (exists) *exists = found;
    if (found) return std::make_shared<FileProperty>(state_, std::move(key));
    return std::make_shared<FileProperty>(state_, std::move(key), std::move(hold));
  }

 private:
  std::shared_ptr<FileComponentServices::State> state_;
  std::string name_;
};

class FileManager final : public SharedPropertyGroupManager {
 public:
  explicit FileManager(std::shared_ptr<FileComponentServices::State> state) : state_(std::move(state)) {}

  std::shared_ptr<SharedPropertyGroup> CreatePropertyGroup(const std::string& name, int32_t* isolation,
                                                           int32_t* release, bool* exists) override {
    if (!isolation || !release) throw RuntimeError(kInvalidProcedureCall);
    if ((*isolation != LockSetGet && *isolation != LockMethod) || (*release != Standard && *release != Process)) {
      throw RuntimeError(kInvalidProcedureCall);
    }
    // Every group of the file lives as long as the instance.
    *release = Process;
    if (exists) *exists = true;
    return std::make_shared<FileGroup>(state_, name);
  }

 private:
  std::shared_ptr<FileComponentServices::State> state_;
};

}  // namespace

FileComponentServices::FileComponentServices(std::string path, std::string instance_key)
    : state_(std::make_shared<State>()) {
  state_->path = std::move(path);
  // One line: the file's first.
  for (char& c : instance_key) c = c == '\n' ? ' ' : c;
  state_->instance_key = std::move(instance_key);
}

FileComponentServices::~FileComponentServices() = default;

std::unique_ptr<SharedPropertyGroupManager> FileComponentServices::CreateSharedPropertyGroupManager() {
  return std::make_unique<FileManager>(state_);
}

}  // namespace varnolt
