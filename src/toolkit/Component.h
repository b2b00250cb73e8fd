#pragma once
// The component model the gateway's windows, timers and sockets are built
// from: every component has a name, a Tag and an owner.  An owner keeps a list
// of the components created with it as owner (Components()); those it was
// handed ownership of (Create<T>() or Adopt()) are freed with it, newest
// first.  Components that live as members of another object simply register
// with their owner and unregister when they go, so both styles mix freely.
#include <cstddef>
#include <functional>
#include <string_view>
#include <memory>
#include <string>
#include <vector>

namespace vantor {

class TObject {
public:
    virtual ~TObject();
    // The exact class name ("TButton", "TForm", ...).  Every class overrides it;
    // the translator compares it to decide what it translates.
    virtual std::string ClassName() const;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    std::string ClassName() const override;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    int Tag() const { return tag_; }
    void SetTag(int tag) { tag_ = tag; }

    // Every component that has this one as owner, in creation order.
    std::size_t ComponentCount() const { return components_.size(); }
    TComponent* Components(std::size_t i) const { return components_.at(i); }
    // The owned component with this name (ASCII case-insensitive), or null.
    TComponent* FindComponent(std::string_view name) const;

    // Creates a component owned by this one: T(this, args...).  It is freed
    // with this component, or earlier with FreeComponent().
    template <class T, class... Args>
    T& Create(Args&&... args) {
        auto p = std::make_unique<T>(this, std::forward<Args>(args)...);
        T& ref = *p;
        Adopt(std::move(p));
        return ref;
    }
    // Takes ownership of a component whose owner is this one.
    void Adopt(std::unique_ptr<TComponent> component);
    // Frees an owned component now.  Returns false (and does nothing) when
    // this component does not own it.
    bool FreeComponent(TComponent* component);

protected:
    // Frees the owned components now, newest first (a form does this after
    // its OnDestroy, as the framework does).
    void FreeOwnedComponents();

private:
    void Register(TComponent* c);
    void Unregister(TComponent* c);

    TComponent* owner_ = nullptr;
    std::string name_;
    int tag_ = 0;
    std::vector<TComponent*> components_;            // registered, not owned
    std::vector<std::unique_ptr<TComponent>> owned_; // in adoption order
};

} // namespace vantor
