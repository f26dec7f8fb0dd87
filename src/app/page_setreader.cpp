#include "app/controls_setreader.h"

namespace kelta {

void buildSetReaderPage(SetReaderControls& /*c*/, TabSheet* /*page*/) {}

} // namespace kelta
