// The frame shell and the widget-kit scene (see shell.h).
#include "launcher/view/shell.h"

#include <algorithm>

#include "launcher/base/log.h"
#include "launcher/view/widgets.h"
#include "ui/kiln.h"

namespace ember::launcher::view {

namespace {

// The title bar's rectangle in the last frame.
kiln::Rect g_titleBar;

void disc(const char* spec, float cx, float cy, float diameter) {
    kiln::openElement(spec);
    kiln::placeAt(cx - diameter / 2, cy - diameter / 2);
    kiln::setSize(diameter, diameter);
    kiln::Style s;
    s.borderRadius = diameter / 2;
    kiln::setStyle(s, kiln::bit(kiln::BitBorderRadius));
    kiln::closeElement();
}

void aurora(float width, float height, float scale) {
    static const char* const teal[8] = {"div.aurora__ring.au-teal.au-8", "div.aurora__ring.au-teal.au-7",
                                        "div.aurora__ring.au-teal.au-6", "div.aurora__ring.au-teal.au-5",
                                        "div.aurora__ring.au-teal.au-4", "div.aurora__ring.au-teal.au-3",
                                        "div.aurora__ring.au-teal.au-2", "div.aurora__ring.au-teal.au-1"};
    static const char* const blue[8] = {"div.aurora__ring.au-blue.au-8", "div.aurora__ring.au-blue.au-7",
                                        "div.aurora__ring.au-blue.au-6", "div.aurora__ring.au-blue.au-5",
                                        "div.aurora__ring.au-blue.au-4", "div.aurora__ring.au-blue.au-3",
                                        "div.aurora__ring.au-blue.au-2", "div.aurora__ring.au-blue.au-1"};
    kiln::openElement("aurora");
    for (int i = 0; i < 8; ++i) disc(teal[i], 230 * scale, 130 * scale, kAuroraDiameters[i] * scale);
    const float bx = width - 190 * scale, by = height - kTitleBarHeight * scale - 90 * scale;
    for (int i = 0; i < 8; ++i) disc(blue[i], bx, by, kAuroraDiameters[i] * scale);
    kiln::closeElement();
}

void titleBar(ShellState& state) {
    kiln::openElement("titlebar");
    g_titleBar = kiln::lastRect();
    kiln::textElement("EMBERLANE", "text.titlebar__word");
    kiln::openElement("div.tabs");
    kiln::pushKey("tab:home");
    if (tab("Play", state.tab != "settings")) state.tab = "home";
    kiln::popKey();
    kiln::pushKey("tab:settings");
    if (tab("Settings", state.tab == "settings")) state.tab = "settings";
    kiln::popKey();
    kiln::closeElement();
    kiln::openElement("div.titlebar__spacer");
    kiln::closeElement();
    kiln::openElement(state.updateReady ? "div.titlebar__ver.is-update" : "div.titlebar__ver");
    kiln::textElement("v" + state.version, "text.titlebar__vertext");
    kiln::closeElement();
    if (kiln::buttonElement("div.tbtn")) {
        trace("click minimise");
        state.minimiseRequested = true;
    }
    kiln::openElement("div.ico-min");
    kiln::closeElement();
    kiln::closeElement();
    if (kiln::buttonElement("div.tbtn.tbtn--close")) {
        trace("click close");
        requestClose(state);
    }
    kiln::textElement("\xC3\x97", "text.tbtn__x");
    kiln::closeElement();
    kiln::closeElement();
}

void kitColumnA(ShellState& state) {
    sectionHead("Buttons", true);
    const char* const kinds[] = {"primary", "secondary", "ghost", "danger", "danger-ghost"};
    for (int row = 0; row < 2; ++row) {
        kiln::openElement("div.kit__row");
        for (int i = row * 3; i < std::min(5, row * 3 + 3); ++i) {
            ButtonOptions o;
            o.label = kinds[i];
            o.kind = kinds[i];
            button(o);
        }
        if (row == 1) {
            ButtonOptions busy;
            busy.label = "Checking";
            busy.busy = true;
            button(busy);
        }
        kiln::closeElement();
    }
    kiln::openElement("div.kit__row");
    {
        ButtonOptions o;
        o.label = "Check again";
        o.kind = "secondary";
        o.icon = "refresh";
        button(o);
        o.label = "Disabled";
        o.icon.clear();
        o.disabled = true;
        button(o);
        o = ButtonOptions{};
        o.label = "Tall";
        o.kind = "primary";
        o.tall = true;
        button(o);
    }
    kiln::closeElement();

    sectionHead("Choices", true);
    kiln::openElement("div.kit__row");
    checkbox("Remember me", state.kitCheck);
    bool off = false;
    checkbox("I'm 13 or older", off);
    kiln::closeElement();
    kiln::openElement("div.kit__row");
    kiln::pushKey("radio:stable");
    if (radio("Stable", state.kitRadio == 0)) state.kitRadio = 0;
    kiln::popKey();
    kiln::pushKey("radio:dev");
    if (radio("Development", state.kitRadio == 1)) state.kitRadio = 1;
    kiln::popKey();
    kiln::closeElement();

    sectionHead("Fields", true);
    kiln::openElement("div.kit__row.kit__row--top");
    FieldOptions f;
    f.id = "email";
    f.label = "Email";
    f.placeholder = "you@example.com";
    f.hint = "We never show it to other players.";
    field(f);
    f = FieldOptions{};
    f.id = "password";
    f.label = "Password";
    f.text = "hunter22";
    f.secret = true;
    f.focused = true;
    field(f);
    kiln::closeElement();
    kiln::openElement("div.kit__row.kit__row--top");
    f = FieldOptions{};
    f.id = "name";
    f.label = "Name";
    f.text = "x";
    f.error = "Letters, 2\xE2\x80\x93" "21";
    field(f);
    f = FieldOptions{};
    f.id = "folder";
    f.label = "Oblivion Remastered folder";
    f.text = "D:\\Steam\\common\\Oblivion Remastered";
    f.readOnly = true;
    f.inputClass = "input--path";
    field(f);
    kiln::closeElement();

    sectionHead("Challenges", true);
    powBar("Verifying you're a person\xE2\x80\xA6", 0.45f);
    {
        FieldOptions digits;
        digits.id = "captcha";
        digits.text = "4096";
        captcha("kit-challenge.png", 180, 60, digits);
    }

    sectionHead("Notices", true);
    strip("error", "Can't reach Emberlane", "The server may be down.", {"Try again", "Details"});
    strip("warning", "Dev builds can break", "You can switch back any time.", {}, true);
    strip("success", "Emberlane is up to date", "", {}, true);
}

void kitColumnB(ShellState& state) {
    sectionHead("Progress", true);
    progressBar(0.35f);
    progressBar(1.2f);
    progressBar(0, false, true);
    progressBar(0.6f, true);

    sectionHead("Waiting", true);
    kiln::openElement("div.kit__row");
    spinner();
    spinner(true);
    kiln::closeElement();
    skeleton();
    skeleton(true);

    sectionHead("Realms", true);
    kiln::openElement("div.kit__row");
    chip("on", "Anvil", "42", "Online");
    chip("down", "Bravil", "0", "Not answering");
    chip("checking", "Chorrol", "", "Checking\xE2\x80\xA6");
    kiln::closeElement();

    sectionHead("Marks", true);
    kiln::openElement("div.kit__row");
    boxIcon("folder");
    boxIcon("trash");
    boxIcon("eye");
    boxIcon("ok", true);
    kiln::closeElement();
    kiln::openElement("div.kit__row");
    avatar("A");
    avatar("B", true);
    seal("ok", "O");
    seal("warn", "!");
    badge("NEW");
    playerId("381402557264");
    kiln::closeElement();
    rivetRule();
    details("searched:\nC:\\Program Files (x86)\\Steam\nD:\\SteamLibrary", state.kitDetailsOpen,
            state.kitCopiedUntil);

    beginCard();
    kiln::textElement("Your character", "text.t-h2");
    kiln::textElement("This id is your character. Write it down.", "text.card__text");
    kiln::openElement("div.card__foot");
    {
        ButtonOptions copy;
        copy.label = "Copy id";
        copyButton(copy, "381402557264", state.kitCardCopiedUntil);
    }
    kiln::closeElement();
    endCard();

    kiln::openElement("div.kit__play");
    {
        ButtonOptions alt;
        alt.label = "Verify";
        alt.kind = "playalt";
        button(alt);
    }
    playButton("PLAY", false);
    kiln::closeElement();
    kiln::openElement("div.kit__play");
    playButton("PLAY", true);
    kiln::closeElement();
}

void kitScene(ShellState& state) {
    kiln::scrollBegin("kit", "scroll.kit");
    kiln::openElement("div.kit__cols");
    kiln::openElement("div.kit__col");
    kitColumnA(state);
    kiln::closeElement();
    kiln::openElement("div.kit__col");
    kitColumnB(state);
    kiln::closeElement();
    kiln::closeElement();
    kiln::scrollEnd();
}

void stopUpdateModal(ShellState& state) {
    if (kiln::buttonElement("scrim")) state.openModal.clear();
    kiln::closeElement();
    kiln::openElement("div.modal");
    kiln::openElement("div.modal__in");
    kiln::textElement("Stop the update?", "text.t-h2");
    kiln::openElement("div.modal__body");
    kiln::textElement("Downloaded files are kept and it'll pick up where it left off.", "text.modal__text");
    kiln::closeElement();
    kiln::openElement("div.modal__foot");
    ButtonOptions keep;
    keep.label = "Keep downloading";
    keep.kind = "ghost";
    if (button(keep)) state.openModal.clear();
    ButtonOptions stop;
    stop.label = "Stop and close";
    stop.kind = "danger";
    if (button(stop)) state.quitRequested = true;
    kiln::closeElement();
    kiln::closeElement();
    kiln::closeElement();
}

}  // namespace

bool isBusy(const ShellState& state) { return state.activity == "updating" || state.activity == "repairing"; }

void buildFrame(ShellState& state, float width, float height, float scale, uint64_t nowMs) {
    beginWidgets(nowMs, scale);
    aurora(width, height, scale);
    kiln::openElement("win");
    titleBar(state);
    kiln::openElement("body");
    if (state.demo && state.scene == "kit") kitScene(state);
    kiln::closeElement();
    kiln::closeElement();
    if (state.openModal == "stop-update") stopUpdateModal(state);
}

bool onTitleBarDragArea(float x, float y) {
    return g_titleBar.contains(x, y) && kiln::hitTest(kiln::ui().hits, x, y) == 0;
}

int cursorAt(float x, float y) {
    if (overTextField(x, y)) return 2;
    return kiln::hitTest(kiln::ui().hits, x, y) != 0 ? 1 : 0;
}

int64_t msUntilNextFrame() { return nextFrameDelay(); }

void requestClose(ShellState& state) {
    if (isBusy(state)) {
        state.openModal = "stop-update";
    } else {
        state.quitRequested = true;
    }
}

}  // namespace ember::launcher::view
