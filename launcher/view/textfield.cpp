// Text fields and the keyboard (see textfield.h).
#include "launcher/view/textfield.h"

#include "ui/kiln.h"

namespace ember::launcher::view {

namespace {
const std::string kEmpty;
}

void runFieldPass(app::AppState& state, const std::vector<KeyEvent>&, const std::vector<uint32_t>&, uint64_t) {
    state.view.submitted.clear();
    state.view.enterPressed = false;
    state.view.escapePressed = false;
}

bool editField(app::AppState& state, const FieldOptions& options) {
    auto it = state.view.fields.find(options.id);
    if (it == state.view.fields.end()) {
        it = state.view.fields.emplace(options.id, app::FieldState{}).first;
        it->second.text = options.text;
        it->second.caret = options.text.size();
    }
    FieldOptions shown = options;
    shown.text = it->second.text;
    shown.focused = state.view.focus == options.id;
    const bool clicked = field(shown);
    if (clicked && !options.readOnly) state.view.focus = options.id;
    return clicked;
}

const std::string& fieldText(const app::AppState& state, const std::string& id) {
    auto it = state.view.fields.find(id);
    return it == state.view.fields.end() ? kEmpty : it->second.text;
}

void setFieldText(app::AppState& state, const std::string& id, const std::string& text) {
    app::FieldState& f = state.view.fields[id];
    f.text = text;
    f.caret = text.size();
    f.selectAll = false;
}

}  // namespace ember::launcher::view
