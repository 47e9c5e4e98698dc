// Preflight and the update pipeline through the real controller (workers,
// hand-off, config.json, a game folder on disk). The network, the process
// list and the loader are the steps a test replaces; the Windows build runs
// the same cases with its own platform underneath.
#include "launcher/app/pipeline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "launcher/app/controller.h"
#include "base/paths.h"
#include "launcher/install/apply.h"
#include "launcher/net/sha256.h"
#include "tests/app/ui_loop.h"
#include "tests/support/scratch.h"
#include "tests/support/signing.h"

namespace ember::launcher {
namespace {

using testing::fileText;
using testing::putFile;
using testing::ScopedEnv;
using testing::ScratchDir;
using testing::UiLoop;

const char kLoader[] = "Emberlane/EmberlaneLoader.exe";
const char kDll[] = "Emberlane/Emberlane.dll";


// The client release a test serves: two files and a manifest naming them.
struct Release {
    std::map<std::string, std::string> files{{kLoader, "loader v1"}, {kDll, "client library v1"}};
    std::string manifest(int schema = 1) const {
        std::string list;
        for (const auto& [path, bytes] : files) {
            list += std::string(list.empty() ? "" : ",") + "{\"path\": \"" + path + "\", \"sha256\": \"" +
                    sha256Hex(bytes) + "\", \"size\": " + std::to_string(bytes.size()) + "}";
        }
        return "{\"schema\": " + std::to_string(schema) +
               ", \"clientVersion\": \"1.4.2\", \"baseUrl\": \"https://cdn.test/c/\","
               "\"server\": {\"name\": \"Ashfall\", \"host\": \"play.test\", \"port\": 7777},"
               "\"game\": {\"supportedVersions\": [\"0.411.140.0\", \"0.412.3.0\"], \"helpUrl\": \"https://h.test/\"},"
               "\"client\": {\"0.412.3.0\": {\"version\": \"1.4.2b\", \"dll\": \"" +
               kDll + "\", \"loader\": \"" + kLoader + "\"}}, \"files\": [" + list + "]}";
    }
};

// A controller with a game folder, a served manifest and recording steps.
struct Rig {
    ScratchDir config, game;
    ScopedEnv configEnv{"EMBERLANE_CONFIG_DIR", config.path()};
    ScopedEnv gameEnv{"EMBERLANE_GAME_DIR", game.path()};
    ScopedEnv versionEnv{"EMBERLANE_GAME_VERSION", std::string("0.412.3.0")};
    UiLoop ui;
    Release release;
    // Every manifest served is signed with the stand-in's test key.
    testing::TestSigner signer = testing::TestSigner::standinKey();
    uint64_t sequence = 5;

    // What the steps answer.
    std::string served;  // the manifest text; empty: no network
    int status = 200;
    std::map<std::string, std::string> servedHeaders;
    bool writable = true, running = false;
    uint64_t free = uint64_t(1) << 40;
    std::string applyError;
    ApplyFault applyKind = ApplyFault::failed;  // the kind the failing apply reports
    account::ErrorKind sessionCode = account::ErrorKind::ok;
    bool selfUpdateStarts = false;
    std::string selfUpdateError;
    std::vector<app::BlockedModFound> mods;
    // What the steps saw.
    int fetches = 0, applies = 0, launches = 0;

    // Keeps `text` in `config` as the last accepted manifest, signed.
    void cache(Config& config, const std::string& text) {
        config.lastManifest = text;
        config.lastManifestSignature = signer.sign(text, testing::manifestTerms(sequence));
        config.lastManifestSequence = sequence;
    }

    Rig() {
        std::string exe = game.file("OblivionRemastered\\Binaries\\Win64\\OblivionRemastered-Win64-Shipping.exe");
        createDirectories(parentDir(exe));
        putFile(exe, "game");
        served = release.manifest();
        app::init(ui.hooks(), false);
        app::PipelineSteps steps = app::defaultPipelineSteps();
        steps.fetch = [this](const http::Request& request) {
            http::Response r;
            if (request.url.size() > 8 && request.url.compare(request.url.size() - 8, 8, ".minisig") == 0) {
                r.status = served.empty() ? 0 : 200;
                r.body = served.empty() ? "" : signer.sign(served, testing::manifestTerms(sequence));
                return r;
            }
            ++fetches;
            EXPECT_EQ(request.timeoutMs, 15000u);
            EXPECT_EQ(request.maxBytes, 0x800000u);
            if (served.empty()) {
                r.error = "cannot connect";
            } else {
                r.status = status;
                r.body = served;
                r.headers = servedHeaders;
            }
            return r;
        };
        steps.canWrite = [this](const std::string& folder) { return writable && canWriteGameFolder(folder); };
        steps.gameRunning = [this] { return running; };
        steps.freeSpace = [this](const std::string&) { return free; };
        // Installs from the release in memory, as the download would.
        steps.apply = [this](const Manifest&, const std::string& folder, Config& cfg, const Plan& plan,
                             const Reporter& r, ApplyError& error) {
            ++applies;
            pruneRetired(folder, cfg, plan, r);
            int done = 0;
            for (const ManifestFile& f : plan.download) {
                if (!applyError.empty()) {
                    // A cancel between files is bare; inside a download the
                    // path comes first (and the player did ask for it).
                    if (applyError == "cancelled in a download") {
                        app::cancelOperation();
                        error = {ApplyFault::interrupted, f.path + ": cancelled"};
                    } else if (applyError == kApplyCancelled) {
                        error = {ApplyFault::cancelled, applyError};
                    } else {
                        error = {applyKind, f.path + ": " + applyError};
                    }
                    return done;
                }
                std::string target = joinPath(folder, f.path);
                createDirectories(parentDir(target));
                putFile(target, release.files.at(f.path));
                cfg.installed[f.path] = {f.sha256, fileSize(target), static_cast<int64_t>(lastWriteTime(target))};
                ++done;
            }
            return done;
        };
        steps.launch = [this](const std::string& folder, const std::string& loader, std::string& error) {
            ++launches;
            if (!fileExists(joinPath(folder, loader))) error = "missing loader";
            return error.empty();
        };
        steps.findBlockedMods = [this](const std::string&, const Manifest&, bool& refuse) {
            refuse = !mods.empty();
            return mods;
        };
        steps.playSession = [this](const app::RealmChoice&, const std::string&) {
            app::PlaySession s;
            s.code = sessionCode;
            s.accountId = "acc-9";
            s.name = "Ria";
            s.token = "tok";
            return s;
        };
        steps.selfUpdate = [this](const Manifest&, Config& cfg, const Reporter&, std::string& error) {
            cfg.selfUpdateTarget = std::string(64, 'a');
            ++cfg.selfUpdateAttempts;
            error = selfUpdateError;
            return selfUpdateStarts;
        };
        // Never the real elevation prompt or file browser from a test.
        steps.restartElevated = [] { return false; };
        steps.openFolder = [](const std::string&) {};
        app::setPipelineSteps(steps);
        app::state().config.manifestUrl = "https://emberlane-test.invalid/client/manifest.json";
    }
    ~Rig() {
        app::shutdownWorkers();
        app::setPipelineSteps(app::defaultPipelineSteps());
    }

