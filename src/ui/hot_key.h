#pragma once

#include <QLineEdit>

#include <cstdint>
#include <memory>
#include <string>

class GlobalHotKey;
class MessagePoster;
class QKeyEvent;
class QWidget;
class Registry;

// The hot key value: Windows virtual-key code in bits 0..15, Ctrl bit 16,
// Alt bit 17, Shift bit 18; 0 means no hot key.
namespace hot_key {
inline constexpr int32_t kDefaultValue = 0x7004A;  // Ctrl + Alt + Shift + J
inline constexpr int32_t kCtrl = 0x10000;
inline constexpr int32_t kAlt = 0x20000;
inline constexpr int32_t kShift = 0x40000;
inline constexpr int kHotKeyId = 4000;
// The window message that toggles the main window (wParam: hot key id).
inline constexpr uint32_t kHotKeyMessage = 0x0312;

struct Combination {
    bool ctrl = false;
    bool alt = false;
    bool shift = false;
    int32_t key = 0;
};

// Only the low 16 bits of the key count; no key encodes as 0.
inline int32_t Encode(const Combination& combination) {
    const int32_t key = combination.key & 0xFFFF;
    if (key == 0) return 0;
    return key | (combination.ctrl ? kCtrl : 0) | (combination.alt ? kAlt : 0) | (combination.shift ? kShift : 0);
}

// The modifiers count only with a key.
inline Combination Decode(int32_t value) {
    Combination combination;
    combination.key = value & 0xFFFF;
    if (combination.key != 0) {
        combination.ctrl = (value & kCtrl) != 0;
        combination.alt = (value & kAlt) != 0;
        combination.shift = (value & kShift) != 0;
    }
    return combination;
}

// " J", " F13", " Numpad 7", or two blanks for a key without a name.
std::string KeyName(int32_t code);
// "Ctrl + Alt + Shift + J"; "" when the value has no key.
std::string HotKeyText(int32_t value);

// Windows virtual-key code of a Qt key press (letters, digits, F1-F24, the
// keypad, the named keys, modifiers, punctuation); 0 when it has none.
int32_t VirtualKeyOf(const QKeyEvent& event);
}  // namespace hot_key

// The key field of the hot key dialog: every key press becomes a virtual-key
// code for its owner and never reaches the edit text. Tab, Enter and Esc stay
// with the dialog, keys held with Alt are left alone, and keys without a code
// are swallowed.
class KeyCaptureEdit final : public QLineEdit {
    Q_OBJECT

public:
    explicit KeyCaptureEdit(QWidget* parent = nullptr) : QLineEdit(parent) {}

signals:
    void KeyCaptured(int32_t virtualKey);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// Owns the global hot key: reads "HotKey" and "HideStart", registers the key
// for the window under "_MainHwnd", names it for the menu, hides the window at
// launch when asked, and runs the dialog in which the user picks the key.
class HotKey {
public:
    // After "_MainHwnd" (and "_CL_Language" for the texts) are registered.
    explicit HotKey(Registry& registry);
    ~HotKey();
    HotKey(const HotKey&) = delete;
    HotKey& operator=(const HotKey&) = delete;

    // "MenuHotKey", two blanks and HotKeyText of the current value (UTF-8).
    const char* MenuText();
    // Posts the hot key message to the window when "HideStart" is 1.
    void HideIfConfigured();
    // The modal dialog: hot_key_result flags of what changed (main_menu.h);
    // 0 after Cancel. Saves the settings file when anything changed.
    int Run(QWidget* parent);

    int32_t Value() const { return value_; }
    int32_t HideStart() const { return hideStart_; }
    // True when the platform accepted the key (X11 only).
    bool Registered() const;

private:
    friend class HotKeyDialog;

    Registry& registry_;
    MessagePoster* window_ = nullptr;
    int32_t value_ = hot_key::kDefaultValue;
    int32_t hideStart_ = 0;
    std::string menuText_;
    std::unique_ptr<GlobalHotKey> global_;
};
