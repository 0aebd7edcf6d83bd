// A small extension over the runtime toolkit, so that pytest can check the
// function type, the class builder and the coroutine object as the host sees
// them.
#include "runtime/builder.hpp"
#include "runtime/context.hpp"
#include "runtime/coroutine.hpp"
#include "runtime/errors.hpp"
#include "runtime/function.hpp"
#include "runtime/host.hpp"
#include "runtime/names.hpp"
#include "runtime/walk.hpp"

#include <memory>
#include <new>
#include <stdexcept>
#include <string>

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

// Calls fn(*args) when first sent to, awaits what that returns and returns
// its result: a coroutine that stands for the one of fn.
class WrapCall : public AsyncBody {
public:
    WrapCall(nb::object fn, nb::object args) : fn_(std::move(fn)), args_(std::move(args)) {}
    Step resume(nb::handle value) override {
        if (started_) return Step::finish(nb::borrow(value));
        started_ = true;
        return Step::await(steal_or_throw(PyObject_CallObject(fn_.ptr(), args_.ptr())));
    }
    int traverse(visitproc visit, void* arg) override {
        Py_VISIT(fn_.ptr());
        Py_VISIT(args_.ptr());
        return 0;
    }

private:
    nb::object fn_, args_;
    bool started_ = false;
};

