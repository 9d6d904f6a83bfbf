#include "photonbay.hpp"

namespace photonbay {

void add_tunablelaser_functions(bind::Module& m) {
}

}  // namespace photonbay
