// simulate: makes pedigree.dat, pass.dat and truth.txt for a simulated
// sire-model analysis (see --help).
#include <filesystem>
#include <system_error>

#include "simulate.h"

int main(int argc, char** argv) {
  Options o = parse_options(argc, argv);
  std::error_code ec;
  std::filesystem::create_directories(o.out, ec);
  if (ec) fail("cannot make " + o.out + ": " + ec.message());

  Truth tr;
  build_truth(o, tr);
  Records rec;
  simulate_records(o, tr, rec);
  write_pedigree(o, tr);
  Counts c = write_pass(o, tr, rec);
  write_truth(o, tr, c);
  return 0;
}
