#include "terminal/history_view.h"

#include <cstdint>
#include <vector>

#include "platform.h"
#include "terminal/layout.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"

int viewOffset = 0;
bool selectionShown = false;
bool octetViewShown = false;

namespace {

const unsigned char BLANK = 32;

struct Cell {
    int row;  // as shownRow names rows
    int col;
};

// The selection runs from `anchor`, the cell pressed, to `extent`, the cell the
// mouse is over or was released on, whichever comes first in reading order.
Cell anchor = {0, 0};
Cell extent = {0, 0};
bool dragging = false;  // the left button is down and the drag began in the view
bool selectionIsMatch = false;  // the selection is a match that a search found
bool caretOutOfView = false;
// The view not shown keeps its place here, as rows back from its newest, and keeps
// its rows while rows come, as the shown one does.
int hiddenViewOffset = 0;
// The octet rows' newest page begins at this row (received_bytes.h numbering): the
// newest gridRows rows, or all of them while there are fewer.
std::uint64_t octetLiveTop = 0;
std::uint64_t octetRowsSeen = 0;  // octetRowsEnd when last told
std::vector<unsigned char> octetRowCells;  // gridColumns cells

int clamped(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

// Where the octet rows' newest page begins now.
std::uint64_t octetPageTop() {
    const std::uint64_t end = octetRowsEnd();
    const std::uint64_t first = firstKeptOctetRow();
    const std::uint64_t page = static_cast<std::uint64_t>(gridRows > 0 ? gridRows : 1);
    return end - first > page ? end - page : first;
}

// Rows of the octet view above its newest page.
int octetHistoryRows() {
    const std::uint64_t above = octetLiveTop - firstKeptOctetRow();
    return above > static_cast<std::uint64_t>(0x7FFFFFFF) ? 0x7FFFFFFF : static_cast<int>(above);
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
    selectionIsMatch = false;
    dragging = false;
}

// A person's doing changed what the view shows: it is shown at once.
void showViewNow() {
    oweWholeView();
    bringScreenUpToDate();
}

// The rows of the view's source moved up `count` rows past its newest page, and it
// keeps `depth` rows above that page now: a view that is back keeps its rows, back
// to the oldest kept. Returns how many rows the view's rows moved up.
int keepRowsThrough(int* offset, int count, int depth) {
    int moved = count;
    if (*offset > 0) {
        const int kept = *offset + count < depth ? *offset + count : depth;
        moved = count - (kept - *offset);
        *offset = kept;
    }
    return moved;
}

}  // namespace

// ---- the rows shown ----------------------------------------------------------------

int shownHistoryRows() {
    return octetViewShown ? octetHistoryRows() : historyRows;
}

const unsigned char* shownRow(int row) {
    if (!octetViewShown) return terminalRow(row);
    formatOctetRow(octetLiveTop + static_cast<std::uint64_t>(static_cast<long long>(row)),
                   octetRowCells.data(), gridColumns);
    return octetRowCells.data();
}

void toggleOctetView() {
    if (!screenGridReady()) return;
    forgetSelection();
    const int shownOffset = viewOffset;
    viewOffset = hiddenViewOffset;
    hiddenViewOffset = shownOffset;
    octetViewShown = !octetViewShown;
    viewOffset = clamped(viewOffset, 0, shownHistoryRows());
    checkOctetViewItem(octetViewShown);
    showViewNow();
}

// ---- looking back ------------------------------------------------------------------

int pageRows() {
    return gridRows > 1 ? gridRows - 1 : 1;
}

void scrollViewBack(int rows) {
    if (!screenGridReady()) return;
    const int target = clamped(viewOffset + rows, 0, shownHistoryRows());
    if (target == viewOffset) return;
    viewOffset = target;
    showViewNow();
}

void showOldestRows() {
    scrollViewBack(shownHistoryRows() - viewOffset);
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
    const unsigned char* cells = shownRow(at.row);
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

void selectMatch(int row, int from, int to) {
    if (!screenGridReady()) return;
    forgetSelection();
    anchor = Cell{row, from};
    extent = Cell{row, to};
    selectionShown = true;
    selectionIsMatch = true;
    if (row < -viewOffset) viewOffset = -row;
    else if (row > gridRows - 1 - viewOffset) viewOffset = gridRows - 1 - row > 0 ? gridRows - 1 - row : 0;
    showViewNow();
}

bool currentMatch(int* row, int* col) {
    if (!selectionShown || !selectionIsMatch) return false;
    *row = anchor.row;
    *col = anchor.col;
    return true;
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
        const unsigned char* cells = shownRow(row);
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
    hiddenViewOffset = 0;
    selectionShown = false;
    selectionIsMatch = false;
    dragging = false;
    if (octetViewShown) {
        octetViewShown = false;
        checkOctetViewItem(false);
    }
    octetLiveTop = octetPageTop();
    octetRowsSeen = octetRowsEnd();
    // A row's cells for a grid of this width, made now rather than while bytes come.
    octetRowCells.assign(static_cast<std::size_t>(gridColumns > 0 ? gridColumns : 1), BLANK);
    if (caretOutOfView) {
        caretOutOfView = false;
        setTerminalCaretOutOfView(false);
    }
}

int noteRowsScrolled(int count) {
    if (octetViewShown) {
        keepRowsThrough(&hiddenViewOffset, count, historyRows);
        return 0;  // the rows shown are not these
    }
    const int moved = keepRowsThrough(&viewOffset, count, historyRows);
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
    if (!octetViewShown && selectionShown && selectionLast().row >= 0) forgetSelection();
}

// ---- told by the received bytes --------------------------------------------------------

void noteOctetRowsChanged() {
    const std::uint64_t end = octetRowsEnd();
    const std::uint64_t top = octetPageTop();
    const std::uint64_t shift = top - octetLiveTop;
    const std::uint64_t rowsCame = end - octetRowsSeen;
    octetLiveTop = top;
    octetRowsSeen = end;
    const int count = shift > static_cast<std::uint64_t>(0x7FFFFFFF) ? 0x7FFFFFFF : static_cast<int>(shift);
    const int depth = octetHistoryRows();
    if (!octetViewShown) {
        keepRowsThrough(&hiddenViewOffset, count, depth);
        return;
    }
    const int moved = keepRowsThrough(&viewOffset, count, depth);
    if (selectionShown || dragging) {
        anchor.row -= count;
        extent.row -= count;
        if (selectionFirst().row < -depth) forgetSelection();  // its rows are no longer kept
    }
    // Rows that came onto a page that was not full are not all below the rows that
    // moved up: the page is drawn whole.
    if (viewOffset == 0 && static_cast<std::uint64_t>(moved) < rowsCame) oweWholeView();
    noteViewRowsMovedUp(moved);
}

// ---- drawing -----------------------------------------------------------------------

void drawViewRow(int viewRow, int from, int to) {
    const int row = viewRow - viewOffset;
    const unsigned char* cells = shownRow(row);
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
    const int shownRowOfCursor = cursorRow + viewOffset;
    const bool outOfView = octetViewShown || shownRowOfCursor >= gridRows;
    if (outOfView != caretOutOfView) {
        caretOutOfView = outOfView;
        setTerminalCaretOutOfView(outOfView);
    }
    const Point caret = cellPosition(outOfView ? cursorRow : shownRowOfCursor, cursorCol);
    placeTerminalCaret(caret.x, caret.y);
}

bool caretRowOutOfView() {
    return caretOutOfView;
}
