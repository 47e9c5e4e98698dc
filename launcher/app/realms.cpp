// The realm and character actions: the realm list and its refresh, the
// chosen realm, the character list, names, creating and deleting, and the
// play session the pipeline asks for.
#include "launcher/app/accounts.h"

#include <limits>
#include <memory>

#include "launcher/account/client.h"
#include "launcher/app/accounts_parts.h"
#include "launcher/app/controller.h"
#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"

namespace ember::launcher::app {

using account::Error;
using account::ErrorKind;
using ClientPtr = std::shared_ptr<const account::Client>;

namespace {

void setCharacters(const account::CharacterList& list) {
    AppState& s = state();
    s.characters = list;
    s.charactersStatus = CharactersStatus::ok;
    s.characterCount = list.characters.size();
}

bool isDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!isAsciiDigit(c)) return false;
    }
    return true;
}

// The realm record the play button uses.
const account::Realm* chosenRealm() {
    const AppState& s = state();
    for (const account::Realm& r : s.realms) {
        if (r.key == s.realmKey) return &r;
    }
    return nullptr;
}

// Picks a realm when none (or a vanished one) is chosen: the saved one, the
// manifest's, else the first listed.
void settleRealmChoice() {
    AppState& s = state();
    if (s.realms.empty() || chosenRealm()) return;
    std::string previous = s.realmKey;
    for (const std::string& key : {s.config.realm, s.manifest.accountsRealmKey}) {
        if (key.empty()) continue;
        for (const account::Realm& r : s.realms) {
            if (r.key == key) s.realmKey = key;
        }
        if (!s.realmKey.empty() && chosenRealm()) break;
    }
    if (!chosenRealm()) s.realmKey = s.realms.front().key;
    if (s.realmKey != previous) fetchCharactersNow();
}
}  // namespace

// ---- Realms ----

void applyAccountsManifest() {
    AppState& s = state();
    const Manifest& m = s.manifest;
    s.accountsActive = s.manifestLoaded && accountsUsable(m);
    if (!s.accountsActive) {
        s.client.reset();
        return;
    }
    std::string base = m.accountsApiBase;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (!s.client || s.client->baseUrl() != base) s.client = std::make_shared<const account::Client>(base);
}

void accountStartUp() {
    AppState& s = state();
    applyAccountsManifest();
    if (s.accountsActive) {
        fetchRealmsNow();
        if (!s.restoreAttempted) restoreSession();
    } else {
        s.realms.clear();
        s.realmsStale = false;
        s.realmsError = false;
        s.realmsLoading = false;
        if (s.manifestLoaded) {
            account::Realm r;
            r.key = s.manifest.accountsRealmKey;
            r.name = s.manifest.serverName;
            r.host = s.manifest.serverHost.empty() ? s.manifest.serverIp : s.manifest.serverHost;
            r.port = s.manifest.serverPort > 0 ? static_cast<uint32_t>(s.manifest.serverPort) : 0;
            r.online = true;
            s.realms.push_back(r);
            s.realmKey = r.key;
            s.realmsLoaded = true;
        } else {
            s.realmsLoaded = false;
        }
    }
    fetchCharactersNow();
}

void fetchRealmsNow() {
    AppState& s = state();
    if (s.demo || !s.client || !s.accountsActive || s.realmsInFlight) return;
    s.realmsInFlight = true;
    s.realmsLoading = true;
    s.realmsFetchedAt = now();
    ClientPtr client = s.client;
    runAccountTask([client] {
        auto realms = std::make_shared<std::vector<account::Realm>>();
        Error e = client->realms(*realms);
        postToUi([e, realms] {
            AppState& ui = state();
            ui.realmsInFlight = false;
            ui.realmsLoading = false;
            ui.realmsFetchedAt = now();
            if (!e.ok()) {
                if (ui.realmsLoaded && !ui.realms.empty()) {
                    ui.realmsStale = true;
                } else {
                    ui.realmsError = true;
                }
                return;
            }
            ui.realmsError = false;
            ui.realmsLoaded = true;
            if (realms->empty()) return;
            ui.realms = *realms;
            ui.realmsStale = false;
            ui.realmsGoodAt = unixSeconds();
            settleRealmChoice();
        });
    });
}

bool accountFrame(uint64_t t) {
    const AppState& s = state();
    if (s.demo || !s.preflightDone || !s.accountsActive || s.realmsInFlight) return false;
    if (t >= s.realmsFetchedAt && t - s.realmsFetchedAt < kRealmRefreshMs) return false;
    fetchRealmsNow();
    return s.realmsInFlight;
}

