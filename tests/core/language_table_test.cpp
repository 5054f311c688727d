#include "core/language_table.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "core/program_paths.h"
#include "core/settings_file.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string Str(const char* text) { return text ? text : "<none>"; }

// Sets or clears an environment variable for one test and restores it after.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = std::make_unique<std::string>(old);
        if (value) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }

private:
    std::string name_;
    std::unique_ptr<std::string> old_;
};

// A fresh program folder "vistrel" with an empty Lang/ beside it and its own settings file.
class LanguageTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/vistrel-language-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        fs::create_directory(Lang());
        SetProgramFileForTest((folder_ / "vistrel").string());
        savedCwd_ = fs::current_path();
    }
    void TearDown() override {
        settings_.reset();
        fs::current_path(savedCwd_);
        SetProgramFileForTest("");
        fs::remove_all(folder_);
    }
    fs::path Lang() const { return folder_ / "Lang"; }
    fs::path Ini() const { return folder_ / "vistrel.ini"; }
    void AddFixture(const char* name) {
        fs::copy_file(fs::path(VISTREL_TEST_DATA) / "lang" / name, Lang() / name);
    }
    // Loads one fixture file as the only language and returns the table.
    std::unique_ptr<LanguageTable> LoadFixture(const char* file, const char* name) {
        AddFixture(file);
        WriteFile(Ini(), std::string("Language ") + name + "\n");
        settings_ = std::make_unique<SettingsFile>();
        return std::make_unique<LanguageTable>(*settings_);
    }

    fs::path folder_;
    fs::path savedCwd_;
    std::unique_ptr<SettingsFile> settings_;
};

// The keys the built-in table holds, without the LNG_LINK placeholders.
std::vector<std::string> BuiltInKeys(LanguageTable& table) {
    table.SetDefaults();
    std::vector<std::string> keys;
    char key[Registry::kBufferSize];
    for (table.First(); table.CurrentKey(key); table.Next()) {
        if (std::string(key).rfind("LNG_LINK", 0) != 0) keys.emplace_back(key);
    }
    return keys;
}

TEST(LanguageTableDefault, FirstSetLocaleVariableDecides) {
    ScopedEnv all("LC_ALL", nullptr);
    ScopedEnv messages("LC_MESSAGES", nullptr);
    ScopedEnv lang("LANG", nullptr);
    EXPECT_STREQ(LanguageTable::UserDefaultLanguage(), "English");
    setenv("LANG", "ru_RU.UTF-8", 1);
    EXPECT_STREQ(LanguageTable::UserDefaultLanguage(), "Russian");
    setenv("LC_MESSAGES", "de_DE.UTF-8", 1);
    EXPECT_STREQ(LanguageTable::UserDefaultLanguage(), "English") << "LC_MESSAGES comes before LANG";
    setenv("LC_ALL", "", 1);
    EXPECT_STREQ(LanguageTable::UserDefaultLanguage(), "English") << "an empty LC_ALL counts as unset";
    setenv("LC_ALL", "ru_UA", 1);
    EXPECT_STREQ(LanguageTable::UserDefaultLanguage(), "Russian");
}

TEST_F(LanguageTableTest, WithoutFilesARussianUserGetsRussianStoredAndEnglishShown) {
    ScopedEnv all("LC_ALL", "ru_RU.UTF-8");
    SettingsFile settings;
    LanguageTable table(settings);
    EXPECT_EQ(settings.GetString("Language"), "Russian");
    EXPECT_EQ(table.LanguageCount(), 0);
    EXPECT_EQ(table.CurrentLanguage(), -1);
    EXPECT_EQ(Str(table.Text("MenuFile")), "File");
    EXPECT_EQ(Str(table.Text("WWWOptionsStartAfterLaunch")), "To start a server after launch of the program.");
    EXPECT_EQ(Str(table.Memo(7)), "LNG_MEMO7");
    EXPECT_EQ(Str(table.Text("LINK2")), "<none>");
    EXPECT_EQ(Str(table.Link(2)), " ");
    EXPECT_EQ(settings.Find<LanguageTable>("_CL_Language"), &table);
}

