#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void starting_values(Model&) {}
