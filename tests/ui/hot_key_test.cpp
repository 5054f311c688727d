// The hot key value, its names, the key field and the hot key dialog.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QKeyEvent>
#include <QPushButton>

#include "core/language_table.h"
#include "core/settings_file.h"
#include "ui/hot_key.h"
#include "ui/ui_test_support.h"

namespace {

using hot_key::HotKeyText;
using hot_key::KeyName;

// Qt names a Cyrillic letter by its code point: capital O, on the key of Latin J.
const auto kCyrillicO = static_cast<Qt::Key>(0x041E);

int32_t CodeOf(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, quint32 scanCode = 0) {
    const QKeyEvent event(QEvent::KeyPress, key, modifiers, scanCode, 0, 0, QString());
    return hot_key::VirtualKeyOf(event);
}

TEST(HotKeyNames, NamesFollowTheKeyTableAndOnlyTheLowSixteenBitsCount) {
    EXPECT_EQ(KeyName('J'), " J");
    EXPECT_EQ(KeyName('7'), " 7");
    EXPECT_EQ(KeyName(103), " Numpad 7");
    EXPECT_EQ(KeyName(96), " Numpad 0");
    EXPECT_EQ(KeyName(112), " F1");
    EXPECT_EQ(KeyName(124), " F13");
    EXPECT_EQ(KeyName(135), " F24");
    EXPECT_EQ(KeyName(136), "  ");
    EXPECT_EQ(KeyName(33), " PgUp");
    EXPECT_EQ(KeyName(47), " Help");
    EXPECT_EQ(KeyName(17), "  ") << "the Ctrl key has no name";
    EXPECT_EQ(KeyName(0x7004A), " J");
}

TEST(HotKeyNames, TextsOfCombinations) {
    EXPECT_EQ(HotKeyText(hot_key::kDefaultValue), "Ctrl + Alt + Shift + J");
    EXPECT_EQ(HotKeyText(hot_key::kShift | 116), "Shift + F5");
    EXPECT_EQ(HotKeyText(hot_key::kCtrl | 'J'), "Ctrl +  J");
    EXPECT_EQ(HotKeyText(hot_key::kCtrl | 17), "Ctrl +   ");
    EXPECT_EQ(HotKeyText(0x70000), "") << "modifiers without a key are no hot key";
    EXPECT_EQ(HotKeyText(0), "");
}

TEST(HotKeyNames, EncodingDropsModifiersWithoutAKey) {
    EXPECT_EQ(hot_key::Encode({true, true, true, 'J'}), hot_key::kDefaultValue);
    EXPECT_EQ(hot_key::Encode({true, false, false, 17}), 0x10011);
    EXPECT_EQ(hot_key::Encode({true, true, true, 0}), 0);
    EXPECT_EQ(hot_key::Encode({false, false, false, 0x10000}), 0) << "only the low 16 bits are the key";
    const hot_key::Combination none = hot_key::Decode(0x70000);
    EXPECT_FALSE(none.ctrl || none.alt || none.shift);
    const hot_key::Combination j = hot_key::Decode(hot_key::kDefaultValue);
    EXPECT_TRUE(j.ctrl && j.alt && j.shift);
    EXPECT_EQ(j.key, 'J');
}

TEST(HotKeyNames, QtKeysBecomeWindowsVirtualKeys) {
    EXPECT_EQ(CodeOf(Qt::Key_J), 'J');
    EXPECT_EQ(CodeOf(Qt::Key_7), '7');
    EXPECT_EQ(CodeOf(Qt::Key_7, Qt::KeypadModifier), 103) << "keypad with Num Lock";
    EXPECT_EQ(CodeOf(Qt::Key_Home, Qt::KeypadModifier), 36) << "keypad without Num Lock";
    EXPECT_EQ(CodeOf(Qt::Key_Ampersand, Qt::ShiftModifier), '7') << "shifted digit is still its key";
    EXPECT_EQ(CodeOf(Qt::Key_F13), 124);
    EXPECT_EQ(CodeOf(Qt::Key_F24), 135);
    EXPECT_EQ(CodeOf(Qt::Key_Control, Qt::ControlModifier), 17);
    EXPECT_EQ(CodeOf(Qt::Key_Shift, Qt::ShiftModifier), 16);
    EXPECT_EQ(CodeOf(Qt::Key_PageDown), 34);
    EXPECT_EQ(CodeOf(Qt::Key_Backspace), 8);
    EXPECT_EQ(CodeOf(Qt::Key_Minus, Qt::KeypadModifier), 109);
    // A Cyrillic letter is known by its place: the key of Latin J (X11 key code 44).
    EXPECT_EQ(CodeOf(kCyrillicO, Qt::NoModifier, 44), 'J');
    EXPECT_EQ(CodeOf(kCyrillicO), 0);
}

class HotKeyTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings_ = std::make_unique<SettingsFile>();
        language_ = std::make_unique<LanguageTable>(*settings_);
    }
    void Make() {
        hotKey_ = std::make_unique<HotKey>(*settings_);
        std::filesystem::remove(folder_.SettingsPath());
    }
    int Run(const std::function<void(QDialog&)>& act) {
        WhenDialogOpens(act);
        return hotKey_->Run(nullptr);
    }
    static void Press(QDialog& dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        auto* field = Control<QLineEdit>(dialog, "id113");
        field->setFocus();
        QTest::keyClick(field, key, modifiers);
    }
    static void Accept(QDialog& dialog) { Control<QPushButton>(dialog, "id1")->click(); }

    TestProgramFolder folder_;
    std::unique_ptr<SettingsFile> settings_;
    std::unique_ptr<LanguageTable> language_;
    std::unique_ptr<HotKey> hotKey_;
};

