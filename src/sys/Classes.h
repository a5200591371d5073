// The small component framework the non-visual components build on: a root object class, the
// base exception with its message text, and components that own other components.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace sys {

using Word = std::uint16_t;

// Root of the component classes; event handlers receive their sender as a TObject*.
class TObject {
  public:
    virtual ~TObject() = default;
};

// The base exception of the framework: a message text and nothing else.
class Exception : public std::runtime_error {
  public:
    explicit Exception(const std::string& msg) : std::runtime_error(msg) {}
    std::string Message() const { return what(); }
};

enum class TOperation { opInsert, opRemove };

// A component may have an owner, which destroys it together with itself. A component that is
// destroyed earlier (for example by itself) leaves its owner's list first, so the owner never
// frees it twice.
class TComponent : public TObject {
  public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::vector<TComponent*>& Components() const { return components_; }
    // True from the start of destruction on; derived destructors set it first thing.
    bool IsDestroying() const { return destroying_; }

    std::string Name;

  protected:
    // Called on the owner when a component joins or leaves it.
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    void MarkDestroying() { destroying_ = true; }

  private:
    void InsertComponent(TComponent* c);
    void RemoveComponent(TComponent* c);

    TComponent* owner_ = nullptr;
    std::vector<TComponent*> components_;
    bool destroying_ = false;
};

}  // namespace sys
