#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// Who may look: HTTP Basic credentials checked against one user and a salted
// crypt(3) hash, the last kCachedCredentials accepted values cached, at most
// kChecksPerSecond hash checks a second for all clients together, and a
// per-address back-off that silences an address after repeated wrong
// credentials. A user with an empty or unusable hash lets nobody in.
// Every call is safe from any thread.
class WebAuth {
public:
    static constexpr int kFreeFailures = 5;
    static constexpr int kFirstBlockMs = 1000;
    static constexpr int kLongestBlockMs = 60000;
    static constexpr int kAddressSlots = 256;
    // User names and passwords hold at most kFieldSize - 1 bytes each.
    static constexpr std::size_t kFieldSize = 256;
    // An Authorization value long enough for both at their longest.
    static constexpr std::size_t kAuthorizationSize = 768;
    static constexpr int kCachedCredentials = 16;
    static constexpr int kChecksPerSecond = 5;
    using Clock = std::chrono::steady_clock;

    // The peer's address as 16 bytes, IPv4 in its IPv6-mapped form; false
    // (and zeros) for a peer without an IP address.
    static bool AddressKey(const sockaddr_storage& peer, uint8_t key[16]);
    // A salted yescrypt hash of password; empty when hashing failed.
    static std::string HashPassword(const char* password);
    // True when some password hashes to hash: a whole crypt(3) hash of a
    // method this system knows ("", "*", a bare salt or junk are not).
    static bool HashUsable(const char* hash);
    // Splits the value of an Authorization header of the Basic scheme into
    // user and password (each zero-terminated, at most kFieldSize - 1 bytes).
    // False for another scheme, bad base64, no ":" or a zero byte.
    static bool ParseBasic(const char* value, char* user, char* password);
    // Compares all of both texts whatever their contents, so the time taken
    // tells nothing about where they differ.
    static bool ConstantTimeEquals(const char* a, std::size_t aLength, const char* b, std::size_t bLength);

    // An empty user with an empty hash switches authentication off; forgets
    // the cached credentials.
    void SetCredentials(const char* user, const char* passwordHash);
    bool Enabled() const;
    // False when authentication is on but no password can ever match.
    bool Usable() const;

    enum class Verdict { kAccepted, kRefused, kOverBudget };
    // Whether the Authorization value names the user with the right password.
    // Values accepted lately pass at once; any other that needs a hash check
    // beyond this second's budget is kOverBudget, unchecked.
    Verdict Check(const char* authorization, Clock::time_point now = Clock::now());
    bool Accepts(const char* authorization) { return Check(authorization) == Verdict::kAccepted; }

    // The back-off by the peer's address: Blocked while an address is to get
    // no answer; a failure counts wrong credentials, a success clears them.
    bool Blocked(const sockaddr_storage& peer, Clock::time_point now = Clock::now());
    void RecordFailure(const sockaddr_storage& peer, Clock::time_point now = Clock::now());
    void RecordSuccess(const sockaddr_storage& peer);

private:
    struct Address {
        uint8_t key[16] = {};
        bool used = false;
        int failures = 0;
        Clock::time_point blockedUntil{};
        Clock::time_point lastSeen{};
    };

    bool CheckPassword(const char* password, const char* hash) const;
    // True when authentication is off or authorization is among the accepted values.
    bool Cached(const char* authorization, std::size_t length);
    // Under mutex_: takes one check from the budget of the last second.
    bool TakeCheck(Clock::time_point now);
    Address* FindAddress(const uint8_t key[16]);
    // The address's entry, a new one when it has none; nullptr when every entry is locked.
    Address* TakeAddress(const uint8_t key[16], Clock::time_point now);

    mutable std::mutex mutex_;
    std::mutex checkMutex_;
    char user_[kFieldSize] = {};
    char hash_[kFieldSize] = {};
    bool enabled_ = false;
    bool usable_ = true;
    // The Authorization values last accepted, as they came; the oldest goes first.
    struct Accepted {
        char value[kAuthorizationSize] = {};
        std::size_t length = 0;
    };
    Accepted accepted_[kCachedCredentials];
    int nextAccepted_ = 0;
    // When the last kChecksPerSecond hash checks began, the oldest at nextCheck_.
    Clock::time_point checks_[kChecksPerSecond]{};
    int nextCheck_ = 0;
    // Counts credential changes, so a check that raced one caches nothing.
    uint64_t generation_ = 0;
    Address addresses_[kAddressSlots];
};
