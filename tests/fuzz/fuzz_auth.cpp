// Feeds arbitrary bytes as the header lines of a request into the request
// reader's header handling and the Basic credentials parser and check.
#include <crypt.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "web/http_request.h"
#include "web/web_auth.h"

namespace {

WebAuth* g_auth = nullptr;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_auth: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_auth = new WebAuth();
    // A cheap hash keeps each run fast; the check is the same for every method.
    crypt_data data{};
    const char* hash = crypt_r("s3cret", "$5$rounds=1000$fuzzsalt$", &data);
    g_auth->SetCredentials("viewer", hash);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // One header line as the reader hands it over: no LF, no zero byte, at most kLineSize - 2 characters.
    std::string line(reinterpret_cast<const char*>(data),
                     std::min<std::size_t>(size, HttpRequest::kLineSize - 2));
    for (char& c : line) {
        if (c == '\n' || c == '\0') c = ' ';
    }
    HttpRequest request;
    request.TakeHeaderLine(line.c_str());
    const char* value = request.Authorization();
    Check(std::strlen(value) < HttpRequest::kLineSize, "the kept value overran its buffer");

    // The value alone goes to the parser too, as a header with the key in another case would.
    for (const char* candidate : {value, line.c_str()}) {
        char user[WebAuth::kFieldSize];
        char password[WebAuth::kFieldSize];
        const bool parsed = WebAuth::ParseBasic(candidate, user, password);
        if (parsed) {
            Check(std::strlen(user) < WebAuth::kFieldSize && std::strlen(password) < WebAuth::kFieldSize,
                  "credentials too long");
            Check(std::strchr(user, ':') == nullptr, "a user holding the separator");
        } else {
            Check(user[0] == '\0' && password[0] == '\0', "a refused value left credentials behind");
        }
        const bool accepted = g_auth->Accepts(candidate);
        if (accepted) {
            Check(parsed && std::strcmp(user, "viewer") == 0 && std::strcmp(password, "s3cret") == 0,
                  "accepted credentials that are not the right ones");
        }
    }
    return 0;
}
