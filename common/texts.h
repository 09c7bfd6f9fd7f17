#pragma once
// The program's fixed texts: captions, status texts, the start-up switch and the registry path.
// English only, set at build time, never changed at run time.

namespace kestrava {

inline constexpr char SAppTitle[] = "Tarnwell Kestrava FREE";
inline constexpr char SAppDescription[] =
    "By temporarily shutting background processes and unnecessary Windows services, cleaning RAM, "
    "and intensifying processor performance, Kestrava Premium concentrates every little system "
    "resource for gaming only.";
inline constexpr char SRegRootKey[] = "Software\\Kestrava\\";
inline constexpr char SRegProductKey[] = "Tarnwell Kestrava FREE";
inline constexpr char SQuitMode[] = "Quit Kestrava Mode";
inline constexpr char SModeOn[] = "Kestrava Mode is ON";
inline constexpr char SModeOff[] = "Kestrava Mode is OFF";
inline constexpr char SEnterMode[] = "Enter Kestrava Mode";
inline constexpr char SClose[] = "Close";
inline constexpr char SAutorun[] = "autorun";
inline constexpr char SBrowse[] = "Browse...";
inline constexpr char STryToStart[] = "Try to start:";
inline constexpr char STryToStop[] = "Try to stop:";

}  // namespace kestrava
