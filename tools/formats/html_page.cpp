#include "tools/formats/html_page.h"

#include <cstdint>

namespace datatools {

std::string HtmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default:
        // Control bytes (a file name may hold any) shown, not passed on.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
          out += "&#xFFFD;";
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::string Base64(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(bytes[i]) << 16) |
                       (static_cast<uint8_t>(bytes[i + 1]) << 8) |
                       static_cast<uint8_t>(bytes[i + 2]);
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  if (i < bytes.size()) {
    uint32_t v = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

HtmlPage::HtmlPage(const std::string& title) : title_(title) {}

void HtmlPage::Heading(int level, const std::string& text, const std::string& id) {
  const std::string tag = "h" + std::to_string(level < 1 ? 1 : level > 4 ? 4 : level);
  body_ += "<" + tag + (id.empty() ? "" : " id=\"" + HtmlEscape(id) + "\"") + ">" +
           HtmlEscape(text) + "</" + tag + ">\n";
}

void HtmlPage::Paragraph(const std::string& text, const std::string& cssClass) {
  body_ += "<p" + (cssClass.empty() ? "" : " class=\"" + HtmlEscape(cssClass) + "\"") + ">" +
           HtmlEscape(text) + "</p>\n";
}

void HtmlPage::List(const std::vector<std::string>& items, const std::string& cssClass) {
  body_ += "<ul" + (cssClass.empty() ? "" : " class=\"" + HtmlEscape(cssClass) + "\"") + ">\n";
  for (const std::string& item : items) body_ += "<li>" + HtmlEscape(item) + "</li>\n";
  body_ += "</ul>\n";
}

void HtmlPage::Table(const std::vector<std::string>& header,
                     const std::vector<std::vector<std::string>>& rows,
                     const std::vector<std::string>& rowClasses) {
  body_ += "<table>\n<thead><tr>";
  for (const std::string& h : header) body_ += "<th>" + HtmlEscape(h) + "</th>";
  body_ += "</tr></thead>\n<tbody>\n";
  for (size_t r = 0; r < rows.size(); ++r) {
    const bool classed = r < rowClasses.size() && !rowClasses[r].empty();
    body_ += classed ? "<tr class=\"" + HtmlEscape(rowClasses[r]) + "\">" : "<tr>";
    for (const std::string& cell : rows[r]) body_ += "<td>" + HtmlEscape(cell) + "</td>";
    body_ += "</tr>\n";
  }
  body_ += "</tbody>\n</table>\n";
}

void HtmlPage::Png(const std::string& png, const std::string& alt, int width, int height) {
  body_ += "<figure><img src=\"data:image/png;base64," + Base64(png) + "\" alt=\"" +
           HtmlEscape(alt) + "\" width=\"" + std::to_string(width) + "\" height=\"" +
           std::to_string(height) + "\"></figure>\n";
}

void HtmlPage::Footer(const std::string& text) {
  body_ += "<footer><p class=\"note\">" + HtmlEscape(text) + "</p></footer>\n";
}

std::string HtmlPage::Document() const {
  return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         // Nothing from outside, ever: the page stands alone.
         "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src "
         "data:; "
         "style-src 'unsafe-inline'\">\n"
         "<title>" +
         HtmlEscape(title_) +
         "</title>\n<style>\n"
         "body{font-family:sans-serif;margin:2em;max-width:80em;color:#222}\n"
         "table{border-collapse:collapse;margin:1em 0;font-size:90%}\n"
         "th,td{border:1px solid #bbb;padding:0.2em "
         "0.5em;text-align:left;font-variant-numeric:tabular-nums}\n"
         "th{background:#eee}\ntr.warning td{background:#fff3cd}\ntr.gap td{background:#f8d7da}\n"
         "ul.warnings li{color:#8a4b00}\np.note{color:#555}\nimg{max-width:100%;height:auto}\n"
         "</style>\n</head>\n<body>\n" +
         body_ + "</body>\n</html>\n";
}

}  // namespace datatools
