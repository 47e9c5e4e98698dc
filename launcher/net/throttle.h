// The download speed limit: one token bucket that every limited transfer of
// the process draws from, whatever thread it runs on.
//
// A reader reserves the bytes it is about to read (reserve) and reads them
// once the bucket has paid for them (waitMs says how long until then).
// Credit accrues at the current rate and at most `burst` of it may lie
// unused, so over any span T no more than rate * T + burst + one read's
// reservation per reader is let through. The bucket starts empty, so a
// download that begins is held to the rate from its first byte, and a new
// rate applies at once to the reservations still waiting.
#pragma once

#include <cstdint>
#include <mutex>

namespace ember::launcher::http {

class Throttle {
public:
    // 0: no limit. Any thread; waiting reservations go by the new rate.
    void setRate(uint64_t bytesPerSecond, uint64_t nowMs);
    uint64_t rate() const;
    // The most one read may ask for under the current rate (`want` when
    // there is no limit): a tenth of a second's worth, 4 to 16 KiB.
    uint64_t readSize(uint64_t want) const;
    // Reserves `bytes`; the ticket to wait on (0: no limit, read at once).
    uint64_t reserve(uint64_t bytes, uint64_t nowMs);
    // Milliseconds until the ticket is paid for (0: read now).
    uint64_t waitMs(uint64_t ticket, uint64_t nowMs);
    // Bytes reserved but not read (a read that came back shorter, or a
    // transfer that ended while it waited) go back to the bucket.
    void giveBack(uint64_t bytes);

private:
    void refill(uint64_t nowMs);
    mutable std::mutex lock_;
    uint64_t rate_ = 0;
    uint64_t last_ = 0;
    double credit_ = 0;     // bytes paid for since the limit was set
    uint64_t reserved_ = 0; // bytes reserved since then
};

}  // namespace ember::launcher::http
