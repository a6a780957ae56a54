// What the program sets up on an open output, and the M key's switch between the start-up and
// the alternate mode. The output's own verbs (open, switch, close) are display/output.h's;
// these add the program's part: the fog as the options say, the console, the textures, the
// cursor and the capture buffers.
#pragma once

// Everything that belongs to an open output: the fixed render state (fog as the options say),
// the console over the whole output, and the textures downloaded again once the scene is in.
void setupOutputState();
// The M key: reopens the output at the other mode and renews the cursor's place and clip, the
// capture buffers and everything setupOutputState sets. A mode that does not reopen, or capture
// buffers that cannot be had, end the process after a message box.
void switchResolution();
