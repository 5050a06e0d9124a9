// A self-contained HTML page: its style inline, its pictures embedded as
// data: URIs, nothing fetched from anywhere, so the one file can be opened
// offline and passed on. The report is written with this and nothing else.
#pragma once

#include <string>
#include <vector>

namespace datatools {

std::string HtmlEscape(const std::string& text);
// RFC 4648 base64 with padding, no line breaks.
std::string Base64(const std::string& bytes);

class HtmlPage {
 public:
  explicit HtmlPage(const std::string& title);
  void Heading(int level, const std::string& text, const std::string& id = "");
  void Paragraph(const std::string& text, const std::string& cssClass = "");
  // An unordered list, each item a text; `cssClass` on the list.
  void List(const std::vector<std::string>& items, const std::string& cssClass = "");
  // A table: its header row, its rows; a row's class (e.g. "warning") when given.
  void Table(const std::vector<std::string>& header,
             const std::vector<std::vector<std::string>>& rows,
             const std::vector<std::string>& rowClasses = {});
  // A PNG image, embedded.
  void Png(const std::string& png, const std::string& alt, int width, int height);
  // A closing line below everything else (the program and version that made the page).
  void Footer(const std::string& text);
  // The whole document.
  std::string Document() const;

 private:
  std::string title_;
  std::string body_;
};

}  // namespace datatools
