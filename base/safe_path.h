// The one rule for relative paths that the launcher joins onto the game
// folder before writing, deleting, hashing or starting anything there.
//
// Paths come from the network (manifest files, client builds, blocked mods)
// or from config.json records of an earlier manifest. Windows resolves many
// spellings to somewhere other than "a file below this folder": a drive
// ("C:x" is relative to drive C's current folder), a device ("CON",
// "nul.txt", "COM1.log" open devices in any folder), an alternate data
// stream ("a.dll:evil"), a name Windows silently changes ("a.dll." and
// "a.dll " both mean "a.dll"), a root or UNC prefix, or "..".
// Rather than predicting what Windows does with each, the launcher refuses
// them all: a published file must have a plain name.
#pragma once

#include <string>

namespace ember::launcher {

// True when `relative` (components separated by `/` or `\`) names a file or
// folder strictly inside the folder it is joined to. Refused: an empty path
// or component (so a leading, doubled or trailing separator, a root, UNC and
// \\?\ forms); a component "." or "..", or one ending in a dot or a space;
// control characters and any of : * ? " < > | (drives, streams, wildcards);
// device names (CON, PRN, AUX, NUL, COM0-9, LPT0-9 and their superscript-digit
// forms, CONIN$, CONOUT$) with or without an extension.
bool isSafeGamePath(const std::string& relative);

// The loader and client library of a client build: the rule above, and
// '/' as the only separator.
bool isSafeClientBuildPath(const std::string& relative);

}  // namespace ember::launcher
