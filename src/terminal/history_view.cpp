#include "terminal/history_view.h"

#include "platform.h"
#include "terminal/layout.h"
#include "terminal/screen.h"

int viewOffset = 0;
bool selectionShown = false;

namespace {

const unsigned char BLANK = 32;

struct Cell {
    int row;  // as terminalRow names rows
    int col;
};

// The selection runs from `anchor`, the cell pressed, to `extent`, the cell the
// mouse is over or was released on, whichever comes first in reading order.
Cell anchor = {0, 0};
Cell extent = {0, 0};
bool dragging = false;  // the left button is down and the drag began in the view
bool caretOutOfView = false;

int clamped(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

Cell cellOfView(int viewRow, int col) {
    return Cell{clamped(viewRow, 0, gridRows - 1) - viewOffset, clamped(col, 0, gridColumns - 1)};
}

bool before(const Cell& a, const Cell& b) {
    return a.row < b.row || (a.row == b.row && a.col < b.col);
}

Cell selectionFirst() {
    return before(extent, anchor) ? extent : anchor;
}

Cell selectionLast() {
    return before(extent, anchor) ? anchor : extent;
}

bool isBlankCell(unsigned char cell) {
    return cell == BLANK || cell == 0;
}

void copySelection() {
    const std::string text = selectionText();
    copyTextToClipboard(text.c_str(), text.size());
}

// The selection is gone; every row is drawn again when the screen next catches up.
void forgetSelection() {
    if (selectionShown) oweWholeView();
    selectionShown = false;
    dragging = false;
}

// A person's doing changed what the view shows: it is shown at once.
void showViewNow() {
    oweWholeView();
    bringScreenUpToDate();
}

}  // namespace

// ---- looking back ------------------------------------------------------------------

int pageRows() {
    return gridRows > 1 ? gridRows - 1 : 1;
}

void scrollViewBack(int rows) {
    if (!screenGridReady()) return;
    const int target = clamped(viewOffset + rows, 0, historyRows);
    if (target == viewOffset) return;
    viewOffset = target;
    showViewNow();
}

void showOldestRows() {
    scrollViewBack(historyRows - viewOffset);
}

void showLiveRows() {
    scrollViewBack(-viewOffset);
}

// ---- selecting ---------------------------------------------------------------------

void pressSelection(int viewRow, int col) {
    if (!screenGridReady()) return;
    clearSelection();
    anchor = cellOfView(viewRow, col);
    extent = anchor;
    dragging = true;
}

void dragSelection(int viewRow, int col) {
    if (!dragging) return;
    const Cell at = cellOfView(viewRow, col);
    if (!selectionShown && at.row == anchor.row && at.col == anchor.col) return;
    if (selectionShown && at.row == extent.row && at.col == extent.col) return;
    extent = at;
    selectionShown = true;
    showViewNow();
}

void releaseSelection(int viewRow, int col) {
    if (!dragging) return;
    dragSelection(viewRow, col);
    dragging = false;
    if (selectionShown) copySelection();
}

void selectWordAt(int viewRow, int col) {
    if (!screenGridReady()) return;
    forgetSelection();  // drawn once, below, with what the click selects
    const Cell at = cellOfView(viewRow, col);
    const unsigned char* cells = terminalRow(at.row);
    if (isBlankCell(cells[at.col])) {
        bringScreenUpToDate();
        return;
    }
    int from = at.col;
    int to = at.col;
    while (from > 0 && !isBlankCell(cells[from - 1])) from--;
    while (to < gridColumns - 1 && !isBlankCell(cells[to + 1])) to++;
    anchor = Cell{at.row, from};
    extent = Cell{at.row, to};
    selectionShown = true;
    showViewNow();
    copySelection();
}

void clearSelection() {
    const bool shown = selectionShown;
    forgetSelection();
    if (shown) bringScreenUpToDate();
}

std::string selectionText() {
    std::string text;
    if (!selectionShown) return text;
    const Cell first = selectionFirst();
    const Cell last = selectionLast();
    for (int row = first.row; row <= last.row; ++row) {
        const unsigned char* cells = terminalRow(row);
        const int from = row == first.row ? first.col : 0;
        int to = row == last.row ? last.col : gridColumns - 1;
        while (to >= from && isBlankCell(cells[to])) to--;
        for (int col = from; col <= to; ++col) {
            text += static_cast<char>(cells[col] == 0 ? BLANK : cells[col]);
        }
        if (row != last.row) text += "\r\n";
    }
    return text;
}

bool selectedColumns(int row, int* from, int* to) {
    if (!selectionShown) return false;
    const Cell first = selectionFirst();
    const Cell last = selectionLast();
    if (row < first.row || row > last.row) return false;
    *from = row == first.row ? first.col : 0;
    *to = row == last.row ? last.col : gridColumns - 1;
    return true;
}

// ---- told by the interpreter -------------------------------------------------------

void resetHistoryView() {
    viewOffset = 0;
    selectionShown = false;
    dragging = false;
    if (caretOutOfView) {
        caretOutOfView = false;
        setTerminalCaretOutOfView(false);
    }
}

int noteRowsScrolled(int count) {
    int moved = count;
    if (viewOffset > 0) {
        // The view keeps its rows, back to the oldest kept.
        const int kept = viewOffset + count < historyRows ? viewOffset + count : historyRows;
        moved = count - (kept - viewOffset);
        viewOffset = kept;
    }
    if (!selectionShown && !dragging) return moved;
    // The grid's rows it covers moved, or it left the history: every row is drawn
    // again after a scroll.
    anchor.row -= count;
    extent.row -= count;
    if (selectionLast().row + count >= 0 || selectionFirst().row < -historyRows) forgetSelection();
    return moved;
}

void clearSelectionOnRow(int row) {
    if (row >= selectionFirst().row && row <= selectionLast().row) forgetSelection();
}

void noteGridBlanked() {
    if (selectionShown && selectionLast().row >= 0) forgetSelection();
}

// ---- drawing -----------------------------------------------------------------------

void drawViewRow(int viewRow, int from, int to) {
    const int row = viewRow - viewOffset;
    const unsigned char* cells = terminalRow(row);
    int selectedFrom = 0;
    int selectedTo = -1;
    if (selectedColumns(row, &selectedFrom, &selectedTo)) {
        if (selectedFrom < from) selectedFrom = from;
        if (selectedTo > to) selectedTo = to;
    }
    // Up to three runs: before the selected cells, the selected cells, after them.
    const int starts[3] = {from, selectedFrom, selectedTo + 1};
    const int ends[3] = {selectedFrom <= selectedTo ? selectedFrom - 1 : to, selectedTo, to};
    for (int run = 0; run < 3; ++run) {
        if (ends[run] < starts[run]) continue;
        const Point p = cellPosition(viewRow, starts[run]);
        drawTerminalRow(p.x, p.y, cells + starts[run], ends[run] - starts[run] + 1, run == 1);
        if (selectedFrom > selectedTo) break;  // nothing selected: one run did it all
    }
}

void drawWholeView() {
    if (!screenGridReady()) return;
    for (int viewRow = 0; viewRow < gridRows; ++viewRow) drawViewRow(viewRow, 0, gridColumns - 1);
}

void placeCaretAtCursor() {
    const int shownRow = cursorRow + viewOffset;
    const bool outOfView = shownRow >= gridRows;
    if (outOfView != caretOutOfView) {
        caretOutOfView = outOfView;
        setTerminalCaretOutOfView(outOfView);
    }
    const Point caret = cellPosition(outOfView ? cursorRow : shownRow, cursorCol);
    placeTerminalCaret(caret.x, caret.y);
}

bool caretRowOutOfView() {
    return caretOutOfView;
}
