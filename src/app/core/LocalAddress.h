// Addresses that a check judges without a request: a file: address is looked up on this
// machine, any other address that is no web address is skipped.
#pragma once

#include <string>

#include "RowPolicy.h"

// Judges url into outcome and returns true when it needs no request; false for a web address.
bool JudgeWithoutRequest(const std::string& url, TRowOutcome& outcome);
