// A small extension over the runtime toolkit, so that pytest can check the
// function type, the class builder and the coroutine object as the host sees
// them.
#include "runtime/builder.hpp"
#include "runtime/context.hpp"
#include "runtime/coroutine.hpp"
#include "runtime/errors.hpp"
#include "runtime/function.hpp"
#include "runtime/walk.hpp"

#include <memory>

namespace nb = nanobind;
using namespace zunt::rt;

namespace {

// sample(a, b: int = 2, *args, c, d=4, **kwargs) -> the bound arguments
nb::object sample(Call& c) {
    nb::dict out;
    out["a"] = c[0];
    out["b"] = c[1];
    out["args"] = c[2];
    out["c"] = c[3];
    out["d"] = c[4];
    out["kwargs"] = c[5];
    return out;
}

// plain(x, y=None, *, z=None) -> (x, y, z)
nb::object plain(Call& c) { return nb::make_tuple(c[0], c[1], c[2]); }

nb::object only_self(Call& c) { return nb::borrow(c[0]); }

// with_context(cm, body): `with cm as value: return body(value)`
nb::object with_context_of(Call& c) {
    return with_context(c[0], [&](nb::object value) { return c[1](value); });
}

// Awaits asyncio.sleep(0) `times` times, then returns `value`.
class SleepThen : public AsyncBody {
public:
    SleepThen(nb::object value, long times) : value_(std::move(value)), left_(times) {}
    Step resume(nb::handle) override {
        if (left_-- > 0) return Step::await(nb::module_::import_("asyncio").attr("sleep")(0));
        return Step::finish(value_);
    }

private:
    nb::object value_;
    long left_;
};

nb::object sleep_then(Call& c) {
    return make_coroutine(std::make_unique<SleepThen>(nb::borrow(c[0]), nb::cast<long>(c[1])), "sleep_then");
}

// Awaits `awaitable` and returns ("done", result); an error it raises is
// reported as ("caught", error) when `catch` is true, else passes through.
class AwaitIt : public AsyncBody {
public:
    AwaitIt(nb::object awaitable, bool catch_errors) : awaitable_(std::move(awaitable)), catch_(catch_errors) {}
    Step resume(nb::handle value) override {
        if (!started_) {
            started_ = true;
            return Step::await(awaitable_);
        }
        return Step::finish(nb::make_tuple("done", value));
    }
    Step resume_error(nb::python_error& error) override {
        if (!catch_) return AsyncBody::resume_error(error);
        return Step::finish(nb::make_tuple("caught", error.value()));
    }

private:
    nb::object awaitable_;
    bool catch_;
    bool started_ = false;
};

nb::object await_it(Call& c) {
    return make_coroutine(std::make_unique<AwaitIt>(nb::borrow(c[0]), nb::cast<bool>(c[1])), "await_it");
}

// Awaits `awaitable` and returns ("done", result), logging its hooks in `log`.
// While it runs (between enter and leave) the context variable `var` holds
// `value`; while it waits, the variable is as its caller left it.
class Hooked : public AsyncBody {
public:
    Hooked(nb::object awaitable, nb::object log, nb::object var, nb::object value)
        : awaitable_(std::move(awaitable)), log_(std::move(log)), var_(std::move(var)), value_(std::move(value)) {}
    Step resume(nb::handle value) override {
        if (!started_) {
            started_ = true;
            return Step::await(awaitable_);
        }
        return Step::finish(nb::make_tuple("done", value));
    }
    void enter() override {
        log_.attr("append")("enter");
        token_ = var_.attr("set")(value_);
    }
    void leave() override {
        log_.attr("append")("leave");
        var_.attr("reset")(token_);
    }
    void close() override {
        log_.attr("append")(nb::make_tuple("close", var_.attr("get")(nb::none())));
        if (value_.equal(nb::str("fail on close"))) {
            raise(PyExc_LookupError, "close failed");
        }
    }
    int traverse(visitproc visit, void* arg) override {
        for (nb::handle h : {awaitable_, log_, var_, value_, token_}) Py_VISIT(h.ptr());
        return 0;
    }

private:
    nb::object awaitable_, log_, var_, value_, token_;
    bool started_ = false;
};

nb::object hooked(Call& c) {
    return make_coroutine(
        std::make_unique<Hooked>(nb::borrow(c[0]), nb::borrow(c[1]), nb::borrow(c[2]), nb::borrow(c[3])), "hooked");
}

// Calls fn(); a KeyError it raises becomes ValueError("converted") from it.
nb::object convert_key_error(Call& c) {
    try {
        return c[0]();
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_KeyError)) throw;
        raise_from(PyExc_ValueError, "converted", e);
    }
}

