#include "web/web_auth.h"

#include <crypt.h>
#include <netinet/in.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// Decodes standard base64 (padding optional) into out; -1 when malformed or too long.
int DecodeBase64(const char* in, std::size_t length, char* out, std::size_t size) {
    while (length > 0 && in[length - 1] == '=') --length;
    if (length % 4 == 1) return -1;
    std::size_t produced = 0;
    uint32_t bits = 0;
    int held = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const int value = Base64Value(in[i]);
        if (value < 0) return -1;
        bits = (bits << 6) | static_cast<uint32_t>(value);
        held += 6;
        if (held >= 8) {
            held -= 8;
            if (produced >= size) return -1;
            out[produced++] = static_cast<char>((bits >> held) & 0xff);
        }
    }
    return static_cast<int>(produced);
}

}  // namespace

bool WebAuth::AddressKey(const sockaddr_storage& peer, uint8_t key[16]) {
    // IPv4 addresses are keyed as their IPv6-mapped form, so both listeners agree.
    std::memset(key, 0, 16);
    if (peer.ss_family == AF_INET6) {
        std::memcpy(key, &reinterpret_cast<const sockaddr_in6&>(peer).sin6_addr, 16);
        return true;
    }
    if (peer.ss_family != AF_INET) return false;
    key[10] = 0xff;
    key[11] = 0xff;
    std::memcpy(key + 12, &reinterpret_cast<const sockaddr_in&>(peer).sin_addr, 4);
    return true;
}

std::string WebAuth::HashPassword(const char* password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting)) return {};
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_r(password, setting, data.get());
    if (!hash || hash[0] != '$' || std::strlen(hash) >= kFieldSize) return {};
    return hash;
}

bool WebAuth::HashUsable(const char* hash) {
    const std::size_t length = hash ? std::strlen(hash) : 0;
    if (length == 0 || length >= kFieldSize) return false;
    auto data = std::make_unique<crypt_data>();
    // A whole hash hashes any password to one of its own length and setting;
    // a bare salt gives a longer one, an unknown method or junk none at all.
    const char* computed = crypt_r("", hash, data.get());
    if (!computed || computed[0] == '*' || std::strlen(computed) != length) return false;
    const char* settingEnd = std::strrchr(hash, '$');
    const std::size_t setting = settingEnd ? static_cast<std::size_t>(settingEnd - hash) : 2;
    return std::memcmp(computed, hash, std::min(setting, length)) == 0;
}

bool WebAuth::ParseBasic(const char* value, char* user, char* password) {
    user[0] = '\0';
    password[0] = '\0';
    if (strncasecmp(value, "Basic", 5) != 0 || (value[5] != ' ' && value[5] != '\t')) return false;
    const char* token = value + 5;
    while (*token == ' ' || *token == '\t') ++token;
    std::size_t length = std::strlen(token);
    while (length > 0 && (token[length - 1] == ' ' || token[length - 1] == '\t')) --length;
    char decoded[2 * kFieldSize];
    const int bytes = DecodeBase64(token, length, decoded, sizeof decoded - 1);
    if (bytes < 0) return false;
    decoded[bytes] = '\0';
    if (std::strlen(decoded) != static_cast<std::size_t>(bytes)) return false;
    const char* colon = std::strchr(decoded, ':');
    if (!colon) return false;
    const std::size_t userLength = static_cast<std::size_t>(colon - decoded);
    if (userLength >= kFieldSize || std::strlen(colon + 1) >= kFieldSize) return false;
    std::memcpy(user, decoded, userLength);
    user[userLength] = '\0';
    std::strcpy(password, colon + 1);
    return true;
}

bool WebAuth::ConstantTimeEquals(const char* a, std::size_t aLength, const char* b, std::size_t bLength) {
    unsigned difference = aLength == bLength ? 0u : 1u;
    const std::size_t longest = std::max(aLength, bLength);
    for (std::size_t i = 0; i < longest; ++i) {
        const unsigned char x = i < aLength ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < bLength ? static_cast<unsigned char>(b[i]) : 0;
        difference |= static_cast<unsigned>(x ^ y);
    }
    return difference == 0;
}

void WebAuth::SetCredentials(const char* user, const char* passwordHash) {
    std::lock_guard guard(mutex_);
    std::snprintf(user_, sizeof user_, "%s", user ? user : "");
    const char* hash = passwordHash ? passwordHash : "";
    std::snprintf(hash_, sizeof hash_, "%s", hash);
    enabled_ = user_[0] != '\0' || hash_[0] != '\0';
    // A hash cut to fit is unusable too.
    usable_ = !enabled_ || (std::strlen(hash) < kFieldSize && HashUsable(hash_));
    for (Accepted& accepted : accepted_) accepted = Accepted{};
    nextAccepted_ = 0;
    ++generation_;
}

bool WebAuth::Enabled() const {
    std::lock_guard guard(mutex_);
    return enabled_;
}

bool WebAuth::Usable() const {
    std::lock_guard guard(mutex_);
    return usable_;
}

