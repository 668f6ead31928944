#pragma once
// The engine's objects are components: an owner, a name, and events that are
// callables receiving the component that fired them as Sender.

#include <string>

namespace fornax {

class TObject {
 public:
  virtual ~TObject() = default;
};

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner = nullptr) : Owner(owner) {}
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner;
  std::string Name;
};

}  // namespace fornax
