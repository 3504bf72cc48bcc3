#include "terminal/history_view.h"

#include <vector>

#include "platform.h"
#include "terminal/colours.h"
#include "terminal/layout.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"
#include "ui/resource.h"

bool selectionShown = false;
bool octetViewShown = false;

namespace {

struct Cell {
    RowNumber row;
    int col;
};

// A source's place in the view, kept while the other source is shown, and what the
// view saw of the source when it last asked.
struct SourceView {
    RowNumber top;           // the row at the view's top
    RowNumber pageTopSeen;   // where the newest page began
    RowNumber endSeen;       // the row after the newest
    RowNumber writableSeen;  // the first row that could still be written
    Cell searchFrom;         // where a search goes on from, when hasSearchPlace
    bool hasSearchPlace;
};

const RowSource* const SOURCES[2] = {&textRows, &octetRows};
const int TEXT_SOURCE = 0;
SourceView views[2] = {};

// The selection runs from `anchor`, the cell pressed, to `extent`, the cell the
// mouse is over or was released on, whichever comes first in reading order.
Cell anchor = {0, 0};
Cell extent = {0, 0};
bool dragging = false;  // the left button is down and the drag began in the view
bool caretOutOfView = false;
std::vector<unsigned char> rowScratch;  // an octet row's cells, made when asked for
std::vector<CellColours> colourScratch;  // a row's colours, when made when asked for

// ---- what the window still owes -------------------------------------------------------
bool drawingOwed = false;     // the sources or the view changed since the last drawing
bool wholeViewOwed = false;   // every row of the view is drawn again
RowNumber drawnTop = 0;       // the row the window shows at the view's top
RowNumber drawnEnd = 0;       // the source's end when it was drawn
long long lastDrawingTime = 0;  // milliseconds
bool drawingScheduled = false;  // the platform calls at every frame
int framesWithNothingOwed = 0;
// Frames with nothing to draw before the platform stops calling: while bytes keep
// coming, the frames go on without being asked for again.
const int IDLE_FRAMES_BEFORE_STOPPING = 15;

struct ColumnSpan {
    int from;
    int to;  // before from: nothing
};
std::vector<ColumnSpan> owedColumns;  // one per view row

int shownIndex() {
    return octetViewShown ? 1 : 0;
}

const RowSource& shownSource() {
    return *SOURCES[shownIndex()];
}

SourceView& shownView() {
    return views[shownIndex()];
}

int clamped(int value, int low, int high) {
    return value < low ? low : value > high ? high : value;
}

int rowsAsInt(RowNumber rows) {
    return rows > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(rows);
}

// Where the source's newest page begins.
RowNumber pageTopOf(const RowSource& source) {
    const RowNumber first = source.firstRow();
    const RowNumber end = source.rowsEnd();
    const RowNumber page = gridRows > 0 ? gridRows : 1;
    return end - first > page ? end - page : first;
}

// Where a view's top is now: a view that showed the newest page follows it, one
// further back keeps its rows while they are kept.
RowNumber topNow(const SourceView& view, const RowSource& source) {
    const RowNumber pageTop = pageTopOf(source);
    if (view.top == view.pageTopSeen) return pageTop;
    const RowNumber first = source.firstRow();
    return view.top < first ? first : view.top > pageTop ? pageTop : view.top;
}

Cell cellOfView(int viewRow, int col) {
    return Cell{shownView().top + clamped(viewRow, 0, gridRows - 1), clamped(col, 0, gridColumns - 1)};
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

void copySelection() {
    const std::string text = selectionText();
    copyTextToClipboard(text.c_str(), text.size());
}

void oweWholeView() {
    wholeViewOwed = true;
    drawingOwed = true;
}

// The selection is gone; every row is drawn again when the window next catches up.
void forgetSelection() {
    if (selectionShown) oweWholeView();
    selectionShown = false;
    dragging = false;
}

void placeSearchAt(const Cell& at) {
    SourceView& view = shownView();
    view.searchFrom = at;
    view.hasSearchPlace = true;
}

// A selection ends once its rows change: when they leave the rows kept, and, over
// rows that could still be written (the grid), when bytes are written into them or
// they move up (the grid scrolls).
void endSelectionWhoseRowsChanged(const SourceView& view, const RowSource& source) {
    const Cell first = selectionFirst();
    const Cell last = selectionLast();
    if (first.row < source.firstRow()) {
        forgetSelection();
        return;
    }
    if (last.row < view.writableSeen) return;
    if (source.rowsEnd() > view.endSeen) {
        forgetSelection();
        return;
    }
    int from = 0;
    int to = 0;
    for (RowNumber row = first.row > view.writableSeen ? first.row : view.writableSeen; row <= last.row; ++row) {
        if (source.writtenColumns(row, &from, &to)) {
            forgetSelection();
            return;
        }
    }
}

// What changed in the source shown since the view last asked: its top follows the
// newest rows or keeps its own, and a selection whose rows changed ends.
void takeShownChanges() {
    SourceView& view = shownView();
    const RowSource& source = shownSource();
    view.top = topNow(view, source);
    if (selectionShown || dragging) endSelectionWhoseRowsChanged(view, source);
    view.pageTopSeen = pageTopOf(source);
    view.endSeen = source.rowsEnd();
    view.writableSeen = source.firstWritableRow();
}

// A person acts on the view: what came is taken first, so that the act applies to
// the rows as they are now.
void catchUpBeforeActing() {
    if (drawingOwed) bringScreenUpToDate();
    else takeShownChanges();
}

// A person's doing changed what the view shows: it is shown at once.
void showViewNow() {
    oweWholeView();
    bringScreenUpToDate();
}

// The window shows every row of the view and what the source holds now.
void noteDrawn(const RowSource& source) {
    source.forgetWrittenRows();
    drawnTop = shownView().top;
    drawnEnd = source.rowsEnd();
    drawingOwed = false;
    wholeViewOwed = false;
    lastDrawingTime = monotonicMilliseconds();
}

// One thing of each cell of a shown row (its character, its colours), as the source
// gives it, or `blank` for a row the source does not keep.
template <typename Cell>
const Cell* shownRowOf(RowNumber row, std::vector<Cell>& scratch, Cell blank,
                       const Cell* (*fromSource)(RowNumber, Cell*, int)) {
    const std::size_t columns = static_cast<std::size_t>(gridColumns > 0 ? gridColumns : 1);
    if (scratch.size() < columns) scratch.resize(columns);
    const RowSource& source = shownSource();
    if (row < source.firstRow() || row >= source.rowsEnd()) {
        scratch.assign(scratch.size(), blank);
        return scratch.data();
    }
    return fromSource(row, scratch.data(), gridColumns);
}

// The colours of a row's cells when not selected: blank rows' are plain.
const CellColours* shownRowColours(RowNumber row) {
    return shownRowOf(row, colourScratch, PLAIN_CELLS, shownSource().rowColours);
}

// Draws the columns from..to of one view row in runs of one colour, selected cells'
// colours swapped.
void drawViewRow(int viewRow, int from, int to) {
    const RowNumber row = shownView().top + viewRow;
    const unsigned char* cells = shownRowCells(row);
    const CellColours* colours = shownRowColours(row);
    int selectedFrom = 0;
    int selectedTo = -1;
    selectedColumns(row, &selectedFrom, &selectedTo);
    const auto colourAt = [&](int col) {
        return col >= selectedFrom && col <= selectedTo ? swappedColours(colours[col]) : colours[col];
    };
    int start = from;
    for (int col = from; col <= to; ++col) {
        const CellColours run = colourAt(col);
        if (col < to && sameColours(run, colourAt(col + 1))) continue;
        const Point p = cellPosition(viewRow, start);
        drawTerminalRow(p.x, p.y, cells + start, col - start + 1, run);
        start = col + 1;
    }
}

// The columns of each view row that the window must draw again; false when none.
bool findOwedColumns(const SourceView& view, const RowSource& source, RowNumber moved, bool whole) {
    owedColumns.assign(static_cast<std::size_t>(gridRows), ColumnSpan{0, -1});
    bool any = false;
    const RowNumber end = source.rowsEnd();
    for (int viewRow = 0; viewRow < gridRows; ++viewRow) {
        const RowNumber row = view.top + viewRow;
        ColumnSpan& span = owedColumns[static_cast<std::size_t>(viewRow)];
        if (whole || viewRow >= gridRows - moved || (row >= drawnEnd && row < end)) {
            span = ColumnSpan{0, gridColumns - 1};
        } else if (!source.writtenColumns(row, &span.from, &span.to)) {
            continue;
        }
        any = true;
    }
    return any;
}

}  // namespace

// ---- the rows shown ----------------------------------------------------------------

RowNumber firstShownRow() {
    return shownSource().firstRow();
}

RowNumber shownRowsEnd() {
    return shownSource().rowsEnd();
}

RowNumber shownPageTop() {
    return pageTopOf(shownSource());
}

RowNumber viewTopRow() {
    return topNow(shownView(), shownSource());
}

int viewOffset() {
    return rowsAsInt(shownPageTop() - viewTopRow());
}

int shownHistoryRows() {
    return rowsAsInt(shownPageTop() - firstShownRow());
}

const unsigned char* shownRowCells(RowNumber row) {
    return shownRowOf(row, rowScratch, BLANK, shownSource().rowCells);
}

void toggleOctetView() {
    if (!screenGridReady()) return;
    catchUpBeforeActing();
    forgetSelection();
    octetViewShown = !octetViewShown;
    takeShownChanges();
    checkProgramItem(IDM_OCTET_VIEW, octetViewShown);
    showViewNow();
}

void toggleAnsiSequences() {
    setAnsiSequences(!ansiSequences);
    checkProgramItem(IDM_ANSI_SEQUENCES, ansiSequences);
}

// ---- looking back ------------------------------------------------------------------

int pageRows() {
    return gridRows > 1 ? gridRows - 1 : 1;
}

void scrollViewBack(int rows) {
    if (!screenGridReady()) return;
    catchUpBeforeActing();
    const int offset = viewOffset();
    const int target = clamped(offset + rows, 0, shownHistoryRows());
    if (target == offset) return;
    shownView().top = shownPageTop() - target;
    showViewNow();
}

void showOldestRows() {
    scrollViewBack(shownHistoryRows() - viewOffset());
}

void showLiveRows() {
    scrollViewBack(-viewOffset());
}

// ---- selecting ---------------------------------------------------------------------

void pressSelection(int viewRow, int col) {
    if (!screenGridReady()) return;
    catchUpBeforeActing();
    clearSelection();
    anchor = cellOfView(viewRow, col);
    extent = anchor;
    dragging = true;
}

void dragSelection(int viewRow, int col) {
    if (!dragging) return;
    catchUpBeforeActing();
    if (!dragging) return;  // the rows under the drag changed
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
    if (!selectionShown) return;
    copySelection();
    placeSearchAt(selectionFirst());
}

void selectWordAt(int viewRow, int col) {
    if (!screenGridReady()) return;
    catchUpBeforeActing();
    forgetSelection();  // drawn once, below, with what the click selects
    const Cell at = cellOfView(viewRow, col);
    const unsigned char* cells = shownRowCells(at.row);
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
    placeSearchAt(anchor);
    showViewNow();
    copySelection();
}

void selectMatch(RowNumber row, int from, int to) {
    if (!screenGridReady()) return;
    catchUpBeforeActing();
    forgetSelection();
    anchor = Cell{row, from};
    extent = Cell{row, to};
    selectionShown = true;
    placeSearchAt(anchor);
    SourceView& view = shownView();
    if (row < view.top) {
        view.top = row;
    } else if (row > view.top + gridRows - 1) {
        const RowNumber bottomRowTop = row - (gridRows - 1);
        view.top = bottomRowTop < view.pageTopSeen ? bottomRowTop : view.pageTopSeen;
    }
    showViewNow();
}

bool searchPlace(RowNumber* row, int* col) {
    const SourceView& view = shownView();
    if (!view.hasSearchPlace || view.searchFrom.row < firstShownRow()) return false;
    *row = view.searchFrom.row;
    *col = view.searchFrom.col;
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
    for (RowNumber row = first.row; row <= last.row; ++row) {
        const unsigned char* cells = shownRowCells(row);
        const int from = row == first.row ? first.col : 0;
        const int length = shownRowLength(cells, row == last.row ? last.col + 1 : gridColumns);
        for (int col = from; col < length; ++col) text += static_cast<char>(cellAsShown(cells[col]));
        if (row != last.row) text += "\r\n";
    }
    return text;
}

bool selectedColumns(RowNumber row, int* from, int* to) {
    if (!selectionShown) return false;
    const Cell first = selectionFirst();
    const Cell last = selectionLast();
    if (row < first.row || row > last.row) return false;
    *from = row == first.row ? first.col : 0;
    *to = row == last.row ? last.col : gridColumns - 1;
    return true;
}

// ---- the frames --------------------------------------------------------------------

void showChangesWithinAFrame() {
    if (!screenGridReady()) return;  // nothing to show
    drawingOwed = true;  // the caret at least
    const long long now = monotonicMilliseconds();
    if (now - lastDrawingTime >= FRAME_MILLISECONDS) {
        bringScreenUpToDate();
    } else if (!drawingScheduled) {
        drawingScheduled = true;
        scheduleScreenDrawing(static_cast<int>(FRAME_MILLISECONDS - (now - lastDrawingTime)));
    }
}

void showChangesNow() {
    drawingOwed = true;
    bringScreenUpToDate();
}

void onScreenDrawingDue() {
    if (drawingOwed) {
        framesWithNothingOwed = 0;
        bringScreenUpToDate();
    } else if (++framesWithNothingOwed >= IDLE_FRAMES_BEFORE_STOPPING) {
        cancelScreenDrawing();
        drawingScheduled = false;
        framesWithNothingOwed = 0;
    }
}

bool screenDrawingOwed() {
    return drawingOwed;
}

void bringScreenUpToDate() {
    if (!screenGridReady() || !drawingOwed) return;
    if (windowWaitsForPaint()) {  // the paint draws what is owed (drawWholeView)
        placeCaretAtCursor();
        return;
    }
    takeShownChanges();
    const SourceView& view = shownView();
    const RowSource& source = shownSource();
    // The rows still shown move up with the pixels; the rows that come into view
    // below them, and the rows written, are drawn.
    const RowNumber moved = view.top - drawnTop;
    const bool whole = wholeViewOwed || moved < 0 || moved >= gridRows;
    if (findOwedColumns(view, source, moved, whole)) {
        beginTerminalDrawing();
        if (!whole && moved > 0) scrollTextAreaUp(static_cast<int>(moved));
        for (int viewRow = 0; viewRow < gridRows; ++viewRow) {
            const ColumnSpan& span = owedColumns[static_cast<std::size_t>(viewRow)];
            if (whole) drawViewRow(viewRow, 0, gridColumns - 1);
            else if (span.from <= span.to) drawViewRow(viewRow, span.from, span.to);
        }
        placeCaretAtCursor();
        endTerminalDrawing();
    } else {
        placeCaretAtCursor();
    }
    noteDrawn(source);
}

void drawWholeView() {
    if (!screenGridReady()) return;
    takeShownChanges();
    for (int viewRow = 0; viewRow < gridRows; ++viewRow) drawViewRow(viewRow, 0, gridColumns - 1);
    noteDrawn(shownSource());
}

void placeCaretAtCursor() {
    const RowNumber shownRowOfCursor = gridTopRow() + cursorRow - topNow(views[TEXT_SOURCE], textRows);
    const bool outOfView = octetViewShown || shownRowOfCursor < 0 || shownRowOfCursor >= gridRows;
    if (outOfView != caretOutOfView) {
        caretOutOfView = outOfView;
        setTerminalCaretOutOfView(outOfView);
    }
    const Point caret = cellPosition(outOfView ? cursorRow : static_cast<int>(shownRowOfCursor), cursorCol);
    placeTerminalCaret(caret.x, caret.y);
}

bool caretRowOutOfView() {
    return caretOutOfView;
}

void resetHistoryView() {
    selectionShown = false;
    dragging = false;
    if (octetViewShown) {
        octetViewShown = false;
        checkProgramItem(IDM_OCTET_VIEW, false);
    }
    for (int i = 0; i < 2; ++i) {
        const RowSource& source = *SOURCES[i];
        const RowNumber top = pageTopOf(source);
        views[i] = SourceView{top, top, source.rowsEnd(), source.firstWritableRow(), Cell{0, 0}, false};
    }
    drawnTop = views[TEXT_SOURCE].top;
    drawnEnd = textRows.rowsEnd();
    drawingOwed = false;
    wholeViewOwed = false;
    if (drawingScheduled) cancelScreenDrawing();
    drawingScheduled = false;
    framesWithNothingOwed = 0;
    lastDrawingTime = 0;
    if (caretOutOfView) {
        caretOutOfView = false;
        setTerminalCaretOutOfView(false);
    }
}
