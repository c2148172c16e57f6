#pragma once

namespace ombrel {

// Asks the C library to keep memory that was freed for the next allocations instead of giving it
// back to the system at once. The software renderer allocates and frees the bins of every frame
// (several MiB), and the exports hold their text in large blocks; with the library's defaults
// each frame or export has that memory unmapped and then faulted in again, page by page, which
// took half of a frame's time. Keeps at most 64 MiB freed, and serves blocks up to 4 MiB from
// the heap. Call once, at the start of a program, before other threads run. Does nothing where
// the C library offers no such setting.
void keepFreedMemory();

} // namespace ombrel
