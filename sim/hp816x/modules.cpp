// The mainframe's indexed arguments: which functions address a slot, of which
// kind of module, and which a power meter channel (0 and 1 on the dual power
// meter, 0 on the single one), as the driver's headers mark them
// (BIND_SLOTS, BIND_SLOT). The core checks every call against the table.
#include "hp816x.hpp"
#include "hp816x_indexes.h"

namespace {

const bool registered = sim::indexes(hp816x::driver, VI_ERROR_INSTR_ERROR, sim::tables::hp816x_indexes,
                                     sizeof sim::tables::hp816x_indexes / sizeof sim::tables::hp816x_indexes[0]);

}  // namespace
