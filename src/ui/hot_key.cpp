#include "ui/hot_key.h"

#include <QCheckBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "core/language_table.h"
#include "core/message_poster.h"
#include "core/registry.h"
#include "core/save_request.h"
#include "ui/dialog_units.h"
#include "ui/global_hot_key.h"
#include "ui/main_menu.h"
#include "ui/virtual_keys.h"

namespace hot_key {

namespace vk = virtual_key;

std::string KeyName(int32_t code) {
    code &= 0xFFFF;
    if ((code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z')) return std::string(" ") + static_cast<char>(code);
    if (code >= vk::kNumpad0 && code <= vk::kNumpad9) return " Numpad " + std::to_string(code - vk::kNumpad0);
    if (code >= vk::kF1 && code <= vk::kF24) return " F" + std::to_string(code - vk::kF1 + 1);
    switch (code) {
        case vk::kBack: return " Back";
        case vk::kReturn: return " Enter";
        case vk::kEscape: return " Esc";
        case vk::kSpace: return " Space";
        case vk::kPageUp: return " PgUp";
        case vk::kPageDown: return " PgDn";
        case vk::kEnd: return " End";
        case vk::kHome: return " Home";
        case vk::kLeft: return " Left";
        case vk::kUp: return " Up";
        case vk::kRight: return " Right";
        case vk::kDown: return " Down";
        case vk::kInsert: return " Insert";
        case vk::kDelete: return " Delete";
        case vk::kHelp: return " Help";
        default: return "  ";
    }
}

std::string HotKeyText(int32_t value) {
    const Combination combination = Decode(value);
    if (combination.key == 0) return "";
    std::string text;
    if (combination.ctrl) text += "Ctrl + ";
    if (combination.alt) text += "Alt + ";
    if (combination.shift) text += "Shift +";
    return text + KeyName(combination.key);
}

namespace {

// Qt keys whose Windows code is not their own value.
int32_t NamedKey(int key) {
    switch (key) {
        case Qt::Key_Backspace: return vk::kBack;
        case Qt::Key_Tab: case Qt::Key_Backtab: return vk::kTab;
        case Qt::Key_Clear: return vk::kClear;
        case Qt::Key_Return: case Qt::Key_Enter: return vk::kReturn;
        case Qt::Key_Shift: return vk::kShift;
        case Qt::Key_Control: return vk::kControl;
        case Qt::Key_Alt: case Qt::Key_AltGr: return vk::kAlt;
        case Qt::Key_Pause: return vk::kPause;
        case Qt::Key_CapsLock: return vk::kCapsLock;
        case Qt::Key_Escape: return vk::kEscape;
        case Qt::Key_Space: return vk::kSpace;
        case Qt::Key_PageUp: return vk::kPageUp;
        case Qt::Key_PageDown: return vk::kPageDown;
        case Qt::Key_End: return vk::kEnd;
        case Qt::Key_Home: return vk::kHome;
        case Qt::Key_Left: return vk::kLeft;
        case Qt::Key_Up: return vk::kUp;
        case Qt::Key_Right: return vk::kRight;
        case Qt::Key_Down: return vk::kDown;
        case Qt::Key_Select: return vk::kSelect;
        case Qt::Key_Print: return vk::kPrint;
        case Qt::Key_Insert: return vk::kInsert;
        case Qt::Key_Delete: return vk::kDelete;
        case Qt::Key_Help: return vk::kHelp;
        case Qt::Key_Meta: case Qt::Key_Super_L: return vk::kLeftWindows;
        case Qt::Key_Super_R: return vk::kRightWindows;
        case Qt::Key_Menu: return vk::kApplications;
        case Qt::Key_Sleep: return vk::kSleep;
        case Qt::Key_NumLock: return vk::kNumLock;
        case Qt::Key_ScrollLock: return vk::kScrollLock;
        // Punctuation of the US layout, shifted or not, as its key.
        case Qt::Key_Semicolon: case Qt::Key_Colon: return vk::kSemicolon;
        case Qt::Key_Equal: case Qt::Key_Plus: return vk::kEqual;
        case Qt::Key_Comma: case Qt::Key_Less: return vk::kComma;
        case Qt::Key_Minus: case Qt::Key_Underscore: return vk::kMinus;
        case Qt::Key_Period: case Qt::Key_Greater: return vk::kPeriod;
        case Qt::Key_Slash: case Qt::Key_Question: return vk::kSlash;
        case Qt::Key_QuoteLeft: case Qt::Key_AsciiTilde: return vk::kGrave;
        case Qt::Key_BracketLeft: case Qt::Key_BraceLeft: return vk::kBracketLeft;
        case Qt::Key_Backslash: case Qt::Key_Bar: return vk::kBackslash;
        case Qt::Key_BracketRight: case Qt::Key_BraceRight: return vk::kBracketRight;
        case Qt::Key_Apostrophe: case Qt::Key_QuoteDbl: return vk::kApostrophe;
        // Shifted digits of the US layout.
        case Qt::Key_Exclam: return '1';
        case Qt::Key_At: return '2';
        case Qt::Key_NumberSign: return '3';
        case Qt::Key_Dollar: return '4';
        case Qt::Key_Percent: return '5';
        case Qt::Key_AsciiCircum: return '6';
        case Qt::Key_Ampersand: return '7';
        case Qt::Key_Asterisk: return '8';
        case Qt::Key_ParenLeft: return '9';
        case Qt::Key_ParenRight: return '0';
        default: return 0;
    }
}

// Keypad keys with Num Lock off, and the keypad operators.
int32_t KeypadKey(int key) {
    if (key >= Qt::Key_0 && key <= Qt::Key_9) return vk::kNumpad0 + (key - Qt::Key_0);
    switch (key) {
        case Qt::Key_Asterisk: return vk::kMultiply;
        case Qt::Key_Plus: return vk::kAdd;
        case Qt::Key_Minus: return vk::kSubtract;
        case Qt::Key_Period: case Qt::Key_Comma: return vk::kDecimal;
        case Qt::Key_Slash: return vk::kDivide;
        default: return NamedKey(key);
    }
}

// Letters and digits by their place on the keyboard (X11 key code = evdev
// code + 8), so a Cyrillic or other layout still gives the Latin key.
int32_t KeyByPosition(quint32 scanCode) {
    static const char kRows[][11] = {"1234567890", "QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
    static const quint32 kFirst[] = {2 + 8, 16 + 8, 30 + 8, 44 + 8};
    for (int row = 0; row < 4; ++row) {
        const quint32 length = static_cast<quint32>(std::char_traits<char>::length(kRows[row]));
        if (scanCode >= kFirst[row] && scanCode < kFirst[row] + length) return kRows[row][scanCode - kFirst[row]];
    }
    return 0;
}

}  // namespace

int32_t VirtualKeyOf(const QKeyEvent& event) {
    const int key = event.key();
    if (event.modifiers() & Qt::KeypadModifier) return KeypadKey(key);
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z)) return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return vk::kF1 + (key - Qt::Key_F1);
    if (const int32_t named = NamedKey(key)) return named;
    return KeyByPosition(event.nativeScanCode());
}

}  // namespace hot_key

void KeyCaptureEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    // The dialog keeps its own keys: focus change, default button, cancel.
    if (key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return || key == Qt::Key_Enter ||
        key == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    // Keys held with Alt belong to the dialog's mnemonics, not to the field.
    if ((event->modifiers() & Qt::AltModifier) || key == Qt::Key_Alt) {
        event->ignore();
        return;
    }
    event->accept();
    // A key without a code (media keys, some national letters) leaves the field as it was.
    if (const int32_t code = hot_key::VirtualKeyOf(*event)) emit KeyCaptured(code);
}

// The hot key dialog: three modifier boxes, the key field and the hide box.
class HotKeyDialog final : public QDialog {
public:
    HotKeyDialog(HotKey& owner, QWidget* parent);
    int Result() const { return result_; }

private:
    void Accept();
    static QCheckBox* Box(QWidget* parent, const char* id, const QString& text, QRect geometry);

