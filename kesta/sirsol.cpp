#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void SIRSOL(const double*, const double*, const double*, const double*, double*, double*, double*, double*, double*, int, int) {}
