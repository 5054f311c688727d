// Feeds arbitrary bytes to the language file reader and checks what it keeps.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "core/language_table.h"

namespace {

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                                          : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (length == 0 || i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return false;
        }
        i += length;
    }
    return true;
}

void Check(bool ok, const char* what, std::string_view text) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_language: %s: %.*s\n", what, static_cast<int>(text.size()), text.data());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    static Registry settings(true);
    static LanguageTable* table = [] {
        settings.SetText("_ProgramPath", "/nonexistent/");
        return new LanguageTable(settings);
    }();

    table->SetDefaults();
    table->ReadLanguageText(std::string_view(reinterpret_cast<const char*>(data), size));

    char key[Registry::kBufferSize];
    char value[Registry::kBufferSize];
    for (table->First(); table->Current(key, value); table->Next()) {
        Check(IsValidUtf8(value), "text is not UTF-8", value);
    }
    for (int n = 0; n < LanguageTable::kNumbers; ++n) {
        const std::string_view memo = table->Memo(n);
        const std::string_view link = table->Link(n);
        Check(memo.size() <= LanguageTable::kMaxMemo, "memo too long", memo);
        Check(IsValidUtf8(memo), "memo is not UTF-8", memo);
        Check(!link.empty() && link.size() <= LanguageTable::kMaxLink, "bad link size", link);
        Check(IsValidUtf8(link), "link is not UTF-8", link);
        Check(link.find_first_of(" \t\r\n\v\f") == std::string_view::npos || link == " ", "blank in link", link);
    }
    return 0;
}
