// The Fields of one plugin record: properties held in memory (letter case of
// names ignored), values staged by SetValue and handed to the record's
// commit by Update.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "store/fields.h"

namespace varnolt::dovecot {

// Lower-cased property name -> value.
using PropertyMap = std::map<std::string, Variant>;

class PropertyFields final : public Fields {
 public:
  struct Hooks {
    // The value of a property the record computes on every read; nullopt for others.
    std::function<std::optional<Variant>(const std::string& key)> computed;
    // Makes the staged values durable; called by Update with them (keys lower case).
    std::function<void(const PropertyMap& staged)> commit;
    // The content stream; unset: the record has none.
    std::function<std::shared_ptr<Stream>()> stream;
  };

  explicit PropertyFields(Hooks hooks) : hooks_(std::move(hooks)) {}

  // Replaces every stored property.
  void Load(PropertyMap properties) { stored_ = std::move(properties); }
  // Sets one stored property.
  void Put(const std::string& name, Variant value);

  std::shared_ptr<Field> Item(const std::string& name) override;
  std::shared_ptr<Field> Item(int32_t index) override;
  void Update() override;

  // The staged, else the stored, else the computed value.
  std::optional<Variant> Find(const std::string& name) const;
  void Stage(const std::string& name, Variant value);
  std::shared_ptr<Stream> ContentStream();

 private:
  Hooks hooks_;
  PropertyMap stored_;
  PropertyMap staged_;
};

}  // namespace varnolt::dovecot