void chooseRealm(const std::string& key) {
    AppState& s = state();
    if (key == s.realmKey) return;
    s.realmKey = key;
    s.config.realm = key;
    saveSettings();
    logLine("realm changed to " + key);
    setCharactersStatus(CharactersStatus::loading);
    fetchCharactersNow();
}

// ---- Characters ----

void fetchCharactersNow() {
    AppState& s = state();
    if (s.demo || !s.signedIn || !s.client || s.playWithoutAccount || s.charactersInFlight) return;
    s.charactersInFlight = true;
    if (s.characters.characters.empty()) setCharactersStatus(CharactersStatus::loading);
    ClientPtr client = s.client;
    std::string token = s.tokens.accessToken;
    std::string realm = s.realmKey;
    runAccountTask([client, token, realm] {
        auto list = std::make_shared<account::CharacterList>();
        Error e = client->characters(token, realm, *list);
        postToUi([e, list, token, realm] {
            AppState& ui = state();
            ui.charactersInFlight = false;
            // Signed out, or signed in again since: not this session's list.
            if (!ui.signedIn || ui.tokens.accessToken != token) {
                fetchCharactersNow();
                return;
            }
            if (realm != ui.realmKey) {
                fetchCharactersNow();
                return;
            }
            if (!e.ok()) {
                logLine("characters: " + errorText(e));
                if (e.kind == ErrorKind::unauthorized) {
                    logout();
                    formMessage(Tone::info, text::kPleaseSignIn);
                } else {
                    setCharactersStatus(CharactersStatus::error);
                }
                return;
            }
            setCharacters(*list);
        });
    });
}

void chooseCharacter(const std::string& id) {
    AppState& s = state();
    s.config.characterId = id;
    saveSettings();
}

void setPlayWithoutAccount(bool on) {
    AppState& s = state();
    s.playWithoutAccount = on;
    if (!on) fetchCharactersNow();
}

std::string validateName(const std::string& name) {
    if (std::string(trim(name)) != name) return "A name cannot start or end with a space.";
    if (name.size() < 2) return "A name needs at least 2 characters.";
    for (char c : name) {
        if (static_cast<unsigned char>(c) >= 128) return "A name can only use English letters.";
        if (!isAsciiLetter(c) && !isAsciiDigit(c) && c != '\'' && c != ' ' && c != '-') {
            return "A name can only use letters, apostrophes, hyphens and spaces.";
        }
    }
    if (name.size() > 21) return "A name can be at most 21 characters, including any apostrophe or space.";
    int apostrophes = 0, spaces = 0, hyphens = 0;
    bool digit = false;
    for (char c : name) {
        digit = digit || isAsciiDigit(c);
        apostrophes += c == '\'';
        spaces += c == ' ';
        hyphens += c == '-';
    }
    if (digit) return "A name cannot contain numbers.";
    if (apostrophes > 2) return "A name can have at most 2 apostrophes.";
    if (spaces > 2) return "A name can have at most 2 spaces.";
    if (hyphens > 1) return "A name can have at most 1 hyphen.";
    if (name.find("  ") != std::string::npos) return "A name cannot have two spaces in a row.";
    if (name.find("''") != std::string::npos) return "A name cannot have two apostrophes in a row.";
    if (!isAsciiLetter(name.front())) return "A name must start with a letter.";
    if (!isAsciiLetter(name.back())) return "A name must end with a letter.";
    return "";
}

void checkName(const std::string& name, std::function<void(bool, const std::string&)> done) {
    std::string rule = validateName(name);
    if (!rule.empty()) {
        if (done) done(false, rule);
        return;
    }
    AppState& s = state();
    if (s.demo) return;
    if (!s.client) {
        if (done) done(false, std::string("The name could not be checked: ") + kNoServiceRegister);
        return;
    }
    ClientPtr client = s.client;
    std::string realm = s.realmKey;
    runAccountTask([client, realm, name, done] {
        account::NameCheck check;
        Error e = client->checkName(realm, name, check);
        postToUi([e, check, name, done] {
            if (!done) return;
            if (!e.ok()) {
                done(false, "The name could not be checked: " + e.message);
            } else if (check.valid && check.available) {
                done(true, name + " is free.");
            } else if (check.valid) {
                done(false, name + " is taken.");
            } else {
                done(false, "Not a valid name" + (check.reason.empty() ? std::string() : ": " + check.reason));
            }
        });
    });
}

