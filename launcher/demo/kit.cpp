// The developers' scene "kit": every widget of the kit in its states, for
// looking at the stylesheet.
#include <algorithm>

#include "launcher/demo/demo.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/widgets.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

// The scene's own toggles (developers only; nothing else reads them),
// kept in the toolkit's memory of the scene's scroller.
struct KitState {
    bool kitCheck = true;
    int kitRadio = 0;
    bool kitDetailsOpen = true;
    uint64_t kitCopiedUntil = 0, kitCardCopiedUntil = 0;
};

void kitColumnA(KitState& state) {
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
    f.label = "Game folder";
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

void kitColumnB(KitState& state) {
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

}  // namespace

BodyBuilder demoBody(const app::AppState& state) {
    return state.demo && state.view.scene == "kit" ? &kitScene : nullptr;
}

void kitScene(app::AppState&) {
    kiln::scrollBegin("kit", "scroll.kit");
    KitState& state = kiln::memoryFor<KitState>(kiln::currentId());
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

}  // namespace ember::launcher::view
