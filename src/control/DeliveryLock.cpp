#include "control/DeliveryLock.h"

void DeliveryLock::acquire(Apartment& page)
{
    std::unique_lock<std::mutex> lock(mutex);
    const uint64_t ticket = nextTicket++;
    if (!page.isCurrent()) {
        turnChanged.wait(lock, [&] { return serving == ticket; });
        return;
    }
    lock.unlock();
    page.pumpUntil([&] { return isTurn(ticket); });
}

void DeliveryLock::release(Apartment& page)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++serving;
        turnChanged.notify_all();
    }
    page.wake();
}

bool DeliveryLock::isTurn(uint64_t ticket)
{
    std::lock_guard<std::mutex> lock(mutex);
    return serving == ticket;
}
