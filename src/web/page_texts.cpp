#include "web/page_texts.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/language_table.h"
#include "core/registry.h"

namespace {

// JSON string text that no "</script>" or markup inside it can end early.
void AppendEscaped(std::string& out, const char* text) {
    for (const char* p = text; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", c);
            out += code;
        } else {
            out += static_cast<char>(c);
        }
    }
}

}  // namespace

std::string page_texts::Fill(Registry& registry, const char* body) {
    std::string page(body);
    const std::size_t mark = page.find(kMark);
    if (mark == std::string::npos) return page;
    std::string texts = "{";
    std::string seen = " ";
    const std::size_t prefix = std::strlen(LanguageTable::kWebPrefix);
    // Every quoted "Web..." word of the body is a key it uses.
    for (const char* p = std::strstr(body, LanguageTable::kWebPrefix); p;
         p = std::strstr(p + 1, LanguageTable::kWebPrefix)) {
        if (p == body || (p[-1] != '\'' && p[-1] != '"')) continue;
        std::size_t length = prefix;
        while (std::isalnum(static_cast<unsigned char>(p[length]))) ++length;
        const std::string key(p, length);
        if (seen.find(" " + key + " ") != std::string::npos) continue;
        const char* fallback = LanguageTable::BuiltInText(key.c_str());
        if (!fallback) continue;
        seen += key + " ";
        const std::string published = registry.GetString(("_" + key).c_str());
        if (texts.size() > 1) texts += ',';
        texts += '"' + key + "\":\"";
        AppendEscaped(texts, published.empty() ? fallback : published.c_str());
        texts += '"';
    }
    texts += '}';
    page.replace(mark, sizeof kMark - 1, texts);
    return page;
}
