#include "zunt_core/modules.hpp"

namespace zunt {

void build_zunt_core_logger(ModuleScope& m) { m.doc("Logger Modules."); }

}  // namespace zunt
