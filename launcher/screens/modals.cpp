// The dialogs: a scrim and one modal on top of everything.
#include <functional>
#include <memory>
#include <vector>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "base/log.h"
#include "base/text.h"
#include "launcher/screens/forms.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/textfield.h"
#include "launcher/kit/widgets.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

// What an open dialog remembers between frames lives in
// state.view.modal (app::ModalView). The controller's callbacks run on the
// UI thread after the frame and find it in the controller's state.

constexpr const char kNameField[] = "modal:name";
constexpr const char kDeleteField[] = "modal:delete";
constexpr const char kIdField[] = "modal:id";
// How long "Stop and close" waits for the update to hand back what it
// installed before closing anyway.
constexpr uint64_t kStopWaitMs = 5000;

void closeModal(app::AppState& state) {
    for (const char* id : {kNameField, kDeleteField, kIdField}) {
        if (state.view.fields.count(id) != 0) setFieldText(state, id, "");
    }
    if (state.view.focus.compare(0, 6, "modal:") == 0) state.view.focus.clear();
    state.view.openModal = app::ModalKind::none;
    state.view.modal = app::ModalView();
}

std::string realmName(const app::AppState& state) {
    for (const account::Realm& r : state.realms) {
        if (r.key == state.realmKey && !r.name.empty()) return r.name;
    }
    if (!state.manifest.serverName.empty()) return state.manifest.serverName;
    return "this realm";
}

struct Target {
    std::string id, name;
};
// The character the delete dialog is about: the chosen one.
Target deleteTarget(const app::AppState& state) {
    Target t;
    t.id = state.config.characterId;
    for (const account::Character& c : state.characters.characters) {
        if (c.id == t.id) t.name = c.name;
    }
    if (t.name.empty()) t.name = "this character";
    return t;
}

void text(const std::string& line, const char* spec = "text.modal__text") { kiln::textElement(line, spec); }

// The field's error, while the text is still what it was about.
std::string fieldError(const app::AppState& state, const char* id) {
    const app::ModalView& m = state.view.modal;
    return m.errorFor == fieldText(state, id) ? m.error : std::string();
}

void setError(app::AppState& state, const char* id, const std::string& message) {
    state.view.modal.error = message;
    state.view.modal.errorFor = fieldText(state, id);
}

bool footButton(const std::string& label, const std::string& kind, bool disabled, bool busy) {
    ButtonOptions o;
    o.label = label;
    o.kind = kind;
    o.disabled = disabled;
    o.busy = busy;
    kiln::pushKey("modal:" + label);
    const bool clicked = button(o);
    kiln::popKey();
    return clicked;
}

// The bodies, checks and confirmations of the dialogs that have more than
// text. A confirmation that answers later finds its dialog by generation.

// The answer to a create or a delete: it closes its dialog, or shows why
// not while the field still holds `about` (the text that was sent); a
// dialog closed or replaced meanwhile is left alone.
std::function<void(bool, const std::string&)> workDone(uint64_t generation, const std::string& about) {
    return [generation, about](bool ok, const std::string& message) {
        app::AppState& s = app::state();
        app::ModalView& open = s.view.modal;
        if (generation != open.generation) return;
        open.working = false;
        if (ok) {
            closeModal(s);
        } else {
            open.error = message;
            open.errorFor = about;
        }
    };
}

void createBody(app::AppState& state) {
    app::ModalView& m = state.view.modal;
    const uint64_t generation = m.generation;
    const std::string realm = realmName(state);
    text("Characters belong to one realm. This one will only exist on " + realm + ".");
    FieldOptions f;
    f.id = kNameField;
    f.label = "Name";
    f.hint = "Letters, 2\xE2\x80\x93" "21";
    f.error = fieldError(state, kNameField);
    f.maxLength = 32;
    editField(state, f);
    const std::string name = fieldText(state, kNameField);
    kiln::openElement("div.modal__check");
    ButtonOptions check;
    check.label = m.checking ? "Checking\xE2\x80\xA6" : "Is it free?";
    check.kind = "secondary";
    check.busy = m.checking;
    check.disabled = name.empty();
    kiln::pushKey("modal:check");
    if (button(check)) {
        m.checking = true;
        m.nameNote.clear();
        app::checkName(name, [generation, name](bool free, const std::string& answer) {
            app::ModalView& open = app::state().view.modal;
            if (generation != open.generation) return;
            open.checking = false;
            open.nameNote = answer;
            open.nameFree = free;
            open.nameNoteFor = name;
        });
    }
    kiln::popKey();
    if (!m.nameNote.empty() && m.nameNoteFor == name) {
        kiln::textElement(m.nameNote, m.nameFree ? "text.modal__note.is-ok" : "text.modal__note.is-bad");
    }
    kiln::closeElement();  // check
    text("This is the name other players see. It has to be unique on " + realm + ".",
         "text.modal__text.modal__text--small");
}

