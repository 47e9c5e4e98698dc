// The anti-abuse challenge as the account service sends it, and the answer
// as the launcher sends it back (the "captcha" member of a sign-in or a
// registration).
#include <cstdint>
#include <limits>

#include "launcher/account/challenge.h"
#include "launcher/account/json_read.h"

namespace ember::launcher::account {

Challenge challengeFromJson(const JsonValue& object) {
    Challenge challenge;
    challenge.token = getString(object, "token");
    challenge.alg = getString(object, "alg");
    challenge.salt = getString(object, "salt");
    challenge.purpose = getString(object, "purpose");
    challenge.answerMode = getString(object, "answerMode");
    challenge.difficulty = static_cast<uint32_t>(getUnsigned(object, "difficulty", UINT32_MAX));
    challenge.maxIters = getUnsigned(object, "maxIters", UINT64_MAX);
    challenge.expiresAt = getInt(object, "expiresAt");
    const JsonValue& layers = member(object, "layers");
    for (const JsonValue& layer : layers.items) challenge.layers.push_back(layer.asString());
    return challenge;
}

bool hasAnyPart(const Solution& solution) { return solution.hasPow || solution.hasVisual; }

JsonValue solutionToJson(const Solution& solution) {
    JsonValue out;
    if (!hasAnyPart(solution)) return out;
    out = JsonValue::makeObject();
    if (solution.hasPow) {
        JsonValue pow = JsonValue::makeObject();
        set(pow, "token", JsonValue::makeString(solution.powToken));
        // Nonces beyond 2^63 cannot be exact integers here; they go as the
        // nearest double (no real budget reaches them).
        set(pow, "n", solution.powN <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                          ? JsonValue::makeInt(static_cast<int64_t>(solution.powN))
                          : JsonValue::makeNumber(static_cast<double>(solution.powN)));
        set(out, "pow", std::move(pow));
    }
    if (solution.hasVisual) {
        JsonValue visual = JsonValue::makeObject();
        set(visual, "token", JsonValue::makeString(solution.visualToken));
        set(visual, "answer", JsonValue::makeString(solution.visualAnswer));
        set(out, "visual", std::move(visual));
    }
    return out;
}

}  // namespace ember::launcher::account
