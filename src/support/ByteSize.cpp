#include "support/ByteSize.h"

#include "support/Text.h"

std::wstring formatByteSize(int64_t bytes)
{
    if (bytes < 1024)
        return std::to_wstring(bytes) + L" bytes";

    static const wchar_t* const units[] = {L"KB", L"MB", L"GB", L"TB", L"PB", L"EB"};
    using u128 = unsigned __int128;
    const u128 value = static_cast<u128>(bytes);
    int unit = 0;
    u128 divisor = 1024;
    // Move up while the whole part reaches 1000 (1024000 bytes is "0.97 MB", not "1000 KB").
    while (unit < 5 && value / divisor >= 1000) {
        ++unit;
        divisor *= 1024;
    }
    const u128 whole = value / divisor;
    int decimals = whole < 10 ? 2 : whole < 100 ? 1 : 0;
    u128 scale = decimals == 2 ? 100 : decimals == 1 ? 10 : 1;
    const u128 scaled = value * scale / divisor;  // truncated, never rounded
    const unsigned long long intPart = static_cast<unsigned long long>(scaled / scale);
    const unsigned long long fracPart = static_cast<unsigned long long>(scaled % scale);

    // Digits put together by hand: a wide printf costs more than the rest of a progress event.
    std::wstring text = formatInt64W(static_cast<int64_t>(intPart));
    if (decimals > 0) {
        const std::wstring fraction = formatInt64W(static_cast<int64_t>(fracPart));
        text += L'.';
        text.append(static_cast<size_t>(decimals) - fraction.size(), L'0');
        text += fraction;
    }
    text += L' ';
    text += units[unit];
    return text;
}
