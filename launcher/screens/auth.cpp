// The sign-in and registration screen.
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/shell_actions.h"
#include "base/log.h"
#include "base/text.h"
#include "launcher/screens/forms.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/textfield.h"
#include "launcher/kit/widgets.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

constexpr const char kEmail[] = "auth:email";
constexpr const char kPassword[] = "auth:password";
constexpr const char kConfirm[] = "auth:confirm";
constexpr const char kName[] = "auth:name";
constexpr const char kCode[] = "auth:code";

// The checks made before anything is sent.
constexpr const char kNoEmail[] = "Enter your email address";
constexpr const char kNoPassword[] = "Enter your password";
constexpr const char kMismatch[] = "Those passwords don't match";
constexpr const char kNoName[] = "Choose a display name";
constexpr const char kTooYoung[] = "You have to confirm you are 13 or older.";

// A sign-in that takes longer than this is (most likely) solving the
// service's proof-of-work: the bar says so.
constexpr uint64_t kPowBarAfterMs = 600;
// The picture the service sends, at scale 1.
constexpr float kPictureW = 220, kPictureH = 80;

// The error under a field: the checks' own first, then the service's.
std::string errorFor(const app::AppState& state, const char* id) {
    const app::AuthView& form = state.view.auth;
    auto it = form.errors.find(id);
    if (it != form.errors.end() && it->second.forText == fieldText(state, id)) return it->second.text;
    const std::string& key = state.form.fieldKey;
    if (state.form.fieldError.empty()) return "";
    if ((key == "email" && std::string(id) == kEmail) || (key == "password" && std::string(id) == kPassword) ||
        (key == "name" && std::string(id) == kName))
        return state.form.fieldError;
    return "";
}

void complain(app::AppState& state, const char* id, const char* text) {
    state.view.auth.errors[id] = app::FormComplaint{text, fieldText(state, id)};
}

// The checks before sending; true when the form may go.
bool checkForm(app::AppState& state, bool registering) {
    app::AuthView& form = state.view.auth;
    form.errors.clear();
    form.ageError = false;
    bool ok = true;
    if (std::string(trim(fieldText(state, kEmail))).empty()) {
        complain(state, kEmail, kNoEmail);
        ok = false;
    }
    if (fieldText(state, kPassword).empty()) {
        complain(state, kPassword, kNoPassword);
        ok = false;
    }
    if (!registering) return ok;
    if (fieldText(state, kConfirm) != fieldText(state, kPassword)) {
        complain(state, kConfirm, kMismatch);
        ok = false;
    }
    if (std::string(trim(fieldText(state, kName))).empty()) {
        complain(state, kName, kNoName);
        ok = false;
    }
    if (!form.olderThan13) {
        form.ageError = true;
        ok = false;
    }
    return ok;
}

void submit(app::AppState& state, bool registering) {
    if (state.accountBusy) return;
    if (!checkForm(state, registering)) {
        trace(registering ? "register: the form is incomplete" : "sign in: the form is incomplete");
        return;
    }
    const std::string email(trim(fieldText(state, kEmail)));
    const std::string code(trim(fieldText(state, kCode)));
    if (registering) {
        app::registerAccount(email, fieldText(state, kPassword), std::string(trim(fieldText(state, kName))), code);
    } else {
        app::login(email, fieldText(state, kPassword), code);
    }
}

// Leaves the form (another tab, or playing without an account): a running
// sign-in is abandoned.
void leaveForm(app::AppState& state) {
    app::cancelAccountTask();
    state.view.auth.errors.clear();
    state.view.auth.ageError = false;
}

std::string countdownText(uint64_t msLeft) {
    const uint64_t seconds = (msLeft + 999) / 1000;
    char text[64];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64, seconds / 60, seconds % 60);
    return text;
}

