#pragma once

#include <QEvent>

#include <cstddef>
#include <cstdint>

// A window message carried as a posted Qt event. Events come from a fixed
// pool, so posting one per camera frame allocates nothing once running.
class PostedMessage final : public QEvent {
public:
    static QEvent::Type EventType();

    PostedMessage(uint32_t message, uintptr_t wParam, intptr_t lParam)
        : QEvent(EventType()), message_(message), wParam_(wParam), lParam_(lParam) {}

    uint32_t Message() const { return message_; }
    uintptr_t WParam() const { return wParam_; }
    intptr_t LParam() const { return lParam_; }

    static void* operator new(std::size_t size);
    static void operator delete(void* pointer) noexcept;

private:
    uint32_t message_;
    uintptr_t wParam_;
    intptr_t lParam_;
};
