// zunt_core.plugin.handler: the interface of the objects that supply services
// to plugins and prepare each plugin once it exists.
#include "runtime/coroutine.hpp"
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

#include <memory>

namespace zunt {

using namespace rt;

namespace {

nb::object PluginHandler_create_injections(Call&) { return nb::none(); }

nb::object PluginHandler_initialize_plugin(Call&) { return nb::none(); }

// Runs cls.initialize_plugin(instance, plugin) when first resumed and
// completes with None; it never suspends.
class InitializeOnAwait : public AsyncBody {
public:
    InitializeOnAwait(nb::handle cls, nb::handle instance, nb::handle plugin)
        : cls_(nb::borrow(cls)), instance_(nb::borrow(instance)), plugin_(nb::borrow(plugin)) {}

    Step resume(nb::handle) override {
        cls_.attr("initialize_plugin")(instance_, plugin_);
        return Step::finish();
    }

    int traverse(visitproc visit, void* arg) override {
        Py_VISIT(cls_.ptr());
        Py_VISIT(instance_.ptr());
        Py_VISIT(plugin_.ptr());
        return 0;
    }

private:
    nb::object cls_;
    nb::object instance_;
    nb::object plugin_;
};

nb::object PluginHandler_ainitialize_plugin(Call& c) {
    return make_coroutine(std::make_unique<InitializeOnAwait>(c[0], c[1], c[2]),
                          "PluginHandler.ainitialize_plugin");
}

}  // namespace

void build_zunt_core_plugin_handler(ModuleScope& m) {
    m.doc("PluginHandler interface for plugin system.");
    m.from_import("abc", {"ABC", "abstractmethod"});
    m.from_import("typing", {"Any", "Dict", "Type"});
    nb::object Any = m.get("Any");

    ClassBuilder cls(m, "PluginHandler", nb::make_tuple(m.get("ABC")),
                     "Base interface for classes that can provide injections to the plugin system.");
    cls.abstract_class_method({.name = "create_injections",
                               .params = {arg("cls"), arg("instance", Any)},
                               .impl = PluginHandler_create_injections,
                               .doc = "Return the services, or factories of services, that this handler supplies, "
                                      "keyed by service type.",
                               .returns = subscript(m.get("Dict"), {m.get("Type"), Any})});
    cls.abstract_class_method({.name = "initialize_plugin",
                               .params = {arg("cls"), arg("instance", Any), arg("plugin", Any)},
                               .impl = PluginHandler_initialize_plugin,
                               .doc = "Prepare a plugin that has been created and injected.",
                               .returns = nb::none()});
    nb::object ainit = cls.make_method({.name = "ainitialize_plugin",
                                        .params = {arg("cls"), arg("instance", Any), arg("plugin", Any)},
                                        .impl = PluginHandler_ainitialize_plugin,
                                        .doc = "Asynchronous form of initialize_plugin; runs it and completes.",
                                        .returns = nb::none()});
    mark_coroutine_function(ainit);
    cls.attr("ainitialize_plugin", builtin("classmethod")(ainit));
    cls.build();
}

}  // namespace zunt