void createConfirm(app::AppState& state) {
    app::ModalView& m = state.view.modal;
    const std::string name = fieldText(state, kNameField);
    const std::string problem = app::validateName(name);
    if (!problem.empty()) {
        setError(state, kNameField, problem);
        return;
    }
    m.working = true;
    app::createCharacter(name, workDone(m.generation, name));
}

void deleteBody(app::AppState& state) {
    const Target t = deleteTarget(state);
    text("This permanently deletes the character, its level, its inventory and its position. This cannot be "
         "undone.");
    text("Character id " + t.id + " is retired and will not be reused.", "text.modal__text.modal__text--small");
    FieldOptions f;
    f.id = kDeleteField;
    f.label = "Type DELETE to confirm";
    f.placeholder = "DELETE";
    f.maxLength = 16;
    f.error = fieldError(state, kDeleteField);
    editField(state, f);
}

void deleteConfirm(app::AppState& state) {
    app::ModalView& m = state.view.modal;
    m.working = true;
    app::deleteCharacter(deleteTarget(state).id, workDone(m.generation, fieldText(state, kDeleteField)));
}

void changeIdBody(app::AppState& state) {
    text("Paste the id of the character you want to play as. Your current one is not deleted \xE2\x80\x94 copy "
         "its id first if you have not written it down.");
    FieldOptions f;
    f.id = kIdField;
    f.label = "Character id";
    f.placeholder = "381402557264";
    f.inputClass = "input--id";
    f.maxLength = 20;
    f.error = fieldError(state, kIdField);
    editField(state, f);
}

void changeIdConfirm(app::AppState& state) {
    const std::string problem = app::setLocalCharacterId(fieldText(state, kIdField));
    if (problem.empty()) {
        closeModal(state);
    } else {
        setError(state, kIdField, problem);
    }
}

void stopUpdateConfirm(app::AppState& state) {
    app::ModalView& m = state.view.modal;
    app::cancelOperation();
    logLine("stop and close: the update was asked to stop");
    m.stopping = true;
    m.stopDeadline = app::now() + kStopWaitMs;
    requestFrameIn(0);
}

// One dialog: its look, its field, its text and what confirming does.
struct Dialog {
    app::ModalKind kind;
    bool danger;
    const char* field;  // the field that takes the keyboard; nullptr: none
    std::string (*title)(const app::AppState&);
    const char* confirmLabel;
    const char* cancelLabel;
    std::vector<const char*> paragraphs;  // the body when it is only text
    void (*body)(app::AppState&);         // a body of its own; nullptr: the paragraphs
    bool (*canConfirm)(const app::AppState&);
    void (*confirm)(app::AppState&);
};

