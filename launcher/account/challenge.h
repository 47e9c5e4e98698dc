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

// How long the solver works on one challenge before it gives up. A sane
// demand takes a second or two; a difficulty of 256, or 40 with a budget of
// 10^19, would otherwise run until the player cancels.
inline constexpr uint32_t kPowTimeLimitMs = 20000;

// Finds the smallest nonce n whose SHA-256(salt bytes + decimal n) starts
// with `difficulty` zero bits. False for an unsupported algorithm, a
// difficulty outside 1..256, an exhausted budget, an expired challenge,
// after `timeLimitMs`, or when `stop` returns true (tested every 65,536
// nonces).
bool solvePow(const Challenge& challenge, uint64_t& nonce, const std::function<bool()>& stop = {},
              uint32_t timeLimitMs = kPowTimeLimitMs);

// Builds the answer to a demand: solves the "pow" layer (stopping when
// `stop` says so, or after `timeLimitMs`) and takes the typed code for the
// "visual" layer. False when the proof-of-work failed (the visual part is
// still filled).
bool solve(const Demand& demand, const std::string& answer, Solution& solution,
           const std::function<bool()>& stop = {}, uint32_t timeLimitMs = kPowTimeLimitMs);

}  // namespace ember::launcher::account
