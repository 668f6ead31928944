#pragma once
// Runs part of a test in a chosen time zone and gives the process its own
// zone back afterwards, so that the other tests keep theirs.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace fornax::test {

class TScopedTimeZone {
 public:
  explicit TScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) FOld = old;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TScopedTimeZone() {
    if (FOld)
      ::setenv("TZ", FOld->c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  TScopedTimeZone(const TScopedTimeZone&) = delete;
  TScopedTimeZone& operator=(const TScopedTimeZone&) = delete;

 private:
  std::optional<std::string> FOld;
};

// A zone the system has no data for reads as UTC without a word, which would
// make a failure look like a fault of the engine.
inline ::testing::AssertionResult ZoneIsKnown(int64_t summerMoment, int expectedMinutes) {
  struct tm local {};
  const time_t t = static_cast<time_t>(summerMoment);
  if (localtime_r(&t, &local) != nullptr && local.tm_gmtoff / 60 == expectedMinutes)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the system has no data for the zone " << std::getenv("TZ");
}

}  // namespace fornax::test
