// The run's transaction on Firebird, started with read-committed isolation.
#pragma once

#include <soci/soci.h>

// Ends a transaction the backend opened on its own (it holds nothing of the
// run) and starts the run's one: read committed, record versions, waiting on
// locks. Raises Exception with the client's message on failure.
void BeginFirebirdReadCommitted(soci::session& session);
