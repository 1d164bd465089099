#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void ainverse_first(Model&) {}
void ainverse_second(Model&) {}