const std::vector<Dialog>& dialogs() {
    static const std::vector<Dialog> table = {
        {app::ModalKind::create, false, kNameField,
         [](const app::AppState& s) { return "New character on " + realmName(s); }, "Create", "Cancel", {}, createBody,
         nullptr, createConfirm},
        {app::ModalKind::remove, true, kDeleteField,
         [](const app::AppState& s) { return "Delete " + deleteTarget(s).name + "?"; }, "Delete character", "Cancel",
         {}, deleteBody, [](const app::AppState& s) { return fieldText(s, kDeleteField) == "DELETE"; },
         deleteConfirm},
        {app::ModalKind::logout, false, nullptr, [](const app::AppState&) { return std::string("Log out?"); },
         "Log out", "Cancel",
         {"This deletes the saved sign-in from this PC.",
          "You will need your email and password to sign in on this PC again."},
         nullptr, nullptr,
         [](app::AppState& s) {
             app::logout();
             closeModal(s);
         }},
        {app::ModalKind::ignoreVersion, true, nullptr,
         [](const app::AppState&) { return std::string("Ignore the version check?"); }, "Ignore the check", "Cancel",
         {"Emberlane is built against one Oblivion Remastered version. Running it on another usually crashes on "
          "load, and the crash will look like an Emberlane bug. Only do this if an admin asked you to."},
         nullptr, nullptr,
         [](app::AppState& s) {
             app::setIgnoreVersion(true);
             closeModal(s);
         }},
        {app::ModalKind::reset, true, nullptr, [](const app::AppState&) { return std::string("Reset the launcher?"); },
         "Reset launcher", "Cancel",
         {"This deletes the launcher\xE2\x80\x99s config.json \xE2\x80\x94 the game folder, your character id and "
          "the list of installed files. Your Oblivion Remastered install and the downloaded client files are "
          "left alone; the next run re-checks them."},
         nullptr, nullptr,
         [](app::AppState& s) {
             app::resetLauncher();
             closeModal(s);
         }},
        {app::ModalKind::changeId, true, kIdField,
         [](const app::AppState&) { return std::string("Play as a different character?"); }, "Use this id", "Cancel",
         {}, changeIdBody, nullptr, changeIdConfirm},
        {app::ModalKind::stopUpdate, false, nullptr, [](const app::AppState&) { return std::string("Stop the update?"); },
         "Stop and close", "Keep downloading", {"Downloaded files are kept and it'll pick up where it left off."},
         nullptr, nullptr, stopUpdateConfirm},
    };
    return table;
}

const Dialog* dialogFor(app::ModalKind kind) {
    for (const Dialog& d : dialogs()) {
        if (d.kind == kind) return &d;
    }
    return nullptr;
}

}  // namespace

void modal(app::AppState& state) {
    const Dialog* dialog = dialogFor(state.view.openModal);
    if (dialog == nullptr) {
        closeModal(state);
        return;
    }
    const Dialog& d = *dialog;
    app::ModalView& m = state.view.modal;
    if (d.kind != m.open) {
        m = app::ModalView();
        m.open = d.kind;
        m.generation = ++state.view.modalsOpened;
        // The dialog's field takes the keyboard (a dialog without one takes
        // Enter and Escape from whatever field had them).
        state.view.focus = d.field != nullptr ? d.field : "";
    }
    const bool locked = m.working || m.stopping;

    // The scrim closes the dialog, unless it is carrying something out.
    if (kiln::buttonElement("scrim") && !locked) {
        trace("click scrim");
        closeModal(state);
        kiln::closeElement();
        return;
    }
    nameElement("Close the dialog");
    kiln::closeElement();

    // The modal takes the clicks that miss its buttons.
    kiln::buttonElement(d.danger ? "div.modal.modal--danger" : "div.modal");
    nameElement(d.title(state));
    kiln::openElement("div.modal__in");
    kiln::textElement(d.title(state), "text.t-h2.modal__title");

    kiln::openElement("div.modal__body");
    if (d.body != nullptr) {
        d.body(state);
    } else {
        for (size_t i = 0; i < d.paragraphs.size(); ++i)
            text(d.paragraphs[i], i == 0 ? "text.modal__text" : "text.modal__text.modal__text--small");
    }
    kiln::closeElement();  // body
    bool confirm = state.view.enterPressed || (d.field != nullptr && state.view.submitted == d.field);
    const bool confirmDisabled = d.canConfirm != nullptr && !d.canConfirm(state);

    kiln::openElement("div.modal__foot");
    const bool cancel = footButton(d.cancelLabel, "secondary", false, false) && !locked;
    if (footButton(d.confirmLabel, d.danger ? "danger" : "primary", confirmDisabled, locked)) confirm = true;
    kiln::closeElement();

    kiln::closeElement();  // in
    kiln::closeElement();  // modal

    // Escape closes, Enter confirms.
    if ((cancel || state.view.escapePressed) && !locked) {
        closeModal(state);
        return;
    }
    if (m.stopping) {
        // The update hands back what it installed before the window goes.
        if (!state.busy || app::now() >= m.stopDeadline) {
            closeModal(state);
            state.view.quitRequested = true;
        } else {
            requestFrameIn(100);
        }
        return;
    }
    if (!confirm || confirmDisabled || locked) return;
    d.confirm(state);
}

}  // namespace ember::launcher::view
