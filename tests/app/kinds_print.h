// Test failures name a kind by its spelling, not its number.
#pragma once

#include <ostream>

#include "launcher/app/kinds.h"

namespace ember::launcher::app {

inline void PrintTo(FaultKind kind, std::ostream* os) { *os << '"' << spelling(kind) << '"'; }
inline void PrintTo(BlockerKind kind, std::ostream* os) { *os << '"' << spelling(kind) << '"'; }
inline void PrintTo(Tone tone, std::ostream* os) { *os << spelling(tone); }
inline void PrintTo(NoticeAction action, std::ostream* os) { *os << spelling(action); }
inline void PrintTo(FormAction action, std::ostream* os) { *os << spelling(action); }
inline void PrintTo(ModalKind kind, std::ostream* os) { *os << '"' << spelling(kind) << '"'; }
inline void PrintTo(Tab tab, std::ostream* os) { *os << '"' << spelling(tab) << '"'; }

}  // namespace ember::launcher::app
