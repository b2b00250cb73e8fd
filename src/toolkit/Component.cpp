#include "toolkit/Component.h"

#include <algorithm>
#include <stdexcept>

#include "toolkit/Strings.h"

namespace vantor {

TObject::~TObject() = default;

std::string TObject::ClassName() const { return "TObject"; }

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_) owner_->Register(this);
}

TComponent::~TComponent() {
    FreeOwnedComponents();
    // Components that live elsewhere outlive their owner: they lose it.
    for (TComponent* c : components_) c->owner_ = nullptr;
    components_.clear();
    if (owner_) owner_->Unregister(this);
}

std::string TComponent::ClassName() const { return "TComponent"; }

void TComponent::FreeOwnedComponents() {
    // Newest first, as the framework frees them; a component freed here may
    // still free others of this owner.
    while (!owned_.empty()) {
        std::unique_ptr<TComponent> last = std::move(owned_.back());
        owned_.pop_back();
        last.reset();
    }
}

TComponent* TComponent::FindComponent(std::string_view name) const {
    for (TComponent* c : components_)
        if (SameText(c->Name(), name)) return c;
    return nullptr;
}

void TComponent::Adopt(std::unique_ptr<TComponent> component) {
    if (!component) return;
    if (component->owner_ != this)
        throw std::logic_error("TComponent::Adopt: component " + component->Name() +
                               " has another owner");
    owned_.push_back(std::move(component));
}

bool TComponent::FreeComponent(TComponent* component) {
    auto it = std::find_if(owned_.begin(), owned_.end(),
                           [component](const auto& p) { return p.get() == component; });
    if (it == owned_.end()) return false;
    std::unique_ptr<TComponent> victim = std::move(*it);
    owned_.erase(it);
    victim.reset();
    return true;
}

void TComponent::Register(TComponent* c) { components_.push_back(c); }

void TComponent::Unregister(TComponent* c) {
    auto it = std::find(components_.begin(), components_.end(), c);
    if (it != components_.end()) components_.erase(it);
}

} // namespace vantor
