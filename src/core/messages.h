// The texts of the error line. Written in UTF-8 here; the platform layer turns them into the
// platform's own text encoding.
#pragma once

namespace kestrowan::message {

inline constexpr const char* kNoEngine = "Keine Engine angegeben";
// This one carries its own line feed, so its error line is followed by an empty line.
inline constexpr const char* kCreatePipe = "CreatePipe geht nicht\n";
inline constexpr const char* kRedirect = "Ein- oder Ausgabe umbiegen geht nicht";
inline constexpr const char* kDuplicate = "Doppeln fehlgeschlagen";
inline constexpr const char* kCommandLineTooLong = "Die Kommandozeile ist zu lang";
inline constexpr const char* kStartEngine = "Engineprozess lässt sich nicht starten";
inline constexpr const char* kRestoreStd =
    "Wiederherstellung von Standardein- oder -ausgabe fehlgeschlagen";
inline constexpr const char* kCloseChildEnd =
    "Schließen des lesenden Pipe-Endes bei Engine fehlgeschlagen";
inline constexpr const char* kNoBuffer = "Nicht genügend Speicherplatz";
inline constexpr const char* kReadError = "Lesefehler";
inline constexpr const char* kNoMemory = "Nicht genügend Speicher";
inline constexpr const char* kWriteError = "Schreibfehler";
inline constexpr const char* kStartOutputThread = "Ausgabe-Thread lässt sich nicht starten";

}  // namespace kestrowan::message
