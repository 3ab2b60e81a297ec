// Alarm thresholds from Poisson statistics: how many counts a sliding window may hold before a
// rise is more likely than a fluctuation of the background.
#pragma once

#include <cstdint>

namespace norvane::alarm {

// The chance, at one step of a window of `seconds` sliding by a second over a Poisson background
// of `rate` counts a second, that its sum reaches `threshold` having been below it a second
// before. An alarm raised at such an up-crossing, not at every second above the threshold, is
// what a user counts as one false alarm.
// A window that is still filling (after a start, a resume or a gap) gained its newest second
// without losing one, so nothing that left can offset what came: `filling` asks for that
// step's chance, which is higher, most of all for the first seconds of a busy counter.
double UpCrossingChance(double rate, int seconds, uint32_t threshold, bool filling = false);

// The least threshold whose up-crossing chance is at most `chance`.
uint32_t ThresholdFor(double rate, int seconds, double chance, bool filling = false);

// A rate the background stays below with probability 1 - `tail`, having seen `counts` in
// `seconds` (the chi-square bound of the Poisson mean, in Wilson and Hilferty's closed form).
// A station that has measured little gets a high bound and so alarms late rather than falsely.
double RateUpperBound(uint64_t counts, double seconds, double tail);

}  // namespace norvane::alarm
