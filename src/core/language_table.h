#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "core/registry.h"

// Every window text: built-in English defaults overlaid by the language file
// "<program folder>Lang/<name>.lng" that the user chose. Keyed texts live in
// the inherited (unlocked) Registry; memos and links are numbered 0 to 9.
// Texts are UTF-8; a line that is not valid UTF-8 is read as Windows-1251.
// Used on the user-interface thread only.
class LanguageTable : public Registry {
public:
    static constexpr int kMaxLanguages = 20;
    static constexpr std::size_t kMaxNameLength = 99;
    static constexpr int kNumbers = 10;
    static constexpr std::size_t kMaxMemo = 4095;
    static constexpr std::size_t kMaxLink = 511;
    static constexpr std::size_t kMaxRead = 510;

    // Registers under "_CL_Language", stores the default "Language", lists
    // the language files and loads the stored language when it is listed.
    // Choosing a language saves the settings at once, through their save request.
    explicit LanguageTable(Registry& settings);
    // Takes "_CL_Language" out of the settings registry.
    ~LanguageTable() override;

    // The text under key, valid until the next Text call; nullptr when absent.
    const char* Text(const char* key);
    // Memo and link target n for n in 1..9; any other n gives number 0.
    const char* Memo(int n) const;
    const char* Link(int n) const;

    int LanguageCount() const { return static_cast<int>(languages_.size()); }
    // Name at index of the language list; nullptr outside the list.
    const char* LanguageName(int index) const;
    // Index of the loaded language in the list, or -1.
    int CurrentLanguage() const { return current_; }

    // Makes index current and loads its language; a negative index only
    // marks the built-in table as current; an index past the list does nothing.
    void SelectLanguage(int index);
    // Stores name as "Language", saves the settings, rebuilds the table from
    // the defaults and overlays Lang/<name>.lng ("Default" reads no file).
    void LoadLanguage(const char* name);
    // Built-in English texts, memo placeholders "LNG_MEMO<n>", link keys
    // "LNG_LINK<n>" and blank link targets.
    void SetDefaults();
    // Applies the bytes of a language file over the current table.
    void ReadLanguageText(std::string_view content);

    // "Russian" when the first set of LC_ALL, LC_MESSAGES, LANG begins with "ru".
    static const char* UserDefaultLanguage();
    // The built-in English text of key; nullptr when there is none. Any thread.
    static const char* BuiltInText(const char* key);
    // Texts of the web server's pages ("Web..." keys) are copied into the
    // settings as "_Web...", where its threads read them under the lock.
    static constexpr char kWebPrefix[] = "Web";

private:
    void BuildLanguageList();
    void PublishWebTexts();
    void ApplyLine(std::string_view line);
    void ApplyKeyedLine(std::string_view line);
    void StoreText(const std::string& key, std::string_view text);
    void SaveSettings();

    Registry& settings_;
    std::string programPath_;
    std::vector<std::string> languages_;
    int current_ = -1;
    std::array<std::string, kNumbers> memos_;
    std::array<std::string, kNumbers> links_;
    // The memo the next lines belong to, or -1 outside a memo block.
    int openMemo_ = -1;
    char text_[512] = {};
};
