// The token bucket behind the download speed limit (throttle.h).
#include "launcher/net/throttle.h"

#include <algorithm>
#include <cmath>

namespace ember::launcher::http {

namespace {

// Unused credit may cover a twentieth of a second at most.
constexpr double kBurstSeconds = 0.05;
constexpr uint64_t kSmallestRead = 4096;
// One TLS record. The system sizes a connection's receive buffer by what
// the reader takes at once: small reads keep it (and the bytes a server
// can push ahead of the limit) small.
constexpr uint64_t kLargestRead = 16384;

}  // namespace

void Throttle::refill(uint64_t nowMs) {
    if (nowMs > last_) {
        credit_ += static_cast<double>(rate_) * static_cast<double>(nowMs - last_) / 1000.0;
        last_ = nowMs;
    }
    const double ceiling = static_cast<double>(reserved_) + static_cast<double>(rate_) * kBurstSeconds;
    if (credit_ > ceiling) credit_ = ceiling;
}

void Throttle::setRate(uint64_t bytesPerSecond, uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(lock_);
    if (rate_ != 0) refill(nowMs);
    if (rate_ == 0 || bytesPerSecond == 0) {
        // Switched on (or off): nothing is owed and nothing is saved up.
        credit_ = static_cast<double>(reserved_);
        last_ = nowMs;
    }
    rate_ = bytesPerSecond;
}

uint64_t Throttle::rate() const {
    std::lock_guard<std::mutex> guard(lock_);
    return rate_;
}

uint64_t Throttle::readSize(uint64_t want) const {
    std::lock_guard<std::mutex> guard(lock_);
    if (rate_ == 0) return want;
    return std::min({want, kLargestRead, std::max<uint64_t>(rate_ / 10, kSmallestRead)});
}

uint64_t Throttle::reserve(uint64_t bytes, uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(lock_);
    if (rate_ == 0) return 0;
    refill(nowMs);
    reserved_ += bytes;
    return reserved_;
}

uint64_t Throttle::waitMs(uint64_t ticket, uint64_t nowMs) {
    std::lock_guard<std::mutex> guard(lock_);
    if (rate_ == 0 || ticket == 0) return 0;
    refill(nowMs);
    const double owed = static_cast<double>(ticket) - credit_;
    if (owed <= 0) return 0;
    return static_cast<uint64_t>(std::ceil(owed * 1000.0 / static_cast<double>(rate_)));
}

void Throttle::giveBack(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(lock_);
    if (rate_ == 0) return;
    // Later tickets keep their places; the bytes become credit instead.
    credit_ += static_cast<double>(bytes);
}

}  // namespace ember::launcher::http
