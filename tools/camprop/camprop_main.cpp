// camprop: inspects and changes the system properties of the camera stack
// from a console.
#include "tools/camprop/main.h"

int main(int argc, char** argv) { return camprop::Main(argc, argv, propstore::kSystemCalls); }
