#pragma once

#include <functional>

// Runs the event loop until condition() holds, at most timeoutMs. Unlike
// QTest::qWait it handles each queued event as it arrives, so a slot that
// records a Player's state sees short-lived states too.
bool waitUntil(int timeoutMs, const std::function<bool()> &condition);
