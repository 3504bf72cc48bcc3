#include "terminal/colours.h"

namespace {

// Each of the 16 reads on white at a contrast of 3:1 or more: yellow is a dark gold,
// white and light grey are greys.
const std::uint32_t PALETTE[PALETTE_SIZE] = {
    0x000000, 0xAA0000, 0x008000, 0xA07800, 0x0000AA, 0xAA00AA, 0x008080, 0x808080,
    0x555555, 0xDC0000, 0x00A000, 0xB48700, 0x3C3CFF, 0xD200D2, 0x009696, 0x919191,
    0x000000, 0xFFFFFF, 0x0000C0,
};

// What devices mean by the 16 numbers, as most terminals draw them on black: the
// colours a device's 256 and its red, green and blue are matched against.
const std::uint32_t USUAL_ANSI_COLOURS[ANSI_COLOURS] = {
    0x000000, 0xCD0000, 0x00CD00, 0xCDCD00, 0x0000EE, 0xCD00CD, 0x00CDCD, 0xE5E5E5,
    0x7F7F7F, 0xFF0000, 0x00FF00, 0xFFFF00, 0x5C5CFF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
};

int component(std::uint32_t colour, int shift) {
    return static_cast<int>((colour >> shift) & 0xFF);
}

// The cube's six levels of each component.
int cubeLevel(int step) {
    return step == 0 ? 0 : 55 + 40 * step;
}

}  // namespace

std::uint32_t paletteColour(unsigned char index) {
    return index < PALETTE_SIZE ? PALETTE[index] : PALETTE[DEFAULT_TEXT];
}

unsigned char nearestAnsiColour(int red, int green, int blue) {
    unsigned char nearest = 0;
    long best = -1;
    for (unsigned char i = 0; i < ANSI_COLOURS; ++i) {
        const long dr = red - component(USUAL_ANSI_COLOURS[i], 16);
        const long dg = green - component(USUAL_ANSI_COLOURS[i], 8);
        const long db = blue - component(USUAL_ANSI_COLOURS[i], 0);
        const long distance = dr * dr + dg * dg + db * db;
        if (best < 0 || distance < best) {
            best = distance;
            nearest = i;
        }
    }
    return nearest;
}

unsigned char ansiColourOf256(int number) {
    if (number < ANSI_COLOURS) return static_cast<unsigned char>(number);
    if (number >= 232) {
        const int grey = 8 + 10 * (number - 232);
        return nearestAnsiColour(grey, grey, grey);
    }
    const int cube = number - 16;
    return nearestAnsiColour(cubeLevel(cube / 36), cubeLevel(cube / 6 % 6), cubeLevel(cube % 6));
}
