// The message pump and COM initialisation of the original platform. The
// program has no window and no COM objects here: these keep the calling
// points (long file loops, the database connection's life) and do nothing.
#pragma once

inline int PumpMessage() { return 0; }
inline void CoInitialize() {}
inline void CoUninitialize() {}
