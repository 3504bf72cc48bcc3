// Finding a text in the rows of the view shown, whichever source they come from. A
// row is searched as it is shown: its trailing blanks are not part of it, and a cell
// holding 0 reads as a blank. A match lies within one row.
#ifndef ORU_ROW_SEARCH_H
#define ORU_ROW_SEARCH_H

#include <string>

// Looks for `text`, up toward the older rows or down toward the newer ones, from
// next to the search's place (the match found last or the selection the person
// made last, history_view.h), else from the view's bottom row going up or its top
// row going down; it does not wrap around. A match found is selected and brought into view with the least move
// of the view, and true is returned; otherwise nothing changes. Letters compare
// without their case (A to Z) unless `matchCase`.
bool findInShownRows(const std::string& text, bool matchCase, bool down);

// ---- the search asked for last -------------------------------------------------------
// A search asked for (the Find dialog's Find Next): remembered, then run.
bool findAskedFor(const std::string& text, bool matchCase, bool down);
// The search to run again, as the open Find dialog shows it now, whether or not
// Find Next was pressed since.
void rememberSearch(const std::string& text, bool matchCase, bool down);
// Whether a text has been searched since start-up.
bool textSearched();
// The search asked for last, again: its way, or the other one (F3, Shift+F3).
bool findAgainInShownRows(bool otherWay);
// What the box says when that search finds nothing more.
std::string notFoundText();

#endif