void createCharacter(const std::string& name, std::function<void(bool, const std::string&)> done) {
    AppState& s = state();
    if (s.demo) return;
    if (!s.client || !s.signedIn) {
        if (done) done(false, "Could not create that character.");
        return;
    }
    ClientPtr client = s.client;
    std::string token = s.tokens.accessToken;
    std::string realm = s.realmKey;
    std::string trimmed(trim(name));
    runAccountTask([client, token, realm, trimmed, done] {
        auto list = std::make_shared<account::CharacterList>();
        Error e = client->createCharacter(token, realm, trimmed, *list);
        postToUi([e, list, trimmed, done] {
            if (e.kind == ErrorKind::character_limit) {
                if (done) done(false, "You already have the most characters an account can hold. Delete one to make room.");
                return;
            }
            if (!e.ok()) {
                if (done) done(false, e.message.empty() ? "Could not create that character." : e.message);
                return;
            }
            setCharacters(*list);
            logLine("character created: " + trimmed);
            for (const account::Character& c : list->characters) {
                if (equalsIgnoreCase(c.name, trimmed)) {
                    chooseCharacter(c.id);
                    break;
                }
            }
            if (done) done(true, "");
        });
    });
}

void deleteCharacter(const std::string& id, std::function<void(bool, const std::string&)> done) {
    AppState& s = state();
    if (s.demo) return;
    if (!s.client || !s.signedIn) {
        if (done) done(false, "Could not delete that character.");
        return;
    }
    ClientPtr client = s.client;
    std::string token = s.tokens.accessToken;
    runAccountTask([client, token, id, done] {
        // A reply without a list (an empty 204) leaves this marker in place.
        auto list = std::make_shared<account::CharacterList>();
        list->maxSlots = std::numeric_limits<uint32_t>::max();
        Error e = client->deleteCharacter(token, id, *list);
        postToUi([e, list, id, done] {
            if (!e.ok()) {
                if (done) done(false, e.message.empty() ? "Could not delete that character."
                                                        : "Could not delete that character: " + e.message);
                return;
            }
            AppState& ui = state();
            if (list->maxSlots != std::numeric_limits<uint32_t>::max()) {
                setCharacters(*list);
            } else {
                fetchCharactersNow();  // no list came back: ask for the current one
            }
            // The deleted character cannot stay chosen for Play.
            if (ui.config.characterId == id) chooseCharacter("");
            logLine("character deleted: " + id);
            if (done) done(true, "");
        });
    });
}

std::string setLocalCharacterId(const std::string& text) {
    std::string id(trim(text));
    if (id.size() > 15 || !isDigits(id) || id[0] == '0') return kBadCharacterId;
    AppState& s = state();
    s.config.profileId = std::stoll(id);
    saveSettings();
    logLine("character id set to " + id);
    return "";
}

// ---- The play session ----

void addAccountToPipeline(PipelineInput& in, PipelineSteps& steps) {
    const AppState& s = state();
    if (const account::Realm* realm = chosenRealm()) {
        in.realm.key = realm->key;
        in.realm.name = realm->name;
        in.realm.host = realm->host;
        in.realm.port = static_cast<int32_t>(realm->port);
    }
    in.characters.clear();
    for (const account::Character& c : s.characters.characters) {
        in.characters.push_back(CharacterEntry{c.id, static_cast<int32_t>(c.slot)});
    }
    in.useAccount = s.signedIn && !s.playWithoutAccount;
    if (!in.useAccount || !s.client) return;
    ClientPtr client = s.client;
    std::string token = s.tokens.accessToken;
    std::string fallbackKey = s.manifest.accountsRealmKey;
    steps.playSession = [client, token, fallbackKey](const RealmChoice& realm, const std::string& characterId) {
        account::PlaySession session;
        Error e = client->playSession(token, realm.key.empty() ? fallbackKey : realm.key, characterId, session);
        PlaySession out;
        out.code = e.kind;
        if (!e.ok()) return out;
        out.accountId = session.characterId.empty() ? characterId : session.characterId;
        out.name = session.displayName;
        out.token = session.session;
        out.host = session.host;
        out.port = static_cast<int32_t>(session.port);
        return out;
    };
}


}  // namespace ember::launcher::app
