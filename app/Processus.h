// What the program does to itself before it starts another program.
#pragma once

// Marks every descriptor above 2 close-on-exec: a program started from here (the desktop's file
// manager) must not inherit the server connection's socket, which the client library opens
// without the flag, nor a journal or anything else the program holds open.
void FermerDescripteursALExec();
