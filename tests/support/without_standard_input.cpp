// Every test program runs as a service started without standard input does: descriptor 0 is
// free, so the first file the program opens gets it. Code that takes 0 for "no descriptor"
// then loses a file it holds, and the tests see it.
#include <unistd.h>

namespace {

const int kStandardInputClosed = ::close(STDIN_FILENO);

}  // namespace
