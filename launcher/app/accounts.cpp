// The account actions: sign-in and registration, the picture challenge,
// the saved sign-in, resending the activation mail and signing out.
#include "launcher/app/accounts.h"

#include <limits>
#include <memory>

#include "launcher/account/challenge.h"
#include "launcher/account/client.h"
#include "launcher/account/signin.h"
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

constexpr const char kNoServiceLogin[] = "This realm has no account service. Play without an account instead.";
constexpr const char kPictureFailed[] = "The picture could not be fetched. Press New challenge to try another.";
constexpr const char kNewChallengeFailed[] = "A new challenge could not be fetched.";
constexpr const char kCodeMismatch[] =
    "The code you typed does not match the image. A new code is shown; type it and try again.";
constexpr const char kCheckFailed[] = "The check could not be completed. Try again.";
constexpr const char kWelcome[] =
    "You're in. Keep your email and password safe: they are how you sign in on any PC.";

std::string siteHost() { return urlHost(effectiveManifestUrl(state().config)); }

bool stopSolving() { return abortChallenge.load() || stopping.load() || workerRetired(); }



void fieldError(const std::string& key, const std::string& text) {
    state().form.fieldKey = key;
    state().form.fieldError = text;
}

void clearFormFeedback() {
    AccountForm& f = state().form;
    f.fieldKey.clear();
    f.fieldError.clear();
    f.message = FormMessage();
}


// Forgets the session without asking the service (the service already
// refused it, or logout asked it separately).
void signOutLocally() {
    AppState& s = state();
    if (!s.demo) account::forgetSignIn();
    s.signedIn = false;
    s.account = account::Account();
    s.tokens = account::Tokens();
    s.characters = account::CharacterList();
    setCharactersStatus(CharactersStatus::loading);
    s.tab = Tab::login;
    logLine("signed out");
}

void signIn(const account::Account& acc, const account::Tokens& tokens, const std::string& email,
            bool afterRegistration) {
    AppState& s = state();
    s.account = acc;
    s.tokens = tokens;
    s.email = email;
    s.signedIn = true;
    s.playWithoutAccount = false;
    s.pendingActivationEmail.clear();
    if (!s.demo) {
        account::SavedSignIn saved;
        saved.refreshToken = tokens.refreshToken;
        saved.email = email;
        saved.displayName = acc.displayName;
        saved.publicId = acc.publicId;
        saved.profileId = acc.profileId;
        // A failure leaves the player signed in for this run only.
        if (!account::saveSignIn(saved)) logLine("saved sign-in: could not be written");
    }
    s.config.accountEmail = email;
    s.config.accountId = acc.publicId;
    s.config.accountDisplayName = acc.displayName;
    saveSettings();
    logLine("signed in as " + acc.displayName);
    s.tab = Tab::home;
    // The form starts over; anything still running for it is orphaned.
    ++s.accountGeneration;
    std::string keptEmail = s.form.email;
    if (!s.form.captchaFile.empty()) removeFile(s.form.captchaFile);
    s.form = AccountForm();
    s.form.email = keptEmail;
    if (afterRegistration) {
        Notice n;
        n.id = "welcome";
        n.tone = Tone::success;
        n.title = kWelcome;
        s.notices.push_back(n);
    }
    fetchCharactersNow();
}

// The start shared by the busy-label actions: false when refused.
bool canStartBusyAction() {
    const AppState& s = state();
    return !s.accountBusy && !s.demo;
}

// Fetches the picture for `seq` and shows it, unless a newer one was asked for.
void fetchPicture(const ClientPtr& client, uint64_t seq, const std::string& token) {
    std::string dir = configDir();
    runAccountTask([client, seq, token, dir] {
        std::string bytes;
        Error e = client->challengeImage(token, bytes);
        std::string path = joinPath(dir, "captcha-" + std::to_string(seq) + ".png");
        bool written = e.ok() && writeFileAtomic(path, bytes);
        postToUi([seq, path, written] {
            AppState& s = state();
            if (seq != s.captchaSeq) {
                if (written) removeFile(path);  // a newer picture was asked for
                return;
            }
            if (!written) {
                formMessage(Tone::error, kPictureFailed);
                return;
            }
            if (!s.form.captchaFile.empty() && s.form.captchaFile != path) removeFile(s.form.captchaFile);
            if (seq > 1) {
                std::string previous = joinPath(configDir(), "captcha-" + std::to_string(seq - 1) + ".png");
                if (previous != path) removeFile(previous);
            }
            s.form.captchaFile = path;
        });
    });
}

