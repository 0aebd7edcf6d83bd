// The module-level logging calls of native functions, as their Python
// counterparts make them (logging.debug(...), logging.error(...)).
#pragma once

#include "runtime/function.hpp"

#include <utility>

namespace zunt::rt {

// logging.<level>(*args) through the calling module's own `logging`,
// looked up at call time.
template <class... Args>
void log(const Call& c, const char* level, Args&&... args) {
    c.global("logging").attr(level)(std::forward<Args>(args)...);
}

}  // namespace zunt::rt
