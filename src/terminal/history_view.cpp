#include "terminal/history_view.h"

#include <vector>

#include "platform.h"
#include "terminal/colours.h"
#include "terminal/layout.h"
#include "terminal/received_bytes.h"
#include "terminal/screen.h"
#include "ui/resource.h"

namespace {

struct Cell {
    RowNumber row;
    int col;
};

// Where the view stands among a source's rows: following its newest page, or at a
// row of its own further back; and what the view saw of the source when it last
// asked.
struct ViewPlace {
    RowNumber top;           // the row at the view's top
    bool following;          // the view shows the newest page, and goes with it
    RowNumber endSeen;       // the row after the newest
    RowNumber writableSeen;  // the first row that could still be written
};

// Where a search goes on from among a source's rows.
struct SearchPlace {
    Cell from;
    bool set;
};

// Each source keeps its place and its search place while the other is shown.
struct SourceView {
    ViewPlace place;
    SearchPlace search;
};

const RowSource* const SOURCES[2] = {&textRows, &octetRows};
const int TEXT_SOURCE = 0;
const int OCTET_SOURCE = 1;

// Which source is shown, and each source's view.
struct Views {
    int shown;
    SourceView of[2];
};
// At start each source is empty and its view follows its newest rows.
const SourceView START_VIEW = {ViewPlace{0, true, 0, 0}, SearchPlace{Cell{0, 0}, false}};
Views views = {TEXT_SOURCE, {START_VIEW, START_VIEW}};

// The selection runs from `anchor`, the cell pressed, to `extent`, the cell the
// mouse is over or was released on, whichever comes first in reading order.
struct Selection {
    Cell anchor;
    Cell extent;
    bool shown;     // cells are selected
    bool dragging;  // the left button is down and the drag began in the view
};
Selection selection = {};

struct ColumnSpan {
    int from;
    int to;  // before from: nothing
};

// What the window shows and still owes, and the frames that bring it up to date.
struct Frame {
    bool owed;              // the sources or the view changed since the last drawing
    bool wholeOwed;         // every row of the view is drawn again
    RowNumber drawnTop;     // the row the window shows at the view's top
    RowNumber drawnEnd;     // the source's end when it was drawn
    long long lastTime;     // of the last drawing, in milliseconds
    bool scheduled;         // the platform calls at every frame
    int framesWithNothingOwed;
    std::vector<ColumnSpan> owedColumns;  // one per view row
};
Frame frame = {};
// Frames with nothing to draw before the platform stops calling: while bytes keep
// coming, the frames go on without being asked for again.
const int IDLE_FRAMES_BEFORE_STOPPING = 15;

// The caret stands on the cursor's cell; hidden while that row is not in view.
struct Caret {
    bool outOfView;
};
Caret caret = {};

std::vector<unsigned char> rowScratch;  // an octet row's cells, made when asked for
std::vector<CellColours> colourScratch;  // a row's colours, when made when asked for

int shownIndex() {
    return views.shown;
}

const RowSource& shownSource() {
    return *SOURCES[shownIndex()];
}

SourceView& shownView() {
    return views.of[shownIndex()];
}

ViewPlace& shownPlace() {
    return shownView().place;
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

// Where a view's top is now: a view that follows shows the newest page, one further
// back keeps its rows while they are kept.
RowNumber topNow(const ViewPlace& place, const RowSource& source) {
    const RowNumber pageTop = pageTopOf(source);
    if (place.following) return pageTop;
    const RowNumber first = source.firstRow();
    return place.top < first ? first : place.top > pageTop ? pageTop : place.top;
}

// The view's top moved to `top` by the person: at the newest page, it follows it.
void moveViewTop(ViewPlace& place, RowNumber top, const RowSource& source) {
    place.top = top;
    place.following = top == pageTopOf(source);
}

Cell cellOfView(int viewRow, int col) {
    return Cell{shownPlace().top + clamped(viewRow, 0, gridRows - 1), clamped(col, 0, gridColumns - 1)};
}

bool before(const Cell& a, const Cell& b) {
    return a.row < b.row || (a.row == b.row && a.col < b.col);
}

Cell selectionFirst() {
    return before(selection.extent, selection.anchor) ? selection.extent : selection.anchor;
}

Cell selectionLast() {
    return before(selection.extent, selection.anchor) ? selection.anchor : selection.extent;
}

void copySelection() {
    const std::string text = selectionText();
    copyTextToClipboard(text.c_str(), text.size());
}

void oweWholeView() {
    frame.wholeOwed = true;
    frame.owed = true;
}

// The selection is gone; every row is drawn again when the window next catches up.
void forgetSelection() {
    if (selection.shown) oweWholeView();
    selection.shown = false;
    selection.dragging = false;
}

// The cells from `anchor` to `extent`, in either order, are selected.
void selectCells(const Cell& anchor, const Cell& extent) {
    selection.anchor = anchor;
    selection.extent = extent;
    selection.shown = true;
}

void placeSearchAt(const Cell& at) {
    shownView().search = SearchPlace{at, true};
}

// A selection ends once its rows change: when they leave the rows kept, and, over
// rows that could still be written (the grid), when bytes are written into them or
// they move up (the grid scrolls).
void endSelectionWhoseRowsChanged(const ViewPlace& view, const RowSource& source) {
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
    ViewPlace& view = shownPlace();
    const RowSource& source = shownSource();
    moveViewTop(view, topNow(view, source), source);
    if (selection.shown || selection.dragging) endSelectionWhoseRowsChanged(view, source);
    view.endSeen = source.rowsEnd();
    view.writableSeen = source.firstWritableRow();
}

// A person acts on the view: what came is taken first, so that the act applies to
// the rows as they are now.
void catchUpBeforeActing() {
    if (frame.owed) bringScreenUpToDate();
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
    frame.drawnTop = shownPlace().top;
    frame.drawnEnd = source.rowsEnd();
    frame.owed = false;
    frame.wholeOwed = false;
    frame.lastTime = monotonicMilliseconds();
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
    const RowNumber row = shownPlace().top + viewRow;
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
bool findOwedColumns(const ViewPlace& view, const RowSource& source, RowNumber moved, bool whole) {
    std::vector<ColumnSpan>& owedColumns = frame.owedColumns;
    owedColumns.assign(static_cast<std::size_t>(gridRows), ColumnSpan{0, -1});
    bool any = false;
    const RowNumber end = source.rowsEnd();
    for (int viewRow = 0; viewRow < gridRows; ++viewRow) {
        const RowNumber row = view.top + viewRow;
        ColumnSpan& span = owedColumns[static_cast<std::size_t>(viewRow)];
        if (whole || viewRow >= gridRows - moved || (row >= frame.drawnEnd && row < end)) {
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
    return topNow(shownPlace(), shownSource());
}

bool viewFollowsNewestRows() {
    return shownPlace().following;
}

bool octetViewIsShown() {
    return views.shown == OCTET_SOURCE;
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
    views.shown = octetViewIsShown() ? TEXT_SOURCE : OCTET_SOURCE;
    takeShownChanges();
    checkProgramItem(IDM_OCTET_VIEW, octetViewIsShown());
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
    moveViewTop(shownPlace(), shownPageTop() - target, shownSource());
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
    selection.anchor = cellOfView(viewRow, col);
    selection.extent = selection.anchor;
    selection.dragging = true;
}

void dragSelection(int viewRow, int col) {
    if (!selection.dragging) return;
    catchUpBeforeActing();
    if (!selection.dragging) return;  // the rows under the drag changed
    const Cell at = cellOfView(viewRow, col);
    const Cell& from = selection.shown ? selection.extent : selection.anchor;
    if (at.row == from.row && at.col == from.col) return;
    selectCells(selection.anchor, at);
    showViewNow();
}

void releaseSelection(int viewRow, int col) {
    if (!selection.dragging) return;
    dragSelection(viewRow, col);
    selection.dragging = false;
    if (!selection.shown) return;
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
    selectCells(Cell{at.row, from}, Cell{at.row, to});
    placeSearchAt(selection.anchor);
    showViewNow();
    copySelection();
}

void selectMatch(RowNumber row, int from, int to) {
    if (!screenGridReady()) return;
    catchUpBeforeActing();
    forgetSelection();
    selectCells(Cell{row, from}, Cell{row, to});
    placeSearchAt(selection.anchor);
    ViewPlace& view = shownPlace();
    const RowNumber pageTop = shownPageTop();
    if (row < view.top) {
        moveViewTop(view, row, shownSource());
    } else if (row > view.top + gridRows - 1) {
        const RowNumber bottomRowTop = row - (gridRows - 1);
        moveViewTop(view, bottomRowTop < pageTop ? bottomRowTop : pageTop, shownSource());
    }
    showViewNow();
}

bool searchPlace(RowNumber* row, int* col) {
    const SearchPlace& search = shownView().search;
    if (!search.set || search.from.row < firstShownRow()) return false;
    *row = search.from.row;
    *col = search.from.col;
    return true;
}

bool selectionIsShown() {
    return selection.shown;
}

void clearSelection() {
    const bool shown = selection.shown;
    forgetSelection();
    if (shown) bringScreenUpToDate();
}

std::string selectionText() {
    std::string text;
    if (!selection.shown) return text;
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
    if (!selection.shown) return false;
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
    frame.owed = true;  // the caret at least
    const long long now = monotonicMilliseconds();
    if (now - frame.lastTime >= FRAME_MILLISECONDS) {
        bringScreenUpToDate();
    } else if (!frame.scheduled) {
        frame.scheduled = true;
        scheduleScreenDrawing(static_cast<int>(FRAME_MILLISECONDS - (now - frame.lastTime)));
    }
}

void showChangesNow() {
    frame.owed = true;
    bringScreenUpToDate();
}

void onScreenDrawingDue() {
    if (frame.owed) {
        frame.framesWithNothingOwed = 0;
        bringScreenUpToDate();
    } else if (++frame.framesWithNothingOwed >= IDLE_FRAMES_BEFORE_STOPPING) {
        cancelScreenDrawing();
        frame.scheduled = false;
        frame.framesWithNothingOwed = 0;
    }
}

bool screenDrawingOwed() {
    return frame.owed;
}

void bringScreenUpToDate() {
    if (!screenGridReady() || !frame.owed) return;
    takeShownChanges();
    const ViewPlace& view = shownPlace();
    const RowSource& source = shownSource();
    // The rows still shown move up with the pixels; the rows that come into view
    // below them, and the rows written, are drawn.
    const RowNumber moved = view.top - frame.drawnTop;
    const bool whole = frame.wholeOwed || moved < 0 || moved >= gridRows;
    if (findOwedColumns(view, source, moved, whole)) {
        beginTerminalDrawing();
        if (!whole && moved > 0) scrollTextAreaUp(static_cast<int>(moved));
        for (int viewRow = 0; viewRow < gridRows; ++viewRow) {
            const ColumnSpan& span = frame.owedColumns[static_cast<std::size_t>(viewRow)];
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
    const RowNumber shownRowOfCursor = gridTopRow() + cursorRow - topNow(views.of[TEXT_SOURCE].place, textRows);
    const bool outOfView = octetViewIsShown() || shownRowOfCursor < 0 || shownRowOfCursor >= gridRows;
    if (outOfView != caret.outOfView) {
        caret.outOfView = outOfView;
        setTerminalCaretOutOfView(outOfView);
    }
    const Point at = cellPosition(outOfView ? cursorRow : static_cast<int>(shownRowOfCursor), cursorCol);
    placeTerminalCaret(at.x, at.y);
}

bool caretRowOutOfView() {
    return caret.outOfView;
}

void resetHistoryView() {
    selection = Selection{};
    if (octetViewIsShown()) {
        views.shown = TEXT_SOURCE;
        checkProgramItem(IDM_OCTET_VIEW, false);
    }
    for (int i = 0; i < 2; ++i) {
        const RowSource& source = *SOURCES[i];
        views.of[i] = START_VIEW;
        views.of[i].place = ViewPlace{pageTopOf(source), true, source.rowsEnd(), source.firstWritableRow()};
    }
    if (frame.scheduled) cancelScreenDrawing();
    frame = Frame{};
    frame.drawnTop = views.of[TEXT_SOURCE].place.top;
    frame.drawnEnd = textRows.rowsEnd();
    if (caret.outOfView) {
        caret.outOfView = false;
        setTerminalCaretOutOfView(false);
    }
}
