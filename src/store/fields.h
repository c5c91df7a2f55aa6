// Properties of one store record and its content stream. Failures throw
// ComError with the store's number and description.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/com/variant.h"
#include "store/store_options.h"

namespace varnolt {

// The content of an item as a stream of bytes.
class Stream {
 public:
  virtual ~Stream() = default;
  virtual void SetCharset(const std::string& charset) = 0;
  virtual void SetType(StreamType type) = 0;
  // Replaces the stream's bytes with the file's bytes (path with "\" or "/").
  virtual void LoadFromFile(const std::string& path) = 0;
  // Writes the bytes into the item as its content; the store derives the
  // message's properties from it.
  virtual void Flush() = 0;
};

class Field {
 public:
  virtual ~Field() = default;
  // The stored (or staged) value; throws when the item has no such property.
  virtual Variant Value() = 0;
  // Stages a text, 32-bit or 16-bit integer or boolean; Fields::Update commits it.
  virtual void SetValue(const Variant& value) = 0;
  // kFieldOK, or kFieldDoesNotExist (16) when the item has no such property.
  virtual int32_t Status() = 0;
  // The content stream; only for the field kDefaultStream, throws otherwise.
  virtual std::shared_ptr<Stream> StreamValue() = 0;
};

class Fields {
 public:
  virtual ~Fields() = default;
  // A property by name (letter case ignored); a missing one gives a field whose Status is 16.
  virtual std::shared_ptr<Field> Item(const std::string& name) = 0;
  // By index: only kDefaultStream (-1), the content stream.
  virtual std::shared_ptr<Field> Item(int32_t index) = 0;
  // Commits every staged value of the record.
  virtual void Update() = 0;
};

}  // namespace varnolt
