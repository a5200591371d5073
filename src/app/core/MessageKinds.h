// The kinds of message box the program shows, without widgets, so that the logic can say which
// box it wants and tests can answer it.
#pragma once

enum class TMsgButtons { Ok, YesNo };
enum class TMsgIcon { None, Information, Question, Warning, Error };
enum class TMsgAnswer { Ok, Yes, No };