bool WebAuth::CheckPassword(const char* password, const char* hash) const {
    auto data = std::make_unique<crypt_data>();
    const char* computed = crypt_r(password, hash, data.get());
    if (!computed || computed[0] == '*') return false;
    return ConstantTimeEquals(computed, std::strlen(computed), hash, std::strlen(hash));
}

bool WebAuth::Cached(const char* authorization, std::size_t length) {
    std::lock_guard guard(mutex_);
    if (!enabled_) return true;
    // Every entry is compared, so the time taken tells nothing about which matched.
    bool found = false;
    for (const Accepted& accepted : accepted_) {
        found |= accepted.length > 0 &&
                 ConstantTimeEquals(authorization, length, accepted.value, accepted.length);
    }
    return found;
}

bool WebAuth::TakeCheck(Clock::time_point now) {
    Clock::time_point& oldest = checks_[nextCheck_];
    if (oldest != Clock::time_point{} && now - oldest < std::chrono::seconds(1)) return false;
    oldest = now;
    nextCheck_ = (nextCheck_ + 1) % kChecksPerSecond;
    return true;
}

WebAuth::Verdict WebAuth::Check(const char* authorization, Clock::time_point now) {
    const std::size_t length = std::strlen(authorization);
    if (Cached(authorization, length)) return Verdict::kAccepted;
    char givenUser[kFieldSize];
    char givenPassword[kFieldSize];
    if (!ParseBasic(authorization, givenUser, givenPassword)) return Verdict::kRefused;
    {
        std::lock_guard guard(mutex_);
        if (!usable_) return Verdict::kRefused;
        // Wrong guesses from many addresses together cost at most this many hashes a second.
        if (!TakeCheck(now)) return Verdict::kOverBudget;
    }
    // One password hash at a time: each takes megabytes, and a crowd of wrong
    // guesses must not take them all at once.
    std::lock_guard checking(checkMutex_);
    if (Cached(authorization, length)) return Verdict::kAccepted;
    char user[kFieldSize];
    char hash[kFieldSize];
    uint64_t generation = 0;
    {
        std::lock_guard guard(mutex_);
        std::memcpy(user, user_, sizeof user);
        std::memcpy(hash, hash_, sizeof hash);
        generation = generation_;
    }
    // The password is hashed even for a wrong user, so the time taken does not tell which was wrong.
    const bool userMatches = ConstantTimeEquals(givenUser, std::strlen(givenUser), user, std::strlen(user));
    const bool passwordMatches = CheckPassword(givenPassword, hash);
    if (!userMatches || !passwordMatches) return Verdict::kRefused;
    std::lock_guard guard(mutex_);
    if (generation == generation_ && length < kAuthorizationSize) {
        Accepted& accepted = accepted_[nextAccepted_];
        std::memcpy(accepted.value, authorization, length + 1);
        accepted.length = length;
        nextAccepted_ = (nextAccepted_ + 1) % kCachedCredentials;
    }
    return Verdict::kAccepted;
}

WebAuth::Address* WebAuth::FindAddress(const uint8_t key[16]) {
    for (Address& address : addresses_) {
        if (address.used && std::memcmp(address.key, key, 16) == 0) return &address;
    }
    return nullptr;
}

WebAuth::Address* WebAuth::TakeAddress(const uint8_t key[16], Clock::time_point now) {
    if (Address* known = FindAddress(key)) return known;
    // A full table gives up the address not heard from for the longest time,
    // but never one still locked out; when all are, the newcomer goes
    // uncounted (the check budget still holds it back).
    Address* oldest = nullptr;
    for (Address& address : addresses_) {
        if (!address.used) {
            oldest = &address;
            break;
        }
        if (now < address.blockedUntil) continue;
        if (!oldest || address.lastSeen < oldest->lastSeen) oldest = &address;
    }
    if (!oldest) return nullptr;
    *oldest = Address{};
    std::memcpy(oldest->key, key, 16);
    oldest->used = true;
    oldest->lastSeen = now;
    return oldest;
}

bool WebAuth::Blocked(const sockaddr_storage& peer, Clock::time_point now) {
    uint8_t key[16];
    AddressKey(peer, key);
    std::lock_guard guard(mutex_);
    const Address* address = FindAddress(key);
    return address && now < address->blockedUntil;
}

void WebAuth::RecordFailure(const sockaddr_storage& peer, Clock::time_point now) {
    uint8_t key[16];
    AddressKey(peer, key);
    std::lock_guard guard(mutex_);
    Address* address = TakeAddress(key, now);
    if (!address) return;
    address->lastSeen = now;
    ++address->failures;
    if (address->failures < kFreeFailures) return;
    const int doublings = std::min(address->failures - kFreeFailures, 6);
    const int blockMs = std::min(kFirstBlockMs << doublings, kLongestBlockMs);
    address->blockedUntil = now + std::chrono::milliseconds(blockMs);
}

void WebAuth::RecordSuccess(const sockaddr_storage& peer) {
    uint8_t key[16];
    AddressKey(peer, key);
    std::lock_guard guard(mutex_);
    if (Address* address = FindAddress(key)) *address = Address{};
}
