#include "kesta/phases.h"
#include "kesta/matrix/kernels.h"
#include "records/records.h"

// Not yet built.
void read_counts(Model&) {}
void size_model(Model&) {}
void read_trait_data(Model&) {}
void read_sire_matrix(Model&) {}
void reread_input(Model&) {}
