#include "photonbay.hpp"

BIND_DRIVER(hp816x_init)  // instrbind.driver_library: the file bound for it

BIND_MODULE(_photonbay, m) {
    using namespace photonbay;
    add_session_functions(m);
    add_attenuator_functions(m);
    add_powermeter_functions(m);
    add_fixedlaser_switch_functions(m);
    add_returnloss_functions(m);
    add_tunablelaser_functions(m);
    add_lambdascan_functions(m);
}
