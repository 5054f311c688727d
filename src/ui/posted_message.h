#pragma once

#include <QEvent>
#include <QObject>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

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

// Receives the posted messages of a window: a plain object, so the messages
// pass none of the event filters, layouts and style checks a widget's
// events do. The handler runs on the object's thread.
class PostedMessageReceiver final : public QObject {
public:
    using Handler = std::function<void(uint32_t message, uintptr_t wParam, intptr_t lParam)>;
    explicit PostedMessageReceiver(Handler handler) : handler_(std::move(handler)) {}

    // Any thread.
    void Post(uint32_t message, uintptr_t wParam, intptr_t lParam);

protected:
    bool event(QEvent* event) override;

private:
    Handler handler_;
};