TEST_F(LanguageTableTest, StoredLanguageIsKeptAndRegistrationEndsWithTheTable) {
    ScopedEnv all("LC_ALL", "ru_RU.UTF-8");
    WriteFile(Ini(), "Language Klingon\n");
    SettingsFile settings;
    {
        LanguageTable table(settings);
        EXPECT_EQ(settings.GetString("Language"), "Klingon");
        EXPECT_EQ(table.CurrentLanguage(), -1);
        EXPECT_EQ(Str(table.Text("MenuExit")), "Exit");
    }
    EXPECT_EQ(settings.Find<LanguageTable>("_CL_Language"), nullptr);
}

TEST_F(LanguageTableTest, TextMemoAndLinkLookUps) {
    Registry settings(true);
    settings.SetText("_ProgramPath", (folder_.string() + "/").c_str());
    LanguageTable table(settings);
    const char* first = table.Text("Cancel");
    EXPECT_EQ(Str(first), "Cancel");
    EXPECT_EQ(table.Text("NoSuchKey"), nullptr);
    EXPECT_STREQ(first, "") << "a miss empties the one shared buffer";
    EXPECT_EQ(Str(table.Text("LNG_LINK3")), "LNG_LINK3");
    EXPECT_EQ(Str(table.Memo(9)), "LNG_MEMO9");
    for (int n : {0, 10, -1, 1000}) {
        EXPECT_EQ(Str(table.Memo(n)), "LNG_MEMO0") << n;
        EXPECT_EQ(Str(table.Link(n)), " ") << n;
    }
    EXPECT_EQ(table.LanguageName(0), nullptr);
    EXPECT_EQ(table.LanguageName(-1), nullptr);
}

TEST_F(LanguageTableTest, KeyedLines) {
    auto table = LoadFixture("Keys.lng", "Keys");
    ASSERT_EQ(table->CurrentLanguage(), 0);
    EXPECT_EQ(Str(table->Text("MenuFile")), "Datei");
    EXPECT_EQ(Str(table->Text("MenuExit")), "Beenden") << "leading white space before the key";
    EXPECT_EQ(Str(table->Text("Title")), "Front  door  ") << "inner and trailing blanks stay, CR LF goes";
    EXPECT_EQ(Str(table->Text("MenuView")), "Ansicht");
    EXPECT_EQ(Str(table->Text("OK")), "Ja\tgut");
    EXPECT_EQ(Str(table->Text("Cancel")), "Cancel") << "a key without text changes nothing; the last line is memo text";
    EXPECT_EQ(Str(table->Memo(3)), "Cancel Abbrechen");
    EXPECT_EQ(Str(table->Text("Accept")), "Accept") << "keys the file leaves alone keep the built-in text";
}

TEST_F(LanguageTableTest, MemoBlocks) {
    auto table = LoadFixture("Memos.lng", "Memos");
    EXPECT_EQ(Str(table->Text("MenuExit")), "Beenden") << "MEMO0 starts no block";
    EXPECT_EQ(Str(table->Text("MenuFile")), "Datei") << "MEMO10 starts no block";
    EXPECT_EQ(Str(table->Text("MenuView")), "Ansicht") << "MEMO without a number starts no block";
    EXPECT_EQ(Str(table->Memo(0)), "LNG_MEMO0");
    EXPECT_EQ(Str(table->Memo(3)), "First line,    second line.") << "lines join without a separator";
    EXPECT_EQ(Str(table->Text("MenuHelp")), "Hilfe") << "an empty CR LF line ends the block";
    EXPECT_EQ(Str(table->Memo(4)), "Fourth memo.") << "a second block replaces the first";
    EXPECT_EQ(Str(table->Memo(7)), "Seventh memo, last line without a closing empty line");
    EXPECT_EQ(Str(table->Memo(5)), "LNG_MEMO5");
}

