#pragma once

// The design name of each of the window's controls, in one place: the window gives every
// control its name, and drivers outside the window (the scripted run, the benchmarks, the
// tests) find the control by it, as an operator finds it by its caption.

#include <QString>

#include <array>

namespace norvak::control_name {

inline constexpr QLatin1StringView Frame9{"Frame9"};           // the "Com settings" frame
inline constexpr QLatin1StringView txtSpeed{"txtSpeed"};       // the speed box (never read)
inline constexpr QLatin1StringView txtComPort{"txtComPort"};   // the port box
inline constexpr QLatin1StringView btnCon{"btnCon"};           // Connect
inline constexpr QLatin1StringView txtRefresh{"txtRefresh"};   // hidden
inline constexpr QLatin1StringView btnFlash{"btnFlash"};       // START PROGRAMMING
inline constexpr QLatin1StringView Command5{"Command5"};       // Help
inline constexpr QLatin1StringView Command3{"Command3"};       // sFile (hidden)
inline constexpr QLatin1StringView Command2{"Command2"};       // g (hidden)
inline constexpr QLatin1StringView Command1{"Command1"};       // f (hidden)
inline constexpr QLatin1StringView lblFilename{"lblFilename"}; // the chosen file
inline constexpr QLatin1StringView btnopenFile{"btnopenFile"}; // browse
inline constexpr QLatin1StringView txtbuffer{"txtbuffer"};     // the log box
inline constexpr QLatin1StringView Label1{"Label1"};           // "Speed:"
inline constexpr QLatin1StringView Combospeed{"Combospeed"};   // the speed list
inline constexpr QLatin1StringView Command4{"Command4"};       // Clear screen

// Every control's name, in the order the window makes them.
inline constexpr std::array all = {
    Frame9,   txtSpeed, txtComPort,  btnCon,      txtRefresh, btnFlash, Command5,   Command3,
    Command2, Command1, lblFilename, btnopenFile, txtbuffer,  Label1,   Combospeed, Command4};

} // namespace norvak::control_name
