// The realm rail: heading, search, the realm list, its notes, the chosen
// realm's status chip and the foot with the account.
#include <cstdio>

#include "launcher/app/accounts.h"
#include "base/dates.h"
#include "base/log.h"
#include "base/text.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/textfield.h"
#include "launcher/kit/widgets.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {

constexpr const char kSearchField[] = "realm-search";

// Whether `name` holds `query`, ASCII case ignored.
bool nameMatches(const std::string& name, const std::string& query) {
    if (query.empty()) return true;
    return asciiLower(name).find(asciiLower(query)) != std::string::npos;
}

std::string population(const account::Realm& realm) {
    if (!realm.online) return "offline";
    if (realm.maxPlayers > 0) return std::to_string(realm.players) + " / " + std::to_string(realm.maxPlayers);
    return std::to_string(realm.players) + (realm.players == 1 ? " player" : " players");
}

bool realmChecking(const app::AppState& state) { return state.realmsLoading || state.realmsInFlight; }

void realmRow(app::AppState& state, const account::Realm& realm) {
    std::string spec = "div.realm";
    if (realm.key == state.realmKey) spec += ".realm--on";
    if (!realm.online) spec += ".realm--down";
    kiln::pushKey("realm:" + realm.key);
    const bool clicked = kiln::buttonElement(spec, "div.realm");
    kiln::openElement("div.realm__halo");
    if (realmChecking(state)) {
        kiln::setOpacity(haloPulse(widgetClock()));
        requestFrameIn(50);
    }
    kiln::openElement("div.realm__dot");
    kiln::closeElement();
    kiln::closeElement();
    kiln::openElement("div.realm__text");
    kiln::textElement(realm.name.empty() ? realm.key : realm.name, "text.realm__name");
    kiln::textElement(population(realm), "text.realm__pop");
    kiln::closeElement();
    kiln::closeElement();
    kiln::popKey();
    if (clicked) {
        trace("click realm " + realm.key);
        app::chooseRealm(realm.key);
    }
}

// The chosen realm's status: the chip's state, its line and whether it
// offers Retry.
struct ChipView {
    std::string state, sub;
    bool retry = false;
};

ChipView chipFor(const app::AppState& state, const account::Realm* realm) {
    ChipView c;
    if (realmChecking(state)) {
        c.state = "checking";
        c.sub = "Checking\xE2\x80\xA6";
    } else if (state.realmsError && !state.realmsStale) {
        c.state = "down";
        c.sub = "No connection to " + siteHost(state);
        c.retry = true;
    } else if (realm == nullptr || !state.realmsLoaded) {
        c.state = "idle";
        c.sub = "Not checked";
    } else if (!realm->online) {
        c.state = "down";
        c.sub = "Not answering";
        c.retry = true;
    } else {
        c.state = "on";
        c.sub = state.realmsStale ? "Online, ping unknown" : "Online";
    }
    return c;
}

void railFoot(app::AppState& state) {
    if (!state.accountsActive) return;
    kiln::openElement("div.rail__foot");
    if (state.signedIn && !state.playWithoutAccount) {
        const std::string& name = state.account.displayName.empty() ? state.email : state.account.displayName;
        avatar(name.empty() ? "?" : name.substr(0, 1), true);
        kiln::openElement("div.rail__who");
        kiln::textElement("Signed in", "text.rail__whohead");
        kiln::textElement(name, "text.rail__whoname");
        kiln::closeElement();
        ButtonOptions o;
        o.label = "Log out";
        o.kind = "ghost";
        o.extraClass = "btn--sm";
        kiln::pushKey("rail:logout");
        if (button(o)) state.view.openModal = app::ModalKind::logout;
        kiln::popKey();
    } else {
        kiln::openElement("div.rail__who");
        kiln::textElement("Not signed in", "text.rail__whohead");
        kiln::textElement("Local character", "text.rail__whoname");
        kiln::closeElement();
        ButtonOptions o;
        o.label = "Sign in";
        o.kind = "ghost";
        o.extraClass = "btn--sm";
        kiln::pushKey("rail:signin");
        if (button(o)) app::setPlayWithoutAccount(false);
        kiln::popKey();
    }
    kiln::closeElement();
}

}  // namespace

void realmRail(app::AppState& state) {
    kiln::openElement("div.rail");

    // Heading with the count.
    kiln::openElement("div.rail__head");
    kiln::textElement("Realms", "text.t-label.rail__title");
    kiln::openElement("div.rail__count");
    kiln::textElement(std::to_string(state.realms.size()), "text.rail__counttext");
    kiln::closeElement();
    kiln::openElement("div.sechead__rule.sechead__rule--grow");
    kiln::closeElement();
    kiln::closeElement();

    // The search.
    FieldOptions search;
    search.id = kSearchField;
    search.placeholder = "search a realm";
    search.compact = true;
    search.inputClass = "input--search";
    search.maxLength = 40;
    editField(state, search);
    const std::string query(trim(fieldText(state, kSearchField)));

    // The list and its notes.
    kiln::scrollBegin("realms", "div.rail__list");
    size_t shown = 0;
    for (const account::Realm& realm : state.realms) {
        if (!nameMatches(realm.name.empty() ? realm.key : realm.name, query)) continue;
        realmRow(state, realm);
        ++shown;
    }
    std::string note;
    if (state.realms.empty()) {
        if (state.realmsLoading || state.realmsInFlight) {
            note = "Looking for realms\xE2\x80\xA6";
        } else if (state.realmsError) {
            note = "Could not reach the realm list.";
        } else {
            note = "No realms are available right now.";
        }
    } else if (shown == 0) {
        note = "No realm here matches that name.";
    }
    if (!note.empty()) kiln::textElement(note, "text.rail__note");
    if (state.realmsStale && !state.realms.empty()) {
        const std::string age = state.realmsGoodAt > 0 ? relativeDate(state.realmsGoodAt, unixNow(state)) : "a while ago";
        kiln::textElement("Realm list not reachable. This is the list from " + age + " the last time it was fetched",
                          "text.rail__note.rail__note--warn");
    }
    kiln::scrollEnd();

    // The chosen realm's chip.
    const account::Realm* chosen = nullptr;
    for (const account::Realm& realm : state.realms)
        if (realm.key == state.realmKey) chosen = &realm;
    if (chosen != nullptr || !state.realms.empty() || realmChecking(state) || state.realmsError) {
        const ChipView c = chipFor(state, chosen);
        const std::string name = chosen != nullptr ? (chosen->name.empty() ? chosen->key : chosen->name) : "Realm";
        const std::string count = chosen != nullptr && chosen->online ? std::to_string(chosen->players) : "";
        kiln::openElement("div.rail__chip");
        const bool checking = realmChecking(state);
        const float halo = checking ? haloPulse(widgetClock()) : 1.0f;
        if (checking) requestFrameIn(50);
        if (chip(c.state, name, count, c.sub, c.retry, halo)) app::fetchRealmsNow();
        kiln::closeElement();
    }

    railFoot(state);
    kiln::closeElement();
}

}  // namespace ember::launcher::view