// A fresh challenge for the form's purpose and its picture; `shown` is the
// message once it is there.
void freshChallenge(const std::string& purpose, const std::string& shown) {
    AppState& s = state();
    ClientPtr client = s.client;
    if (!client) {
        formMessage(Tone::error, kNewChallengeFailed);
        return;
    }
    if (!shown.empty()) formMessage(Tone::error, shown);
    uint64_t seq = ++s.captchaSeq;
    runAccountTask([client, purpose, seq] {
        account::Challenge challenge;
        Error e = client->challenge(purpose, challenge);
        postToUi([client, purpose, seq, e, challenge] {
            AppState& ui = state();
            if (seq != ui.captchaSeq) return;
            if (!e.ok()) {
                formMessage(Tone::error, kNewChallengeFailed);
                return;
            }
            AccountForm& f = ui.form;
            if (!f.hasDemand) {
                f.demand = account::Demand();
                f.demand.required = challenge.layers;
            }
            f.hasDemand = true;
            f.demand.challenge = challenge;
            f.purpose = purpose;
            f.code.clear();
            // A proof-of-work alone has no picture: the next try solves it.
            if (!f.demand.needs("visual")) {
                if (!ui.form.message.title.empty()) formMessage(Tone::error, kCheckFailed);
                return;
            }
            uint64_t pictureSeq = ++ui.captchaSeq;
            fetchPicture(client, pictureSeq, challenge.token);
        });
    });
}

// The answer to a demand the player has seen, or nothing to send.
bool answerDemand(bool hasDemand, const account::Demand& demand, const std::string& code, account::Solution& out) {
    if (!hasDemand) return false;
    account::solve(demand, code, out, stopSolving);
    return account::hasAnyPart(out);
}

// The sign-in or registration retried once with a proof-of-work when that
// is all the service asks for.
template <typename Send>
Error withPowRetry(Error e, Send send) {
    if (e.kind != ErrorKind::captcha_required || !e.demand.needs("pow") || e.demand.needs("visual")) return e;
    account::Solution solution;
    if (!account::solve(e.demand, "", solution, stopSolving) || !account::hasAnyPart(solution)) return e;
    return send(&solution);
}

struct AuthAnswer {
    Error error;
    account::Account account;
    account::Tokens tokens;
};

void startAuth(const std::string& label, bool isRegistration, const std::string& email,
               std::function<AuthAnswer()> work) {
    abortChallenge = false;
    runAccountAction(label, [email, isRegistration, work = std::move(work)]() -> Task {
        auto answer = std::make_shared<AuthAnswer>(work());
        return [answer, email, isRegistration] {
            onAuthAnswer(answer->error, answer->account, answer->tokens, email, isRegistration);
        };
    });
}


}  // namespace

std::string errorText(const Error& e) { return std::string(account::errorKindName(e.kind)) + ": " + e.message; }

void formMessage(Tone tone, const std::string& title, const std::string& detail, const std::string& actionLabel,
                 FormAction action) {
    FormMessage& m = state().form.message;
    m = FormMessage();
    m.tone = tone;
    m.title = title;
    m.detail = detail;
    m.actionLabel = actionLabel;
    m.action = action;
}

void setCharactersStatus(CharactersStatus status) {
    AppState& s = state();
    s.charactersStatus = status;
    if (status != CharactersStatus::ok) s.characterCount = s.characters.characters.size();
}

// ---- Sign-in and registration ----

void login(const std::string& email, const std::string& password, const std::string& code) {
    AppState& s = state();
    if (!canStartBusyAction()) return;
    clearFormFeedback();
    if (!s.client) {
        formMessage(Tone::error, kNoServiceLogin);
        return;
    }
    ClientPtr client = s.client;
    bool hasDemand = s.form.hasDemand;
    account::Demand demand = s.form.demand;
    s.form.purpose = "login";
    startAuth("LOGGING IN…", false, email, [=] {
        AuthAnswer a;
        auto send = [&](const account::Solution* solution) {
            return client->login(email, password, solution, a.account, a.tokens);
        };
        account::Solution solution;
        bool answered = answerDemand(hasDemand, demand, code, solution);
        a.error = withPowRetry(send(answered ? &solution : nullptr), send);
        return a;
    });
}

