#include "photonbay.hpp"

namespace photonbay {

void add_returnloss_functions(bind::Module& m) {
}

}  // namespace photonbay
