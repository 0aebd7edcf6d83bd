// `get_origin(tp) or tp` for the subclass matching of the plugin framework,
// through the get_origin bound in the calling module. When that is the
// host's typing.get_origin, two answers are known without calling it:
//   - a class whose metaclass is exactly `type` has no origin (get_origin
//     answers None for it unless it is typing.Generic): isinstance() of such
//     a class against the alias types is false, since its __class__ is
//     always `type`;
//   - no class is a subclass of typing.Union: its __subclasscheck__ always
//     raises TypeError, which the matching counts as "no match".
// Anything else goes to the host's function.
#pragma once

#include "runtime/errors.hpp"

#include <nanobind/nanobind.h>

namespace zunt::plugin {

namespace nb = nanobind;

class OriginReducer {
public:
    explicit OriginReducer(nb::handle get_origin) : get_origin_(nb::borrow(get_origin)) {
        PyObject* typing = PyImport_GetModule(nb::str("typing").ptr());
        if (typing == nullptr) {
            if (PyErr_Occurred()) rt::throw_current();
            return;
        }
        nb::object module = nb::steal(typing);
        nb::object host = module.attr("get_origin");
        if (!host.is(get_origin_)) return;
        generic_ = module.attr("Generic");
        union_ = module.attr("Union");
        known_ = true;
    }

    // get_origin(tp) or tp
    nb::object reduce(nb::handle tp) const {
        if (known_ && Py_TYPE(tp.ptr()) == &PyType_Type && !tp.is(generic_)) return nb::borrow(tp);
        nb::object origin = rt::steal_or_throw(rt::call_one(get_origin_.ptr(), tp.ptr()));
        int truthy = PyObject_IsTrue(origin.ptr());
        if (truthy < 0) rt::throw_current();
        return truthy ? origin : nb::borrow(tp);
    }

    // Whether the subclass test against `target` is known to raise TypeError
    // for every class.
    bool rejects_every_class(nb::handle target) const { return known_ && target.is(union_); }

private:
    nb::object get_origin_;
    nb::object generic_;
    nb::object union_;
    bool known_ = false;
};

}  // namespace zunt::plugin
