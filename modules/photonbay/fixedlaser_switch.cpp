#include "photonbay.hpp"

namespace photonbay {

void add_fixedlaser_switch_functions(bind::Module& m) {
}

}  // namespace photonbay
