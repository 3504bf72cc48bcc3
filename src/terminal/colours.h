// The colours cells are drawn in: the 16 colours a device names by the ANSI numbers,
// chosen to read on the window's white, and the program's own.
#ifndef ORU_COLOURS_H
#define ORU_COLOURS_H

#include <cstdint>

#include "platform.h"

// Indexes into the palette: 0 to 7 are the colours of 30 to 37 (and 40 to 47), 8 to
// 15 their bright ones of 90 to 97 (and 100 to 107); then the program's own.
const unsigned char ANSI_COLOURS = 16;
const unsigned char DEFAULT_TEXT = 16;  // black, as the window has always drawn text
const unsigned char DEFAULT_BACK = 17;  // the window's white
const unsigned char SENT_TEXT = 18;     // what the program sent: octet rows, local echo
const unsigned char PALETTE_SIZE = 19;

const CellColours PLAIN_CELLS = {DEFAULT_TEXT, DEFAULT_BACK};
const CellColours SENT_CELLS = {SENT_TEXT, DEFAULT_BACK};

inline bool sameColours(CellColours a, CellColours b) {
    return a.text == b.text && a.back == b.back;
}
// A selected cell shows its two colours swapped.
inline CellColours swappedColours(CellColours colours) {
    return CellColours{colours.back, colours.text};
}

// The colour of an index as 0xRRGGBB.
std::uint32_t paletteColour(unsigned char index);
// The nearest of the 16 to a colour given as red, green and blue (0 to 255 each), and
// to one of the 256 that devices number (0 to 255: the 16, then a cube of 216 from
// 16 to 231, then greys).
unsigned char nearestAnsiColour(int red, int green, int blue);
unsigned char ansiColourOf256(int number);

#endif
