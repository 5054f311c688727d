#include "ui/posted_message.h"

#include <QCoreApplication>

#include <atomic>
#include <new>

namespace {

constexpr int kPoolSlots = 64;

struct alignas(alignof(std::max_align_t)) Slot {
    unsigned char bytes[sizeof(PostedMessage)];
};

Slot g_pool[kPoolSlots];
std::atomic<bool> g_used[kPoolSlots];

bool InPool(void* pointer) {
    auto* slot = static_cast<Slot*>(pointer);
    return slot >= g_pool && slot < g_pool + kPoolSlots;
}

}  // namespace

QEvent::Type PostedMessage::EventType() {
    static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void* PostedMessage::operator new(std::size_t size) {
    if (size <= sizeof(Slot)) {
        for (int i = 0; i < kPoolSlots; ++i) {
            bool expected = false;
            if (!g_used[i].load(std::memory_order_relaxed) &&
                g_used[i].compare_exchange_strong(expected, true, std::memory_order_acquire))
                return &g_pool[i];
        }
    }
    // More messages in flight than the pool holds: the window is far behind.
    return ::operator new(size);
}

void PostedMessage::operator delete(void* pointer) noexcept {
    if (!pointer) return;
    if (InPool(pointer)) {
        g_used[static_cast<Slot*>(pointer) - g_pool].store(false, std::memory_order_release);
        return;
    }
    ::operator delete(pointer);
}

void PostedMessageReceiver::Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    QCoreApplication::postEvent(this, new PostedMessage(message, wParam, lParam));
}

bool PostedMessageReceiver::event(QEvent* event) {
    if (event->type() != PostedMessage::EventType()) return QObject::event(event);
    const auto* posted = static_cast<PostedMessage*>(event);
    handler_(posted->Message(), posted->WParam(), posted->LParam());
    return true;
}