void registerAccount(const std::string& email, const std::string& password, const std::string& displayName,
                     const std::string& code) {
    AppState& s = state();
    if (!canStartBusyAction()) return;
    clearFormFeedback();
    if (!s.client) {
        formMessage(Tone::error, kNoServiceRegister);
        return;
    }
    if (s.form.formLoadedAt == 0) s.form.formLoadedAt = unixSeconds();
    ClientPtr client = s.client;
    bool hasDemand = s.form.hasDemand;
    account::Demand demand = s.form.demand;
    int64_t loadedAt = s.form.formLoadedAt;
    s.form.purpose = "register";
    startAuth("CREATING…", true, email, [=] {
        AuthAnswer a;
        auto send = [&](const account::Solution* solution) {
            return client->registerAccount(email, password, displayName, solution, loadedAt, a.account, a.tokens);
        };
        account::Solution solution;
        bool answered = false;
        if (hasDemand) {
            answered = answerDemand(hasDemand, demand, code, solution);
        } else {
            // Ask for the proof-of-work before the first try.
            account::Challenge challenge;
            if (client->challenge("register", challenge).ok()) {
                account::Demand pow;
                pow.challenge = challenge;
                for (const std::string& layer : challenge.layers) {
                    if (layer == "pow") pow.required.push_back("pow");
                }
                if (!pow.required.empty()) {
                    answered = account::solve(pow, "", solution, stopSolving) && account::hasAnyPart(solution);
                }
            }
        }
        a.error = withPowRetry(send(answered ? &solution : nullptr), send);
        return a;
    });
}

void onAuthAnswer(const Error& e, const account::Account& acc, const account::Tokens& tokens,
                  const std::string& email, bool isRegistration) {
    AppState& s = state();
    if (e.ok()) {
        if (acc.status == "pending") {
            logLine("register: pending activation for " + email);
            s.pendingActivationEmail = email;
            s.form.dropChallenge();
            s.tab = Tab::login;
            formMessage(Tone::success, "Account created", acc.message, "Send the link again", FormAction::resend);
            return;
        }
        signIn(acc, tokens, email, isRegistration);
        return;
    }

    logLine(std::string(isRegistration ? "register: " : "sign in: ") + errorText(e));
    const std::string purpose = isRegistration ? "register" : "login";
    switch (e.kind) {
        case ErrorKind::transport:
        case ErrorKind::service_unavailable:
            formMessage(Tone::info, "Can't reach " + siteHost() + ".", "", "Retry", FormAction::retry);
            break;
        case ErrorKind::invalid_credentials:
            fieldError("password", "That email and password don't match.");
            break;
        case ErrorKind::captcha_required:
            if (e.demand.needs("visual")) {
                askCaptcha(e.demand, purpose);
            } else {
                formMessage(Tone::error, kCheckFailed);
            }
            break;
        case ErrorKind::captcha_failed:
        case ErrorKind::challenge_expired:
            freshChallenge(purpose, kCodeMismatch);
            break;
        case ErrorKind::rate_limited:
        case ErrorKind::account_locked: {
            double seconds = e.retryAfter > 0 ? e.retryAfter : 60;
            s.accountWaitUntil = now() + static_cast<uint64_t>(seconds * 1000.0);
            if (s.accountWaitUntil == 0) s.accountWaitUntil = 1;
            s.accountBusy = true;
            s.accountBusyLabel = "WAITING";
            formMessage(Tone::countdown, e.message);
            break;
        }
        case ErrorKind::banned:
            formMessage(Tone::error, "This account is banned", e.reason.empty() ? "No reason was given." : e.reason);
            if (!e.until.empty()) s.form.message.line = "Until " + e.until;
            s.form.message.actionLabel = "Open the website";
            s.form.message.action = FormAction::openSite;
            break;
        case ErrorKind::email_taken:
            fieldError("email", "That email already has an account.");
            break;
        case ErrorKind::display_name_taken:
            fieldError("name", "That display name is taken.");
            break;
        case ErrorKind::weak_password:
            fieldError("password", e.message.empty() ? "Pick a longer password." : e.message);
            break;
        case ErrorKind::account_pending:
            s.pendingActivationEmail = email;
            formMessage(Tone::warning, "Activate your account first",
                        e.message.empty() ? "Follow the link in the email we sent." : e.message, "Send the link again",
                        FormAction::resend);
            break;
        case ErrorKind::registration_closed:
            formMessage(Tone::warning, "Registration is closed",
                        e.message.empty() ? "New accounts open in rounds; the website says when the next one opens."
                                          : e.message,
                        "Open the website", FormAction::openSite);
            break;
        default:
            formMessage(Tone::error, e.message.empty() ? "Something went wrong."
                                                   : e.message + (e.status != 0 ? " (HTTP " + std::to_string(e.status) + ")"
                                                                                : ""));
            break;
    }
}

