// The summary and the closing line on the listing.
#include "zelk/zelk.h"

void SUMMRY(ZELK& Z) {
  static const Format grptyp("('0ZELK CONTAINS COEFFICIENTS FOR UNKNOWN ANCESTOR GROUPS',/,' (GRPTYP=2)')");
  LSTWRT(LISTING);
  LSTWRT(LISTING, {Z.NNS, " BULLS IN ORIGINAL FILE"});
  LSTWRT(LISTING);
  // No bull is ever added as an ancestor: the pedigree holds the bulls with data.
  LSTWRT(LISTING, {0, " BULLS WERE ADDED AS ANCESTORS OF BULLS ", "WITH DATA"});
  LSTWRT(LISTING);
  LSTWRT(LISTING, {Z.NNS, " TOTAL NUMBER OF BULLS (NNS)"});
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"FIRST BULL ID IN LIST WAS ", Z.LIST(1)});
  // With NNS = 0 this asks for LIST(0): condition 408 on LIST, and the rest
  // of the summary is not written.
  LSTWRT(LISTING, {"LAST  BULL ID IN LIST WAS ", Z.LIST(Z.NNS)});
  LSTWRT(LISTING);
  LSTWRT(LISTING, {Z.NG, " GROUPS FORMED (NG)"});
  LSTWRT(LISTING);
  LSTWRT(LISTING, {Z.NCOEF, " A-INVERSE COEFFICIENTS WERE OUTPUT"});
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"RELATIONSHIPS TRACED THRU SIRE, MGS, AND MGGS (NPED = 4)"});
  FMTWRT(LISTING, grptyp);
  LSTWRT(LISTING);
  LSTWRT(LISTING, {"Program zelk completed normally"});
}
