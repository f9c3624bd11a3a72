#include "web/page.h"

#include "text/safe_text.h"
#include "web/assets.h"

namespace web {
namespace {

bool IsControl(uint32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
}

std::string RoomSection(const std::string& title, size_t players,
                        const std::vector<std::string>& names, bool show_players,
                        const char* extra_class) {
  std::string html = std::string("<section class=\"room") + extra_class +
                     "\"><h2><span class=\"room-name\">" + HtmlText(title) +
                     "</span><span class=\"count\">" + std::to_string(players) + "</span></h2>";
  if (show_players && !names.empty()) {
    html += "<ul class=\"names\">";
    for (const std::string& name : names) html += "<li>" + HtmlText(name) + "</li>";
    html += "</ul>";
  } else if (players == 0) {
    html += "<p class=\"empty\">empty</p>";
  }
  return html + "</section>\n";
}

std::string Rooms(const ViewState& state) {
  std::string html = "<div id=\"rooms\">\n";
  for (const RoomView& room : state.rooms)
    html += RoomSection(room.name, room.players, room.names, state.show_players, "");
  if (state.elsewhere > 0) {
    html += RoomSection("Elsewhere", state.elsewhere, state.elsewhere_names, state.show_players,
                        " elsewhere");
  }
  return html + "</div>\n";
}

const char* ThemeClass(Theme theme) {
  switch (theme) {
    case Theme::kLight:
      return "theme-light";
    case Theme::kDark:
      return "theme-dark";
    case Theme::kAuto:
      break;
  }
  return "theme-auto";
}

}  // namespace

std::string HtmlText(std::string_view text) {
  const std::string utf8 = text::JsonSafeText(text);
  std::string html;
  html.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t code_point = 0;
    const size_t length = text::Utf8SequenceLength(utf8, i, &code_point);
    const char c = utf8[i];
    if (IsControl(code_point)) {
      html += "\xEF\xBF\xBD";
    } else if (c == '&') {
      html += "&amp;";
    } else if (c == '<') {
      html += "&lt;";
    } else if (c == '>') {
      html += "&gt;";
    } else if (c == '"') {
      html += "&quot;";
    } else if (c == '\'') {
      html += "&#39;";
    } else {
      html.append(utf8, i, length);
    }
    i += length;
  }
  return html;
}

std::string UptimeText(uint32_t seconds) {
  const uint32_t days = seconds / 86400;
  const uint32_t hours = seconds % 86400 / 3600;
  const uint32_t minutes = seconds % 3600 / 60;
  if (days > 0) return std::to_string(days) + " d " + std::to_string(hours) + " h";
  if (hours > 0) return std::to_string(hours) + " h " + std::to_string(minutes) + " min";
  if (minutes > 0) return std::to_string(minutes) + " min";
  return std::to_string(seconds) + " s";
}

std::string RenderPage(const ViewState& state, uint32_t uptime_seconds, Layout layout,
                       Theme theme) {
  const std::string name = HtmlText(state.server_name);
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"color-scheme\" content=\"light dark\">\n<title>" +
      name + "</title>\n<style>" + assets::kViewCss + "</style>\n</head>\n";
  html += std::string("<body class=\"") + (layout == Layout::kWidget ? "widget " : "page ") +
          ThemeClass(theme) + "\" data-show-players=\"" + (state.show_players ? "1" : "0") +
          "\">\n<main>\n<header>\n<h1 id=\"server-name\">" + name + "</h1>\n";
  html += "<p class=\"summary\"><strong id=\"players\">" + std::to_string(state.players) +
          "</strong> of <span id=\"max-players\">" + std::to_string(state.max_players) +
          "</span> players online &middot; up <span id=\"uptime\">" + UptimeText(uptime_seconds) +
          "</span></p>\n</header>\n";
  html += Rooms(state);
  html +=
      "<footer><span id=\"latest\" class=\"latest\" aria-live=\"polite\"></span>"
      "<span id=\"live\" class=\"live\">Snapshot</span></footer>\n</main>\n<script>";
  html += assets::kViewJs;
  return html + "</script>\n</body>\n</html>\n";
}

}  // namespace web