void formMessage(app::AppState& state, bool registering) {
    const app::FormMessage& m = state.form.message;
    if (m.title.empty() && m.detail.empty()) return;
    if (m.tone == app::Tone::countdown) return;  // the countdown shows it
    kiln::openElement("div.formmsg.formmsg--" + std::string(app::spelling(m.tone)));
    kiln::openElement("div.formmsg__in");
    if (!m.title.empty()) kiln::textElement(m.title, "text.formmsg__title");
    if (!m.detail.empty()) kiln::textElement(m.detail, "text.formmsg__text");
    if (!m.line.empty()) kiln::textElement(m.line, "text.formmsg__text");
    if (!m.actionLabel.empty()) {
        kiln::openElement("div.formmsg__actions");
        ButtonOptions o;
        o.label = m.actionLabel;
        o.kind = "secondary";
        o.busy = state.accountBusy && m.action == app::FormAction::resend;
        kiln::pushKey("formmsg:" + std::string(app::spelling(m.action)));
        if (button(o)) {
            switch (m.action) {
                case app::FormAction::retry: submit(state, registering); break;
                case app::FormAction::restore: app::restoreSession(); break;
                case app::FormAction::resend: app::resendActivation(); break;
                case app::FormAction::openSite: app::openWebPage(app::siteUrl()); break;
                case app::FormAction::none: break;
            }
        }
        kiln::popKey();
        kiln::closeElement();
    }
    kiln::closeElement();
    kiln::closeElement();
}

void countdown(const app::AppState& state) {
    if (state.accountWaitUntil == 0) return;
    const uint64_t now = app::now();
    const uint64_t left = state.accountWaitUntil > now ? state.accountWaitUntil - now : 0;
    kiln::openElement("div.formmsg.formmsg--warning.formmsg--wait");
    kiln::openElement("div.formmsg__in");
    kiln::openElement("div.auth__wait");
    kiln::textElement("Too many attempts. Try again in", "text.formmsg__title");
    kiln::textElement(countdownText(left), "text.auth__clock");
    kiln::closeElement();
    const app::FormMessage& m = state.form.message;
    if (m.tone == app::Tone::countdown && !m.title.empty()) kiln::textElement(m.title, "text.formmsg__text");
    kiln::closeElement();
    kiln::closeElement();
    // The clock moves once a second (and the wait ends by itself).
    requestFrameIn(left == 0 ? 250 : static_cast<int64_t>((left - 1) % 1000 + 1));
}

// The picture challenge: the service's picture on a plinth, "New
// challenge" and the digits field.
void pictureChallenge(app::AppState& state) {
    kiln::openElement("div.captcha");
    kiln::openElement("div.captcha__in");
    kiln::openElement("div.captcha__top");
    kiln::openElement("div.captcha__plinth");
    const float s = widgetScale();
    if (state.form.captchaFile.empty()) {
        kiln::openElement("div.captcha__wait");
        kiln::setSize(kPictureW * s, kPictureH * s);
        spinner(true);
        kiln::closeElement();
    } else {
        kiln::imageElement(state.form.captchaFile, kPictureW * s, kPictureH * s, "img.captcha__img");
    }
    kiln::closeElement();
    kiln::openElement("div.captcha__side");
    kiln::textElement("Type the digits you see in the picture.", "text.captcha__say");
    kiln::closeElement();
    kiln::closeElement();  // top
    kiln::openElement("div.captcha__answer");
    FieldOptions digits;
    digits.id = kCode;
    digits.label = "Enter the 6 digits";
    digits.placeholder = "000000";
    digits.inputClass = "input--num";
    digits.maxLength = 6;
    editField(state, digits);
    ButtonOptions fresh;
    fresh.label = "New challenge";
    fresh.kind = "ghost";
    fresh.icon = "refresh";
    kiln::pushKey("captcha:new");
    if (button(fresh)) {
        setFieldText(state, kCode, "");
        app::newCaptcha();
    }
    kiln::popKey();
    kiln::closeElement();  // answer
    kiln::closeElement();
    kiln::closeElement();
}

