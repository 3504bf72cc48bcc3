#include "terminal/row_search.h"

#include <cstring>

#include "terminal/history_view.h"
#include "terminal/screen.h"

namespace {

// Each cell as it is searched: 0 shown as a blank, and, for a search without case,
// the capitals A to Z as small letters.
struct SearchedCells {
    char asShown[256];
    char withoutCase[256];
};

SearchedCells makeSearchedCells() {
    SearchedCells cells;
    for (int c = 0; c < 256; ++c) {
        const unsigned char shown = cellAsShown(static_cast<unsigned char>(c));
        cells.asShown[c] = static_cast<char>(shown);
        cells.withoutCase[c] = static_cast<char>(shown >= 'A' && shown <= 'Z' ? shown - 'A' + 'a' : shown);
    }
    return cells;
}

const SearchedCells searchedCells = makeSearchedCells();

// The search asked for last.
std::string lastText;
bool lastMatchCase = false;
bool lastDown = false;

// What is searched for: the text through the table, and the bytes that read as its
// first character (a letter and its capital, a blank and 0).
struct Wanted {
    const char* table;
    std::string text;
    unsigned char starts[3];
    int forms;
};

Wanted wantedText(const std::string& text, bool matchCase) {
    Wanted wanted;
    wanted.table = matchCase ? searchedCells.asShown : searchedCells.withoutCase;
    wanted.text = text;
    for (char& c : wanted.text) c = wanted.table[static_cast<unsigned char>(c)];
    wanted.forms = 0;
    for (int byte = 0; byte < 256 && wanted.forms < 3; ++byte) {
        if (wanted.table[byte] == wanted.text[0]) wanted.starts[wanted.forms++] = static_cast<unsigned char>(byte);
    }
    return wanted;
}

bool matchesAt(const unsigned char* cells, int col, const Wanted& wanted) {
    for (std::size_t i = 0; i < wanted.text.size(); ++i) {
        if (wanted.table[cells[col + static_cast<int>(i)]] != wanted.text[i]) return false;
    }
    return true;
}

// The column where the wanted text starts in the row, between `from` and `to`: the
// first one going down, the last one going up; -1 for none. Only the cells that can
// begin a match are tried: memchr finds them.
int matchInRow(const unsigned char* cells, const Wanted& wanted, int from, int to, bool down) {
    const int last = shownRowLength(cells, gridColumns) - static_cast<int>(wanted.text.size());
    if (to > last) to = last;
    if (from < 0) from = 0;
    if (to < from) return -1;
    int found = -1;
    for (int form = 0; form < wanted.forms; ++form) {
        int col = from;
        while (col <= to) {
            const void* at = std::memchr(cells + col, wanted.starts[form], static_cast<std::size_t>(to - col + 1));
            if (at == nullptr) break;
            col = static_cast<int>(static_cast<const unsigned char*>(at) - cells);
            if (matchesAt(cells, col, wanted)) {
                if (down) {
                    if (found < 0 || col < found) found = col;
                    break;
                }
                if (col > found) found = col;
            }
            col++;
        }
    }
    return found;
}

}  // namespace

bool findInShownRows(const std::string& text, bool matchCase, bool down) {
    if (text.empty() || !screenGridReady()) return false;
    const Wanted wanted = wantedText(text, matchCase);
    const RowNumber first = firstShownRow();
    const RowNumber end = shownRowsEnd();
    // The first row is searched from next to the search's place on; without one,
    // from the view's bottom row up or from its top row down.
    RowNumber row = 0;
    int place = 0;
    int from = 0;
    int to = gridColumns;
    if (searchPlace(&row, &place)) {
        if (down) from = place + 1;
        else to = place - 1;
    } else {
        const RowNumber top = viewTopRow();
        const RowNumber bottom = top + gridRows - 1 < end - 1 ? top + gridRows - 1 : end - 1;
        row = down ? top : bottom;
    }
    for (; down ? row < end : row >= first; row += down ? 1 : -1) {
        const int col = matchInRow(shownRowCells(row), wanted, from, to, down);
        if (col >= 0) {
            selectMatch(row, col, col + static_cast<int>(text.size()) - 1);
            return true;
        }
        from = 0;
        to = gridColumns;
    }
    return false;
}

void rememberSearch(const std::string& text, bool matchCase, bool down) {
    lastText = text;
    lastMatchCase = matchCase;
    lastDown = down;
}

bool findAskedFor(const std::string& text, bool matchCase, bool down) {
    rememberSearch(text, matchCase, down);
    return findInShownRows(lastText, lastMatchCase, lastDown);
}

bool textSearched() {
    return !lastText.empty();
}

bool findAgainInShownRows(bool otherWay) {
    return findInShownRows(lastText, lastMatchCase, lastDown != otherWay);
}

std::string notFoundText() {
    return "Impossible de trouver \"" + lastText + "\"";
}
