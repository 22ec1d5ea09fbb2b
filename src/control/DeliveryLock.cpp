#include "control/DeliveryLock.h"

void DeliveryLock::acquire(Apartment& page)
{
    std::unique_lock<std::mutex> lock(mutex);
    const uint64_t ticket = nextTicket++;
    if (!page.isCurrent()) {
        turnChanged.wait(lock, [&] { return serving == ticket; });
        return;
    }
    pageTickets.insert(ticket);
    lock.unlock();
    page.pumpUntil([&] { return isPageTurn(); });
    lock.lock();
    pageTickets.erase(serving);
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

bool DeliveryLock::isPageTurn()
{
    std::lock_guard<std::mutex> lock(mutex);
    return pageTickets.count(serving) != 0;
}
