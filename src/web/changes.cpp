#include "web/changes.h"

#include <charconv>
#include <nlohmann/json.hpp>

#include "core/event_line.h"
#include "text/safe_text.h"

namespace web {
namespace {

int NumberField(const core::EventLine& line, std::string_view key) {
  const std::string_view text = line.Value(key);
  int value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

std::optional<Change> AdminChange(const core::EventLine& line) {
  if (line.Value("result") != "ok") return std::nullopt;
  const std::string_view action = line.Value("action");
  Change change;
  if (action == "room-create") {
    // The line names the new room by its name only; the status that follows numbers it.
    change.kind = "room-create";
    change.room_name = line.Value("room");
  } else if (action == "room-delete") {
    change.kind = "room-delete";
    change.room = NumberField(line, "room");
    change.room_name = line.Value("room_name");
  } else {
    return std::nullopt;
  }
  return change;
}

}  // namespace

bool ChangesSettings(const core::EventLine& line) {
  return line.name() == "reload" && line.Value("result") == "ok";
}

std::optional<Change> ChangeOf(const core::EventLine& line) {
  const std::string& name = line.name();
  if (name == "admin") return AdminChange(line);
  if (name != "join" && name != "move" && name != "leave") return std::nullopt;
  Change change;
  change.kind = name;
  change.player = line.Value("name");
  if (name != "leave") change.room = NumberField(line, "room");
  if (name == "move") change.from = NumberField(line, "from");
  return change;
}

std::string ChangeData(const Change& change, bool show_players) {
  nlohmann::ordered_json data = nlohmann::ordered_json::object();
  const bool about_player = change.kind.rfind("room-", 0) != 0;
  if (about_player && show_players) data["player"] = text::JsonSafeText(change.player);
  if (change.from != 0) data["from"] = change.from;
  if (change.room != 0) data["room"] = change.room;
  if (!change.room_name.empty()) data["room_name"] = text::JsonSafeText(change.room_name);
  return data.dump();
}

}  // namespace web
