#pragma once

// Waits (bounded) until no background request of ours is left and their continuations have run.
// True when none is left.
bool settleBackgroundRequests();
