// The hot key on X11: a passive key grab on the root window and a native
// event filter that turns its key presses into the hot key message. Kept in
// its own file, as the X11 headers define None, KeyPress and Bool.
#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>

#include <X11/keysym.h>
#include <xcb/xcb.h>

#include <array>
#include <cstdlib>

#include "core/message_poster.h"
#include "ui/global_hot_key.h"
#include "ui/hot_key.h"
#include "ui/virtual_keys.h"

namespace {

namespace vk = virtual_key;

// X11 keysym of a Windows virtual-key code; 0 when there is none.
uint32_t KeysymOf(int32_t code) {
    if (code >= 'A' && code <= 'Z') return XK_a + (code - 'A');
    if (code >= '0' && code <= '9') return XK_0 + (code - '0');
    if (code >= vk::kNumpad0 && code <= vk::kNumpad9) return XK_KP_0 + (code - vk::kNumpad0);
    if (code >= vk::kF1 && code <= vk::kF24) return XK_F1 + (code - vk::kF1);
    switch (code) {
        case vk::kBack: return XK_BackSpace;
        case vk::kTab: return XK_Tab;
        case vk::kClear: return XK_Clear;
        case vk::kReturn: return XK_Return;
        case vk::kShift: return XK_Shift_L;
        case vk::kControl: return XK_Control_L;
        case vk::kAlt: return XK_Alt_L;
        case vk::kPause: return XK_Pause;
        case vk::kCapsLock: return XK_Caps_Lock;
        case vk::kEscape: return XK_Escape;
        case vk::kSpace: return XK_space;
        case vk::kPageUp: return XK_Prior;
        case vk::kPageDown: return XK_Next;
        case vk::kEnd: return XK_End;
        case vk::kHome: return XK_Home;
        case vk::kLeft: return XK_Left;
        case vk::kUp: return XK_Up;
        case vk::kRight: return XK_Right;
        case vk::kDown: return XK_Down;
        case vk::kPrint: return XK_Print;
        case vk::kInsert: return XK_Insert;
        case vk::kDelete: return XK_Delete;
        case vk::kHelp: return XK_Help;
        case vk::kLeftWindows: return XK_Super_L;
        case vk::kRightWindows: return XK_Super_R;
        case vk::kApplications: return XK_Menu;
        case vk::kMultiply: return XK_KP_Multiply;
        case vk::kAdd: return XK_KP_Add;
        case vk::kSubtract: return XK_KP_Subtract;
        case vk::kDecimal: return XK_KP_Decimal;
        case vk::kDivide: return XK_KP_Divide;
        case vk::kNumLock: return XK_Num_Lock;
        case vk::kScrollLock: return XK_Scroll_Lock;
        case vk::kSemicolon: return XK_semicolon;
        case vk::kEqual: return XK_equal;
        case vk::kComma: return XK_comma;
        case vk::kMinus: return XK_minus;
        case vk::kPeriod: return XK_period;
        case vk::kSlash: return XK_slash;
        case vk::kGrave: return XK_grave;
        case vk::kBracketLeft: return XK_bracketleft;
        case vk::kBackslash: return XK_backslash;
        case vk::kBracketRight: return XK_bracketright;
        case vk::kApostrophe: return XK_apostrophe;
        default: return 0;
    }
}

// First key code whose mapping holds the keysym, in any group or level.
xcb_keycode_t KeycodeOf(xcb_connection_t* connection, uint32_t keysym) {
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
    if (!reply) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    xcb_keycode_t found = 0;
    for (int i = 0; i < count && !found; ++i) {
        for (int j = 0; j < perCode; ++j) {
            if (syms[i * perCode + j] == keysym) {
                found = static_cast<xcb_keycode_t>(first + i);
                break;
            }
        }
    }
    std::free(reply);
    return found;
}

// Modifier mask that the Num Lock key sets (Mod2 on most keyboards).
uint16_t NumLockMask(xcb_connection_t* connection) {
    const xcb_keycode_t numLock = KeycodeOf(connection, XK_Num_Lock);
    uint16_t mask = 0;
    xcb_get_modifier_mapping_reply_t* reply =
        xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
    if (!reply) return XCB_MOD_MASK_2;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply);
    const int perModifier = reply->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8 && numLock; ++modifier) {
        for (int k = 0; k < perModifier; ++k) {
            if (codes[modifier * perModifier + k] == numLock) mask = static_cast<uint16_t>(1u << modifier);
        }
    }
    std::free(reply);
    return mask ? mask : static_cast<uint16_t>(XCB_MOD_MASK_2);
}

class X11HotKey final : public GlobalHotKey, public QAbstractNativeEventFilter {
public:
    X11HotKey(xcb_connection_t* connection, xcb_window_t root, xcb_keycode_t keycode, uint16_t modifiers,
              uint16_t numLock, MessagePoster* window)
        : connection_(connection), root_(root), keycode_(keycode), modifiers_(modifiers), numLock_(numLock),
          window_(window) {}

    ~X11HotKey() override {
        QCoreApplication* app = QCoreApplication::instance();
        if (app) app->removeNativeEventFilter(this);
        for (uint16_t extra : Extras()) xcb_ungrab_key(connection_, keycode_, root_, modifiers_ | extra);
        xcb_flush(connection_);
    }

    // Grabs once for each state of Num Lock and Caps Lock; false when another
    // client holds the plain combination.
    bool Grab() {
        bool ok = true;
        for (uint16_t extra : Extras()) {
            xcb_void_cookie_t cookie = xcb_grab_key_checked(connection_, 1, root_, modifiers_ | extra, keycode_,
                                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb_request_check(connection_, cookie)) {
                if (extra == 0) ok = false;
                std::free(error);
            }
        }
        return ok;
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") return false;
        auto* event = static_cast<xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7F) != XCB_KEY_PRESS) return false;
        auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
        const uint16_t relevant = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_1;
        if (press->detail != keycode_ || (press->state & relevant) != modifiers_) return false;
        if (press->event != root_) return false;
        window_->Post(hot_key::kHotKeyMessage, hot_key::kHotKeyId, 0);
        return true;
    }

private:
    std::array<uint16_t, 4> Extras() const {
        return {0, XCB_MOD_MASK_LOCK, numLock_, static_cast<uint16_t>(numLock_ | XCB_MOD_MASK_LOCK)};
    }

    xcb_connection_t* connection_;
    xcb_window_t root_;
    xcb_keycode_t keycode_;
    uint16_t modifiers_;
    uint16_t numLock_;
    MessagePoster* window_;
};

}  // namespace

std::unique_ptr<GlobalHotKey> GlobalHotKey::Register(int32_t value, MessagePoster* window) {
    const hot_key::Combination combination = hot_key::Decode(value);
    if (combination.key == 0 || !window) return nullptr;
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* connection = app ? app->connection() : nullptr;
    if (!connection) return nullptr;
    const uint32_t keysym = KeysymOf(combination.key);
    const xcb_keycode_t keycode = keysym ? KeycodeOf(connection, keysym) : 0;
    if (!keycode) return nullptr;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen) return nullptr;
    uint16_t modifiers = 0;
    if (combination.ctrl) modifiers |= XCB_MOD_MASK_CONTROL;
    if (combination.alt) modifiers |= XCB_MOD_MASK_1;
    if (combination.shift) modifiers |= XCB_MOD_MASK_SHIFT;
    auto hotKey = std::make_unique<X11HotKey>(connection, screen->root, keycode, modifiers, NumLockMask(connection),
                                              window);
    if (!hotKey->Grab()) return nullptr;
    qGuiApp->installNativeEventFilter(hotKey.get());
    return hotKey;
}
