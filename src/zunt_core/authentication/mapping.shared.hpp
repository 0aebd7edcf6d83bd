// The table mappings' modules, built again (importlib.reload, or an import
// after the module was taken out of sys.modules) while the declarative base
// of DatabaseAdapter lives on.
#pragma once

#include "zunt_core/modules.hpp"

namespace zunt {

// Binds in the module the mapping class that an earlier build of the module
// left on DatabaseAdapter.base, and answers whether there was one. Declaring
// the class again would fail on its table, which the base's metadata already
// holds, and leave two classes of one name in the base's registry, so that no
// link naming that class could be resolved any more.
inline bool keep_existing_mapping(ModuleScope& m, const char* class_name) {
    using namespace rt;
    nb::str name(class_name);
    nb::str module(m.name().c_str());
    nb::object mappers = m.get("DatabaseAdapter").attr("base").attr("registry").attr("mappers");
    for (nb::handle mapper : mappers) {
        nb::object cls = mapper.attr("class_");
        if (cls.attr("__name__").equal(name) && cls.attr("__module__").equal(module)) {
            m.set(class_name, cls);
            return true;
        }
    }
    return false;
}

}  // namespace zunt
