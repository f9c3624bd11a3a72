#include "failure.h"

#include "wire/global_types.h"

namespace plctl {

std::string RefusalName(int16_t result) {
  switch (result) {
    case wire::kResultServerFull:
      return "server full";
    case wire::kResultWrongServerPassword:
      return "wrong server password";
    case wire::kResultListsRefused:
      return "lists refused";
    case wire::kResultNoSuchPlayerStats:
      return "no such player";
    case wire::kResultNotAdmin:
      return "not an administrator";
    case wire::kResultWrongAdminPassword:
      return "wrong administrator password";
    case wire::kResultRoomExists:
      return "a room of that name exists";
    case wire::kResultNoSuchRoom:
      return "no such room";
    case wire::kResultNoSuchPlayer:
      return "no such player";
    case wire::kResultServerPasswordRefused:
    case wire::kResultAdminPasswordRefused:
      return "password not stored (a line break, or the configuration file cannot be written)";
    case wire::kResultChannelsNotSaved:
      return "the configuration file cannot be written";
    default:
      return "unknown refusal";
  }
}

void ThrowRefused(int16_t result) {
  throw CommandFailure(kExitRefused, "refused",
                       "refused: " + RefusalName(result) + " (" + std::to_string(result) + ")",
                       result);
}

void ThrowUsage(const std::string& message) {
  throw CommandFailure(kExitFailure, "usage", message);
}

void ThrowNotFound(const std::string& message) {
  throw CommandFailure(kExitRefused, "not-found", message);
}

}  // namespace plctl
