#include "core/main.h"

// Arguments are bytes here, and file names too: they pass through as they came.
int main(int argc, char** argv) {
    return kestrowan::runFilter(argc, argv);
}
