#pragma once

namespace velmo {

// Hands memory the program has freed back to the system. The allocator keeps freed blocks for
// later use; after a window has let go of hundreds of megabytes, the workstation gets them back.
void releaseFreeMemory();

} // namespace velmo