    void preflight() {
        app::state().preflightDone = false;
        app::preflight();
        ASSERT_TRUE(ui.runUntil([] { return app::state().preflightDone && !app::state().preflightRunning; }));
    }
    void play(bool repair = false) {
        app::startPipeline(repair);
        ASSERT_TRUE(ui.runUntil([] { return !app::state().busy; }));
    }
    std::string log() { return fileText(joinPath(config.path(), "launcher.log")); }
};

TEST(Preflight, DecidesThePlayButtonBeforePlay) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> setUp;
        const char* state;
        const char* faultKind;
        const char* faultMessage;
    } cases[] = {
        {"first run: install", [](Rig&) {}, "install", "", ""},
        {"network down, nothing cached", [](Rig& r) { r.served.clear(); }, "blocked", "no-network",
         "Can't reach emberlane-test.invalid, and there's nothing installed yet to play. Check your internet "
         "connection, then choose Try again."},
        {"service error, cached copy", [](Rig& r) {
             r.status = 503;
             r.cache(app::state().config, r.release.manifest());
         }, "offline", "", ""},
        {"schema too new never falls back", [](Rig& r) {
             r.served = r.release.manifest(2);
             r.cache(app::state().config, r.release.manifest());
             // As restored at start-up.
             app::state().manifestLoaded = true;
             app::state().offline = true;
         }, "blocked", "launcher-outdated", "This launcher is out of date. Update it to keep playing."},
        {"no game", [](Rig& r) { removeFile(r.game.file("OblivionRemastered\\Binaries\\Win64\\OblivionRemastered-Win64-Shipping.exe")); },
         "blocked", "game-not-found", "The launcher couldn't find Oblivion Remastered on this PC."},
        {"folder not writable", [](Rig& r) { r.writable = false; }, "blocked", "not-writable",
         "Windows is blocking the launcher from changing files in your Oblivion Remastered folder."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        c.setUp(rig);
        rig.preflight();
        const app::AppState& s = app::state();
        EXPECT_EQ(app::spelling(s.fault.kind), c.faultKind);
        EXPECT_EQ(s.fault.message, c.faultMessage);
        if (std::string(c.faultKind) == "launcher-outdated") {
            EXPECT_FALSE(s.offline) << "a too-new schema must not fall back to the cache";
            EXPECT_FALSE(s.manifestLoaded) << "the restored copy still stands behind a too-new schema";
            EXPECT_EQ(app::spelling(s.blocker.kind), "launcher-outdated");
            EXPECT_EQ(app::playSubline(0), "This launcher is out of date");
        }
        EXPECT_EQ(app::spelling(app::playState()), c.state);
        if (std::string(c.state) == "offline") {
            auto notices = app::currentNotices();
            ASSERT_FALSE(notices.empty());
            EXPECT_EQ(notices[0].id, "offline");
            EXPECT_EQ(app::spelling(notices[0].action), "Preflight");
            EXPECT_NE(rig.log().find("manifest: offline, using the cached one (1.4.2): HTTP 503"), std::string::npos);
        }
        if (std::string(c.state) == "install") {
            EXPECT_EQ(app::playLabel(app::PlayState::install), "INSTALL & PLAY");
            EXPECT_EQ(app::playSubline(0), planSummary(s.plan.downloadBytes, 2, 0));
            EXPECT_EQ(s.config.lastManifest, rig.release.manifest()) << "a fresh manifest is kept for the cache";
        }
        // config.json holds what the preflight learnt.
        EXPECT_EQ(testing::savedConfig().gamePath, s.config.gamePath);
    }
}

TEST(Preflight, AManifestServedButUnusableIsNotBlamedOnTheConnection) {
    const std::string noNetwork =
        "Can't reach emberlane-test.invalid, and there's nothing installed yet to play. Check your internet "
        "connection, then choose Try again.";
    const std::string served = "the connection works, but the service sent no manifest this launcher can use: ";
    struct Case {
        const char* name;
        std::function<void(Rig&)> setUp;
        std::string detail;  // of the blocker; the same names the cause beside the cached copy
    } cases[] = {
        {"no connection", [](Rig& r) { r.served.clear(); }, "cannot connect"},
        {"404", [](Rig& r) { r.status = 404; }, served + "HTTP 404"},
        {"not JSON", [](Rig& r) { r.served = "<html>hello</html>"; }, served + "manifest: bad JSON: *"},
        {"compressed, said", [](Rig& r) {
             r.served = "\x1f\x8b\x08garbage";
             r.servedHeaders["content-encoding"] = "gzip";
         }, served + "manifest: the reply is compressed, which this launcher does not read: gzip"},
        {"compressed, unsaid", [](Rig& r) { r.served = "\x1f\x8b\x08garbage"; },
         served + "manifest: the reply is compressed, which this launcher does not read: gzip"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string detail;
        {
            Rig rig;
            c.setUp(rig);
            rig.preflight();
            const app::AppState& s = app::state();
            EXPECT_EQ(app::spelling(s.fault.kind), "no-network");
            EXPECT_EQ(s.fault.message, noNetwork);
            detail = s.blocker.detail;
            if (c.detail.back() == '*') {
                EXPECT_EQ(detail.substr(0, c.detail.size() - 1), c.detail.substr(0, c.detail.size() - 1));
            } else {
                EXPECT_EQ(detail, c.detail);
            }
        }
        // Beside a cached copy, the offline notice's details say the same.
        Rig cachedRig;
        c.setUp(cachedRig);
        cachedRig.cache(app::state().config, cachedRig.release.manifest());
        cachedRig.preflight();
        auto notices = app::currentNotices();
        ASSERT_FALSE(notices.empty());
        EXPECT_EQ(notices[0].id, "offline");
        EXPECT_EQ(notices[0].detail, detail);
    }
}

TEST(Preflight, UpToDateReadsNoClientFile) {
    Rig rig;
    rig.preflight();
    rig.play();
    ASSERT_EQ(app::spelling(app::state().fault.kind), "");
    app::state().gameWatch = GameWatch();  // the game has closed
    uint64_t hashed = plannerFilesHashed();
    rig.preflight();
    EXPECT_EQ(plannerFilesHashed(), hashed) << "an up-to-date client was read again";
    EXPECT_EQ(app::spelling(app::playState()), "ready");
    EXPECT_EQ(app::playSubline(0), "Up to date · client 1.4.2");
}

TEST(Pipeline, EveryRefusalIsOneFaultWithItsMessage) {
    struct Case {
        const char* name;
        std::function<void(Rig&)> setUp;  // after the preflight
        const char* kind;
        const char* message;
        const char* detail;
    } cases[] = {
        {"game gone", [](Rig&) { app::state().gameFolder.clear(); }, "game-not-found",
         "The launcher couldn't find Oblivion Remastered on this PC.", ""},
        {"unsupported version", [](Rig&) { app::state().gameVersion = "0.400.0.0"; }, "unsupported-version",
         "Your Oblivion Remastered is 0.400.0.0. Emberlane needs 0.411.140.0, 0.412.3.0.", ""},
        {"not writable", [](Rig& r) { r.writable = false; }, "not-writable",
         "Windows is blocking the launcher from changing files in your Oblivion Remastered folder.", "*"},
        {"game running", [](Rig& r) { r.running = true; }, "game-running",
         "Oblivion Remastered is already running. Close it, then press Play again.", ""},
        {"no space", [](Rig& r) { r.free = 10; }, "no-space", "*", ""},
        {"file locked", [](Rig& r) {
             r.applyError = "cannot replace X (is the game running?)";
             r.applyKind = ApplyFault::fileLocked;
         }, "file-locked",
         "A file the update needs is open in another program. Close Oblivion Remastered, and let your antivirus "
         "finish scanning, then press Play again.",
         "Emberlane/Emberlane.dll: cannot replace X (is the game running?)"},
        {"disk filled up", [](Rig& r) {
             r.applyError = "disk write failed for X";
             r.applyKind = ApplyFault::diskFull;
         }, "no-space",
         "Your drive ran out of space part-way through the update. Free some space and press Play again.",
         "Emberlane/Emberlane.dll: disk write failed for X"},
        {"download", [](Rig& r) { r.applyError = "HTTP 404"; }, "download",
         "The client files could not be updated. Check your connection and press Play again.",
         "Emberlane/Emberlane.dll: HTTP 404"},
        // The kind decides, never the words: a failure that reads like a
        // locked file or a full disk is a failed download.
        {"failure worded like a locked file", [](Rig& r) { r.applyError = "cannot replace X, disk write failed for X"; },
         "download", "The client files could not be updated. Check your connection and press Play again.",
         "Emberlane/Emberlane.dll: cannot replace X, disk write failed for X"},
        {"unsafe path refused", [](Rig& r) {
             r.applyError = kUnsafeTarget;
             r.applyKind = ApplyFault::unsafeTarget;
         }, "download",
         "The client files could not be updated: this realm's update names a file outside your game folder, and the "
         "launcher will not write it.",
         "Emberlane/Emberlane.dll: refused: the path leaves the game folder"},
        {"blocked mods", [](Rig& r) { r.mods = {{"a/dinput8.dll", "cheats"}, {"b.pak", "x"}}; }, "blocked-mods",
         "This server does not allow a/dinput8.dll, b.pak.", ""},
        {"sign in needed", [](Rig& r) {
             r.sessionCode = account::ErrorKind::unauthorized;
             app::state().signedIn = true;
             app::state().playWithoutAccount = false;
             app::state().config.characterId = "c1";
         }, "login-required", "Log in to play.", ""},
        {"character gone", [](Rig& r) {
             r.sessionCode = account::ErrorKind::not_found;
             app::state().signedIn = true;
             app::state().playWithoutAccount = false;
             app::state().config.characterId = "c1";
         }, "character-gone",
         "The character you chose is not on this realm any more. The choice has been cleared: press Play again, or "
         "pick a character in the list.", ""},
        {"service unreachable", [](Rig& r) {
             r.sessionCode = account::ErrorKind::transport;
             app::state().signedIn = true;
             app::state().playWithoutAccount = false;
             app::state().config.characterId = "c1";
         }, "offline", "Can't reach Emberlane. Check your connection and try again.", ""},
        {"session refused", [](Rig& r) {
             r.sessionCode = account::ErrorKind::banned;
             app::state().signedIn = true;
             app::state().playWithoutAccount = false;
             app::state().config.characterId = "c1";
         }, "internal", "The account service would not start a session.", ""},
        {"no character", [](Rig&) {
             app::state().signedIn = true;
             app::state().playWithoutAccount = false;
         }, "internal", "Create a character on this realm first.", ""},
        {"offline without client", [](Rig&) { app::state().offline = true; }, "internal",
         "The client is not installed. Use Verify & repair in Settings.", "missing Emberlane/EmberlaneLoader.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.preflight();
        c.setUp(rig);
        rig.play();
        const app::AppState& s = app::state();
        EXPECT_EQ(app::spelling(s.fault.kind), c.kind);
        if (std::string(c.message) != "*") {
            EXPECT_EQ(s.fault.message, c.message);
        }
        if (std::string(c.detail) != "*") {
            EXPECT_EQ(s.fault.detail, c.detail);
        }
        EXPECT_EQ(s.blocker.kind, app::blockerKindFor(s.fault.kind));
        EXPECT_EQ(rig.launches, 0) << "the game started despite a refusal";
        EXPECT_FALSE(s.operation) << "a refused pipeline leaves its progress block";
        EXPECT_NE(rig.log().find(std::string("fault ") + c.kind + ": "), std::string::npos);
    }
}

TEST(Pipeline, NoSpaceSaysHowMuchAndLoginAndCharacterAreUndone) {
    Rig rig;
    rig.release.files[kDll] = std::string(100 << 20, 'x');
    rig.served = rig.release.manifest();
    rig.free = 110u << 20;  // 100 MiB to fetch needs 120 MiB
    rig.preflight();
    rig.play();
    const app::AppState& s = app::state();
    EXPECT_EQ(s.fault.message, "Not enough space in " + rig.game.path() +
                                   " — about 120 MB is needed and 110 MB is free.");
    EXPECT_EQ(s.blocker.neededBytes, uint64_t(((100u << 20) + 9) * 12 / 10));
    EXPECT_EQ(s.blocker.freeBytes, uint64_t(110u << 20));
    EXPECT_EQ(rig.applies, 0);

    app::state().fault = app::Fault();
    rig.free = uint64_t(1) << 40;
    app::state().signedIn = true;
    app::state().playWithoutAccount = false;
    app::state().config.characterId = "c1";
    rig.sessionCode = account::ErrorKind::not_found;
    rig.play();
    EXPECT_TRUE(app::state().config.characterId.empty());
    EXPECT_TRUE(testing::savedConfig().characterId.empty()) << "the cleared character was not saved";
    rig.sessionCode = account::ErrorKind::unauthorized;
    app::state().config.characterId = "c1";
    rig.play();
    EXPECT_FALSE(app::state().signedIn);
    EXPECT_EQ(app::currentNotices().back().title, "Please sign in again.");
}

TEST(Pipeline, PlayInstallsStartsTheGameAndNoticesItsEnd) {
    Rig rig;
    rig.preflight();
    app::startPipeline(false);
    app::startPipeline(false);  // pressed twice quickly
    ASSERT_TRUE(rig.ui.runUntil([] { return !app::state().busy; }));
    const app::AppState& s = app::state();
    ASSERT_EQ(app::spelling(s.fault.kind), "") << s.fault.message << " " << s.fault.detail;
    ASSERT_EQ(s.notices.size(), 1u);
    EXPECT_EQ(s.notices[0].title, "The launcher is already working on that.");
    EXPECT_EQ(rig.launches, 1);
    EXPECT_EQ(rig.fetches, 1) << "Play must not fetch the manifest again";
    EXPECT_EQ(s.operation->title, "Oblivion Remastered is starting");
    EXPECT_EQ(s.config.lastClientVersion, "1.4.2");
    EXPECT_EQ(testing::savedConfig().installed.size(), 2u) << "installed records were not saved";
    std::string ini = fileText(rig.game.file("Emberlane\\ember.ini"));
    EXPECT_NE(ini.find("play.test"), std::string::npos) << ini;
    EXPECT_NE(ini.find("Adventurer"), std::string::npos) << ini;
    EXPECT_NE(ini.find(std::to_string(s.config.profileId)), std::string::npos) << ini;
    EXPECT_GT(s.config.profileId, 0);
    EXPECT_NE(rig.log().find("Emberlane/EmberlaneLoader.exe -> play.test:7777 as Adventurer\n"), std::string::npos);
    // The worker's own lines and its phase titles in the order they happened.
    const std::string log = rig.log();
    const size_t settingsLine = log.find("Writing client settings\n");
    const size_t startLine = log.find("Starting Oblivion Remastered\n");
    EXPECT_LT(settingsLine, startLine) << log;
    EXPECT_LT(startLine, log.find("Emberlane/EmberlaneLoader.exe -> play.test")) << log;

    // Running: Play refuses; the watch notices the end.
    EXPECT_EQ(app::spelling(app::playState()), "running");
    app::startPipeline(false);
    EXPECT_EQ(app::state().notices.back().title,
              "Oblivion Remastered is already running. Close it first, then press Play again.");
    uint64_t at = s.gameWatch.launchedAt;
    // The look at the process list is the install worker's; its answer
    // comes back as a posted closure, which owes the frame that shows it
    // (the loop would sleep to its next deadline otherwise). One look at a
    // time, however many frames pass.
    rig.running = true;
    app::gameWatchFrame(at + 3000);
    EXPECT_TRUE(s.gameWatch.looking);
    ASSERT_TRUE(rig.ui.runUntil([&] { return !s.gameWatch.looking; }));
    EXPECT_EQ(app::spelling(app::playState()), "running");
    rig.running = false;
    app::gameWatchFrame(at + 6000);
    app::gameWatchFrame(at + 6016);
    EXPECT_EQ(app::spelling(app::playState()), "running") << "the UI thread looked at the process list itself";
    ASSERT_TRUE(rig.ui.runUntil([] { return app::playState() == app::PlayState::ready; })) << "the game's end was never shown";
    EXPECT_NE(rig.log().find("the game has closed"), std::string::npos);

    // The finished block goes 1201 ms after it finished, and so does the
    // wait after a refusal at its end.
    const uint64_t finished = s.operation->finishedAt;
    EXPECT_FALSE(app::frameHousekeeping(finished + 1199));
    EXPECT_TRUE(app::frameHousekeeping(finished + 1201)) << "the finished block's end drew no frame";
    EXPECT_FALSE(app::state().operation);
    app::state().accountWaitUntil = finished + 2000;
    app::state().accountBusy = true;
    EXPECT_FALSE(app::tick(finished + 1999));
    EXPECT_TRUE(app::tick(finished + 2000)) << "the wait's end drew no frame";
    EXPECT_FALSE(app::state().accountBusy);
    EXPECT_FALSE(app::tick(finished + 2001));
}

TEST(Pipeline, RepairFixesATamperedFileWithoutStartingAndCancelKeepsWhatWasDone) {
    Rig rig;
    rig.preflight();
    rig.play();
    ASSERT_EQ(rig.launches, 1);
    app::state().gameWatch = GameWatch();  // the game has closed
    // Same size, different bytes: only a full check sees it.
    putFile(rig.game.file("Emberlane\\Emberlane.dll"), std::string("client library v2").substr(0, 17));
    ASSERT_EQ(fileText(rig.game.file("Emberlane\\Emberlane.dll")).size(), rig.release.files[kDll].size());
    rig.play(true);
    EXPECT_EQ(app::spelling(app::state().fault.kind), "");
    EXPECT_EQ(fileText(rig.game.file("Emberlane\\Emberlane.dll")), rig.release.files[kDll]);
    EXPECT_EQ(app::state().operation->title, "Your client files are complete and correct");
    EXPECT_EQ(rig.launches, 1) << "repair started the game";

    // A cancelled apply is only logged, and Play works again afterwards.
    rig.applyError = "cancelled";
    removeFile(rig.game.file("Emberlane\\Emberlane.dll"));
    rig.play();
    EXPECT_EQ(app::spelling(app::state().fault.kind), "");
    EXPECT_TRUE(app::state().notices.empty());
    EXPECT_NE(rig.log().find("\ncancelled\n"), std::string::npos);
    EXPECT_EQ(testing::savedConfig().installed.count(kLoader), 1u) << "a cancel lost the record of a file already installed";
    rig.applyError = "cancelled in a download";
    rig.play();
    EXPECT_EQ(app::spelling(app::state().fault.kind), "") << "a cancel inside a download was shown as " << app::state().fault.message;
}

TEST(Pipeline, IgnoreVersionPlaysAnUnsupportedGame) {
    Rig rig;
    ScopedEnv oldGame("EMBERLANE_GAME_VERSION", std::string("0.400.0.0"));
    rig.preflight();
    EXPECT_EQ(app::spelling(app::playState()), "unsupported");
    EXPECT_EQ(app::playSubline(0), "Your Oblivion Remastered is 0.400.0.0 — Emberlane needs 0.411.140.0 or 0.412.3.0");
    EXPECT_EQ(app::currentNotices().at(0).id, "badversion");
    app::setIgnoreVersion(true);
    EXPECT_EQ(app::currentNotices().back().id, "force");
    rig.play();
    EXPECT_EQ(app::spelling(app::state().fault.kind), "") << app::state().fault.message;
    EXPECT_EQ(rig.launches, 1);
    EXPECT_NE(rig.log().find("the game version check is off"), std::string::npos);
}

TEST(Settings, ChannelAddressAndReset) {
    Rig rig;
    rig.preflight();
    app::setManifestUrl("  ftp://x/manifest.json ");
    EXPECT_EQ(app::state().notices.back().title, "That is not a web address (it starts with https://).");
    EXPECT_EQ(app::state().config.manifestUrl, "https://emberlane-test.invalid/client/manifest.json");
    app::setChannel("dev");
    EXPECT_EQ(app::effectiveManifestUrl(app::state().config),
              "https://emberlane-test.invalid/client/manifest-dev.json");
    EXPECT_TRUE(rig.ui.runUntil([] { return !app::state().preflightRunning; }));
    EXPECT_EQ(testing::savedConfig().channel, "dev");
    app::resetLauncher();
    EXPECT_EQ(app::state().config.channel, "");
    EXPECT_EQ(app::effectiveManifestUrl(app::state().config), app::kDefaultManifestUrl);
    EXPECT_NE(rig.log().find("channel: dev\n"), std::string::npos);
    EXPECT_NE(rig.log().find("the launcher was reset\n"), std::string::npos);
    rig.ui.runUntil([] { return !app::state().preflightRunning; });
    app::restartAsAdministrator();  // refused natively
    EXPECT_EQ(app::state().notices.back().title,
              "Windows didn't allow the restart. Choose Yes on the Windows prompt, or move Oblivion Remastered out of "
              "Program Files.");
}

TEST(Settings, TheSpeedLimitFieldTakesTenthsOfAMegabyteAndRefusesTheRest) {
    struct Case {
        const char* typed;
        const char* problem;  // "" when taken
        uint32_t tenths;
    };
    const Case cases[] = {
        {"", "", 0},
        {"  ", "", 0},
        {"2", "", 20},
        {" 2.5 ", "", 25},
        {"0,5", "", 5},
        {"0.1", "", 1},
        {"1000", "", 10000},
        {"0", app::text::kSpeedLimitTooLow, 0},
        {"0.0", app::text::kSpeedLimitTooLow, 0},
        {"1000.1", app::text::kSpeedLimitTooHigh, 0},
        {"99999999999999999999", app::text::kSpeedLimitTooHigh, 0},
        {"2.55", app::text::kSpeedLimitNotANumber, 0},
        {".5", app::text::kSpeedLimitNotANumber, 0},
        {"2.", app::text::kSpeedLimitNotANumber, 0},
        {"-1", app::text::kSpeedLimitNotANumber, 0},
        {"2 MB/s", app::text::kSpeedLimitNotANumber, 0},
        {"1e3", app::text::kSpeedLimitNotANumber, 0},
        {"\xD9\xA3", app::text::kSpeedLimitNotANumber, 0},  // an Arabic-Indic three
    };
    for (const Case& c : cases) {
        uint32_t tenths = 99;
        EXPECT_EQ(app::speedLimitProblem(c.typed, tenths), c.problem) << c.typed;
        EXPECT_EQ(tenths, c.tenths) << c.typed;
    }
    // Taken: in force for the transfers and saved; refused: the limit in
    // force stays, as does the file.
    Rig rig;
    rig.preflight();
    app::setSpeedLimit("2.5");
    EXPECT_EQ(http::sharedThrottle().rate(), 2621440u);
    app::setSpeedLimit("fast");
    EXPECT_EQ(app::state().notices.back().title, app::text::kSpeedLimitNotANumber);
    EXPECT_EQ(app::state().config.downloadLimitTenths, 25u);
    EXPECT_EQ(http::sharedThrottle().rate(), 2621440u);
    ASSERT_TRUE(testing::installWorkerSettled());
    EXPECT_EQ(testing::savedConfig().downloadLimitTenths, 25u);
    app::setSpeedLimit("");
    EXPECT_EQ(http::sharedThrottle().rate(), 0u);
    rig.ui.runUntil([] { return !app::state().preflightRunning; });
}

TEST(Settings, ASaveThatFailsIsANoticeAndALogLineOnce) {
    Rig rig;
    rig.preflight();
    app::state().notices.clear();
    // config.json cannot be written where a folder of that name stands
    // (once the preflight's own write has landed, or it would stand first).
    ASSERT_TRUE(testing::installWorkerSettled());
    removeFile(configPath());
    ASSERT_TRUE(createDirectories(configPath()));
    app::setChannel("dev");
    app::setChannel("");
    // The writes are the install worker's; what they say reaches the UI
    // thread as posts.
    ASSERT_TRUE(testing::installWorkerSettled());
    rig.ui.drain();
    int shown = 0;
    for (const app::Notice& n : app::state().notices) shown += n.title == app::text::kLauncherSettingsNotSaved;
    EXPECT_EQ(shown, 1) << "a failed save said nothing, or said it twice";
    const std::string log = rig.log();
    EXPECT_NE(log.find("settings: could not write " + configPath()), std::string::npos) << log;
    EXPECT_NE(log.find("settings: could not write", log.find("settings: could not write") + 1), std::string::npos)
        << "every failed save is logged";
    rig.ui.runUntil([] { return !app::state().preflightRunning; });
}

TEST(StartUp, TheCachedManifestStandsInUntilTheFirstCheckAnswers) {
    Rig rig;
    Config saved;
    rig.cache(saved, rig.release.manifest());
    saved.manifestUrl = "https://emberlane-test.invalid/client/manifest.json";
    ASSERT_TRUE(saveConfig(saved));
    app::startUp();
    EXPECT_TRUE(app::state().manifestLoaded);
    EXPECT_TRUE(app::state().offline);
    EXPECT_TRUE(app::state().preflightRunning);
    ASSERT_TRUE(rig.ui.runUntil([] { return app::state().preflightDone; }));
    EXPECT_FALSE(app::state().offline) << "the fresh manifest did not replace the cached one";
    EXPECT_EQ(rig.fetches, 1);
    EXPECT_NE(rig.log().find("launcher 2.1.0 started (this build trusts the stand-in's test signing key)\n"),
              std::string::npos);
}

TEST(PipelineSteps, TheRealBlockedModScanRefusesOnlyForBlockSeverity) {
    // The default steps use the install module's scan: a listed mod that is
    // present stops the game only when its severity is "block".
    ScratchDir game;
    ASSERT_TRUE(createDirectories(game.file("Mods")));
    ASSERT_TRUE(putFile(game.file("dinput8.dll"), "hook"));
    ASSERT_TRUE(putFile(game.file("Mods/reshade.pak"), "look"));
    Manifest manifest;
    manifest.blocked = {{"dinput8.dll", "", "warn", "old hook"}, {"Mods/reshade.pak", "", "block", "cheats"},
                        {"absent.pak", "", "block", "never there"}};
    app::PipelineSteps steps = app::defaultPipelineSteps();
    bool refuse = false;
    std::vector<app::BlockedModFound> found = steps.findBlockedMods(game.path(), manifest, refuse);
    ASSERT_EQ(found.size(), 1u) << "a mod of another severity is not the player's problem";
    EXPECT_EQ(found[0].path, "Mods/reshade.pak");
    EXPECT_EQ(found[0].reason, "cheats");
    EXPECT_TRUE(refuse);
    manifest.blocked.erase(manifest.blocked.begin() + 1);
    found = steps.findBlockedMods(game.path(), manifest, refuse);
    EXPECT_TRUE(found.empty());
    EXPECT_FALSE(refuse);
}

TEST(LauncherActions, DisablingBlockedModsStopsAtTheFirstFailureAndPlaysOnceAllMoved) {
    Rig r;
    for (const char* mod : {"Mods/a.pak", "Mods/b.pak"}) {
        ASSERT_TRUE(createDirectories(parentDir(r.game.file(mod))));
        ASSERT_TRUE(putFile(r.game.file(mod), mod));
    }
    r.mods = {{"Mods/a.pak", "cheats"}, {"Mods/b.pak", "wallhack"}};
    r.preflight();
    r.play();
    ASSERT_EQ(app::spelling(app::state().fault.kind), "blocked-mods");
    // The second cannot be moved: a folder with something in it holds its
    // new name.
    std::string blocker = r.game.file("Mods/b.pak.disabled-by-emberlane");
    ASSERT_TRUE(createDirectories(blocker));
    ASSERT_TRUE(putFile(joinPath(blocker, "keep.txt"), "keep"));

    app::disableBlockedMods();
    app::disableBlockedMods();  // a second click while the first moves changes nothing
    ASSERT_TRUE(r.ui.runUntil([] { return !app::state().movingMods; }));
    EXPECT_EQ(fileText(r.game.file("Mods/a.pak.disabled-by-emberlane")), "Mods/a.pak");
    EXPECT_FALSE(fileExists(r.game.file("Mods/a.pak")));
    EXPECT_EQ(fileText(r.game.file("Mods/b.pak")), "Mods/b.pak");
    ASSERT_FALSE(app::state().notices.empty());
    EXPECT_EQ(app::state().notices.back().title,
              "Could not move that file aside. Close Oblivion Remastered and any mod manager, then try again.");
    EXPECT_NE(r.log().find("disabled Mods/a.pak\n"), std::string::npos);
    EXPECT_FALSE(app::state().busy) << "the game must not start while a blocking mod stays";
    EXPECT_EQ(r.launches, 0);
    // What moved is off the list, so trying again moves only what is left.
    ASSERT_EQ(app::state().blockedMods.size(), 1u);
    EXPECT_EQ(app::state().blockedMods[0].path, "Mods/b.pak");

    std::error_code ignored;
    std::filesystem::remove_all(r.game.path() + "/Mods/b.pak.disabled-by-emberlane", ignored);
    ASSERT_FALSE(fileExists(blocker));
    r.mods.clear();  // the scan before the start finds nothing now
    app::disableBlockedMods();
    ASSERT_TRUE(r.ui.runUntil([] { return !app::state().movingMods; }));
    EXPECT_TRUE(fileExists(r.game.file("Mods/b.pak.disabled-by-emberlane")));
    EXPECT_EQ(app::spelling(app::state().fault.kind), "");
    ASSERT_TRUE(r.ui.runUntil([] { return !app::state().busy; }));
    EXPECT_EQ(app::spelling(app::state().fault.kind), "") << app::state().fault.message;
    EXPECT_EQ(r.launches, 1);
}

TEST(LauncherActions, UpdateAndRestart) {
    struct Case {
        const char* what;
        bool checked, starts;
        const char* error;
        const char* notice;  // empty: the launcher restarts
    } cases[] = {
        {"before the first check", false, true, "", "The launcher hasn't checked for updates yet. Try again in a moment."},
        {"a failure", true, false, "launcher self-update failed: HTTP 404", "The launcher update could not be installed."},
        {"nothing to do", true, false, "", "This launcher is already the published one."},
        {"a new launcher started", true, true, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        r.selfUpdateStarts = c.starts;
        r.selfUpdateError = c.error;
        if (c.checked) r.preflight();
        app::applyLauncherUpdate();
        if (c.checked) {
            EXPECT_TRUE(app::state().busy);
            ASSERT_TRUE(app::state().operation.has_value());
            EXPECT_EQ(app::state().operation->phase, Phase::selfUpdate);
            EXPECT_EQ(app::state().operation->title, "Updating the launcher");
            app::applyLauncherUpdate();
            EXPECT_EQ(app::state().notices.back().title, "The launcher is already working on that.");
            app::state().notices.clear();
            ASSERT_TRUE(r.ui.runUntil([] { return !app::state().busy; }));
            EXPECT_EQ(app::state().config.selfUpdateAttempts, 1) << "the attempt is kept";
            EXPECT_EQ(testing::savedConfig().selfUpdateAttempts, 1);
        }
        if (*c.notice) {
            ASSERT_EQ(app::state().notices.size(), 1u);
            EXPECT_EQ(app::state().notices[0].title, c.notice);
            EXPECT_FALSE(app::state().busy);
            if (*c.error) {
                EXPECT_NE(r.log().find(c.error), std::string::npos);
            }
            continue;
        }
        EXPECT_EQ(app::spelling(app::state().blocker.kind), "restarting");
        const uint64_t t = app::now();
        app::tick(t + 1400);
        EXPECT_FALSE(r.ui.closed);
        app::tick(t + 1600);
        EXPECT_TRUE(r.ui.closed) << "the old launcher closes for its successor";
    }
}

TEST(LauncherActions, ALauncherTooOldForTheManifestUpdatesFromTheRefusedDocument) {
    Rig r;
    const std::string digest(64, 'c');
    std::string newer = r.release.manifest(2);
    newer.insert(1, "\"launcher\": {\"version\": \"2.2.0\", \"url\": \"https://cdn.test/E-2.2.0.exe\", "
                    "\"sha256\": \"" + digest + "\"}, ");
    r.served = newer;
    std::string updatedFrom;
    app::PipelineSteps steps = app::pipelineSteps();
    steps.launcherDigest = [] { return std::string(64, 'b'); };
    steps.selfUpdate = [&](const Manifest& m, Config&, const Reporter&, std::string&) {
        updatedFrom = m.launcherUrl + " " + m.launcherSha256;
        return true;
    };
    app::setPipelineSteps(steps);
    r.preflight();
    ASSERT_EQ(app::spelling(app::state().blocker.kind), "launcher-outdated");
    EXPECT_FALSE(app::state().manifestLoaded);
    EXPECT_TRUE(app::state().launcherUpdateOffered) << "the outdated launcher offers no update";

    app::applyLauncherUpdate();
    ASSERT_TRUE(r.ui.runUntil([] { return !app::state().busy; }));
    for (const app::Notice& n : app::state().notices) {
        EXPECT_NE(n.title, "The launcher hasn't checked for updates yet. Try again in a moment.");
    }
    EXPECT_EQ(updatedFrom, "https://cdn.test/E-2.2.0.exe " + digest);
    EXPECT_EQ(app::spelling(app::state().blocker.kind), "restarting");
}

}  // namespace
}  // namespace ember::launcher

namespace ember::launcher {
namespace {

// A launcher stopped after accepting a manifest, before the UI ever saved
// it, and a stale save after that: neither lets an older manifest in later.
TEST(SignedManifests, AnAcceptanceSurvivesAStopBeforeTheSettingsAreWritten) {
    Rig rig;
    const std::string url = "https://emberlane-test.invalid/client/manifest.json";
    Config before = loadConfig();
    before.manifestUrl = url;
    ASSERT_TRUE(saveConfig(before));

    // Sequence 5 is accepted on the worker; its result never reaches the
    // UI (the launcher is stopped there), and the UI's last write, handed
    // over before, lands after it.
    rig.sequence = 5;
    app::PreflightResult accepted = app::runPreflight(url, before, app::pipelineSteps());
    ASSERT_TRUE(accepted.ok && !accepted.fromCache) << accepted.error;
    ASSERT_TRUE(saveConfig(before));

    // The next start: an older signed manifest is refused, and the copy of
    // the accepted one is what plays.
    Config restarted = loadConfig();
    ASSERT_EQ(restarted.acceptedManifests.count(url), 1u);
    EXPECT_EQ(restarted.acceptedManifests.at(url).sequence, 5u);
    rig.sequence = 4;
    app::PreflightResult older = app::runPreflight(url, restarted, app::pipelineSteps());
    EXPECT_TRUE(older.refused);
    EXPECT_EQ(older.error, "manifest refused: sequence 4 is older than the 5 already accepted");
    EXPECT_TRUE(older.ok && older.fromCache) << "the accepted copy plays";
    EXPECT_EQ(loadConfig().acceptedManifests.at(url).sequence, 5u);

    // The same sequence with other bytes is a fork.
    rig.sequence = 5;
    rig.release.files[kDll] = "client library v2";
    rig.served = rig.release.manifest();
    app::PreflightResult fork = app::runPreflight(url, loadConfig(), app::pipelineSteps());
    EXPECT_EQ(fork.error, "manifest refused: sequence 5 was accepted before with other contents");

    // A reset of the launcher's settings keeps what was accepted.
    app::state().config = loadConfig();
    app::resetLauncher();
    rig.ui.runUntil([] { return !app::state().preflightRunning && app::state().preflightDone; });
    rig.sequence = 4;
    rig.release.files[kDll] = "client library v1";
    rig.served = rig.release.manifest();
    EXPECT_TRUE(app::runPreflight(url, app::state().config, app::pipelineSteps()).refused);
}

}  // namespace
}  // namespace ember::launcher
