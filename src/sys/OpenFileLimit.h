// The number of descriptors the process may hold open. A run with many rows in flight needs a
// socket for each; the usual soft limit of 1,024 is far below what the hard limit allows.
#pragma once

namespace sys {

// Raises the soft limit on open descriptors to the hard limit (or, where the hard limit is
// unlimited, to a bound the kernel takes) and returns the soft limit in force afterwards.
// A limit that cannot be raised stays as it was.
long RaiseOpenFileLimit();

}  // namespace sys
