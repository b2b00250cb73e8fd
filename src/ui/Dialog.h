#pragma once
// What every dialog of the gateway shares: it is translated by Tag through
// the language file (the caller passes the translator), and controls are
// made with a Tag and an 8-bit caption in one call.
#include "toolkit/Controls.h"
#include "toolkit/Cp1250.h"
#include "toolkit/Forms.h"

#include <functional>
#include <string_view>

namespace vantor {

using FormTranslator = std::function<void(TForm&)>;

// Creates a control owned by `owner`, placed in `parent`, with Tag, caption
// (given as UTF-8, held as Windows-1250) and bounds.
template <typename T>
T& MakeControl(TComponent& owner, TControl& parent, int tag, std::string_view captionUtf8,
               int left = 0, int top = 0, int width = 0, int height = 0) {
    T& control = owner.Create<T>(&parent);
    control.SetTag(tag);
    control.SetCaption(Cp1250FromUtf8(captionUtf8));
    control.SetBounds(left, top, width, height);
    return control;
}

struct OkCancelButtons {
    TButton* ok;
    TButton* cancel;
};

// The OK (Tag 102) and cancel (Tag 100) buttons at the bottom of a dialog.
inline OkCancelButtons MakeOkCancel(TForm& form, TControl& parent,
                                    std::string_view cancelCaptionUtf8, int top, int left = 0) {
    auto& ok = MakeControl<TButton>(form, parent, 102, "OK", left, top, 75, 25);
    ok.SetModalResult(mrOk);
    ok.SetDefault(true);
    auto& cancel =
        MakeControl<TButton>(form, parent, 100, cancelCaptionUtf8, left + 85, top, 75, 25);
    cancel.SetModalResult(mrCancel);
    cancel.SetCancel(true);
    return {&ok, &cancel};
}

} // namespace vantor
