// The application state the screens read every frame. Only the UI thread
// reads or writes it; workers get copies and hand closures back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "launcher/account/records.h"
#include "launcher/formats/config.h"
#include "launcher/formats/manifest.h"
#include "launcher/install/client_settings.h"
#include "launcher/install/plan.h"
#include "launcher/app/kinds.h"

namespace ember::launcher::account {
class Client;
}

namespace ember::launcher::app {

// The progress block of the running or just-finished install operation.
// What the last preflight's plan found, without reading any file: whether
// the client is up to date and what an update would fetch and remove.
struct QuietPlan {
    bool known = false;
    bool upToDate = false;
    uint64_t downloadBytes = 0;
    size_t downloadCount = 0;
    size_t removeCount = 0;
    std::vector<ManifestFile> downloadList;
};

// Whether the chosen realm's character list is in.
enum class CharactersStatus { loading, ok, error };

struct Operation {
    // What is being done.
    Phase phase = Phase::manifest;
    std::string title;

    // How far it got.
    int32_t step = 0;
    int32_t steps = 0;
    uint64_t bytesDone = 0;
    uint64_t bytesTotal = 0;
    double bytesPerSecond = 0;
    double etaSeconds = 0;
    bool indeterminate = false;
    // The speed limit in force (bytes a second, 0: none): the rate shown
    // never exceeds it, whatever a burst of buffered bytes suggests.
    double rateCap = 0;
    // Files and bytes this operation finished before it was last resumed;
    // the block counts them in, so the bar goes on from where it stood.
    int32_t carriedSteps = 0;
    uint64_t carriedBytes = 0;

    // When it began and ended, and the last rate sample.
    bool finished = false;
    uint64_t startedAt = 0;
    uint64_t finishedAt = 0;
    uint64_t sampleAt = 0;
    uint64_t sampleBytes = 0;
};

// One strip on the home page.
struct Notice {
    std::string id;
    Tone tone = Tone::info;  // error, warning, success or info
    std::string title;
    std::string detail;
    std::string actionLabel;  // the button's text; empty: no button
    NoticeAction action = NoticeAction::none;  // what the button does
    bool flag = false;
};

// A blocked mod found in the game folder.
struct BlockedModFound {
    std::string path;
    std::string reason;
};

// What a full-window refusal screen shows; the screens add titles and
// buttons by kind.
struct Blocker {
    BlockerKind kind = BlockerKind::none;
    std::string body;
    std::string detail;
    std::string version;
    std::string helpUrl;
    std::vector<std::string> supportedVersions;
    std::string path;
    std::string drive;
    uint64_t neededBytes = 0;
    uint64_t freeBytes = 0;
    std::vector<BlockedModFound> mods;
    std::vector<std::string> searched;
};

// Every refusal the player sees.
struct Fault {
    FaultKind kind = FaultKind::none;
    std::string message;
    std::string detail;
    Blocker blocker;
};

// A message on the sign-in or registration form. A plain form error is one
// with tone error and only a title.
struct FormMessage {
    Tone tone = Tone::error;  // countdown during a wait
    std::string title;
    std::string detail;
    std::string line;         // an extra line ("Until ...")
    std::string actionLabel;  // empty: no button
    FormAction action = FormAction::none;
};

// The sign-in and registration form.
struct AccountForm {
    // What was typed.
    std::string email;
    std::string password;
    std::string displayName;
    std::string code;  // the picture code

    // The challenge the service asked for, and its picture.
    bool hasDemand = false;
    account::Demand demand;
    std::string purpose;      // "login" or "register"
    std::string captchaFile;  // the picture shown (captcha-<n>.png)

    // One field's error ("email", "password" or "name") and the message.
    std::string fieldKey;
    std::string fieldError;
    FormMessage message;

    int64_t formLoadedAt = 0;  // Unix seconds of the first registration submit

    void dropChallenge() {
        hasDemand = false;
        demand = account::Demand();
        code.clear();
    }
};

// One single-line text field (email, password, realm search, ...), kept
// by field id for the life of the process. The text-field pass edits it
// once a frame before the screens are built.
struct FieldState {
    std::string text;       // UTF-8
    size_t caret = 0;       // byte offset, always on a code-point boundary
    bool selectAll = false; // the only selection there is covers the whole text
    // Refreshed every frame from the field's options.
    bool readOnly = false;
    bool secret = false;
    int32_t maxLength = INT32_MAX;  // code points
    // A secret field whose reveal eye is open (it stays open until clicked again).
    bool revealed = false;
};

// The sign-in form's own memory: the checks' complaints (each shown while
// its field still holds the text it was about), the age box, and when the
// current busy spell began.
struct FormComplaint {
    std::string text, forText;
};
struct AuthView {
    std::map<std::string, FormComplaint> errors;  // by field id
    bool olderThan13 = false;
    bool ageError = false;
    uint64_t busySince = 0;
    std::string busyLabel;
    uint64_t shownInFrame = 0;  // the toolkit frame that last drew the form
    bool registering = false;   // which form it drew
};

// The refusal screen's memory: which explanation is unfolded, for the
// refusal it was unfolded on.
struct BlockerView {
    BlockerKind kind = BlockerKind::none;  // the refusal these flags belong to: its kind and details
    std::string details;
    bool detailsOpen = false;
    bool hintOpen = false;  // "Where is it usually?" / "Why does this happen?"
    size_t noticeMark = 0;  // notices pushed from here on are this screen's
};

// What an open dialog remembers between frames. A callback from the
// controller finds its dialog by `generation`: once the dialog was closed
// (or another opened) a late answer changes nothing.
struct ModalView {
    ModalKind open = ModalKind::none;  // the dialog these belong to
    uint64_t generation = 0;
    bool working = false;     // a create or delete is on its way
    std::string error;        // shown in the dialog's field
    std::string errorFor;     // the field text the error was about
    bool checking = false;    // "Is it free?" is asking
    std::string nameNote;     // its answer
    bool nameFree = false;    // the answer says the name can be had
    std::string nameNoteFor;  // for this name
    bool stopping = false;    // "Stop and close": waiting for the update to stop
    uint64_t stopDeadline = 0;
};

// What the screens keep between frames: the view flags and the screens'
// memories. Screens read the rest of AppState only, and change it through
// the controller's operations.
struct ViewState {
    std::string scene;      // the demo scene ("" outside demo mode)
    ModalKind openModal = ModalKind::none;
    bool advancedOpen = false;

