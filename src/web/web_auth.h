#pragma once

#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

// Who may look: HTTP Basic credentials checked against one user and a salted
// crypt(3) hash, the last accepted credentials cached, and a per-address
// back-off that silences an address after repeated wrong credentials.
// Every call is safe from any thread.
class WebAuth {
public:
    static constexpr int kFreeFailures = 5;
    static constexpr int kFirstBlockMs = 1000;
    static constexpr int kLongestBlockMs = 60000;
    static constexpr int kAddressSlots = 64;
    static constexpr std::size_t kFieldSize = 256;
    using Clock = std::chrono::steady_clock;

    // A salted yescrypt hash of password; empty when hashing failed.
    static std::string HashPassword(const char* password);
    // Splits the value of an Authorization header of the Basic scheme into
    // user and password (each zero-terminated, at most kFieldSize - 1 bytes).
    // False for another scheme, bad base64, no ":" or a zero byte.
    static bool ParseBasic(const char* value, char* user, char* password);
    // Compares all of both texts whatever their contents, so the time taken
    // tells nothing about where they differ.
    static bool ConstantTimeEquals(const char* a, std::size_t aLength, const char* b, std::size_t bLength);

    // An empty hash switches authentication off; forgets the cached credentials.
    void SetCredentials(const char* user, const char* passwordHash);
    bool Enabled() const;
    // True when the Authorization value names the user with the right password.
    bool Accepts(const char* authorization);

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
    // True when authentication is off or authorization is the last accepted value.
    bool Cached(const char* authorization, std::size_t length);
    Address* FindAddress(const uint8_t key[16]);
    Address& TakeAddress(const uint8_t key[16], Clock::time_point now);

    mutable std::mutex mutex_;
    std::mutex checkMutex_;
    char user_[kFieldSize] = {};
    char hash_[kFieldSize] = {};
    // The Authorization value last accepted, as it came.
    char accepted_[kFieldSize] = {};
    std::size_t acceptedLength_ = 0;
    // Counts credential changes, so a check that raced one caches nothing.
    uint64_t generation_ = 0;
    Address addresses_[kAddressSlots];
};
