// The program record's one instance.
#include "app/program.h"

Program program{};
