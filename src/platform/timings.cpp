#include "platform/timings.h"

#include <cstdlib>

namespace kelta::timing {

double timeScale() {
    // Read every time so that a test can change it between cases.
    const char* s = std::getenv("KELTA_TIME_SCALE");
    if (!s || !*s) return 1.0;
    char* end = nullptr;
    const double v = std::strtod(s, &end);
    return (end != s && v > 0.0 && v <= 1.0) ? v : 1.0;
}

} // namespace kelta::timing