// for key, value in mapping.items(): fn(key, value)   (through ItemsCursor)
nb::object walk_items(Call& c) {
    ItemsCursor entries(c[0]);
    PyObject* k;
    PyObject* v;
    while (entries.next(k, v)) {
        nb::object key = nb::borrow(k), value = nb::borrow(v);
        c[1](key, value);
    }
    return nb::none();
}

// for item in seq: fn(item)   (through SeqCursor)
nb::object walk_seq(Call& c) {
    SeqCursor items(c[0]);
    PyObject* item;
    while (items.next(item)) {
        nb::object held = nb::borrow(item);
        c[1](held);
    }
    return nb::none();
}

// Goes `levels` levels deep in one walk's depth budget.
nb::object enter_levels(Call& c) {
    DepthBudget depth;
    const long levels = nb::cast<long>(c[0]);
    for (long i = 0; i < levels; ++i) depth.enter();
    return nb::none();
}

nb::object Widget_init(Call& c) {
    c[0].attr("value") = c[1];
    return nb::none();
}

nb::object Widget_double(Call& c) {
    return c[0].attr("value") * nb::int_(2);
}

nb::object Widget_kind(Call& c) { return nb::borrow(c[0]); }

nb::object Widget_describe(Call& c) { return nb::str("widget {}").format(c[0]); }

}  // namespace

NB_MODULE(_zunt_runtime_test, m) {
    ModuleScope scope(m);
    scope.doc("Runtime toolkit test module.");
    nb::object none = nb::none();
    scope.def({"sample",
               {arg("a"), arg_default("b", builtin("int"), nb::int_(2)), var_args(), kwonly("c"),
                kwonly_default("d", {}, nb::int_(4)), var_kwargs()},
               sample,
               "Returns the bound arguments."});
    scope.def({"plain", {arg("x"), arg_default("y", {}, none), kwonly_default("z", {}, none)}, plain});
    scope.def({"only_self", {arg("self")}, only_self});
    scope.def({"with_context", {arg("cm"), arg("body")}, with_context_of});
    nb::object st = scope.def({"sleep_then", {arg("value"), arg_default("times", {}, nb::int_(1))}, sleep_then});
    mark_coroutine_function(st);
    nb::object ai = scope.def({"await_it", {arg("awaitable"), arg_default("catch", {}, nb::bool_(false))}, await_it});
    mark_coroutine_function(ai);
    scope.def({"convert_key_error", {arg("fn")}, convert_key_error});
    nb::object hk = scope.def({"hooked", {arg("awaitable"), arg("log"), arg("var"), arg("value")}, hooked});
    mark_coroutine_function(hk);
    scope.def({"walk_items", {arg("mapping"), arg("fn")}, walk_items});
    scope.def({"walk_seq", {arg("seq"), arg("fn")}, walk_seq});
    scope.def({"enter_levels", {arg("levels")}, enter_levels});

    ClassBuilder widget(scope, "Widget", "A widget.");
    widget.method({"__init__", {arg("self"), arg("value")}, Widget_init})
        .method({"double", {arg("self")}, Widget_double, "Twice the value.", builtin("int")})
        .class_method({"kind", {arg("cls")}, Widget_kind})
        .static_method({"describe", {arg("x")}, Widget_describe})
        .property({"doubled", {arg("self")}, Widget_double});
    widget.build();

    ClassBuilder shape(scope, "Shape", nb::make_tuple(nb::module_::import_("abc").attr("ABC")), "Abstract.");
    shape.abstract_class_method({"area", {arg("cls"), arg("instance")}, Widget_kind});
    shape.build();
}