    HotKey& owner_;
    int32_t valueAtOpening_;
    hot_key::Combination working_;
    int32_t workingHide_;
    KeyCaptureEdit* keyField_;
    int result_ = 0;
};

QCheckBox* HotKeyDialog::Box(QWidget* parent, const char* id, const QString& text, QRect geometry) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(QString::fromLatin1(id));
    box->setGeometry(geometry);
    return box;
}

HotKeyDialog::HotKeyDialog(HotKey& owner, QWidget* parent)
    : QDialog(parent), owner_(owner), valueAtOpening_(owner.value_), workingHide_(owner.hideStart_) {
    Registry& registry = owner_.registry_;
    setObjectName(QStringLiteral("dlghotkey"));
    setWindowTitle(UiText(registry, "HotKeyWindow"));
    const DialogUnits units(*this);
    auto Units = [&units](int x, int y, int w, int h) { return units.Rect(x, y, w, h); };
    setFixedSize(units.Size(249, 116));

    auto* memo = new QLabel(UiMemo(registry, 5), this);
    memo->setObjectName(QStringLiteral("id103"));
    memo->setWordWrap(true);
    memo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    memo->setGeometry(Units(7, 0, 240, 46));

    working_ = hot_key::Decode(valueAtOpening_);
    QCheckBox* ctrl = Box(this, "id217", QStringLiteral("Ctrl"), Units(19, 53, 30, 10));
    QCheckBox* alt = Box(this, "id218", QStringLiteral("Alt"), Units(59, 53, 30, 10));
    QCheckBox* shift = Box(this, "id219", QStringLiteral("Shift"), Units(105, 53, 36, 10));
    ctrl->setChecked(working_.ctrl);
    alt->setChecked(working_.alt);
    shift->setChecked(working_.shift);
    connect(ctrl, &QCheckBox::toggled, this, [this](bool on) { working_.ctrl = on; });
    connect(alt, &QCheckBox::toggled, this, [this](bool on) { working_.alt = on; });
    connect(shift, &QCheckBox::toggled, this, [this](bool on) { working_.shift = on; });

    keyField_ = new KeyCaptureEdit(this);
    keyField_->setObjectName(QStringLiteral("id113"));
    keyField_->setGeometry(Units(155, 49, 67, 14));
    keyField_->setText(QString::fromStdString(hot_key::KeyName(working_.key)));
    connect(keyField_, &KeyCaptureEdit::KeyCaptured, this, [this](int32_t code) {
        working_.key = code;
        keyField_->setText(QString::fromStdString(hot_key::KeyName(code)));
    });

    QCheckBox* hide = Box(this, "id220", UiText(registry, "HotKeyLabelStart"), Units(3, 76, 230, 10));
    hide->setChecked(workingHide_ == 1);
    connect(hide, &QCheckBox::toggled, this, [this](bool on) { workingHide_ = on ? 1 : 0; });

    auto* accept = new QPushButton(UiText(registry, "Accept"), this);
    accept->setObjectName(QStringLiteral("id1"));
    accept->setGeometry(Units(111, 97, 50, 16));
    accept->setDefault(true);
    connect(accept, &QPushButton::clicked, this, &HotKeyDialog::Accept);
    auto* cancel = new QPushButton(UiText(registry, "Cancel"), this);
    cancel->setObjectName(QStringLiteral("id2"));
    cancel->setGeometry(Units(185, 97, 50, 16));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });
}