bool link(const std::string& label, const std::string& key) {
    ButtonOptions o;
    o.label = label;
    o.kind = "ghost";
    o.extraClass = "auth__link";
    kiln::pushKey(key);
    const bool clicked = button(o);
    kiln::popKey();
    return clicked;
}

// The primary button: while a sign-in runs it shows the busy label with a
// spinner, and pressing it again abandons the attempt; during a rate-limit
// wait it is disabled.
void primary(app::AppState& state, bool registering) {
    const std::string idle = registering ? "CREATE ACCOUNT" : "LOG IN";
    kiln::pushKey("auth:submit");
    if (state.accountBusy && state.accountWaitUntil != 0) {
        // The countdown above says how long; the button waits it out.
        ButtonOptions o;
        o.label = idle;
        o.kind = "primary";
        o.tall = true;
        o.extraClass = "auth__submit";
        o.disabled = true;
        button(o);
    } else if (state.accountBusy) {
        const std::string label = state.accountBusyLabel.empty() ? idle : state.accountBusyLabel;
        const bool clicked = kiln::buttonElement("div.btn.btn--primary.btn--tall.auth__submit.is-busy");
        spinner(true);
        kiln::textElement(label, "text.btn__lab");
        kiln::closeElement();
        if (clicked) {
            trace("click button '" + label + "' (primary)");
            app::cancelAccountTask();
        }
    } else {
        ButtonOptions o;
        o.label = idle;
        o.kind = "primary";
        o.tall = true;
        o.extraClass = "auth__submit";
        if (button(o)) submit(state, registering);
    }
    kiln::popKey();
}

void proofOfWork(app::AppState& state, bool registering) {
    app::AuthView& form = state.view.auth;
    if (!state.accountBusy || state.accountWaitUntil != 0) {
        form.busySince = 0;
        return;
    }
    const uint64_t now = widgetClock();
    if (form.busySince == 0 || form.busyLabel != state.accountBusyLabel) {
        form.busySince = now;
        form.busyLabel = state.accountBusyLabel;
    }
    uint64_t elapsed = now - form.busySince;
    // A demo scene shows a solve that is well under way.
    if (state.demo) elapsed += 3000;
    const bool solving = registering || (state.form.hasDemand && state.form.demand.needs("pow") &&
                                         !state.form.demand.needs("visual"));
    if (!solving && elapsed < kPowBarAfterMs) {
        requestFrameIn(static_cast<int64_t>(kPowBarAfterMs - elapsed));
        return;
    }
    // The solver says nothing about its progress: the bar creeps towards
    // the end over the few seconds a first solve takes.
    const float fraction = 1.0f - std::exp(-static_cast<float>(elapsed) / 6000.0f);
    powBar("Verifying you're a person\xE2\x80\xA6", fraction * 0.95f);
    kiln::textElement("this takes a few seconds the first time", "text.auth__powhint");
    requestFrameIn(50);
}

}  // namespace

