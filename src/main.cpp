// skyloom: the batch renderer's entry point.
#include "run/caster_main.h"

int main(int argc, char** argv) {
    return sky::program_entry(argc, argv);
}
