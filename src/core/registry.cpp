#include "core/registry.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

// Copies text into a caller buffer of Registry::kBufferSize bytes.
void CopyOut(char* out, const std::string& text) {
    const std::size_t n = std::min(text.size(), Registry::kMaxValue);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

std::string Joined(const char* first, const char* second) {
    std::string joined(first ? first : "");
    joined += second ? second : "";
    return joined;
}

}  // namespace

int64_t ParseDecimal(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    // Accumulate as a negative number so INT64_MIN stays representable.
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        if (value < (INT64_MIN + digit) / 10) {
            value = INT64_MIN;
            while (*p >= '0' && *p <= '9') ++p;
            break;
        }
        value = value * 10 - digit;
    }
    if (negative) return value;
    return value == INT64_MIN ? INT64_MAX : -value;
}

Registry::Registry(bool enabled) : cursor_(entries_.end()), lock_(enabled) {}

Registry::~Registry() = default;

void Registry::SetText(const char* key, char* value) {
    if (std::strlen(value) > kMaxValue) value[kMaxValue] = '\0';
    SetText(key, static_cast<const char*>(value));
}

void Registry::SetText(const char* key, const char* value) {
    const std::size_t n = strnlen(value, kMaxValue);
    std::lock_guard guard(lock_);
    entries_[key].assign(value, n);
}

char* Registry::GetText(const char* key, char* out) {
    std::string copy;
    {
        std::lock_guard guard(lock_);
        copy = entries_[key];
    }
    CopyOut(out, copy);
    return copy.empty() ? nullptr : out;
}

std::string Registry::GetString(const char* key) {
    std::lock_guard guard(lock_);
    return entries_[key];
}

bool Registry::Contains(const char* key) {
    char buffer[kBufferSize];
    return GetText(key, buffer) != nullptr;
}

bool Registry::TextEquals(const char* key, const char* text) {
    char buffer[kBufferSize];
    return GetText(key, buffer) != nullptr && std::strcmp(buffer, text) == 0;
}

void Registry::SetInt(const char* key, int32_t value) {
    SetHandle(key, static_cast<intptr_t>(value));
}

bool Registry::GetInt(const char* key, int32_t& out) {
    char buffer[kBufferSize];
    if (!GetText(key, buffer)) {
        out = 0;
        return false;
    }
    const int64_t v = ParseDecimal(buffer);
    out = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
    return true;
}

int32_t Registry::IntInRange(const char* key, int32_t def, int32_t min, int32_t max) {
    std::lock_guard guard(lock_);
    int32_t v = 0;
    if (GetInt(key, v) && min <= v && v <= max) return v;
    const int32_t stored = (min <= def && def <= max) ? def : min;
    SetInt(key, stored);
    return stored;
}

int32_t Registry::IntOr(const char* key, int32_t def) {
    std::lock_guard guard(lock_);
    int32_t v = 0;
    if (GetInt(key, v)) return v;
    SetInt(key, def);
    return def;
}

void Registry::SetTextIfAbsent(const char* key, const char* text) {
    std::lock_guard guard(lock_);
    if (!Contains(key)) SetText(key, text);
}

void Registry::SetTextJoined(const char* key, const char* first, const char* second) {
    SetText(key, Joined(first, second).c_str());
}

void Registry::SetIntJoined(const char* keyFirst, const char* keySecond, int32_t value) {
    SetInt(Joined(keyFirst, keySecond).c_str(), value);
}

void Registry::SetHandle(const char* key, intptr_t handle) {
    char text[32];
    std::snprintf(text, sizeof text, "%jd", static_cast<intmax_t>(handle));
    SetText(key, static_cast<const char*>(text));
}

intptr_t Registry::GetHandle(const char* key) {
    char buffer[kBufferSize];
    if (!GetText(key, buffer)) return 0;
    return static_cast<intptr_t>(ParseDecimal(buffer));
}

intptr_t Registry::GetHandleJoined(const char* keyFirst, const char* keySecond) {
    return GetHandle(Joined(keyFirst, keySecond).c_str());
}

void Registry::AddName(const char* name) { SetText(name, name); }

void Registry::AddNameUnlocked(const char* name) { entries_[name] = name; }

void Registry::First() { cursor_ = entries_.begin(); }

void Registry::Next() {
    if (cursor_ != entries_.end()) ++cursor_;
}

bool Registry::Current(char* key, char* value) {
    if (cursor_ == entries_.end()) {
        key[0] = '\0';
        value[0] = '\0';
        return false;
    }
    CopyOut(key, cursor_->first);
    CopyOut(value, cursor_->second);
    return true;
}

bool Registry::CurrentKey(char* key) {
    char value[kBufferSize];
    return Current(key, value);
}

void Registry::Clear() {
    entries_.clear();
    cursor_ = entries_.end();
}
