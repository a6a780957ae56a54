// The program record's one instance. Constant-initialised: diagnostics work before start-up.
#include "app/program.h"

constinit Program program{};
