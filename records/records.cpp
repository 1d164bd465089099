#include "records/records.h"
// Not yet built.
