#include "JobLimit.h"

#include <algorithm>

int JobsWithinFileLimit(int jobs, long openFiles) {
    const long room = (openFiles - kDescriptorsKept) / 2;
    return static_cast<int>(std::max(1L, std::min(static_cast<long>(jobs), room)));
}

std::string FewerJobsLine(int asked, int granted, long openFiles) {
    return "--jobs " + std::to_string(asked) + ": nur " + std::to_string(granted) +
           " zugleich, da höchstens " + std::to_string(openFiles) +
           " Dateien offen sein dürfen (ulimit -n)";
}
