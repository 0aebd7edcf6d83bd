// zunt_core.plugin.plugin: the base class of plugins. A plugin class names
// its handler class and declares the services it needs as typed attributes;
// every new instance receives them from the registry bound to its class
// before its initialiser runs.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// __init__(self, *args, **kwargs)
nb::object Plugin_init(Call& c) {
    nb::handle self = c[0];
    nb::object next_init = super_of(c.closure(), self).attr("__init__");
    steal_or_throw(PyObject_Call(next_init.ptr(), c[1].ptr(), c[2].ptr()));
    nb::object name = self.attr("name");
    nb::object description = self.attr("description");
    nb::object version = self.attr("version");
    if (!truthy(name) || !truthy(description) || !truthy(version)) {
        nb::object cls_name = self.attr("__class__").attr("__name__");
        raise(PyExc_ValueError,
              steal_or_throw(PyUnicode_FromFormat(
                  "Plugin class %S must set name, description, and version as class attributes",
                  cls_name.ptr())));
    }
    return nb::none();
}

// get_handler_type(cls): the value of the nearest class in the MRO that sets
// _handler_type in its own namespace.
nb::object Plugin_get_handler_type(Call& c) {
    nb::handle cls = c[0];
    nb::object mro = cls.attr("__mro__");
    nb::str key("_handler_type");
    for (nb::handle klass : mro) {
        nb::object ns = klass.attr("__dict__");
        int has = PySequence_Contains(ns.ptr(), key.ptr());
        if (has < 0) throw_current();
        if (has) return klass.attr(key);
    }
    return nb::none();
}

// The decorator made by for_handler: its closure is the handler class.
nb::object Plugin_for_handler_decorator(Call& c) {
    nb::handle plugin_cls = c[0];
    if (PyObject_SetAttrString(plugin_cls.ptr(), "_handler_type", c.closure().ptr()) != 0) throw_current();
    return nb::borrow(plugin_cls);
}

nb::object Plugin_for_handler(Call& c) {
    nb::object globals = c.function().attr("__globals__");
    nb::object type_plugin = subscript(c.global("Type"), nb::str("Plugin"));
    FunctionDecl decl{.name = "decorator",
                      .params = {arg("plugin_cls", type_plugin)},
                      .impl = Plugin_for_handler_decorator,
                      .returns = type_plugin,
                      .qualname = "Plugin.for_handler.<locals>.decorator",
                      .closure = nb::borrow(c[1])};
    return make_function(globals, std::move(decl));
}

nb::object Plugin_set_registry(Call& c) {
    if (PyObject_SetAttrString(c[0].ptr(), "_registry", c[1].ptr()) != 0) throw_current();
    return nb::none();
}

nb::object Plugin_handler_type(Call& c) {
    nb::object cls = c[0].attr("__class__");
    return cls.attr("get_handler_type")();
}

// __new__(cls, *args, **kwargs): the instance, injected from the registry
// bound to its class.
nb::object Plugin_new(Call& c) {
    nb::handle cls = c[0];
    nb::object next_new = super_of(c.closure(), cls).attr("__new__");
    nb::object instance = steal_or_throw(call_one(next_new.ptr(), cls.ptr()));
    nb::object registry = cls.attr("_registry");
    if (!registry.is_none()) {
        nb::str method("inject_services");
        PyObject* args[2] = {registry.ptr(), instance.ptr()};
        steal_or_throw(PyObject_VectorcallMethod(method.ptr(), args, 2, nullptr));
    }
    return instance;
}

}  // namespace

void build_zunt_core_plugin_plugin(ModuleScope& m) {
    m.doc("Plugin base class for the Plugin Architecture.");
    m.from_import("typing", {"Callable", "Optional", "Type"});
    m.from_import("zunt_core.plugin.handler", {"PluginHandler"});
    m.from_import("zunt_core.plugin.registry", {"ServiceRegistry"});

    nb::object Optional = m.get("Optional");
    nb::object Type = m.get("Type");
    nb::object str = builtin("str");
    nb::object none = nb::none();
    nb::object type_handler = subscript(Type, nb::str("PluginHandler"));
    nb::object opt_type_handler = subscript(Optional, type_handler);
    nb::object opt_registry = subscript(Optional, m.get("ServiceRegistry"));
    nb::object type_plugin = subscript(Type, nb::str("Plugin"));
    nb::list decorator_params;
    decorator_params.append(type_plugin);
    nb::object decorator_type = subscript(m.get("Callable"), {decorator_params, type_plugin});

    ClassBuilder cls(m, "Plugin", "Base class for ZUNT Plugins.");
    cls.annotate("name", str)
        .annotate("description", str)
        .annotate("version", str)
        .annotate("_handler_type", opt_type_handler)
        .annotate("_registry", opt_registry);
    cls.attr("name", none)
        .attr("description", none)
        .attr("version", none)
        .attr("_handler_type", none)
        .attr("_registry", none);
    cls.method({.name = "__init__", .params = {arg("self"), var_args(), var_kwargs()}, .impl = Plugin_init,
                .doc = "Check that the plugin sets its name, description and version."})
        .class_method({.name = "get_handler_type", .params = {arg("cls")}, .impl = Plugin_get_handler_type,
                       .doc = "Return the handler class of this plugin class, or None.", .returns = opt_type_handler})
        .class_method({.name = "for_handler", .params = {arg("cls"), arg("handler_type", type_handler)},
                       .impl = Plugin_for_handler,
                       .doc = "Return a class decorator that sets the handler class of a plugin class.",
                       .returns = decorator_type})
        .class_method({.name = "set_registry", .params = {arg("cls"), arg("registry", m.get("ServiceRegistry"))},
                       .impl = Plugin_set_registry, .doc = "Bind a service registry to this plugin class.",
                       .returns = none})
        .property({.name = "handler_type", .params = {arg("self")}, .impl = Plugin_handler_type,
                   .doc = "The handler class of this plugin's class.", .returns = opt_type_handler})
        .static_method({.name = "__new__", .params = {arg("cls"), var_args(), var_kwargs()}, .impl = Plugin_new,
                        .doc = "Create the instance and inject the services of the bound registry."});
    cls.build();
}

}  // namespace zunt
