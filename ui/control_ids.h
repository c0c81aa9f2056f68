#pragma once

#include <array>

namespace zapfer {

// Control and command numbers of the main window; each child carries its
// number as its object name.
namespace id {
inline constexpr int FileList = 4;
inline constexpr int SendList = 5;
inline constexpr int StatusLine = 1001;
inline constexpr int About = 40003;
inline constexpr int Settings = 40008;
inline constexpr int Exit = 40009;
inline constexpr int Send = 40017;
inline constexpr int Receive = 40018;
inline constexpr int PathButton = 40019;
inline constexpr int RemoveFromSendList = 40021;
inline constexpr int AddToSendList = 40026;
inline constexpr int Abort = 40016;
inline constexpr int Delete = 40025;
inline constexpr int Properties = 40027;
inline constexpr int Rename = 40028;
inline constexpr int Open = 40029;
inline constexpr int Move = 40031;
inline constexpr int Help = 40032;
inline constexpr int CopyTo = 40033;
inline constexpr int NewFolder = 40034;
inline constexpr int SelectAll = 40035;
inline constexpr int DeselectAll = 40036;
inline constexpr int Run = 40037;
inline constexpr int SortButton = 40038;
inline constexpr int History = 40039;
// Private messages: the sort popup's entries are 7200 + key.
inline constexpr int SortPopupBase = 7200;
} // namespace id

// The command buttons in their order of placement (first = left or top);
// the position is also the index of the button's glyph.
inline constexpr std::array<int, 7> kCommandButtonIds = {
    id::AddToSendList, id::RemoveFromSendList, id::Send, id::Settings, id::About, id::Help,
    id::Exit};

} // namespace zapfer
