#include "app/controls_settag.h"

namespace kelta {

void buildSetTagPage(SetTagControls& /*c*/, TabSheet* /*page*/) {}

} // namespace kelta
