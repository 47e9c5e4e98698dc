// The demo scenes: sample state for each scene of --demo. Nothing here
// starts work: demo mode has no worker, and the state is filled as if the
// work had already been done.
#include "base/dates.h"
#include "launcher/app/controller.h"
#include "launcher/app/pipeline.h"
#include "launcher/demo/demo.h"
#include "launcher/screens/screens.h"
#include "launcher/kit/textfield.h"

namespace ember::launcher::view {

namespace {

constexpr uint64_t kMiB = 1024ull * 1024ull;

NewsItem news(const char* id, const char* tag, const char* title, const char* body, int64_t secondsAgo) {
    NewsItem n;
    n.id = id;
    n.tag = tag;
    n.title = title;
    n.body = body;
    n.at = formatIsoTime(kDemoUnixNow - secondsAgo);
    return n;
}

account::Realm realm(const char* key, const char* name, uint32_t players, uint32_t max, bool online) {
    account::Realm r;
    r.key = key;
    r.name = name;
    r.host = std::string(key) + ".realms.emberlane.example";
    r.port = 7777;
    r.players = players;
    r.maxPlayers = max;
    r.online = online;
    return r;
}

void setCharacters(app::AppState& s, std::vector<account::Character> list, uint32_t maxSlots) {
    s.characters.characters = std::move(list);
    s.characters.maxSlots = maxSlots;
    s.characters.used = static_cast<uint32_t>(s.characters.characters.size());
    s.characterCount = s.characters.characters.size();
    s.charactersStatus = app::CharactersStatus::ok;
}

app::Operation operation(Phase phase, const char* title) {
    app::Operation op;
    op.phase = phase;
    op.title = title;
    op.startedAt = app::now();
    return op;
}

// The scene's own changes to the sample world; false for a name that is
// not one of the home and settings scenes.
bool fillScreenScene(app::AppState& s, const std::string& scene) {
    if (scene == "home") return true;
    if (scene == "checking") {
        // The first start: no manifest has answered yet.
        s.manifestLoaded = false;
        s.preflightDone = false;
        s.accountsActive = false;
        return true;
    }
    if (scene == "home-progress") {
        s.busy = true;
        s.plan.upToDate = false;
        s.plan.downloadBytes = 1288 * kMiB;
        s.plan.downloadCount = 38;
        app::Operation op = operation(Phase::download, "Downloading the client");
        op.step = 14;
        op.steps = 38;
        op.bytesDone = 412 * kMiB + 300 * 1024;
        op.bytesTotal = 1288 * kMiB;
        op.bytesPerSecond = 18.4 * kMiB;
        op.etaSeconds = 47.6;
        s.operation = op;
        return true;
    }
    if (scene == "home-paused") {
        // The same download, paused: nothing runs, the block stays.
        s.pause = app::Pause::paused;
        s.plan.upToDate = false;
        s.plan.downloadBytes = 876 * kMiB;
        s.plan.downloadCount = 24;
        s.config.downloadLimitTenths = 20;
        app::Operation op = operation(Phase::download, "Updating client files");
        op.step = 14;
        op.steps = 38;
        op.bytesDone = 412 * kMiB + 300 * 1024;
        op.bytesTotal = 1288 * kMiB;
        s.operation = op;
        return true;
    }
    if (scene == "home-verify") {
        s.busy = true;
        s.repair = true;
        app::Operation op = operation(Phase::verify, "Checking your client files");
        op.step = 212;
        op.steps = 640;
        op.etaSeconds = 95;
        s.operation = op;
        return true;
    }
    if (scene == "home-install") {
        s.config.lastClientVersion.clear();
        s.config.installed.clear();
        s.config.seenFirstRunNote = false;
        s.plan.upToDate = false;
        s.plan.downloadBytes = 1288 * kMiB;
        s.plan.downloadCount = 640;
        s.plan.removeCount = 0;
        return true;
    }
    if (scene == "home-update") {
        s.config.lastClientVersion = "0.9.3";
        s.plan.upToDate = false;
        s.plan.downloadBytes = 48 * kMiB;
        s.plan.downloadCount = 12;
        s.plan.removeCount = 2;
        s.launcherUpdateOffered = true;
        return true;
    }
    if (scene == "home-empty") {
        setCharacters(s, {}, 3);
        return true;
    }
    if (scene == "home-loading") {
        s.plan = app::QuietPlan();
        s.characters = account::CharacterList();
        s.characterCount = 0;
        s.charactersStatus = app::CharactersStatus::loading;
        s.realmsInFlight = true;
        s.realmsLoading = true;
        s.preflightRunning = true;
        return true;
    }
    if (scene == "home-chars-error") {
        s.characters = account::CharacterList();
        s.characterCount = 0;
        s.charactersStatus = app::CharactersStatus::error;
        return true;
    }
    if (scene == "home-offline") {
        s.offline = true;
        s.plan = app::QuietPlan();
        s.realmsStale = true;
        s.realmsError = true;
        s.realmsGoodAt = kDemoUnixNow - 25 * 60;
        return true;
    }
    if (scene == "home-local") {
        s.signedIn = false;
        s.playWithoutAccount = true;
        s.account = account::Account();
        s.email.clear();
        s.config.seenPlayerIdIntro = false;
        return true;
    }
    if (scene == "home-unsupported") {
        s.gameVersion = "1.2.0.0";
        s.supported = false;
        return true;
    }
    if (scene == "home-running") {
        s.gameWatch.running = true;
        s.gameWatch.seenRunning = true;
        const uint64_t t = app::now();
        s.gameWatch.launchedAt = t > 12 * 60 * 1000 ? t - 12 * 60 * 1000 : 0;
        s.gameWatch.lastCheck = t;
        return true;
    }
    if (scene == "home-error") {
        s.fault = app::makeFault(app::FaultKind::download, app::text::kDownloadFailed,
                                 "HTTP 503 for client/EmberClient.dll (2 of 38 files were installed)");
        app::Notice n;
        n.id = "err1";
        n.tone = app::Tone::error;
        n.title = "The launcher's update check failed";
        n.detail = "HTTP 503 from emberlane.example";
        s.notices.push_back(n);
        s.plan.upToDate = false;
        s.plan.downloadBytes = 36 * kMiB;
        s.plan.downloadCount = 36;
        return true;
    }
    if (scene == "realms-many") {
        static const char* const names[] = {"Anvil",      "Bravil",     "Bruma",        "Cheydinhal", "Chorrol",
                                            "Kvatch",     "Leyawiin",   "Skingrad",     "Imperial City",
                                            "Weye",       "Pell's Gate", "Aleswell",    "Hackdirt",   "Water's Edge",
                                            "Cropsford",  "Border Watch", "Harlun's Watch", "Roxey Inn",
                                            "Brindle Home", "Gottshaw",  "Faregyl",      "Wawnet",     "Drakelowe",
                                            "Sideways Cave"};
        s.realms.clear();
        int i = 0;
        for (const char* name : names) {
            std::string key;
            for (const char* c = name; *c; ++c)
                if (*c != ' ' && *c != '\'') key += static_cast<char>(*c | 0x20);
            account::Realm r = realm(key.c_str(), name, static_cast<uint32_t>((i * 37 + 11) % 190),
                                     i % 3 == 0 ? 200 : 100, i % 7 != 5);
            s.realms.push_back(r);
            ++i;
        }
        s.realmKey = "anvil";
        return true;
    }
    if (scene == "settings") {
        s.tab = app::Tab::settings;
        return true;
    }
    if (scene == "settings-limit") {
        // A limit in force, and a refused value typed over it.
        s.tab = app::Tab::settings;
        s.config.downloadLimitTenths = 25;
        s.view.fields["settings:limit"].text = "0";
        s.view.fieldNotes["settings:limit"] = app::text::kSpeedLimitTooLow;
        return true;
    }
    if (scene == "settings-advanced") {
        s.tab = app::Tab::settings;
        s.view.advancedOpen = true;
        s.config.manifestUrl = "https://staging.emberlane.example/client/manifest.json";
        return true;
    }
    if (scene == "settings-dev") {
        s.tab = app::Tab::settings;
        s.config.channel = "dev";
        s.manifest.channel = "dev";
        s.manifest.clientVersion = "0.10.0-dev.7";
        s.config.lastClientVersion = "0.10.0-dev.7";
        s.launcherUpdateOffered = true;
        return true;
    }
    return false;
}

}  // namespace

const std::vector<std::string>& demoScenes() {
    static const std::vector<std::string> scenes = {
        "login", "register", "login-error", "login-busy", "login-captcha", "login-wait", "register-error",
        "login-pending", "login-activate", "register-closed", "home", "home-progress", "home-paused", "home-verify",
        "home-install", "home-update", "home-empty", "home-loading", "home-chars-error", "home-offline",
        "home-local", "home-unsupported", "home-running", "home-error", "realms-many", "settings",
        "settings-advanced", "settings-limit", "settings-dev", "modal:create", "modal:delete", "modal:logout", "modal:change-id",
        "modal:stop-update", "advanced,modal:ignore-version", "advanced,modal:reset", "game-not-found",
        "unsupported-version", "no-network", "disk-space", "blocked-mods", "permission", "file-locked",
        "launcher-outdated", "manifest-refused", "restarting", "checking"};
    return scenes;
}

void fillDemoBase(app::AppState& s) {
    s.demo = true;
    if (s.version.empty()) s.version = app::kLauncherVersion;
    s.tab = app::Tab::home;

    // The manifest: one realm service, a supported game, news.
    Manifest& m = s.manifest;
    m.schema = 1;
    m.channel = "stable";
    m.clientVersion = "0.9.4";
    m.baseUrl = "https://emberlane.example/client/files/";
    m.serverName = "Anvil";
    m.serverHost = "anvil.realms.emberlane.example";
    m.serverPort = 7777;
    m.supportedVersions = {"1.1.0.0", "1.1.1.0"};
    m.helpUrl = "https://emberlane.example/help/game-version";
    m.accountsEnabled = true;
    m.accountsMode = "password";
    m.accountsApiBase = "https://accounts.emberlane.example/api/";
    m.accountsRealmKey = "anvil";
    m.news = {
        news("n4", "PATCH", "Client 0.9.4: smoother horses",
             "Mounts no longer stutter when a second rider joins the realm. Fast travel waits for your party.",
             2 * 3600 + 600),
        news("n3", "EVENT", "The Great Chorrol Fair this weekend",
             "Archery, a wheel-of-cheese race and a bard contest on the Chorrol realm, Saturday 18:00 UTC.",
             26 * 3600),
        news("n2", "REALM", "Bravil moves to a bigger server", "Expect ten minutes of downtime on Thursday morning.",
             9 * 86400),
        news("n1", "NEWS", "Welcome to the Emberlane test season",
             "Characters made now stay when the season ends. Tell us what breaks on the forum.", 62 * 86400),
    };
    s.manifestLoaded = true;
    s.preflightDone = true;

    // The game and an installed, up-to-date client.
    s.gameFolder = "C:\\Program Files (x86)\\Steam\\steamapps\\common\\Oblivion Remastered";
    s.gameVersion = "1.1.0.0";
    s.gameWritable = true;
    s.supported = true;
    s.searched = {s.gameFolder, "D:\\SteamLibrary\\steamapps\\common\\Oblivion Remastered"};
    Config& c = s.config;
    c.gamePath = s.gameFolder;
    c.lastClientVersion = "0.9.4";
    c.characterId = "1204";
    c.realm = "anvil";
    c.profileId = 381402557264;
    c.seenFirstRunNote = true;
    c.seenPlayerIdIntro = true;
    c.accountEmail = "mirelle@example.com";
    c.accountDisplayName = "Mirelle";
    static const char* const files[] = {"Emberlane/EmberClient.dll", "Emberlane/EmberLoader.exe",
                                        "Emberlane/data/realm.esp", "Emberlane/data/ui.bsa",
                                        "Emberlane/data/voices.bsa"};
    for (const char* f : files) c.installed[f] = InstalledFile{std::string(64, 'a'), 1 << 20, 0};
    s.plan.known = true;
    s.plan.upToDate = true;

    // A signed-in player with realms and characters.
    s.accountsActive = true;
    s.signedIn = true;
    s.account.displayName = "Mirelle";
    s.account.publicId = "u-5521";
    s.account.status = "active";
    s.email = "mirelle@example.com";
    s.realms = {realm("anvil", "Anvil", 42, 200, true), realm("bravil", "Bravil", 7, 100, true),
                realm("chorrol", "Chorrol", 0, 100, false)};
    s.realmsLoaded = true;
    s.realmsGoodAt = kDemoUnixNow - 20;
    s.realmKey = "anvil";
    setCharacters(s, {{"1204", "Aldric Venn", 1}, {"1377", "Sera Moonwhisper", 2}}, 3);
}

bool fillDemoScene(app::AppState& state, const std::string& scene) {
    state.view.scene = scene;
    fillDemoBase(state);
    if (scene == "kit") return true;
    // "advanced" opens the Advanced section (on the settings page); "modal:"
    // opens the named dialog. The forms fill their own sample fields.
    if (scene.find("advanced") != std::string::npos) {
        state.view.advancedOpen = true;
        state.tab = app::Tab::settings;
    }
    const size_t modal = scene.find("modal:");
    if (modal != std::string::npos) app::parseKind(scene.substr(modal + 6), state.view.openModal);
    if (state.view.openModal == app::ModalKind::stopUpdate) {
        state.busy = true;
        app::Operation op;
        op.phase = Phase::download;
        op.title = "Downloading the client";
        op.step = 9;
        op.steps = 38;
        op.bytesDone = 301 * kMiB;
        op.bytesTotal = 1288 * kMiB;
        op.bytesPerSecond = 16.2 * kMiB;
        op.etaSeconds = 64;
        state.operation = op;
    }
    if (fillFormsDemoScene(state, scene)) return true;
    if (fillScreenScene(state, scene)) return true;
    for (const std::string& s : demoScenes())
        if (s == scene) return true;
    return false;
}

}  // namespace ember::launcher::view
