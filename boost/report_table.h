#pragma once
// A read-only table for the user: what the next boost would do (the preview) or what the last
// boost or restore did (the receipt). The window shows it in a list view in report style and
// copies it to the clipboard as text; neither reads back the debug log.
#include <cstddef>
#include <string>
#include <vector>

namespace kestrava {

struct ReportTable {
  std::vector<std::string> columns;            // the header, one text per column
  std::vector<std::vector<std::string>> rows;  // in order; a short row leaves its last cells empty
  // The columns a reader must see whole on screen (a service's name and its verdict); the others
  // give up width first when the table is wider than the window. Copy has every text whole.
  std::vector<std::size_t> keyColumns;

  // Appends a row of cells.
  void Add(std::vector<std::string> cells) { rows.push_back(std::move(cells)); }
};

// The table as clipboard text: the header line first, then one line per row, the cells separated
// by tabs and every line ended by CR LF. A tab, CR or LF inside a cell becomes one space, so that
// a line is always one row and a field one cell.
std::string ClipboardText(const ReportTable& table);

// text on one line, for a cell or a status panel: each line break (CR LF, or a lone CR or LF)
// becomes one space. The engine's messages put one between what failed and the system's text.
std::string OneLine(const std::string& text);

}  // namespace kestrava