TEST_F(HotKeyTest, FreshSettingsGiveTheDefaultKeyAndMenuText) {
    Make();
    EXPECT_EQ(settings_->GetString("HotKey"), "458826");
    EXPECT_EQ(settings_->GetString("HideStart"), "0");
    EXPECT_STREQ(hotKey_->MenuText(), "Show/Hide. HotKey:  Ctrl + Alt + Shift + J");
    EXPECT_FALSE(hotKey_->Registered()) << "offscreen has no X11 to register with";
}

TEST_F(HotKeyTest, AValueWithoutAKeyShowsAnEmptyKeyText) {
    settings_->SetInt("HotKey", 0x70000);
    Make();
    EXPECT_STREQ(hotKey_->MenuText(), "Show/Hide. HotKey:  ");
}

TEST_F(HotKeyTest, TheKeyFieldShowsTheNameOfTheKeyPressed) {
    Make();
    QStringList shown;
    EXPECT_EQ(Run([&](QDialog& dialog) {
                  auto* field = Control<QLineEdit>(dialog, "id113");
                  shown << field->text();
                  for (auto [key, modifiers] : {std::pair{Qt::Key_F13, Qt::KeyboardModifiers()},
                                                std::pair{Qt::Key_7, Qt::KeyboardModifiers()},
                                                std::pair{Qt::Key_7, Qt::KeyboardModifiers(Qt::KeypadModifier)},
                                                std::pair{Qt::Key_Control, Qt::KeyboardModifiers(Qt::ControlModifier)}}) {
                      Press(dialog, key, modifiers);
                      shown << field->text();
                  }
                  Accept(dialog);
              }),
              2);
    EXPECT_EQ(shown, QStringList({" J", " F13", " 7", " Numpad 7", "  "}));
    // The Ctrl key itself is a key of its own, with the three boxes still ticked.
    EXPECT_EQ(hotKey_->Value(), 0x70011);
    EXPECT_EQ(folder_.ReadSettings()["HotKey"], "458769");
}

TEST_F(HotKeyTest, ResultBitsTellWhatChanged) {
    Make();
    EXPECT_EQ(Run([](QDialog& dialog) { Accept(dialog); }), 0);
    EXPECT_FALSE(std::filesystem::exists(folder_.SettingsPath())) << "nothing changed, nothing saved";

    EXPECT_EQ(Run([](QDialog& dialog) {
                  Control<QCheckBox>(dialog, "id220")->click();
                  Accept(dialog);
              }),
              1);
    EXPECT_EQ(hotKey_->HideStart(), 1);
    EXPECT_EQ(folder_.ReadSettings()["HideStart"], "1");

    EXPECT_EQ(Run([](QDialog& dialog) {
                  Control<QCheckBox>(dialog, "id218")->click();
                  Press(dialog, Qt::Key_F5);
                  Accept(dialog);
              }),
              2);
    EXPECT_EQ(hotKey_->Value(), hot_key::kCtrl | hot_key::kShift | 116);
    EXPECT_STREQ(hotKey_->MenuText(), "Show/Hide. HotKey:  Ctrl + Shift + F5");

    EXPECT_EQ(Run([](QDialog& dialog) {
                  EXPECT_TRUE(Control<QCheckBox>(dialog, "id220")->isChecked());
                  Control<QCheckBox>(dialog, "id220")->click();
                  Press(dialog, Qt::Key_J);
                  Accept(dialog);
              }),
              3);

    // Cancel keeps everything, even a pressed key.
    EXPECT_EQ(Run([](QDialog& dialog) {
                  Press(dialog, Qt::Key_K);
                  Control<QPushButton>(dialog, "id2")->click();
              }),
              0);
    EXPECT_EQ(hotKey_->Value(), hot_key::kCtrl | hot_key::kShift | 'J');
}

TEST_F(HotKeyTest, AKeyWithoutACodeLeavesTheFieldAndTheStoredKey) {
    Make();
    EXPECT_EQ(Run([](QDialog& dialog) {
                  Press(dialog, Qt::Key_Alt, Qt::AltModifier);  // the dialog's own key: ignored
                  EXPECT_EQ(Control<QLineEdit>(dialog, "id113")->text(), " J");
                  // No code and no known place (QTest cannot type a non-ASCII key).
                  QKeyEvent press(QEvent::KeyPress, kCyrillicO, Qt::NoModifier, QString(QChar(0x041E)));
                  QApplication::sendEvent(Control<QLineEdit>(dialog, "id113"), &press);
                  EXPECT_EQ(Control<QLineEdit>(dialog, "id113")->text(), " J");
                  Press(dialog, Qt::Key_VolumeUp);
                  EXPECT_EQ(Control<QLineEdit>(dialog, "id113")->text(), " J");
                  Accept(dialog);
              }),
              0);
    EXPECT_EQ(hotKey_->Value(), hot_key::kDefaultValue);
    EXPECT_FALSE(std::filesystem::exists(folder_.SettingsPath())) << "nothing changed, nothing saved";
    EXPECT_STREQ(hotKey_->MenuText(), "Show/Hide. HotKey:  Ctrl + Alt + Shift + J");
}

}  // namespace
