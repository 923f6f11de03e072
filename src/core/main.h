// The filter's driver, which each platform's entry point calls.
#pragma once

namespace kestrowan {

// Runs the filter with the arguments of its command line, argv[0] included, each in UTF-8. On
// Windows they come from UTF-16 and may hold lone surrogates, which stay as generalised UTF-8
// (WTF-8) so that any file name survives the round trip.
int runFilter(int argc, char** argv);

}  // namespace kestrowan
