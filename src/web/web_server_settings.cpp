#include "web/web_server.h"

#include <algorithm>
#include <cstdio>

#include "core/registry.h"
#include "core/save_request.h"

// The web server's settings: port, start after launch, who may look and
// where it listens, read from and written to the registry.

void WebServer::LoadAccess() {
    bindAddress_ = registry_.GetString(kBindKey);
    const std::string user = registry_.GetString(kUserKey);
    const std::string hash = registry_.GetString(kHashKey);
    auth_.SetCredentials(user.c_str(), hash.c_str());
}

WebServer::Options WebServer::CurrentOptions() {
    return {static_cast<int32_t>(registry_.GetHandle(kPortKey)),
            static_cast<int32_t>(registry_.GetHandle(kStartKey))};
}

int32_t WebServer::ValidatePort(const char* fieldText) {
    int64_t value = 0;
    for (const char* p = fieldText ? fieldText : ""; *p >= '0' && *p <= '9'; ++p) {
        value = std::min<int64_t>(value * 10 + (*p - '0'), kMaxPort + 1);
    }
    return static_cast<int32_t>(std::clamp<int64_t>(value, kMinPort, kMaxPort));
}

bool WebServer::ApplyOptions(const char* portFieldText, int32_t startAfterLaunch) {
    const int32_t port = ValidatePort(portFieldText);
    const int32_t flag = startAfterLaunch != 0 ? 1 : 0;
    bool changed = false;
    if (flag != startAfterLaunch_) {
        startAfterLaunch_ = flag;
        registry_.SetInt(kStartKey, flag);
        changed = true;
    }
    if (port != port_) {
        port_ = port;
        registry_.SetInt(kPortKey, port);
        changed = true;
        if (Running()) {
            Stop();
            Start();
        }
    }
    if (changed) {
        SaveRequest::SaveNowFor(registry_);
    }
    return changed;
}

WebServer::Access WebServer::CurrentAccess() {
    return {registry_.GetString(kUserKey), !registry_.GetString(kHashKey).empty(),
            registry_.GetString(kBindKey), auth_.Usable()};
}

bool WebServer::ApplyAccess(const char* user, const char* password, const char* bindAddress, bool* changed) {
    const std::string newUser = user ? user : "";
    const std::string newAddress = bindAddress ? bindAddress : "";
    std::string hash = registry_.GetString(kHashKey);
    if (newUser.empty()) {
        hash.clear();
    } else if (password && password[0] != '\0') {
        hash = WebAuth::HashPassword(password);
        if (hash.empty()) {
            std::fprintf(stderr, "web: cannot hash the password; the access settings were not changed\n");
            if (changed) *changed = false;
            return false;
        }
    } else if (!WebAuth::HashUsable(hash.c_str())) {
        std::fprintf(stderr, "web: a user needs a password; the access settings were not changed\n");
        if (changed) *changed = false;
        return false;
    }
    const bool accessChanged =
        newUser != registry_.GetString(kUserKey) || hash != registry_.GetString(kHashKey);
    const bool addressChanged = newAddress != registry_.GetString(kBindKey);
    if (accessChanged) {
        registry_.SetText(kUserKey, newUser.c_str());
        registry_.SetText(kHashKey, hash.c_str());
    }
    if (addressChanged) registry_.SetText(kBindKey, newAddress.c_str());
    LoadAccess();
    if (addressChanged && Running()) {
        Stop();
        Start();
    }
    if (accessChanged || addressChanged) SaveRequest::SaveNowFor(registry_);
    if (changed) *changed = accessChanged || addressChanged;
    return true;
}

std::string WebServer::PageAddress(const std::string& bindAddress, int32_t port) {
    std::string host = bindAddress;
    if (host.empty() || host == "0.0.0.0" || host == "::")
        host = "localhost";
    else if (host.find(':') != std::string::npos)
        host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(port) + "/";
}

std::string WebServer::LivePageAddress(const std::string& bindAddress, int32_t port) {
    return PageAddress(bindAddress, port) + "live.htm";
}
