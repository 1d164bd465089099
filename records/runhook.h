// For in-process drivers only (the fuzz targets under tools/fuzz), built with
// RECORDS_RUN_THROWS defined: the ends of a run write what they always write
// and then throw RunEnded instead of ending the process; RUNRESET then
// closes and forgets every file so that the next run starts afresh. The
// programs themselves are never built this way.
#pragma once

namespace rec {
struct RunEnded {
  int status;  // the exit status the process would have had
};
}  // namespace rec

void RUNRESET();
