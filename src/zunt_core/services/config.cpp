// zunt_core.services.config: typed getters over the live process environment.
// Every call reads os.environ afresh; conversions are the host's own.
#include "runtime/errors.hpp"
#include "zunt/bool_words.hpp"
#include "zunt_core/modules.hpp"

#include <string>

namespace zunt {

using namespace rt;

namespace {

// os.environ.get(key), through the module's own `os`.
nb::object environ_get(Call& c, nb::handle key) {
    return c.global("os").attr("environ").attr("get")(key);
}

// type_(value) where a ValueError gives `fallback`.
nb::object convert_or(PyObject* type, nb::handle value, nb::handle fallback) {
    PyObject* result = call_one(type, value.ptr());
    if (result != nullptr) return nb::steal(result);
    if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw_current();
    PyErr_Clear();
    return nb::borrow(fallback);
}

bool equals_ascii(nb::handle text, std::string_view word) {
    // Compares without encoding, so texts the host cannot encode still compare.
    std::string w(word);
    return PyUnicode_Check(text.ptr()) && PyUnicode_CompareWithASCIIString(text.ptr(), w.c_str()) == 0;
}


nb::object ConfigService_get_string(Call& c) {
    nb::object value = environ_get(c, c[0]);
    return value.is_none() ? nb::borrow(c[1]) : value;
}

nb::object ConfigService_get_int(Call& c) {
    nb::object value = environ_get(c, c[0]);
    if (value.is_none()) return nb::borrow(c[1]);
    return convert_or(reinterpret_cast<PyObject*>(&PyLong_Type), value, c[1]);
}

nb::object ConfigService_get_float(Call& c) {
    nb::object value = environ_get(c, c[0]);
    if (value.is_none()) return nb::borrow(c[1]);
    return convert_or(reinterpret_cast<PyObject*>(&PyFloat_Type), value, c[1]);
}

nb::object ConfigService_get_bool(Call& c) {
    nb::object value = environ_get(c, c[0]);
    if (value.is_none()) return nb::borrow(c[1]);
    nb::object lowered = value.attr("lower")();
    for (std::string_view word : text::true_words) {
        if (equals_ascii(lowered, word)) return nb::bool_(true);
    }
    for (std::string_view word : text::false_words) {
        if (equals_ascii(lowered, word)) return nb::bool_(false);
    }
    return nb::borrow(c[1]);
}

nb::object ConfigService_get_list(Call& c) {
    nb::object value = environ_get(c, c[0]);
    if (value.is_none()) return nb::borrow(c[2]);
    nb::object pieces = value.attr("split")(c[1]);
    nb::list result;
    for (nb::handle piece : pieces) result.append(piece.attr("strip")());
    return result;
}

nb::object ConfigService_require(Call& c) {
    nb::object value = environ_get(c, c[0]);
    if (value.is_none()) {
        raise(PyExc_ValueError,
              steal_or_throw(PyUnicode_FromFormat("Required environment variable %S is not set", c[0].ptr())));
    }
    return value;
}

nb::object ConfigService_require_as(Call& c) {
    nb::handle key = c[0];
    nb::handle type_ = c[1];
    // Named through the module's own class, so subclasses do not change it.
    nb::object config = c.global("ConfigService");
    nb::object value = config.attr("require")(key);
    try {
        int is_bool = PyObject_RichCompareBool(type_.ptr(), reinterpret_cast<PyObject*>(&PyBool_Type), Py_EQ);
        if (is_bool < 0) throw_current();
        if (is_bool) {
            nb::object result = config.attr("get_bool")(key);
            if (result.is_none()) raise_empty(PyExc_ValueError);
            return result;
        }
        return type_(value);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_ValueError)) throw;
        nb::object type_name = type_.attr("__name__");
        raise_from(PyExc_ValueError,
                   steal_or_throw(PyUnicode_FromFormat("Environment variable %S cannot be converted to %S",
                                                       key.ptr(), type_name.ptr())),
                   e);
    }
}

}  // namespace

void build_zunt_core_services_config(ModuleScope& m) {
    m.doc("Configuration service for accessing environment variables.");
    m.import_bind("os");
    m.from_import("typing", {"Optional", "Type", "TypeVar", "cast"});
    nb::object U = m.get("TypeVar")("U");
    m.set("U", U);

    nb::object Optional = m.get("Optional");
    nb::object str = builtin("str");
    nb::object opt_str = subscript(Optional, str);
    nb::object opt_int = subscript(Optional, builtin("int"));
    nb::object opt_float = subscript(Optional, builtin("float"));
    nb::object opt_bool = subscript(Optional, builtin("bool"));
    nb::object opt_list = subscript(Optional, subscript(builtin("list"), str));
    nb::object none = nb::none();

    ClassBuilder cls(m, "ConfigService", "Service for accessing environment variables with type conversion.");
    cls.static_method({.name = "get_string",
                       .params = {arg("key", str), arg_default("default", opt_str, none)},
                       .impl = ConfigService_get_string,
                       .doc = "Get a string value from the environment, or the default when it is not set.",
                       .returns = opt_str})
        .static_method({.name = "get_int",
                        .params = {arg("key", str), arg_default("default", opt_int, none)},
                        .impl = ConfigService_get_int,
                        .doc = "Get an integer value from the environment, or the default when it is not set "
                               "or not an integer.",
                        .returns = opt_int})
        .static_method({.name = "get_float",
                        .params = {arg("key", str), arg_default("default", opt_float, none)},
                        .impl = ConfigService_get_float,
                        .doc = "Get a float value from the environment, or the default when it is not set or "
                               "not a number.",
                        .returns = opt_float})
        .static_method({.name = "get_bool",
                        .params = {arg("key", str), arg_default("default", opt_bool, none)},
                        .impl = ConfigService_get_bool,
                        .doc = "Get a boolean value from the environment (true/yes/1/on or false/no/0/off), or "
                               "the default.",
                        .returns = opt_bool})
        .static_method({.name = "get_list",
                        .params = {arg("key", str), arg_default("separator", str, nb::str(",")),
                                   arg_default("default", opt_list, none)},
                        .impl = ConfigService_get_list,
                        .doc = "Get a list of stripped strings split on the separator, or the default when it is "
                               "not set.",
                        .returns = opt_list})
        .static_method({.name = "require",
                        .params = {arg("key", str)},
                        .impl = ConfigService_require,
                        .doc = "Get a required string value; raises ValueError when it is not set.",
                        .returns = str})
        .static_method({.name = "require_as",
                        .params = {arg("key", str), arg("type_", subscript(m.get("Type"), U))},
                        .impl = ConfigService_require_as,
                        .doc = "Get a required value converted to the given type; raises ValueError when it is "
                               "not set or cannot be converted.",
                        .returns = U});
    cls.build();
}

}  // namespace zunt
