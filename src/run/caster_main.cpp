#include "run/caster_main.h"
namespace sky {
int program_entry(int, char**) { return 0; }
}
