#pragma once

#include <array>

// Letter case folding for the single-byte (Windows-1252) letters: the list's
// order and the find line both ignore case this way.
constexpr std::array<unsigned char, 256> MakeFold() {
    std::array<unsigned char, 256> fold{};
    for (int i = 0; i < 256; ++i)
        fold[i] = static_cast<unsigned char>(i);
    for (int c = 'A'; c <= 'Z'; ++c)
        fold[c] = static_cast<unsigned char>(c + 32);
    for (int c = 0xC0; c <= 0xDE; ++c) {
        if (c != 0xD7)
            fold[c] = static_cast<unsigned char>(c + 32);
    }
    fold[0x8A] = 0x9A; // S caron
    fold[0x8C] = 0x9C; // OE
    fold[0x8E] = 0x9E; // Z caron
    fold[0x9F] = 0xFF; // Y diaeresis
    return fold;
}

inline constexpr std::array<unsigned char, 256> kFold = MakeFold();
