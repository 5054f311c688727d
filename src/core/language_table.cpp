#include "core/language_table.h"

#include <dirent.h>
#include <iconv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/language_defaults.h"
#include "core/save_request.h"

namespace {

// White space as the C library sees it in the "C" locale, whatever locale the program set.
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

std::string_view SkipBlanks(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    return text.substr(i);
}

std::string_view FirstWord(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    return text.substr(0, i);
}

bool IsContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// At most max bytes of text, not ending inside a UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t max) {
    if (text.size() <= max) return text;
    std::size_t n = max;
    while (n > 0 && max - n < 3 && IsContinuation(text[n])) --n;
    // Not UTF-8 after all: cut at the byte count.
    if (n == 0 || IsContinuation(text[n])) n = max;
    return text.substr(0, n);
}

bool IsValidUtf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;   // overlong
            if (c == 0xED) high = 0x9F;  // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;   // overlong
            if (c == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < length) return false;
        if (p[1] < low || p[1] > high) return false;
        for (std::size_t i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF) return false;
        }
        p += length;
    }
    return true;
}

// Older language files were written in the Windows Cyrillic code page.
std::string Windows1251ToUtf8(std::string_view text) {
    iconv_t converter = iconv_open("UTF-8", "CP1251");
    if (converter == reinterpret_cast<iconv_t>(-1)) return std::string(text);
    // No CP1251 character takes more than three UTF-8 bytes.
    std::string out(text.size() * 3 + 4, '\0');
    char* in = const_cast<char*>(text.data());
    std::size_t inLeft = text.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    while (inLeft > 0) {
        if (iconv(converter, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1)) break;
        if (errno != EILSEQ && errno != EINVAL) break;
        // The one byte the code page leaves undefined becomes U+FFFD.
        ++in;
        --inLeft;
        if (toLeft < 3) break;
        std::memcpy(to, "\xEF\xBF\xBD", 3);
        to += 3;
        toLeft -= 3;
    }
    iconv_close(converter);
    out.resize(out.size() - toLeft);
    return out;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    char chunk[65536];
    std::size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) content.append(chunk, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return !failed;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The number after a four-letter prefix, read as atoi does.
int64_t NumberAfterPrefix(std::string_view key) {
    return ParseDecimal(std::string(key.substr(4)).c_str());
}

}  // namespace

LanguageTable::LanguageTable(Registry& settings) : Registry(false), settings_(settings) {
    for (auto& memo : memos_) memo.reserve(kMaxMemo + 1);
    for (auto& link : links_) link.reserve(kMaxLink + 1);
    settings_.SetHandle("_CL_Language", this);
    settings_.SetTextIfAbsent("Language", UserDefaultLanguage());
    programPath_ = settings_.GetString("_ProgramPath");
    BuildLanguageList();
    SetDefaults();

    current_ = -1;
    const std::string stored = settings_.GetString("Language");
    for (int i = 0; i < LanguageCount(); ++i) {
        if (languages_[i] == stored) {
            current_ = i;
            LoadLanguage(languages_[i].c_str());
            break;
        }
    }
    PublishWebTexts();
}

LanguageTable::~LanguageTable() {
    if (settings_.GetHandle("_CL_Language") == reinterpret_cast<intptr_t>(this)) {
        settings_.SetText("_CL_Language", "");
    }
}

const char* LanguageTable::UserDefaultLanguage() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && value[0] != '\0') return std::strncmp(value, "ru", 2) == 0 ? "Russian" : "English";
    }
    return "English";
}

void LanguageTable::BuildLanguageList() {
    languages_.clear();
    const std::string folder = programPath_ + "Lang/";
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    // A name store of its own sorts the names in byte order and merges duplicates.
    Registry names(false);
    while (const dirent* entry = readdir(dir)) {
        const std::string_view file = entry->d_name;
        if (file.size() <= 4 || file.substr(file.size() - 4) != ".lng") continue;
        const std::string_view name = file.substr(0, file.find('.'));
        // A longer name would not fit a menu slot; an empty one names nothing.
        if (name.empty() || name.size() > kMaxNameLength) continue;
        if (!IsRegularFile(folder + std::string(file))) continue;
        names.AddNameUnlocked(std::string(name).c_str());
    }
    closedir(dir);

    char name[kBufferSize];
    for (names.First(); names.CurrentKey(name) && LanguageCount() < kMaxLanguages; names.Next()) {
        languages_.emplace_back(name);
    }
}

const char* LanguageTable::Text(const char* key) {
    const auto found = Entries().find(key);
    if (found == Entries().end() || found->second.empty()) {
        text_[0] = '\0';
        return nullptr;
    }
    const std::size_t n = std::min(found->second.size(), sizeof text_ - 1);
    std::memcpy(text_, found->second.data(), n);
    text_[n] = '\0';
    return text_;
}

