#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void INVRT(double*, int, int) {}
void INVRTP(double*, int, int) {}
