#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void RELAPX(const double*, const double*, double*, double*, const double*, double*, int, int) {}