// ---- The picture challenge ----

void askCaptcha(const account::Demand& demand, const std::string& purpose) {
    AppState& s = state();
    s.form.hasDemand = true;
    s.form.demand = demand;
    s.form.purpose = purpose;
    s.form.code.clear();
    if (!s.client) {
        formMessage(Tone::error, kPictureFailed);
        return;
    }
    fetchPicture(s.client, ++s.captchaSeq, demand.challenge.token);
}

void newCaptcha() {
    AppState& s = state();
    if (s.demo) return;
    std::string purpose = s.form.purpose.empty() ? "login" : s.form.purpose;
    freshChallenge(purpose, "");
}

// ---- The saved sign-in, resend and sign-out ----

void restoreSession() {
    AppState& s = state();
    if (s.demo || s.signedIn || !s.client || s.restoreAttempted || !canStartBusyAction()) return;
    s.restoreAttempted = true;
    account::SavedSignIn saved;
    if (!account::loadSignIn(saved)) return;
    // The saved sign-in is not sent in clear, and not thrown away for an
    // address that will be mended.
    if (!s.client->secure()) {
        logLine(std::string("saved sign-in: ") + account::kInsecureService);
        formMessage(Tone::error, account::kInsecureService);
        return;
    }
    ClientPtr client = s.client;
    runAccountAction("LOGGING IN…", [client, saved]() -> Task {
        account::Tokens tokens;
        account::Identity identity;
        Error e = client->refresh(saved.refreshToken, tokens);
        // The service has ended the old refresh token: the new one is saved
        // at once, so a failure from here on (or a crash) keeps the player
        // signed in for the next try.
        if (e.ok() && !tokens.refreshToken.empty() && tokens.refreshToken != saved.refreshToken) {
            account::SavedSignIn rotated = saved;
            rotated.refreshToken = tokens.refreshToken;
            if (!account::saveSignIn(rotated)) logLine("saved sign-in: could not be written");
        }
        if (e.ok()) e = client->whoami(tokens.accessToken, identity);
        // A service that does not rotate refresh tokens keeps the old one.
        if (tokens.refreshToken.empty()) tokens.refreshToken = saved.refreshToken;
        return [e, tokens, identity, saved] {
            if (e.ok()) {
                std::string email = identity.email.empty() ? saved.email : identity.email;
                signIn(identity.account, tokens, email, false);
                return;
            }
            logLine("saved sign-in: " + errorText(e));
            if (account::isPassingOutage(e)) {
                formMessage(Tone::info, "Can't reach " + siteHost() + ".", "", "Retry", FormAction::restore);
                state().restoreAttempted = false;  // Retry may try it again
            } else {
                account::forgetSignIn();
            }
        };
    });
}

void resendActivation() {
    AppState& s = state();
    if (s.demo || !s.client || s.pendingActivationEmail.empty() || !canStartBusyAction()) return;
    ClientPtr client = s.client;
    std::string email = s.pendingActivationEmail;
    runAccountAction("SENDING…", [client, email]() -> Task {
        std::string message;
        Error e = client->resendActivation(email, message);
        return [e, message] {
            logLine(std::string("resend activation: ") + account::errorKindName(e.kind));
            if (e.ok()) {
                formMessage(Tone::success, "Link sent", message);
            } else if (e.kind == ErrorKind::rate_limited) {
                formMessage(Tone::warning,
                            e.message.empty() ? "A link was sent recently. Check your inbox and spam folder." : e.message);
            } else {
                formMessage(Tone::error, "The link could not be sent.", e.message, "Retry", FormAction::resend);
            }
        };
    });
}

void logout() {
    AppState& s = state();
    if (s.demo) return;
    if (s.client && !s.tokens.accessToken.empty()) {
        ClientPtr client = s.client;
        account::Tokens tokens = s.tokens;
        runAccountTask([client, tokens] { client->logout(tokens.accessToken, tokens.refreshToken); });
    }
    signOutLocally();
}

}  // namespace ember::launcher::app
