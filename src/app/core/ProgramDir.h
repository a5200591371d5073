// The folder of the running program file, where the program keeps its result file.
#pragma once

#include <string>

// The folder of the executable (from /proc/self/exe), always ending with "/". When the link
// cannot be read, the current folder ("./").
std::string ExecutableDir();
