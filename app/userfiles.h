// The files of the user's: which surface file the program reads at start-up and on L and
// writes on S (data/vorl.txt, or the one named on the command line). Reads the platform's
// requests; owns no file itself.
#pragma once

#include <cstddef>

// The surface file a save writes and a reload reads: the named one, or data/vorl.txt.
const char* surfaceFileName();
// True when the user named a surface file (--surface FILE or a lone word).
bool surfaceFileNamed();
// Where the surface file is read from into `out` (size bytes): the named file as named, or
// data/vorl.txt from the working folder, else the shipped one (dataFileToRead).
void surfaceFileToRead(char* out, std::size_t size);
