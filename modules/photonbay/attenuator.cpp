#include "photonbay.hpp"

namespace photonbay {

void add_attenuator_functions(bind::Module& m) {
}

}  // namespace photonbay
