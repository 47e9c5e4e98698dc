// The dialogs: a scrim and one modal on top of everything.
#include <memory>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "base/log.h"
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
    state.view.openModal.clear();
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

}  // namespace

void modal(app::AppState& state) {
    const std::string kind = state.view.openModal;
    app::ModalView& m = state.view.modal;
    if (kind != m.open) {
        m = app::ModalView();
        m.open = kind;
        m.generation = ++state.view.modalsOpened;
        // The dialog's field takes the keyboard (a dialog without one takes
        // Enter and Escape from whatever field had them).
        state.view.focus.clear();
        if (kind == "create") state.view.focus = kNameField;
        if (kind == "delete") state.view.focus = kDeleteField;
        if (kind == "change-id") state.view.focus = kIdField;
    }
    const bool danger = kind == "delete" || kind == "ignore-version" || kind == "reset" || kind == "change-id";
    const bool locked = m.working || m.stopping;

    // The scrim closes the dialog, unless it is carrying something out.
    if (kiln::buttonElement("scrim") && !locked) {
        trace("click scrim");
        closeModal(state);
        kiln::closeElement();
        return;
    }
    kiln::closeElement();

    // The modal takes the clicks that miss its buttons.
    kiln::buttonElement(danger ? "div.modal.modal--danger" : "div.modal");
    kiln::openElement("div.modal__in");

    const uint64_t generation = m.generation;
    const std::string realm = realmName(state);
    const std::string submitted = state.view.submitted;
    bool confirm = state.view.enterPressed;
    std::string title, confirmLabel, confirmKind = danger ? "danger" : "primary", cancelLabel = "Cancel";
    bool confirmDisabled = false;

    if (kind == "create") {
        title = "New character on " + realm;
        confirmLabel = "Create";
    } else if (kind == "delete") {
        title = "Delete " + deleteTarget(state).name + "?";
        confirmLabel = "Delete character";
        confirmDisabled = fieldText(state, kDeleteField) != "DELETE";
    } else if (kind == "logout") {
        title = "Log out?";
        confirmLabel = "Log out";
    } else if (kind == "ignore-version") {
        title = "Ignore the version check?";
        confirmLabel = "Ignore the check";
    } else if (kind == "reset") {
        title = "Reset the launcher?";
        confirmLabel = "Reset launcher";
    } else if (kind == "change-id") {
        title = "Play as a different character?";
        confirmLabel = "Use this id";
    } else if (kind == "stop-update") {
        title = "Stop the update?";
        confirmLabel = "Stop and close";
        cancelLabel = "Keep downloading";
    } else {
        title = "Something went wrong";
        confirmLabel = "Close";
    }
    kiln::textElement(title, "text.t-h2.modal__title");

    kiln::openElement("div.modal__body");
    if (kind == "create") {
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
            app::checkName(name, [generation, name](const std::string& answer) {
                app::ModalView& open = app::state().view.modal;
                if (generation != open.generation) return;
                open.checking = false;
                open.nameNote = answer;
                open.nameNoteFor = name;
            });
        }
        kiln::popKey();
        if (!m.nameNote.empty() && m.nameNoteFor == name) {
            const std::string tail = " is free.";
            const bool free = m.nameNote.size() > tail.size() &&
                              m.nameNote.compare(m.nameNote.size() - tail.size(), tail.size(), tail) == 0;
            kiln::textElement(m.nameNote, free ? "text.modal__note.is-ok" : "text.modal__note.is-bad");
        }
        kiln::closeElement();  // check
        text("This is the name other players see. It has to be unique on " + realm + ".",
             "text.modal__text.modal__text--small");
        if (submitted == kNameField) confirm = true;
    } else if (kind == "delete") {
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
        if (submitted == kDeleteField) confirm = true;
    } else if (kind == "logout") {
        text("This deletes the saved sign-in from this PC.");
        text("You will need your email and password to sign in on this PC again.", "text.modal__text.modal__text--small");
    } else if (kind == "ignore-version") {
        text("Emberlane is built against one Oblivion Remastered version. Running it on another usually crashes on "
             "load, and the crash will look like an Emberlane bug. Only do this if an admin asked you to.");
    } else if (kind == "reset") {
        text("This deletes the launcher\xE2\x80\x99s config.json \xE2\x80\x94 the game folder, your character id and "
             "the list of installed files. Your Oblivion Remastered install and the downloaded client files are "
             "left alone; the next run re-checks them.");
    } else if (kind == "change-id") {
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
        if (submitted == kIdField) confirm = true;
    } else if (kind == "stop-update") {
        text("Downloaded files are kept and it'll pick up where it left off.");
    }
    kiln::closeElement();  // body

    kiln::openElement("div.modal__foot");
    const bool cancel = footButton(cancelLabel, "secondary", false, false) && !locked;
    const bool busy = m.working || m.stopping;
    if (footButton(confirmLabel, confirmKind, confirmDisabled, busy)) confirm = true;
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

    if (kind == "create") {
        const std::string name = fieldText(state, kNameField);
        const std::string problem = app::validateName(name);
        if (!problem.empty()) {
            setError(state, kNameField, problem);
            return;
        }
        m.working = true;
        app::createCharacter(name, [generation, name](bool ok, const std::string& message) {
            app::AppState& s = app::state();
            app::ModalView& open = s.view.modal;
            if (generation != open.generation) return;
            open.working = false;
            if (ok) {
                closeModal(s);
            } else {
                open.error = message;
                open.errorFor = name;
            }
        });
    } else if (kind == "delete") {
        m.working = true;
        app::deleteCharacter(deleteTarget(state).id, [generation](bool ok, const std::string& message) {
            app::AppState& s = app::state();
            app::ModalView& open = s.view.modal;
            if (generation != open.generation) return;
            open.working = false;
            if (ok) {
                closeModal(s);
            } else {
                open.error = message;
                open.errorFor = fieldText(s, kDeleteField);
            }
        });
    } else if (kind == "logout") {
        app::logout();
        closeModal(state);
    } else if (kind == "ignore-version") {
        app::setIgnoreVersion(true);
        closeModal(state);
    } else if (kind == "reset") {
        app::resetLauncher();
        closeModal(state);
    } else if (kind == "change-id") {
        const std::string problem = app::setLocalCharacterId(fieldText(state, kIdField));
        if (problem.empty()) {
            closeModal(state);
        } else {
            setError(state, kIdField, problem);
        }
    } else if (kind == "stop-update") {
        app::cancelOperation();
        logLine("stop and close: the update was asked to stop");
        m.stopping = true;
        m.stopDeadline = app::now() + kStopWaitMs;
        requestFrameIn(0);
    } else {
        closeModal(state);
    }
}

}  // namespace ember::launcher::view
