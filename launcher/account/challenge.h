// The anti-abuse challenge: its JSON both ways and the proof-of-work solver.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "launcher/account/records.h"
#include "launcher/formats/json.h"

namespace ember::launcher::account {

Challenge challengeFromJson(const JsonValue& object);
// The value of "captcha": {"pow":{"token","n"}} and/or {"visual":{"token",
// "answer"}}. A solution with neither part has no JSON (null).
JsonValue solutionToJson(const Solution& solution);
bool hasAnyPart(const Solution& solution);

// Finds the smallest nonce n whose SHA-256(salt bytes + decimal n) starts
// with `difficulty` zero bits. False for an unsupported algorithm, a
// difficulty outside 1..256, an exhausted budget, an expired challenge or
// when `stop` returns true (both tested every 65,536 nonces).
bool solvePow(const Challenge& challenge, uint64_t& nonce, const std::function<bool()>& stop = {});

// Builds the answer to a demand: solves the "pow" layer (stopping when
// `stop` says so) and takes the typed code for the "visual" layer. False
// when the proof-of-work failed (the visual part is still filled).
bool solve(const Demand& demand, const std::string& answer, Solution& solution,
           const std::function<bool()>& stop = {});

}  // namespace ember::launcher::account
