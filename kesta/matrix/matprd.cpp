#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void MATPRD(int, int, int, double*, const double*, const double*, int, int) {}
