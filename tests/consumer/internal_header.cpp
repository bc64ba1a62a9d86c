// Must not compile: a consumer that adds the library's source tree reaches
// its public headers alone, never one of its internals.
#include "modes/implementation.hpp"

int main() {}
