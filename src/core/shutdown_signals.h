#pragma once

// Turns SIGTERM, SIGINT and SIGHUP into a readable byte on a pipe, so the
// main loop can close the program as the close box does. Returns the pipe's
// read end, or -1 when it could not be set up.
int InstallShutdownSignals();