TEST_F(LanguageTableTest, Links) {
    auto table = LoadFixture("Links.lng", "Links");
    EXPECT_EQ(Str(table->Text("LINK2")), "Our  camera ");
    EXPECT_EQ(Str(table->Link(2)), "http://127.0.0.1:8080/");
    EXPECT_EQ(Str(table->Text("LINK3")), "README.md") << "the target serves as its own text";
    EXPECT_EQ(Str(table->Link(3)), "README.md");
    EXPECT_EQ(Str(table->Text("LINK9")), "file:///tmp/a.txt");
    EXPECT_EQ(table->Text("LINK0"), nullptr);
    EXPECT_EQ(table->Text("LINK10"), nullptr);
    EXPECT_EQ(table->Text("LINK4"), nullptr);
    EXPECT_EQ(table->Text("LINK5"), nullptr);
    EXPECT_EQ(Str(table->Link(0)), " ");
    EXPECT_EQ(Str(table->Link(4)), " ");
    EXPECT_EQ(Str(table->Link(5)), " ");
}

TEST_F(LanguageTableTest, SwitchingRebuildsFromTheDefaults) {
    AddFixture("Links.lng");
    AddFixture("Memos.lng");
    SettingsFile settings;
    LanguageTable table(settings);
    ASSERT_EQ(table.LanguageCount(), 2);
    table.SelectLanguage(0);
    ASSERT_EQ(Str(table.Link(2)), "http://127.0.0.1:8080/");
    table.SelectLanguage(1);
    EXPECT_EQ(table.CurrentLanguage(), 1);
    EXPECT_EQ(table.Text("LINK2"), nullptr);
    EXPECT_EQ(Str(table.Link(2)), " ");
    EXPECT_EQ(Str(table.Text("MenuFile")), "Datei");
    table.SelectLanguage(0);
    EXPECT_EQ(Str(table.Text("MenuFile")), "File");
    EXPECT_EQ(Str(table.Memo(3)), "LNG_MEMO3");
}

TEST_F(LanguageTableTest, TextsAreCutAt255BytesAndMemosAt4095) {
    Registry settings(true);
    settings.SetText("_ProgramPath", (folder_.string() + "/").c_str());
    LanguageTable table(settings);
    const std::string longText(300, 'x');
    // 254 ASCII bytes and a two-byte letter: the letter would be split, so it goes.
    const std::string cyrillic = std::string(254, 'y') + "\xD0\x96" + "z";
    std::string memo = "MEMO1\n";
    for (int i = 0; i < 8; ++i) memo += std::string(500, static_cast<char>('a' + i)) + "\n";  // 4000 bytes
    memo += std::string(200, 'L') + "\n";                                   // would pass 4095: skipped
    memo += std::string(95, 's') + "\n";                                    // exactly 4095
    memo += "t\n";                                                          // one too many
    table.ReadLanguageText("Long " + longText + "\nCut " + cyrillic + "\n" + memo + "\nAfter memo\n");

    EXPECT_EQ(Str(table.Text("Long")), std::string(255, 'x'));
    EXPECT_EQ(Str(table.Text("Cut")), std::string(254, 'y'));
    const std::string got = table.Memo(1);
    ASSERT_EQ(got.size(), 4095u);
    EXPECT_EQ(got.substr(3500, 500), std::string(500, 'h'));
    EXPECT_EQ(got.substr(4000), std::string(95, 's'));
    EXPECT_EQ(Str(table.Text("After")), "memo") << "the block went on after the skipped lines";
}

TEST_F(LanguageTableTest, LongLinesAreReadInPartsOf510) {
    Registry settings(true);
    settings.SetText("_ProgramPath", (folder_.string() + "/").c_str());
    LanguageTable table(settings);
    // Key, blank and 504 letters fill the first read; " Tail end" is read as a line of its own.
    table.ReadLanguageText("Title " + std::string(504, 'a') + " Tail end\n");
    EXPECT_EQ(Str(table.Text("Title")), std::string(255, 'a'));
    EXPECT_EQ(Str(table.Text("Tail")), "end");

    // In a memo the parts join up again, also for Cyrillic text, and a line of
    // exactly 510 characters does not end the block.
    std::string russian;
    for (int i = 0; i < 600; ++i) russian += "\xD0\xB6";  // 1200 bytes
    const std::string exact(510, 'e');
    table.ReadLanguageText("MEMO2\n" + russian + "\n" + exact + "\nend\n\nMEMO6\r\n" + exact + "\r\nx\r\n");
    EXPECT_EQ(Str(table.Memo(2)), russian + exact + "end");
    EXPECT_EQ(Str(table.Memo(6)), exact + "x");
}