void HotKeyDialog::Accept() {
    Registry& registry = owner_.registry_;
    int result = 0;
    if (workingHide_ != owner_.hideStart_) {
        owner_.hideStart_ = workingHide_;
        registry.SetInt("HideStart", workingHide_);
        result |= hot_key_result::kHideChanged;
    }
    owner_.value_ = hot_key::Encode(working_);
    if (owner_.value_ != valueAtOpening_) {
        registry.SetInt("HotKey", owner_.value_);
        result |= hot_key_result::kKeyChanged;
    }
    if (result != 0) {
        SaveRequest::SaveNowFor(registry);
    }
    result_ = result;
    done(result);
}

HotKey::HotKey(Registry& registry) : registry_(registry) {
    value_ = registry_.IntOr("HotKey", hot_key::kDefaultValue);
    hideStart_ = registry_.IntInRange("HideStart", 0, 0, 1);
    window_ = registry_.Find<MessagePoster>("_MainHwnd");
    // A key taken by another program, or no X11 at all, leaves no hot key.
    if (window_) global_ = GlobalHotKey::Register(value_, window_);
}

HotKey::~HotKey() = default;

bool HotKey::Registered() const { return static_cast<bool>(global_); }

const char* HotKey::MenuText() {
    menuText_ = UiText(registry_, "MenuHotKey").toStdString();
    menuText_ += "  ";
    menuText_ += hot_key::HotKeyText(value_);
    if (menuText_.size() > 511) menuText_.resize(511);
    return menuText_.c_str();
}

void HotKey::HideIfConfigured() {
    if (hideStart_ == 1 && window_) window_->Post(hot_key::kHotKeyMessage, 0, 0);
}

int HotKey::Run(QWidget* parent) {
    HotKeyDialog dialog(*this, parent);
    return MainMenu::RunModal(dialog);
}
