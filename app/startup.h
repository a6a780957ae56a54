// Start-up as a list of stages: the command line, then the window, the device, the output with
// its fallbacks, the capture buffers, the console and the scene, each one stage taken in order
// and released in the reverse order from however far start-up got. The main loop and the run
// around it are app/program.cpp's.
#pragma once

// The process's exit code after a start-up failure's message box.
constexpr int EXIT_STARTUP_FAILURE = -1;

enum CommandLineResult { COMMAND_LINE_OK, COMMAND_LINE_CANCELLED };
// Reads "-res", "-ref" and "-screencapture" from arguments 1 .. argc - 1: the mode and refresh
// asked for (display.output) and the capture count, asking (message boxes) about missing or
// unknown values; COMMAND_LINE_CANCELLED when the user cancelled a question.
CommandLineResult readCommandLine(int argc, char** argv);

// The whole start-up up to the main loop. True when the program is ready to run frames; false
// with *exitCode the process's exit code (0 when the user cancelled a command-line question or
// the sine table had no memory, EXIT_STARTUP_FAILURE after the failure's message box).
bool startProgram(int argc, char** argv, int* exitCode);
// Releases every stage still held (the close clean-up first); harmless when nothing is held.
void stopProgram();
// Detects the processor and fills the lighting and grid routine tables.
void chooseProcessorPaths();
// Options, camera, capture state, textures and the output record back to their defaults.
void resetProgramDefaults();
// The close request's clean-up: the scene, console, capture buffers, output and device are
// released. Runs once; afterwards frames draw nothing.
void shutdownDisplay();
