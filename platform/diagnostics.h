#pragma once

namespace Diagnostics {
// Every debug line starts with the time and the full function signature, then the values.
void installMessagePattern();
} // namespace Diagnostics
