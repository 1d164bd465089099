#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void EIGVEC(int, int, double*, double*, double*, double*) {}