nb::object wrap_call(Call& c) {
    return make_coroutine(std::make_unique<WrapCall>(nb::borrow(c[0]), nb::borrow(c[1])), nb::str("wrap_call"), c[0]);
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

// Throws the C++ exception named by `kind`.
[[noreturn]] void throw_cpp(nb::handle kind) {
    const std::string name = nb::cast<std::string>(kind);
    if (name == "bad_alloc") throw std::bad_alloc();
    if (name == "cast_error") throw nb::cast_error();
    if (name == "runtime_error") throw std::runtime_error("native failure");
    throw 42;  // not even a std::exception
}

nb::object throw_cpp_call(Call& c) { throw_cpp(c[0]); }

nb::object Widget_fail(Call& c) { throw_cpp(c[1]); }

// Throws the C++ exception `kind` at the step `when`: "first" (the first
// resume), "later" (the resume after one asyncio.sleep(0)), "close" (when
// closed while waiting on `awaitable`), "enter" or "leave" (the hooks).
class ThrowingBody : public AsyncBody {
public:
    ThrowingBody(nb::object kind, std::string when, nb::object awaitable)
        : kind_(std::move(kind)), when_(std::move(when)), awaitable_(std::move(awaitable)) {}
    Step resume(nb::handle value) override {
        if (when_ == "first" || (when_ == "later" && started_)) throw_cpp(kind_);
        if (started_) return Step::finish(nb::borrow(value));
        started_ = true;
        return Step::await(awaitable_);
    }
    void close() override {
        if (when_ == "close") throw_cpp(kind_);
    }
    void enter() override {
        if (when_ == "enter") throw_cpp(kind_);
    }
    void leave() override {
        if (when_ == "leave") throw_cpp(kind_);
    }
    int traverse(visitproc visit, void* arg) override {
        Py_VISIT(kind_.ptr());
        Py_VISIT(awaitable_.ptr());
        return 0;
    }

private:
    nb::object kind_;
    std::string when_;
    nb::object awaitable_;
    bool started_ = false;
};

nb::object throwing_body(Call& c) {
    return make_coroutine(
        std::make_unique<ThrowingBody>(nb::borrow(c[0]), nb::cast<std::string>(c[1]), nb::borrow(c[2])),
        "throwing_body");
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

enum class TestSlot { first, second, count };
using TestTable = Table<TestSlot>;

// make_table(misordered=False): a two-entry table, or one given out of order
nb::object make_test_table(Call& c) {
    if (truthy(c[0])) return TestTable::make({{TestSlot::second, "b"}, {TestSlot::first, "a"}});
    return TestTable::make({{TestSlot::first, "a"}, {TestSlot::second, "b"}});
}

// read_table(obj) -> (first, second) as a two-entry table reads them
nb::object read_test_table(Call& c) {
    const TestTable table(c[0], "the test");
    return nb::make_tuple(table[TestSlot::first], table[TestSlot::second]);
}

}  // namespace

NB_MODULE(_zunt_runtime_test, m) {
    ModuleScope scope(m);
    scope.doc("Runtime toolkit test module.");
    nb::object none = nb::none();
    scope.def({.name = "sample",
               .params = {arg("a"), arg_default("b", builtin("int"), nb::int_(2)), var_args(), kwonly("c"),
                          kwonly_default("d", {}, nb::int_(4)), var_kwargs()},
               .impl = sample,
               .doc = "Returns the bound arguments."});
    scope.def({.name = "plain", .params = {arg("x"), arg_default("y", {}, none), kwonly_default("z", {}, none)},
               .impl = plain});
    scope.def({.name = "make_table", .params = {arg_default("misordered", {}, nb::bool_(false))},
               .impl = make_test_table});
    scope.def({.name = "read_table", .params = {arg("table")}, .impl = read_test_table});
    scope.def({.name = "only_self", .params = {arg("self")}, .impl = only_self});
    scope.def({.name = "with_context", .params = {arg("cm"), arg("body")}, .impl = with_context_of});
    nb::object st = scope.def({.name = "sleep_then", .params = {arg("value"), arg_default("times", {}, nb::int_(1))},
                               .impl = sleep_then});
    mark_coroutine_function(st);
    nb::object ai = scope.def({.name = "await_it",
                               .params = {arg("awaitable"), arg_default("catch", {}, nb::bool_(false))},
                               .impl = await_it});
    mark_coroutine_function(ai);
    nb::object wc = scope.def({.name = "wrap_call", .params = {arg("fn"), var_args()}, .impl = wrap_call});
    mark_coroutine_function(wc);
    scope.def({.name = "convert_key_error", .params = {arg("fn")}, .impl = convert_key_error});
    nb::object hk = scope.def({.name = "hooked", .params = {arg("awaitable"), arg("log"), arg("var"), arg("value")},
                               .impl = hooked});
    mark_coroutine_function(hk);
    scope.def({.name = "walk_items", .params = {arg("mapping"), arg("fn")}, .impl = walk_items});
    scope.def({.name = "walk_seq", .params = {arg("seq"), arg("fn")}, .impl = walk_seq});
    scope.def({.name = "enter_levels", .params = {arg("levels")}, .impl = enter_levels});
    scope.def({.name = "throw_cpp", .params = {arg("kind")}, .impl = throw_cpp_call});
    nb::object tb = scope.def(
        {.name = "throwing_body", .params = {arg("kind"), arg("when"), arg("awaitable")}, .impl = throwing_body});
    mark_coroutine_function(tb);

    ClassBuilder widget(scope, "Widget", "A widget.");
    widget.method({.name = "__init__", .params = {arg("self"), arg("value")}, .impl = Widget_init})
        .method({.name = "double", .params = {arg("self")}, .impl = Widget_double, .doc = "Twice the value.",
                 .returns = builtin("int")})
        .class_method({.name = "kind", .params = {arg("cls")}, .impl = Widget_kind})
        .static_method({.name = "describe", .params = {arg("x")}, .impl = Widget_describe})
        .property({.name = "doubled", .params = {arg("self")}, .impl = Widget_double})
        .method({.name = "fail", .params = {arg("self"), arg("kind")}, .impl = Widget_fail});
    widget.build();

    ClassBuilder shape(scope, "Shape", nb::make_tuple(nb::module_::import_("abc").attr("ABC")), "Abstract.");
    shape.abstract_class_method({.name = "area", .params = {arg("cls"), arg("instance")}, .impl = Widget_kind});
    shape.build();
}
