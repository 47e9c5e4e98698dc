// The home page: first-run cards, notices, the character panel, news, and
// the footer with the Play button and the progress block.
#include <cinttypes>
#include <cstdio>
#include <ctime>

#include "launcher/app/accounts.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "launcher/app/shell_actions.h"
#include "base/dates.h"
#include "base/log.h"
#include "base/text.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/widgets.h"
#include "ui/kiln/kiln.h"

namespace ember::launcher::view {

namespace {


// Play, as the footer and the character rows start it. Demo scenes have no
// worker to run it, so there the press is only traced.
void play(app::AppState& state) {
    if (state.demo) {
        trace("demo: play");
        return;
    }
    app::startPipeline(false);
}

// ---------------------------------------------------------------------------
// The character panel's states

void localCharacterCard(app::AppState& state) {
    beginCard();
    kiln::openElement("div.local");
    avatar("?");
    kiln::openElement("div.local__text");
    kiln::openElement("div.local__head");
    kiln::textElement("Your character", "text.t-h2");
    badge("LOCAL CHARACTER");
    kiln::closeElement();
    kiln::textElement("Playing without an account. This id is stored on this PC only.", "text.card__text");
    kiln::closeElement();
    kiln::closeElement();
    const std::string id = state.config.profileId > 0 ? std::to_string(state.config.profileId) : "";
    if (id.empty()) {
        kiln::textElement("Your character is created the first time you play.", "text.card__text");
    }
    kiln::openElement("div.card__foot.card__foot--spread");
    if (!id.empty()) playerId(id);
    kiln::openElement("div.card__spacer");
    kiln::closeElement();
    if (state.accountsActive) {
        ButtonOptions signIn;
        signIn.label = "Sign in instead";
        signIn.kind = "ghost";
        kiln::pushKey("local:signin");
        if (button(signIn)) app::setPlayWithoutAccount(false);
        kiln::popKey();
    }
    if (!id.empty()) {
        ButtonOptions copy;
        copy.label = "Copy id";
        kiln::pushKey("local:copy");
        copyButton(copy, id, state.view.copiedUntil["local:copy"]);
        kiln::popKey();
    }
    ButtonOptions other;
    other.label = "Use a different id\xE2\x80\xA6";
    kiln::pushKey("local:change");
    if (button(other)) state.view.openModal = app::ModalKind::changeId;
    kiln::popKey();
    kiln::closeElement();
    endCard();
}

void characterRow(app::AppState& state, const account::Character& c) {
    const bool selected = c.id == state.config.characterId;
    kiln::pushKey("char:" + c.id);
    const bool clicked = kiln::buttonElement(selected ? "div.row.is-selected" : "div.row", "div.row");
    nameElement(c.name + ", id " + c.id);
    avatar(c.name.empty() ? "?" : c.name.substr(0, 1), true);
    kiln::openElement("div.row__text");
    kiln::textElement(c.name, "text.row__name");
    kiln::textElement("id " + c.id, "text.row__id");
    kiln::closeElement();
    const app::PlayState st = app::playState(state);
    ButtonOptions playAs;
    playAs.label = "Play as";
    playAs.kind = selected ? "primary" : "secondary";
    playAs.extraClass = "btn--sm";
    playAs.disabled = !(st == app::PlayState::install || st == app::PlayState::update || st == app::PlayState::ready || st == app::PlayState::offline);
    kiln::pushKey("playas");
    const bool playClicked = button(playAs);
    kiln::popKey();
    kiln::pushKey("delete");
    const bool deleteClicked = kiln::buttonElement("div.row__del");
    nameElement("Delete " + c.name);
    boxIcon("trash");
    kiln::closeElement();
    kiln::popKey();
    kiln::closeElement();
    kiln::popKey();
    if (deleteClicked) {
        trace("click delete " + c.id);
        app::chooseCharacter(c.id);
        state.view.openModal = app::ModalKind::remove;
    } else if (playClicked) {
        app::chooseCharacter(c.id);
        play(state);
    } else if (clicked) {
        trace("click character " + c.id);
        app::chooseCharacter(c.id);
    }
}

void characterList(app::AppState& state) {
    const account::CharacterList& list = state.characters;
    if (list.characters.empty()) {
        kiln::openElement("div.chars__empty");
        kiln::textElement("NO CHARACTERS", "text.t-label.chars__emptyhead");
        kiln::textElement("Make one here, then press Play.", "text.card__text");
        ButtonOptions create;
        create.label = "New character";
        create.kind = "primary";
        create.icon = "plus";
        kiln::pushKey("chars:new");
        if (button(create)) state.view.openModal = app::ModalKind::create;
        kiln::popKey();
        kiln::closeElement();
        return;
    }
    for (const account::Character& c : list.characters) characterRow(state, c);
    const uint32_t used = std::max<uint32_t>(list.used, static_cast<uint32_t>(list.characters.size()));
    if (list.maxSlots > 0 && used >= list.maxSlots) {
        kiln::openElement("div.row.row--full");
        kiln::openElement("div.row__text");
        kiln::textElement("All " + std::to_string(list.maxSlots) + " slots used", "text.row__name");
        kiln::textElement("Delete a character to free a slot.", "text.row__id");
        kiln::closeElement();
        kiln::closeElement();
    } else {
        kiln::pushKey("chars:new");
        const bool clicked = kiln::buttonElement("div.row.row--new");
        kiln::openElement("div.row__plus");
        glyphIcon("plus");
        kiln::closeElement();
        kiln::textElement("New character", "text.row__name");
        kiln::closeElement();
        kiln::popKey();
        if (clicked) {
            trace("click new character");
            state.view.openModal = app::ModalKind::create;
        }
    }
}

std::string newsDate(const NewsItem& item, int64_t now) {
    const int64_t at = parseIsoTime(item.at);
    return at < 0 ? item.at : relativeDate(at, now);
}

// The footer's left: the launcher update offer, else where play goes.
void footerLeft(app::AppState& state) {
    kiln::openElement("div.footer__left");
    if (state.launcherUpdateOffered) {
        kiln::openElement("div.footer__update");
        kiln::openElement("div.footer__say");
        kiln::textElement("Launcher", "text.t-label.footer__tag");
        kiln::textElement("A launcher update is ready", "text.footer__line");
        kiln::closeElement();
        ButtonOptions o;
        o.label = "Update & restart";
        o.kind = "secondary";
        o.extraClass = "btn--sm";
        o.disabled = state.busy;
        kiln::pushKey("footer:selfupdate");
        if (button(o)) {
            if (state.demo) {
                trace("demo: update the launcher");
            } else {
                app::applyLauncherUpdate();
            }
        }
        kiln::popKey();
        kiln::closeElement();
    } else {
        const std::string client = state.manifest.clientVersion.empty() ? state.config.lastClientVersion
                                                                         : state.manifest.clientVersion;
        kiln::textElement("Emberlane", "text.t-label.footer__tag");
        kiln::textElement(client.empty() ? "Launcher " + state.version : "Client " + client + " \xC2\xB7 launcher " +
                                                                             state.version,
                          "text.footer__line.footer__line--quiet");
    }
    kiln::closeElement();
}

}  // namespace

// ---------------------------------------------------------------------------
// Dates

int64_t unixNow(const app::AppState& state) {
    return state.demo ? kDemoUnixNow : static_cast<int64_t>(std::time(nullptr));
}

// ---------------------------------------------------------------------------
// Home page pieces

void firstRunCards(app::AppState& state) {
    const bool local = !state.accountsActive || state.playWithoutAccount;
    if (local && !state.config.seenPlayerIdIntro && state.config.profileId > 0) {
        kiln::pushKey("card:playerid");
        beginCard();
        kiln::openElement("div.intro");
        seal("ok", "#");
        kiln::openElement("div.intro__text");
        kiln::textElement("Your character id", "text.t-h2");
        kiln::textElement("This id is your character. Write it down.", "text.card__text");
        kiln::textElement("Enter it in Settings on another PC to keep playing as yourself.", "text.card__text");
        kiln::closeElement();
        kiln::closeElement();
        kiln::openElement("div.card__foot.card__foot--spread");
        playerId(std::to_string(state.config.profileId));
        kiln::openElement("div.card__spacer");
        kiln::closeElement();
        ButtonOptions ok;
        ok.label = "Got it";
        ok.kind = "primary";
        if (button(ok)) app::dismissFirstRunCard(app::FirstRunCard::playerId);
        kiln::closeElement();
        endCard();
        kiln::popKey();
    }
    const app::PlayState st = app::playState(state);
    if (!state.config.seenFirstRunNote && st == app::PlayState::install) {
        kiln::pushKey("card:firstrun");
        beginCard();
        kiln::openElement("div.intro");
        seal("warn", "i");
        kiln::openElement("div.intro__text");
        kiln::textElement("First time: this downloads about " + formatBytes(state.plan.downloadBytes, ByteStyle::megabytes) +
                              " into your Oblivion Remastered folder. Nothing is changed outside it, and Settings "
                              "\xE2\x86\x92 Verify & repair puts it back if anything goes wrong.",
                          "text.card__text.card__text--bright");
        kiln::closeElement();
        kiln::closeElement();
        kiln::openElement("div.card__foot");
        ButtonOptions ok;
        ok.label = "Got it";
        ok.kind = "ghost";
        if (button(ok)) app::dismissFirstRunCard(app::FirstRunCard::firstDownload);
        kiln::closeElement();
        endCard();
        kiln::popKey();
    }
}

void notices(app::AppState& state) {
    const std::vector<app::Notice> list = app::currentNotices(state);
    if (list.empty()) return;
    kiln::openElement("div.notices");
    bool first = true;
    for (const app::Notice& n : list) {
        const std::string_view tone = app::spelling(n.tone == app::Tone::info ? app::Tone::warning : n.tone);
        kiln::pushKey("notice:" + n.id);
        int clicked = -1;
        if (n.actionLabel.empty()) {
            clicked = strip(tone, n.title, n.detail, {}, !first);
        } else {
            clicked = strip(tone, n.title, n.detail, {n.actionLabel}, !first);
        }
        kiln::popKey();
        if (clicked == 0) {
            trace("notice action " + std::string(app::spelling(n.action)));
            app::noticeAction(n.action);
            if (n.action == app::NoticeAction::showUnsupported) app::showTab(app::Tab::home);
        }
        first = false;
    }
    kiln::closeElement();
}

void characterPanel(app::AppState& state) {
    const bool local = !state.accountsActive || state.playWithoutAccount || !state.signedIn;
    kiln::openElement("div.chars");
    sectionHead(local ? "Character" : "Characters");
    if (local) {
        localCharacterCard(state);
    } else if (state.charactersStatus == app::CharactersStatus::error) {
        kiln::pushKey("chars:error");
        const int clicked = strip("error",
                                  "Can't load your characters \xE2\x80\x94 " + siteHost(state) +
                                      " isn't answering. You can still play; the launcher remembers your character.",
                                  "", {"Retry"});
        kiln::popKey();
        if (clicked == 0) app::fetchCharactersNow();
    } else if (state.charactersStatus == app::CharactersStatus::loading) {
        kiln::openElement("div.chars__list");
        for (int i = 0; i < 2; ++i) {
            kiln::pushKey(static_cast<uint64_t>(i));
            kiln::openElement("div.row.row--skel");
            skeleton();
            skeleton(true);
            kiln::closeElement();
            kiln::popKey();
        }
        kiln::closeElement();
    } else {
        kiln::openElement("div.chars__list");
        characterList(state);
        kiln::closeElement();
    }
    kiln::closeElement();
}

void homePage(app::AppState& state, uint64_t nowMs) {
    kiln::openElement("div.home");
    kiln::scrollBegin("home", "div.home__scroll");
    firstRunCards(state);
    notices(state);
    characterPanel(state);

    // News.
    kiln::openElement("div.home__news");
    sectionHead("News");
    const int64_t now = unixNow(state);
    if (!state.manifestLoaded && state.manifestFailed) {
        kiln::openElement("div.news__none");
        kiln::textElement("Couldn't load news.", "text.card__text");
        ButtonOptions retry;
        retry.label = "Retry";
        retry.kind = "ghost";
        retry.extraClass = "btn--sm";
        kiln::pushKey("news:retry");
        if (button(retry)) app::preflight();
        kiln::popKey();
        kiln::closeElement();
    } else if (state.manifest.news.empty()) {
        kiln::openElement("div.news__none");
        kiln::textElement("Nothing new right now.", "text.card__text");
        kiln::closeElement();
    } else {
        for (const NewsItem& item : state.manifest.news) {
            kiln::pushKey("news:" + (item.id.empty() ? item.title : item.id));
            const bool linked = !item.url.empty();
            bool clicked = false;
            if (linked) {
                clicked = kiln::buttonElement("div.news.news--link");
            } else {
                kiln::openElement("div.news");
            }
            kiln::openElement("div.news__meta");
            if (!item.tag.empty()) badge(item.tag);
            kiln::textElement(newsDate(item, now), "text.news__date");
            kiln::closeElement();
            kiln::textElement(item.title, "text.t-h3.news__title");
            if (!item.body.empty()) kiln::textElement(item.body, "text.news__body");
            kiln::closeElement();
            kiln::popKey();
            if (clicked) app::openWebPage(item.url);
        }
    }
    kiln::closeElement();
    kiln::scrollEnd();

    footerBar(state, nowMs);
    kiln::closeElement();
}

// ---------------------------------------------------------------------------
// The footer bar

static std::string timeLeft(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[48];
    if (s < 60) {
        std::snprintf(text, sizeof text, "~%lds left", s);
    } else if (s < 3600) {
        std::snprintf(text, sizeof text, "~%ldm %02lds left", s / 60, s % 60);
    } else {
        std::snprintf(text, sizeof text, "~%ldh %ldm left", s / 3600, (s % 3600) / 60);
    }
    return text;
}

static void progressBlock(app::AppState& state, const app::Operation& op) {
    const bool failed =
        op.finished && state.fault.kind != app::FaultKind::none && state.fault.kind != app::FaultKind::cancelled;
    kiln::openElement(op.finished ? "div.progress.is-finished" : "div.progress");
    float fraction = 0;
    bool indeterminate = op.indeterminate;
    if (op.finished) {
        fraction = 1;
        indeterminate = false;
    } else if (op.bytesTotal > 0) {
        fraction = static_cast<float>(static_cast<double>(op.bytesDone) / static_cast<double>(op.bytesTotal));
    } else if (op.steps > 0) {
        fraction = static_cast<float>(op.step) / static_cast<float>(op.steps);
    } else {
        indeterminate = true;
    }
    kiln::openElement("div.progress__top");
    kiln::textElement(op.title.empty() ? "Working" : op.title, "text.progress__phase");
    if (!indeterminate && !op.finished) {
        char pct[16];
        std::snprintf(pct, sizeof pct, "%d%%", static_cast<int>(fillFraction(fraction) * 100.0f));
        kiln::textElement(pct, "text.progress__pct");
    }
    kiln::closeElement();
    kiln::pushKey("progressbar");
    progressBar(fraction, failed, indeterminate);
    kiln::popKey();
    if (!op.finished) {
        // One line of facts (it wraps in a narrow window).
        std::string facts;
        auto add = [&facts](const std::string& fact) {
            if (!facts.empty()) facts += "  \xC2\xB7  ";
            facts += fact;
        };
        const bool paused = state.pause != app::Pause::none;
        if (op.bytesTotal > 0) add(formatBytesOf(op.bytesDone, op.bytesTotal));
        if (paused) {
            add("Paused");
        } else if (op.bytesPerSecond > 0) {
            add(formatBytes(static_cast<uint64_t>(op.bytesPerSecond), ByteStyle::tenthsMiB) + " MB/s");
        }
        if (op.steps > 0) add(std::to_string(op.step) + " of " + std::to_string(op.steps) + " files");
        if (!paused && op.etaSeconds > 0) add(timeLeft(op.etaSeconds));
        if (!facts.empty()) kiln::textElement(facts, "text.progress__facts");
    }
    kiln::closeElement();
}

void footerBar(app::AppState& state, uint64_t nowMs) {
    // A column: the progress block across the whole width while working
    // (so its lines are measured at the width they get), then the row with
    // the launcher line and the Play button.
    kiln::openElement("div.footer");
    const app::PlayState st = app::playState(state);
    if (state.operation.has_value()) {
        kiln::openElement("div.footer__work");
        progressBlock(state, *state.operation);
        kiln::closeElement();
    }
    kiln::openElement("div.footer__row");
    footerLeft(state);

    kiln::openElement("div.footer__right");
    if (state.pause != app::Pause::none ||
        ((st == app::PlayState::updating || st == app::PlayState::repairing) && state.operation &&
         state.operation->phase == Phase::download)) {
        // While client files download: Pause (Resume once paused) beside Cancel.
        ButtonOptions hold;
        const bool paused = state.pause != app::Pause::none;
        hold.label = paused ? "Resume" : "Pause";
        hold.kind = "ghost";
        hold.disabled = state.pause == app::Pause::pausing;
        kiln::pushKey("footer:pause");
        if (button(hold)) {
            if (state.demo) {
                trace(paused ? "demo: resume" : "demo: pause");
            } else if (paused) {
                app::resumeOperation();
            } else {
                app::pauseOperation();
            }
        }
        kiln::popKey();
    }
    if (st == app::PlayState::updating || st == app::PlayState::repairing || state.pause == app::Pause::paused) {
        ButtonOptions cancel;
        cancel.label = "Cancel";
        cancel.kind = "ghost";
        kiln::pushKey("footer:cancel");
        if (button(cancel)) app::cancelOperation();
        kiln::popKey();
    } else if (st == app::PlayState::running) {
        ButtonOptions close;
        close.label = "Close launcher";
        close.kind = "ghost";
        kiln::pushKey("footer:close");
        if (button(close)) state.view.quitRequested = true;
        kiln::popKey();
    }
    kiln::openElement("div.play");
    const bool disabled = st == app::PlayState::checking || st == app::PlayState::updating || st == app::PlayState::repairing || st == app::PlayState::launching ||
                          st == app::PlayState::running || st == app::PlayState::blocked;
    kiln::pushKey("play");
    if (playButton(app::playLabel(st), disabled)) {
        if (st == app::PlayState::unsupported) {
            app::noticeAction(app::NoticeAction::showUnsupported);
            app::showTab(app::Tab::home);
        } else {
            play(state);
        }
    }
    kiln::popKey();
    const std::string sub = app::playSubline(state, nowMs);
    if (!sub.empty()) {
        const bool warn = app::needsCharacter(state) || st == app::PlayState::unsupported || st == app::PlayState::blocked;
        kiln::textElement(sub, warn ? "text.play__sub.play__sub--warn" : "text.play__sub");
    }
    kiln::closeElement();  // play
    kiln::closeElement();  // right
    kiln::closeElement();  // row
    kiln::closeElement();  // footer
}

}  // namespace ember::launcher::view
