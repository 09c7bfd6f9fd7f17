#include "boost/report_table.h"

namespace kestrava {
namespace {

void AppendCell(std::string& out, const std::string& cell) {
  for (const char c : cell) out += (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
}

void AppendLine(std::string& out, const std::vector<std::string>& cells, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) {
    if (i > 0) out += '\t';
    if (i < cells.size()) AppendCell(out, cells[i]);
  }
  out += "\r\n";
}

}  // namespace

std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    line += (text[i] == '\r' || text[i] == '\n') ? ' ' : text[i];
  }
  return line;
}

std::string ClipboardText(const ReportTable& table) {
  const std::size_t width = table.columns.size();
  std::string out;
  AppendLine(out, table.columns, width);
  for (const std::vector<std::string>& row : table.rows) AppendLine(out, row, width);
  return out;
}

}  // namespace kestrava
