// The texts of the about box, the same in the console and the window versions.
#pragma once

#include <cstddef>

namespace shell::about {

inline constexpr char kCaption[] = "About Parlowind";
inline constexpr char kProductName[] = "Parlowind";
inline constexpr char kMakers[] =
    "Made by the Parlowind project, voice chat for small groups of players";
inline constexpr char kSiteLabel[] = "Our HP:";
inline constexpr char kProductSite[] = "http://www.parlowind.example/";
inline constexpr char kTeamHeading[] = "The Parlowind team";
inline constexpr char kContributors[2][32] = {"Ilse Marvondt", "Teodor Kasprzyn"};
inline constexpr char kLibraryCredits[] =
    "Networking by the Parlowind platform layer, our own portable library of sockets, threads "
    "and timers";
inline constexpr char kLibrarySite[] = "http://www.parlowind.example/platform/";

}  // namespace shell::about
