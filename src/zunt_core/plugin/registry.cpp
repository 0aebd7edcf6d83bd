// zunt_core.plugin.registry: services keyed by type, injected into objects by
// the declared types of their attributes.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/modules.hpp"
#include "zunt_core/plugin/origin.shared.hpp"

#include <string>

namespace zunt {

using namespace rt;

namespace {

using plugin::OriginReducer;

// issubclass(base, target), where a TypeError counts as no match.
bool subclass_or_skip(nb::handle base, nb::handle target) {
    int r = PyObject_IsSubclass(base.ptr(), target.ptr());
    if (r < 0) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw_current();
        PyErr_Clear();
        return false;
    }
    return r != 0;
}

// A value stored in a registry is a factory when it is callable and not a class.
bool is_factory(nb::handle value) { return PyCallable_Check(value.ptr()) && !PyType_Check(value.ptr()); }

nb::object services_of(nb::handle self) { return self.attr("_services"); }

// The first entry of `services` whose key reduces to a class that is a
// subclass of `target`: its value, or null when none matches. Walks the live
// map the way `for key, value in services.items()` does.
nb::object fallback_lookup(const OriginReducer& origins, nb::handle services, nb::handle target) {
    if (origins.rejects_every_class(target)) return nb::object();
    if (PyDict_CheckExact(services.ptr())) {
        Py_ssize_t pos = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        Py_ssize_t size = PyDict_Size(services.ptr());
        while (PyDict_Next(services.ptr(), &pos, &key, &value)) {
            nb::object k = nb::borrow(key);
            nb::object v = nb::borrow(value);
            nb::object base = origins.reduce(k);
            bool match = PyType_Check(base.ptr()) && subclass_or_skip(base, target);
            if (PyDict_Size(services.ptr()) != size) {
                raise(PyExc_RuntimeError, "dictionary changed size during iteration");
            }
            if (match) return v;
        }
        return nb::object();
    }
    for (nb::handle item : services.attr("items")()) {
        nb::object k = item[0];
        nb::object base = origins.reduce(k);
        if (PyType_Check(base.ptr()) && subclass_or_skip(base, target)) return item[1];
    }
    return nb::object();
}

// services.get(key): a new reference, or null when absent.
nb::object exact_lookup(nb::handle services, nb::handle key) {
    if (PyDict_CheckExact(services.ptr())) {
        PyObject* value = PyDict_GetItemWithError(services.ptr(), key.ptr());  // borrowed
        if (value == nullptr && PyErr_Occurred()) throw_current();
        return nb::borrow(value);
    }
    nb::object value = services.attr("get")(key);
    return value.is_none() ? nb::object() : value;
}

nb::object ServiceRegistry_init(Call& c) {
    c[0].attr("_services") = nb::dict();
    return nb::none();
}

nb::object ServiceRegistry_register(Call& c) {
    nb::object services = services_of(c[0]);
    if (PyObject_SetItem(services.ptr(), c[1].ptr(), c[2].ptr()) != 0) throw_current();
    return nb::none();
}

nb::object ServiceRegistry_get(Call& c) {
    nb::handle service_type = c[1];
    if (PyType_Check(service_type.ptr())) {
        nb::object module = service_type.attr("__module__");
        if (PyUnicode_Check(module.ptr()) && PyUnicode_CompareWithASCIIString(module.ptr(), "builtins") == 0) {
            nb::object name = service_type.attr("__name__");
            raise(PyExc_TypeError,
                  steal_or_throw(PyUnicode_FromFormat(
                      "Built-in type %S cannot be injected. Pass this value directly instead.", name.ptr())));
        }
    }
    nb::object services = services_of(c[0]);
    int present = PySequence_Contains(services.ptr(), service_type.ptr());
    if (present < 0) throw_current();
    if (!present) {
        nb::object name = attr_or_missing(service_type, "__name__");
        if (!name.is_valid()) name = nb::str(service_type);
        raise(PyExc_KeyError, steal_or_throw(PyUnicode_FromFormat("Service %S not registered", name.ptr())));
    }
    return steal_or_throw(PyObject_GetItem(services.ptr(), service_type.ptr()));
}

nb::object ServiceRegistry_inject_services(Call& c) {
    nb::handle target = c[1];
    nb::object cls = target.attr("__class__");
    nb::object hints = steal_or_throw(call_one(c.global("get_type_hints").ptr(), cls.ptr()));
    OriginReducer origins(c.global("get_origin"));
    nb::object services = services_of(c[0]);
    auto inject_one = [&](nb::handle name, nb::handle declared) {
        nb::object service = exact_lookup(services, declared);
        if (!service.is_valid() || service.is_none()) {
            nb::object target_type = origins.reduce(declared);
            service = fallback_lookup(origins, services, target_type);
        }
        if (!service.is_valid() || service.is_none()) return;
        nb::object value = is_factory(service) ? steal_or_throw(PyObject_CallNoArgs(service.ptr())) : service;
        if (PyObject_SetAttr(target.ptr(), name.ptr(), value.ptr()) != 0) throw_current();
    };
    if (PyDict_CheckExact(hints.ptr())) {
        Py_ssize_t pos = 0;
        PyObject* name = nullptr;
        PyObject* declared = nullptr;
        while (PyDict_Next(hints.ptr(), &pos, &name, &declared)) inject_one(nb::borrow(name), nb::borrow(declared));
    } else {
        for (nb::handle item : hints.attr("items")()) inject_one(item[0], item[1]);
    }
    return nb::none();
}

}  // namespace

void build_zunt_core_plugin_registry(ModuleScope& m) {
    m.doc("Service registry for core services that can be injected into plugins.");
    m.from_import("typing", {"Any", "Dict", "Type", "TypeVar", "get_origin", "get_type_hints"});
    nb::object T = m.get("TypeVar")("T");
    m.set("T", T);
    nb::object type_T = subscript(m.get("Type"), T);

    ClassBuilder cls(m, "ServiceRegistry", "Registry for core services that can be injected into plugins.");
    cls.method({.name = "__init__", .params = {arg("self")}, .impl = ServiceRegistry_init})
        .method({.name = "register",
                 .params = {arg("self"), arg("service_type", type_T), arg("instance", T)},
                 .impl = ServiceRegistry_register,
                 .doc = "Register a service, or a factory that makes one, under its type.",
                 .returns = nb::none()})
        .method({.name = "get",
                 .params = {arg("self"), arg("service_type", type_T)},
                 .impl = ServiceRegistry_get,
                 .doc = "Return the service registered under a type, as stored.",
                 .returns = T})
        .method({.name = "inject_services",
                 .params = {arg("self"), arg("target", m.get("Any"))},
                 .impl = ServiceRegistry_inject_services,
                 .doc = "Set the attributes of the target whose declared types have a registered service.",
                 .returns = nb::none()});
    cls.build();
}

}  // namespace zunt
