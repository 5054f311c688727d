#pragma once

#include <ctime>

// The year of a local time as the program writes it in names and the date
// stamp: two digits, 00..99 (the years 2000 to 2099 read back from them).
inline int TwoDigitYear(const std::tm& local) { return local.tm_year % 100; }
inline int TmYearOfTwoDigits(int twoDigits) { return twoDigits + 100; }

// Wall-clock seconds (C time), replaceable in tests.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::time_t Now() const = 0;
};

class SystemClock final : public Clock {
public:
    std::time_t Now() const override { return std::time(nullptr); }
    // The process-wide clock used when a module is given none.
    static Clock& Instance() {
        static SystemClock clock;
        return clock;
    }
};

// A clock that tests set by hand.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::time_t now = 0) : now_(now) {}
    std::time_t Now() const override { return now_; }
    void Set(std::time_t now) { now_ = now; }
    void Advance(std::time_t seconds) { now_ += seconds; }

private:
    std::time_t now_;
};
