#include "EventOutbox.h"

const EventOutbox::Entry& EventOutbox::push(std::string text)
{
    bytes += text.size();
    kept.push_back({next++, std::make_shared<const std::string>(std::move(text))});
    // The newest event always stays: it is the one the page is about to be sent.
    while (bytes > limit && kept.size() > 1) {
        bytes -= kept.front().text->size();
        kept.pop_front();
        lost = true;
    }
    return kept.back();
}

void EventOutbox::acknowledge(uint64_t number)
{
    if (number > acked)
        acked = number < next ? number : next - 1;
    while (!kept.empty() && kept.front().number <= acked) {
        bytes -= kept.front().text->size();
        kept.pop_front();
    }
}

bool EventOutbox::holds(uint64_t number) const
{
    return !kept.empty() && number >= kept.front().number && number <= kept.back().number;
}

bool EventOutbox::takeLost()
{
    const bool was = lost;
    lost = false;
    return was;
}