void authScreen(app::AppState& state, bool registering) {
    // Coming back to the form (after a sign-out, say): what was secret is
    // not still sitting in its fields.
    app::AuthView& form = state.view.auth;
    const uint64_t frame = kiln::frameCounter();
    if (form.shownInFrame != 0 && form.shownInFrame + 1 != frame) {
        for (const char* id : {kPassword, kConfirm, kCode}) {
            if (!fieldText(state, id).empty()) setFieldText(state, id, "");
        }
        form.errors.clear();
        form.ageError = false;
    }
    const bool arriving =
        form.shownInFrame == 0 || form.shownInFrame + 1 != frame || form.registering != registering;
    form.shownInFrame = frame;
    form.registering = registering;

    const bool closed = registering && !state.manifest.registerOpen;
    // The form opens with the keyboard in its first field.
    if (arriving && !closed && state.view.focus.compare(0, 5, "auth:") != 0) state.view.focus = kEmail;
    const std::string submitted = state.view.submitted;

    kiln::openElement("div.solo");
    kiln::scrollBegin("auth", "div.solo__scroll");
    kiln::openElement("div.solo__row");
    const float width = columnWidth(440, 48);
    kiln::openElement("div.solo__col");
    kiln::setSize(width, -1);

    // The hero.
    kiln::openElement("div.solo__hero");
    kiln::textElement("EMBERLANE", "text.solo__word");
    rivetRule();
    kiln::textElement(registering ? "Create your Emberlane account." : "Oblivion Remastered, together.",
                      "text.solo__tag");
    kiln::closeElement();

    kiln::openElement("div.solo__card");
    formMessage(state, registering);
    countdown(state);

    if (closed) {
        kiln::openElement("div.auth__closed");
        kiln::textElement("Registration is closed right now.", "text.t-h3.auth__closedtitle");
        kiln::textElement("New accounts open in rounds; the website says when the next one opens.",
                          "text.auth__closedtext");
        if (link("Open the website", "auth:site"))
            app::openWebPage(state.manifest.registerUrl.empty() ? app::siteUrl() : state.manifest.registerUrl);
        kiln::closeElement();
    } else {
        FieldOptions email;
        email.id = kEmail;
        email.label = "Email";
        email.placeholder = "you@example.com";
        // A remembered address is offered for signing in, not for a new account.
        email.text = !registering && state.config.rememberEmail ? state.config.accountEmail : std::string();
        email.error = errorFor(state, kEmail);
        email.maxLength = 254;
        editField(state, email);

        if (registering) {
            kiln::openElement("div.auth__pair");
        }
        FieldOptions password;
        password.id = kPassword;
        password.label = "Password";
        password.secret = true;
        password.maxLength = 128;
        password.error = errorFor(state, kPassword);
        editField(state, password);
        if (registering) {
            FieldOptions confirm;
            confirm.id = kConfirm;
            confirm.label = "Confirm password";
            confirm.secret = true;
            confirm.maxLength = 128;
            confirm.error = errorFor(state, kConfirm);
            editField(state, confirm);
            kiln::closeElement();  // pair

            FieldOptions name;
            name.id = kName;
            name.label = "Display name";
            name.hint = "Shown to other players.";
            name.error = errorFor(state, kName);
            name.maxLength = 32;
            editField(state, name);

            kiln::openElement("div.auth__checks");
            if (checkbox("I'm 13 or older", form.olderThan13) && form.olderThan13) form.ageError = false;
            if (form.ageError) kiln::textElement(kTooYoung, "text.field__err");
            kiln::closeElement();
        } else {
            kiln::openElement("div.auth__checks");
            bool remember = state.config.rememberEmail;
            if (checkbox("Remember me", remember)) app::setRememberEmail(remember);
            kiln::closeElement();
        }

        proofOfWork(state, registering);
        if (state.form.hasDemand && state.form.demand.needs("visual")) pictureChallenge(state);

        primary(state, registering);
        if (!submitted.empty() && submitted.compare(0, 5, "auth:") == 0) submit(state, registering);
    }

    // The foot: the other tab.
    kiln::openElement("div.auth__foot");
    kiln::textElement(registering ? "Already have an account?" : "No account yet?", "text.auth__foottext");
    if (link(registering ? "Log in" : "Create account", "auth:switch")) {
        leaveForm(state);
        app::showTab(registering ? app::Tab::login : app::Tab::reg);
    }
    kiln::closeElement();
    kiln::closeElement();  // card

    kiln::openElement("div.auth__solo");
    if (link("Play without an account", "auth:local")) {
        leaveForm(state);
        app::setPlayWithoutAccount(true);
        app::showTab(app::Tab::home);
    }
    kiln::closeElement();

    kiln::closeElement();  // col
    kiln::closeElement();  // row
    kiln::scrollEnd();
    kiln::closeElement();  // solo
}

}  // namespace ember::launcher::view
