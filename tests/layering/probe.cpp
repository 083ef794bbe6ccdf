// Includes the one header the layering test names; compiled with one library's include path.
#include PROBE_HEADER
