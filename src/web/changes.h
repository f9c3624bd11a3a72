// The changes the web view passes on as they happen: a player joined, moved or left, a room was
// created or deleted. Read from the server's event lines, the one place every change is
// reported, so no handler has to know about the web view.
#pragma once

#include <optional>
#include <string>

namespace core {
class EventLine;
}

namespace web {

struct Change {
  std::string kind;       // join, move, leave, room-create, room-delete
  std::string player;     // the player's name (join, move, leave)
  std::string room_name;  // room-create, room-delete
  int room = 0;           // the room's number as clients show it; 0 when the line has none
  int from = 0;           // move: the room left
};

// The change an event line reports; nothing for every other line (and for refused actions).
std::optional<Change> ChangeOf(const core::EventLine& line);

// Whether the line reports a reload that put a file in force: what the view shows of the
// settings (the server's name, its capacity, the players' names) may have changed.
bool ChangesSettings(const core::EventLine& line);

// The change as an event's JSON data, one line; names and room numbers only (the player's name
// only when `show_players`).
std::string ChangeData(const Change& change, bool show_players);

}  // namespace web
