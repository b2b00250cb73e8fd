#pragma once
// The views of one form's controls, kept in step with the form's tree of
// controls, for any window system: a view per control whose parent is
// shown, made when the control appears, dropped with the views below it when
// the control goes or moves to another parent.  A window system's form
// window derives from it with its own kind of control view (`View`, which
// has BoundParent() and Pull()) and says how a view is made, how the window
// lays out and how a pass is put off to the loop.
//
// The window catches up with its form when it chooses, not on every change:
// Changed() notes a control, CatchUp() shows the noted ones in the order
// they changed.
#include <algorithm>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "toolkit/Forms.h"

namespace vantor {

template <class View>
class FormViews {
public:
    explicit FormViews(TForm& form) : form_(form) {}
    virtual ~FormViews() = default;

    TForm& Form() const { return form_; }
    View* Find(const TControl* control) const {
        auto it = views_.find(control);
        return it == views_.end() ? nullptr : it->second.get();
    }

protected:
    // The view of a control whose parent shows it; `parentView` is null for
    // a control placed right on the form.
    virtual std::unique_ptr<View> MakeView(TControl& control, View* parentView) = 0;
    virtual void PullForm() = 0;
    virtual void Layout() = 0;
    // Has ReconcileAll() called on a later pass of the loop; false when it
    // cannot be.
    virtual bool PostReconcile() = 0;
    // A view was brought up to date.
    virtual void Pulled(View&) {}

    void Changed(TControl& control) {
        if (dirty_.insert(&control).second) dirtyOrder_.push_back(&control);
    }

    void CatchUp() {
        std::vector<TControl*> order;
        order.swap(dirtyOrder_);
        dirty_.clear();
        for (TControl* control : order) Catch(*control);
    }

    // `control` is being destroyed: its pending change and its views go.
    void Forget(const TControl* control) {
        auto* c = const_cast<TControl*>(control);
        if (dirty_.erase(c))
            dirtyOrder_.erase(std::remove(dirtyOrder_.begin(), dirtyOrder_.end(), c),
                              dirtyOrder_.end());
        DropView(control);
        Layout();
    }

    void Reconcile(TControl& parent) {
        std::vector<const TControl*> stale;
        for (const auto& [control, view] : views_)
            if (view->BoundParent() == &parent) {
                const auto& children = parent.Controls();
                if (std::find(children.begin(), children.end(), control) == children.end())
                    stale.push_back(control);
            }
        if (!stale.empty()) DropViewsUnder(&parent);
        childCounts_[&parent] = parent.ControlCount();
        for (TControl* child : parent.Controls())
            if (!views_.count(child)) AddView(*child);
        Layout();
    }

    void ReconcileAll() {
        reconcilePending_ = false;
        std::vector<TControl*> pending{&form_};
        while (!pending.empty()) {
            TControl* c = pending.back();
            pending.pop_back();
            Reconcile(*c);
            for (TControl* child : c->Controls()) pending.push_back(child);
        }
    }

    // Raised while the window is set from the model: what the window then
    // reports (a move, a size) is not the user's doing.
    struct Applying {
        FormViews& views;
        bool old = views.applying_;
        explicit Applying(FormViews& v) : views(v) { views.applying_ = true; }
        ~Applying() { views.applying_ = old; }
    };

    TForm& form_;
    std::unordered_map<const TControl*, std::unique_ptr<View>> views_;
    bool applying_ = false;

private:
    bool Shown(const TControl* control) const {
        return control == &form_ || views_.count(control) != 0;
    }

    void Catch(TControl& control) {
        if (&control == &form_) {
            PullForm();
            Reconcile(form_);
        } else if (View* view = Find(&control)) {
            if (TControl* oldParent = view->BoundParent(); oldParent != control.Parent()) {
                // Moved to another parent: shown again there.
                DropViewsUnder(oldParent);
                if (control.Parent() && Shown(control.Parent())) Reconcile(*control.Parent());
            } else {
                view->Pull();
                auto count = childCounts_.find(&control);
                if (count == childCounts_.end() || count->second != control.ControlCount())
                    Reconcile(control);
                Pulled(*view);
            }
        } else if (control.Parent() && Shown(control.Parent())) {
            // A control placed from inside its own constructor is not yet
            // what it will be (its class is still TControl): it is shown once
            // it is made, on its next change or on the next pass of the loop.
            if (control.ClassName() != "TControl")
                Reconcile(*control.Parent());
            else if (!reconcilePending_)
                reconcilePending_ = PostReconcile();
        }
    }

    void AddView(TControl& control) {
        View* parentView = nullptr;
        if (TControl* parent = control.Parent(); parent && parent != &form_)
            if (!(parentView = Find(parent))) return;
        auto made = MakeView(control, parentView);
        View& view = *made;
        views_[&control] = std::move(made);
        view.Pull();
        Reconcile(control);
    }

    void DropView(const TControl* control) {
        if (!views_.count(control)) return;
        std::vector<const TControl*> below{control};
        for (std::size_t i = 0; i < below.size(); ++i)
            for (const auto& [c, v] : views_)
                if (v->BoundParent() == below[i]) below.push_back(c);
        // Children first, so a parent's window is not taken from under them.
        for (auto it = below.rbegin(); it != below.rend(); ++it) {
            views_.erase(*it);
            childCounts_.erase(*it);
        }
    }

    void DropViewsUnder(TControl* parent) {
        // Views of controls that are no longer children of `parent` (freed
        // or moved) go, with the views below them.  Their controls are not
        // read: a freed control is known here only by its address.
        std::vector<const TControl*> gone;
        for (const auto& [control, view] : views_) {
            if (view->BoundParent() != parent) continue;
            bool present = false;
            if (Shown(parent)) {
                const auto& children = parent->Controls();
                present = std::find(children.begin(), children.end(), control) != children.end();
            }
            if (!present) gone.push_back(control);
        }
        for (const TControl* control : gone) DropView(control);
    }

    std::unordered_map<const TControl*, int> childCounts_;
    std::unordered_set<TControl*> dirty_;
    std::vector<TControl*> dirtyOrder_;
    bool reconcilePending_ = false;
};

} // namespace vantor
