#include "runtime/thread_exit.hpp"

#include <unistd.h>

namespace zunt::rt {

void park_forever() noexcept {
    for (;;) pause();
}

}  // namespace zunt::rt