const char* LanguageTable::Memo(int n) const { return memos_[(n >= 1 && n <= 9) ? n : 0].c_str(); }

const char* LanguageTable::Link(int n) const { return links_[(n >= 1 && n <= 9) ? n : 0].c_str(); }

const char* LanguageTable::LanguageName(int index) const {
    return (index >= 0 && index < LanguageCount()) ? languages_[index].c_str() : nullptr;
}

void LanguageTable::SelectLanguage(int index) {
    if (index >= LanguageCount()) return;
    current_ = index < 0 ? -1 : index;
    if (current_ >= 0) LoadLanguage(languages_[current_].c_str());
}

void LanguageTable::LoadLanguage(const char* name) {
    settings_.SetText("Language", name);
    SaveSettings();
    for (auto& memo : memos_) memo.clear();
    for (auto& link : links_) link.clear();
    SetDefaults();
    std::string content;
    if (std::strcmp(name, "Default") != 0 && ReadWholeFile(programPath_ + "Lang/" + name + ".lng", content))
        ReadLanguageText(content);
    PublishWebTexts();
}

void LanguageTable::PublishWebTexts() {
    const std::size_t prefix = std::strlen(kWebPrefix);
    for (const auto& entry : language_defaults::kTexts) {
        if (std::strncmp(entry.key, kWebPrefix, prefix) != 0) continue;
        const char* text = Text(entry.key);
        settings_.SetText(("_" + std::string(entry.key)).c_str(), text ? text : entry.text);
    }
}

const char* LanguageTable::BuiltInText(const char* key) {
    for (const auto& entry : language_defaults::kTexts) {
        if (std::strcmp(entry.key, key) == 0) return entry.text;
    }
    return nullptr;
}

void LanguageTable::SaveSettings() {
    SaveRequest::SaveNowFor(settings_);
}

void LanguageTable::SetDefaults() {
    Clear();
    char text[32];
    for (int n = 0; n < kNumbers; ++n) {
        std::snprintf(text, sizeof text, "LNG_MEMO%i", n);
        memos_[n] = text;
    }
    for (int n = 0; n < kNumbers; ++n) {
        std::snprintf(text, sizeof text, "LNG_LINK%i", n);
        AddName(text);
        links_[n] = " ";
    }
    for (const auto& entry : language_defaults::kTexts) SetText(entry.key, entry.text);
}

void LanguageTable::ReadLanguageText(std::string_view content) {
    // Files saved by some editors start with a byte order mark.
    if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);
    std::string converted;
    openMemo_ = -1;
    while (!content.empty()) {
        const std::size_t lf = content.find('\n');
        std::string_view line = content.substr(0, lf);
        content.remove_prefix(lf == std::string_view::npos ? content.size() : lf + 1);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
        // Per line, so one stray byte spoils only its own line.
        if (!IsValidUtf8(line)) {
            converted = Windows1251ToUtf8(line);
            line = converted;
        }
        // Longer lines are read in parts, each taken as a line of its own.
        do {
            const std::string_view part = CutUtf8(line, kMaxRead);
            ApplyLine(part);
            line.remove_prefix(part.size());
        } while (!line.empty());
    }
    openMemo_ = -1;
}

void LanguageTable::ApplyLine(std::string_view line) {
    line = line.substr(0, line.find('\0'));
    if (openMemo_ < 0) {
        ApplyKeyedLine(line);
        return;
    }
    if (line.empty()) {
        openMemo_ = -1;
        return;
    }
    std::string& memo = memos_[openMemo_];
    if (memo.size() + line.size() <= kMaxMemo) memo.append(line);
}

void LanguageTable::ApplyKeyedLine(std::string_view line) {
    line = SkipBlanks(line);
    const std::string_view key = FirstWord(line);
    if (key.empty()) return;
    const std::string_view text = SkipBlanks(line.substr(key.size()));

    if (key.substr(0, 4) == "MEMO") {
        const int64_t n = NumberAfterPrefix(key);
        if (n >= 1 && n <= 9) {
            openMemo_ = static_cast<int>(n);
            memos_[openMemo_].clear();
        }
        return;
    }
    if (key.substr(0, 4) == "LINK") {
        const int64_t n = NumberAfterPrefix(key);
        if (text.empty() || n < 1 || n > 9) return;
        const std::string_view target = FirstWord(text);
        const std::string_view shown = SkipBlanks(text.substr(target.size()));
        StoreText(std::string(key), shown.empty() ? target : shown);
        links_[n] = CutUtf8(target, kMaxLink);
        return;
    }
    if (!text.empty()) StoreText(std::string(key), text);
}

void LanguageTable::StoreText(const std::string& key, std::string_view text) {
    SetText(key.c_str(), std::string(CutUtf8(text, kMaxValue)).c_str());
}
