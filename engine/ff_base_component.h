#pragma once

// Common base of the engine's components; it carries no state of its own.
class TFFBaseComponent {
public:
  explicit TFFBaseComponent(void *AOwner = nullptr) : FOwner(AOwner) {}
  virtual ~TFFBaseComponent() = default;
  TFFBaseComponent(const TFFBaseComponent &) = delete;
  TFFBaseComponent &operator=(const TFFBaseComponent &) = delete;
  void *Owner() const { return FOwner; }

private:
  void *FOwner;
};
