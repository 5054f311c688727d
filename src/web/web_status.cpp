#include "web/web_status.h"


#include <cstdio>
#include <cstring>

namespace {

const char* const kModeNames[] = {
    "off", "always", "detector", "timer", "timer_and_detector", "timer_or_detector"};

// Appends text as a JSON string; false when out is full.
bool AppendString(char*& out, const char* end, const char* text) {
    auto put = [&](char c) {
        if (out >= end) return false;
        *out++ = c;
        return true;
    };
    if (!put('"')) return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        if (*p == '"' || *p == '\\') {
            if (!put('\\') || !put(static_cast<char>(*p))) return false;
        } else if (*p < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", *p);
            for (const char* e = escaped; *e != 0; ++e)
                if (!put(*e)) return false;
        } else if (!put(static_cast<char>(*p))) {
            return false;
        }
    }
    return put('"');
}

bool AppendRaw(char*& out, const char* end, const char* text) {
    const std::size_t length = std::strlen(text);
    if (static_cast<std::size_t>(end - out) < length) return false;
    std::memcpy(out, text, length);
    out += length;
    return true;
}

bool AppendNumber(char*& out, const char* end, long long value) {
    char digits[24];
    std::snprintf(digits, sizeof digits, "%lld", value);
    return AppendRaw(out, end, digits);
}

}  // namespace

void WebStatusBoard::Update(const WebStatus& status) {
    std::lock_guard guard(mutex_);
    status_ = status;
    status_.filled = true;
}

void WebStatusBoard::Read(WebStatus& out) const {
    std::lock_guard guard(mutex_);
    out = status_;
}

const char* WebStatusBoard::Reason(const WebStatus& s) {
    if (!s.filled) return "unknown";
    switch (s.mode) {
        case 0:
            return "activation off";
        case 1:
            return s.recording ? "always" : "starting";
        case 2:
            return s.recording ? "motion" : "no motion";
        case 3:
            return s.inTimeWindow ? "in time window" : "outside time window";
        case 4:
            if (s.recording) return "motion in time window";
            return s.inTimeWindow ? "no motion" : "outside time window";
        case 5:
            if (s.recording) return s.inTimeWindow ? "in time window" : "motion";
            return "no motion outside time window";
        default:
            return "unknown";
    }
}

int WebStatusBoard::FormatJson(const WebStatus& s, char* out, std::size_t size) {
    if (size == 0) return -1;
    char* p = out;
    const char* end = out + size - 1;
    const char* mode = s.mode >= 0 && s.mode <= 5 ? kModeNames[s.mode] : "unknown";
    auto flag = [](bool on) { return on ? "true" : "false"; };
    const bool ok = AppendRaw(p, end, "{\"recording\":") && AppendRaw(p, end, flag(s.recording)) &&
                    AppendRaw(p, end, ",\"reason\":") && AppendString(p, end, Reason(s)) &&
                    AppendRaw(p, end, ",\"mode\":") && AppendString(p, end, mode) &&
                    AppendRaw(p, end, ",\"motion_level\":") && AppendNumber(p, end, s.level) &&
                    AppendRaw(p, end, ",\"threshold\":") && AppendNumber(p, end, s.threshold) &&
                    AppendRaw(p, end, ",\"file\":") &&
                    (s.file[0] != '\0' ? AppendString(p, end, s.file) : AppendRaw(p, end, "null")) &&
                    AppendRaw(p, end, ",\"frames\":") &&
                    (s.frames >= 0 ? AppendNumber(p, end, s.frames) : AppendRaw(p, end, "null")) &&
                    AppendRaw(p, end, ",\"free_bytes\":") &&
                    (s.freeBytes >= 0 ? AppendNumber(p, end, s.freeBytes) : AppendRaw(p, end, "null")) &&
                    AppendRaw(p, end, ",\"problem\":") &&
                    (s.problem[0] != '\0' ? AppendString(p, end, s.problem) : AppendRaw(p, end, "null")) &&
                    AppendRaw(p, end, ",\"dropped\":") && AppendNumber(p, end, s.dropped) &&
                    AppendRaw(p, end, ",\"camera_connected\":") &&
                    AppendRaw(p, end, flag(s.cameraConnected)) && AppendRaw(p, end, ",\"camera\":") &&
                    AppendString(p, end, s.camera) && AppendRaw(p, end, "}\n");
    if (!ok) return -1;
    *p = '\0';
    return static_cast<int>(p - out);
}

