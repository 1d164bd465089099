// zelk: inverse-relationship coefficients of a sorted pedigree of bulls.
#include "records/records.h"

int main() {
  RUNSTART("zelk");
  RUNEND();
}