TEST_F(LanguageTableTest, NamesCutAtTheFirstDotAndOnlyLngFilesCount) {
    AddFixture("Pt.lng");
    AddFixture("Pt.Br.lng");
    WriteFile(Lang() / "Notes.txt", "MenuFile x\n");
    WriteFile(Lang() / "English.lng.bak", "MenuFile x\n");
    WriteFile(Lang() / ".lng", "MenuFile x\n");
    WriteFile(Lang() / (std::string(100, 'N') + ".lng"), "MenuFile x\n");
    WriteFile(Lang() / (std::string(99, 'M') + ".lng"), "MenuFile Long name\n");
    fs::create_directory(Lang() / "Folder.lng");
    WriteFile(Ini(), "Language Pt\n");
    SettingsFile settings;
    LanguageTable table(settings);
    ASSERT_EQ(table.LanguageCount(), 2);
    EXPECT_EQ(Str(table.LanguageName(0)), std::string(99, 'M'));
    EXPECT_EQ(Str(table.LanguageName(1)), "Pt");
    EXPECT_EQ(table.CurrentLanguage(), 1);
    EXPECT_EQ(Str(table.Text("MenuFile")), "Arquivo");
    EXPECT_EQ(Str(table.Text("MenuExit")), "Exit") << "Pt.Br.lng is never read";
    table.SelectLanguage(0);
    EXPECT_EQ(Str(table.Text("MenuFile")), "Long name");
}

TEST_F(LanguageTableTest, TwentyFiveFilesGiveTheFirstTwentyInByteOrder) {
    std::vector<std::string> names;
    for (char c = 'a'; c < 'a' + 13; ++c) names.push_back(std::string(1, c) + "lang");
    for (char c = 'A'; c < 'A' + 12; ++c) names.push_back(std::string(1, c) + "lang");
    for (const auto& name : names) WriteFile(Lang() / (name + ".lng"), "ProgrammName " + name + "\n");
    SettingsFile settings;
    LanguageTable table(settings);
    ASSERT_EQ(table.LanguageCount(), 20);
    std::vector<std::string> listed;
    for (int i = 0; i < table.LanguageCount(); ++i) listed.emplace_back(table.LanguageName(i));
    std::vector<std::string> expected;
    for (char c = 'A'; c < 'A' + 12; ++c) expected.push_back(std::string(1, c) + "lang");
    for (char c = 'a'; c < 'a' + 8; ++c) expected.push_back(std::string(1, c) + "lang");
    EXPECT_EQ(listed, expected);
    table.SelectLanguage(19);
    EXPECT_EQ(Str(table.Text("ProgrammName")), "hlang");
    table.SelectLanguage(20);
    EXPECT_EQ(table.CurrentLanguage(), 19) << "an index past the list does nothing";
}

TEST_F(LanguageTableTest, DefaultIsListedButNeverRead) {
    AddFixture("Default.lng");
    AddFixture("Pt.lng");
    WriteFile(Ini(), "Language Pt\n");
    SettingsFile settings;
    LanguageTable table(settings);
    ASSERT_EQ(Str(table.LanguageName(0)), "Default");
    ASSERT_EQ(Str(table.Text("MenuFile")), "Arquivo");
    table.SelectLanguage(0);
    EXPECT_EQ(table.CurrentLanguage(), 0);
    EXPECT_EQ(Str(table.Text("MenuFile")), "File");
    EXPECT_EQ(settings.GetString("Language"), "Default");
}

