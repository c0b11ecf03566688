// The broadcast family of the reply conversion: the exchange's general broadcast (6501),
// its market-state announcements (6511 market open, 6521 market closed, 6531 preopen
// begins, 6571 preopen ends; 319 bytes) and its message from market control (5295, 289
// bytes) become a News message (35=B) with a Headline and one line of text.
// Includes the engine's headers: C++14 only.
#pragma once

#include <cstdint>
#include <string>

#include "Message.h"

enum : uint32_t
{
    // The line of text holds at most this many characters: the three prefix
    // characters, " - ", and at most 233 characters of the exchange's text.
    NEWS_LINE_SIZE = 239,
    NEWS_TEXT_MAXIMUM = 233,
};

// The line the client reads, built from the record of the given transcode.
std::string fixNewsLine(const uint8_t *record, int16_t transcode);
// News of 5295, 6501, 6511, 6521, 6531 and 6571. Throws the engine's exceptions.
void fixNewsFill(FIX::Message &news, const uint8_t *record, int16_t transcode);
