#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void absorb_groups(Model&) {}
void canonical_transform(Model&) {}
void reabsorb_groups(Model&) {}