TEST_F(LanguageTableTest, SelectingWritesTheSettingsFileAtOnce) {
    AddFixture("Pt.lng");
    AddFixture("Keys.lng");
    WriteFile(Ini(), "Language Keys\nGoDetector 35\n");
    SettingsFile settings;
    LanguageTable table(settings);
    ASSERT_EQ(Str(table.LanguageName(1)), "Pt");
    table.SelectLanguage(1);
    const std::string ini = ReadFile(Ini());
    EXPECT_NE(ini.find("Language Pt\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("GoDetector 35\n"), std::string::npos) << ini;
    EXPECT_EQ(ini.find("_CL_Language"), std::string::npos) << ini;

    table.SelectLanguage(-1);
    EXPECT_EQ(table.CurrentLanguage(), -1);
    EXPECT_EQ(settings.GetString("Language"), "Pt");
    EXPECT_EQ(Str(table.Text("MenuFile")), "Arquivo") << "-1 only marks the list; the table stays";
}

TEST_F(LanguageTableTest, ListedFileThatCannotBeReadLeavesTheBuiltInTable) {
    fs::create_symlink(Lang() / "Missing.target", Lang() / "Gone.lng");
    WriteFile(Lang() / "Empty.lng", "");
    WriteFile(Ini(), "Language Empty\n");
    SettingsFile settings;
    LanguageTable table(settings);
    ASSERT_EQ(table.LanguageCount(), 1) << "a dangling link is no language file";
    EXPECT_EQ(table.CurrentLanguage(), 0);
    EXPECT_EQ(Str(table.Text("MenuFile")), "File");
    fs::remove(Lang() / "Empty.lng");
    table.SelectLanguage(0);
    EXPECT_EQ(Str(table.Text("MenuFile")), "File");
    EXPECT_EQ(Str(table.Memo(3)), "LNG_MEMO3");
}

TEST_F(LanguageTableTest, Windows1251FilesAndByteOrderMarks) {
    AddFixture("Cp1251.lng");
    AddFixture("Bom.lng");
    SettingsFile settings;
    LanguageTable table(settings);
    ASSERT_EQ(Str(table.LanguageName(1)), "Cp1251");
    table.SelectLanguage(1);
    EXPECT_EQ(Str(table.Text("MenuFile")), "Файл");
    EXPECT_EQ(Str(table.Text("MenuExit")), "Выход");
    EXPECT_EQ(Str(table.Memo(5)), "Горячая клавиша скрывает окно.");
    EXPECT_EQ(Str(table.Text("Title")), "\xEF\xBF\xBD" "А") << "the undefined byte 0x98";
    table.SelectLanguage(0);
    EXPECT_EQ(Str(table.Text("MenuFile")), "Файл");
    EXPECT_EQ(Str(table.Text("MenuExit")), "Выход");
}

TEST_F(LanguageTableTest, EachLineIsDecodedOnItsOwn) {
    auto table = LoadFixture("Mixed.lng", "Mixed");
    EXPECT_EQ(Str(table->Text("MenuFile")), "Файл");
    EXPECT_EQ(Str(table->Text("MenuExit")), "Выход") << "the one Windows-1251 line";
    EXPECT_EQ(Str(table->Text("MenuCam")), "Камера — ©") << "UTF-8 after it stays UTF-8";
    EXPECT_EQ(Str(table->Memo(5)), "Горячая клавиша скрывает окно.");
    // Texts the file does not name keep the built-in ones, the window's Russian captions too.
    EXPECT_EQ(Str(table->Text("CaptionNoCamera")), "Подключите видеокамеру!");
    EXPECT_EQ(Str(table->Text("FolderTitleVideo")), "Укажите путь к файлам видеозаписей:");
}

// The program's own files: complete, within the limits, and copied beside the program.
class ShippedLanguageFile : public ::testing::TestWithParam<const char*> {};

TEST_P(ShippedLanguageFile, SetsEveryKeyAndMemo) {
    const std::string name = GetParam();
    const std::string content = ReadFile(fs::path(VISTREL_SOURCE_DIR) / "resources/Lang" / (name + ".lng"));
    ASSERT_FALSE(content.empty());
    EXPECT_EQ(ReadFile(fs::path(VISTREL_BUILD_DIR) / "Lang" / (name + ".lng")), content)
        << "the build copies Lang/ beside the program";

    Registry settings(true);
    settings.SetText("_ProgramPath", "/nonexistent/");
    LanguageTable table(settings);
    std::set<std::string> known;
    for (const auto& key : BuiltInKeys(table)) known.insert(key);
    ASSERT_EQ(known.size(), 185u);
    for (const char* extra : {"DateTimeCam", "LINK1", "LINK2", "LINK3"}) known.insert(extra);

    // Only what the file itself sets is left in the table.
    table.Clear();
    table.ReadLanguageText(content);
    for (const auto& key : known) EXPECT_NE(table.Text(key.c_str()), nullptr) << name << " lacks " << key;
    char key[Registry::kBufferSize];
    for (table.First(); table.CurrentKey(key); table.Next()) {
        EXPECT_TRUE(known.count(key)) << name << " sets the unknown key " << key;
    }
    for (int n = 3; n <= 7; ++n) {
        const std::string memo = table.Memo(n);
        EXPECT_NE(memo, "LNG_MEMO" + std::to_string(n)) << name << " lacks memo " << n;
        EXPECT_EQ(memo.find("  "), std::string::npos) << name << " memo " << n;
        EXPECT_LT(memo.size(), 1500u) << name << " memo " << n << " is too long for its dialog";
    }
    for (int n = 2; n <= 3; ++n) EXPECT_GT(std::string(table.Link(n)).size(), 2u) << name << " link " << n;

    // Each text arrives whole: not cut at 255 bytes and not taken for Windows-1251.
    // Memo lines but the last end in a blank, so that words do not run together.
    std::istringstream lines(content + "\n");
    std::string line;
    std::vector<std::string> memoLines;
    bool inMemo = false;
    while (std::getline(lines, line)) {
        if (inMemo && !line.empty()) {
            memoLines.push_back(line);
            continue;
        }
        if (inMemo) {
            ASSERT_FALSE(memoLines.empty());
            for (std::size_t i = 0; i + 1 < memoLines.size(); ++i) {
                EXPECT_EQ(memoLines[i].back(), ' ') << name << ": " << memoLines[i];
            }
            EXPECT_NE(memoLines.back().back(), ' ') << name << ": " << memoLines.back();
            memoLines.clear();
            inMemo = false;
            continue;
        }
        if (line.empty()) continue;
        if (line.rfind("MEMO", 0) == 0) {
            inMemo = true;
            continue;
        }
        const std::size_t tab = line.find('\t');
        ASSERT_NE(tab, std::string::npos) << name << ": " << line;
        const std::string lineKey = line.substr(0, tab);
        if (lineKey.rfind("LINK", 0) != 0) {
            EXPECT_EQ(Str(table.Text(lineKey.c_str())), line.substr(tab + 1)) << name;
        }
    }
}

TEST_P(ShippedLanguageFile, IsListedBesideTheBuiltProgram) {
    Registry settings(true);
    settings.SetText("_ProgramPath", VISTREL_BUILD_DIR "/");
    settings.SetText("Language", GetParam());
    LanguageTable table(settings);
    ASSERT_GE(table.CurrentLanguage(), 0);
    EXPECT_EQ(Str(table.LanguageName(table.CurrentLanguage())), GetParam());
    EXPECT_NE(Str(table.Memo(7)), "LNG_MEMO7");
    EXPECT_EQ(Str(table.Link(3)), "README.md");
    EXPECT_TRUE(fs::exists(fs::path(VISTREL_BUILD_DIR) / table.Link(3))) << "link 3 names a file beside the program";
}

INSTANTIATE_TEST_SUITE_P(Shipped, ShippedLanguageFile, ::testing::Values("English", "Russian"));

}  // namespace
