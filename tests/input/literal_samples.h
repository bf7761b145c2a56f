#pragma once
#include <random>
#include <string>

namespace blockset::testing {

/// One near-literal: a dotted quad, sometimes with a prefix length or a second quad after it,
/// whose groups run to four digits (often above 255) and whose punctuation is now and then
/// wrong, so that every form, every bound and every way of failing turns up.
inline std::string near_literal(std::mt19937& random)
{
    static const char stray[] = "./-x 0";
    auto digits = [&](std::string& text, unsigned most) {
        unsigned count = 1 + random() % most;
        for (unsigned i = 0; i < count; ++i) text += static_cast<char>('0' + random() % (i == 0 && random() % 2 ? 3 : 10));
    };
    auto quad = [&](std::string& text) {
        for (int group = 0; group < 4; ++group) {
            if (group > 0) text += random() % 12 ? '.' : stray[random() % (sizeof stray - 1)];
            if (random() % 30) digits(text, random() % 8 ? 3 : 4);
        }
    };
    std::string text;
    quad(text);
    switch (random() % 6) {
    case 0:
    case 1:
        text += '/';
        if (random() % 10) digits(text, 3);
        break;
    case 2:
    case 3:
        text += '-';
        quad(text);
        break;
    case 4:
        text += stray[random() % (sizeof stray - 1)];
        break;
    default:
        break;
    }
    return text;
}

} // namespace blockset::testing
