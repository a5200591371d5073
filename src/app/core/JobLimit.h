// How many rows a run may have in flight with the descriptors the process may open: each row
// holds a socket, and while a name has several addresses a second one for the next address.
#pragma once

#include <string>

// Descriptors kept for everything but the rows: the loop, the look-up workers, the result
// file, the bookmark databases, standard streams.
inline constexpr long kDescriptorsKept = 64;

// jobs, or fewer when openFiles descriptors cannot hold them; at least 1.
int JobsWithinFileLimit(int jobs, long openFiles);

// The line that says why a run has fewer rows in flight than asked for.
std::string FewerJobsLine(int asked, int granted, long openFiles);