    // Text fields and focus.
    std::map<std::string, FieldState> fields;
    std::string focus;          // the focused field's id ("" when none)
    uint64_t lastActivity = 0;  // frame time of the last focus change or edit
    // The text-field pass's outputs for this frame.
    std::string submitted;      // the field Enter was pressed in
    bool enterPressed = false;  // Enter with no field focused
    bool escapePressed = false; // Escape with no field focused
    // The keyboard over the other elements (launcher/kit/focus.h).
    uint64_t keyFocus = 0;     // the element identity the keyboard is on when no field has it
    uint64_t focusOpener = 0;  // what had the keyboard when the open dialog opened
    bool focusRing = false;    // the keyboard moved since the last click: the ring shows
    bool layerOpen = false;    // a dialog was open in the last frame

    // Requests the window carries out after the frame.
    bool minimiseRequested = false;
    bool quitRequested = false;
    bool pickFolderRequested = false;  // the folder picker (it runs a message loop of its own)

    // The screens' small memories: when a copy button's "Copied" ends (by
    // button id), and the message shown under a field (by field id).
    std::map<std::string, uint64_t> copiedUntil;
    std::map<std::string, std::string> fieldNotes;

    // The screens' own memories, one per screen.
    AuthView auth;
    BlockerView blocker;
    ModalView modal;
    uint64_t modalsOpened = 0;     // the last dialog's generation
    bool advancedWasOpen = false;  // the Advanced section in the last settings build
};

struct AppState {
    // Set once by init.
    std::string version;
    bool demo = false;

    // The install operation (one at a time) and its progress block.
    bool busy = false;
    bool repair = false;
    std::optional<Operation> operation;
    std::vector<Notice> notices;
    // A paused download keeps its progress block (operation) while nothing
    // runs; pausedRepair says what Resume starts again. A resumed run's
    // first byte count learns from resumeSteps and resumeBytes (the paused
    // block's totals) what the earlier runs finished.
    Pause pause = Pause::none;
    bool pausedRepair = false;
    int32_t resumeSteps = 0;
    uint64_t resumeBytes = 0;

    // Account-task bookkeeping.
    bool accountBusy = false;
    std::string accountBusyLabel;
    uint64_t accountGeneration = 0;
    uint64_t accountWaitUntil = 0;

    // Settings and the manifest.
    Config config;
    bool manifestLoaded = false;
    bool manifestFailed = false;
    bool offline = false;  // the manifest came from the cache
    bool manifestRefused = false;  // the fresh one failed its signature check
    std::string manifestError;
    Manifest manifest;

    // Preflight bookkeeping.
    bool preflightRunning = false;
    bool preflightWanted = false;
    bool preflightDone = false;

    // The game.
    std::vector<std::string> searched;
    std::string gameFolder;
    std::string gameVersion;
    bool gameWritable = false;
    bool supported = false;
    GameWatch gameWatch;

    // The launcher's own build and the update offer. `launcherBuild` holds
    // the launcher block of the manifest in effect, or of one refused for a
    // schema too new for this launcher (which can only be left by updating).
    std::string launcherDigest;
    bool launcherUpdateOffered = false;
    Manifest launcherBuild;

    // The quiet plan.
    QuietPlan plan;

    // The fault shown, and the blocker screen (a pipeline blocker such as
    // "restarting" may stand without a fault).
    Fault fault;
    Blocker blocker;
    std::vector<BlockedModFound> blockedMods;
    // The install worker is moving them aside ("Disable it and play").
    bool movingMods = false;

    // The page the player chose.
    Tab tab = Tab::none;

    // The account service (filled by the account actions).
    bool accountsActive = false;
    std::shared_ptr<const account::Client> client;
    bool signedIn = false;
    bool playWithoutAccount = false;
    account::Account account;
    account::Tokens tokens;
    std::string email;
    AccountForm form;
    uint64_t captchaSeq = 0;
    std::string pendingActivationEmail;  // a registration waiting for its mail
    bool restoreAttempted = false;

    // Realms.
    std::vector<account::Realm> realms;
    bool realmsLoading = false;
    bool realmsLoaded = false;
    bool realmsError = false;
    bool realmsStale = false;  // a failed refresh: the list shown is the last good one
    bool realmsInFlight = false;
    uint64_t realmsFetchedAt = 0;   // tick of the last fetch
    int64_t realmsGoodAt = 0;       // Unix seconds of the last good answer
    std::string realmKey;           // the chosen realm

    // Characters on the chosen realm. The local character id for playing
    // without an account is config.profileId.
    account::CharacterList characters;
    CharactersStatus charactersStatus = CharactersStatus::loading;
    bool charactersInFlight = false;
    size_t characterCount = 0;

    // The window should close at this tick (0: not asked).
    uint64_t closeAt = 0;

    // The screens' own flags.
    ViewState view;
};

}  // namespace ember::launcher::app
