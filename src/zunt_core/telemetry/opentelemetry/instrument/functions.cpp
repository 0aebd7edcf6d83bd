// zunt_core.telemetry.opentelemetry.instrument.functions: the function-tracing
// instrumentor. Each listed function is replaced in place (wrapt) by a wrapper
// that runs every call inside a span of the global tracer provider, with the
// call's arguments and result (or exception) as text.
//
// Tracing never changes the call's outcome: a value whose str() fails is
// recorded as a fixed placeholder text, the real result is returned and the
// real exception raised again. The span is started without the SDK's own
// exception recording and status setting, so an exception is recorded once
// and the status description is str(exception).
#include "runtime/context.hpp"
#include "runtime/coroutine.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/names.hpp"
#include "runtime/thread_exit.hpp"
#include "runtime/walk.hpp"
#include "zunt_core/modules.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zunt {

using namespace rt;

namespace {

// What a span attribute holds for a value whose str() fails.
constexpr const char* unprintable_text = "<str() failed>";

constexpr const char* async_wrapper_qualname =
    "ZUNTFunctionsInstrumentor._create_trace_wrapper_method.<locals>.trace_async_method";

// Positional arguments whose attribute keys ("input.args[0]", ...) a wrapper
// pair makes once; keys of later ones are made at the call.
constexpr int prepared_arg_keys = 8;

// The texts and objects a wrapper pair uses at every call, made once per pair
// and held (as a table) in each wrapper's closure: interned names for the
// look-ups, attribute keys, and the context API for the asynchronous wrapper.
enum class Name {
    trace,
    module,  // "__name__"
    get_tracer,
    start_as_current_span,
    set_attribute,
    qualname,
    name,
    class_,
    output,
    kwargs_prefix,
    span_options,  // kwnames ("record_exception", "set_status_on_exception")
    context_api,   // opentelemetry.context
    attach,
    detach,
    get_current,
    arg_keys,  // ("input.args[0]", ...)
    coroutine_qualname,
    count
};

std::string arg_key_text(Py_ssize_t index) { return "input.args[" + std::to_string(index) + "]"; }

nb::object make_names() {
    std::vector<TableEntry> keys;
    for (int i = 0; i < prepared_arg_keys; ++i) keys.emplace_back(arg_key_text(i).c_str());
    nb::object arg_key_table = make_table(keys);
    using enum Name;
    return Table<Name>::make({
        {trace, "trace"},
        {module, "__name__"},
        {get_tracer, "get_tracer"},
        {start_as_current_span, "start_as_current_span"},
        {set_attribute, "set_attribute"},
        {qualname, "__qualname__"},
        {name, "__name__"},
        {class_, "__class__"},
        {output, "output"},
        {kwargs_prefix, "input.kwargs."},
        {span_options, nb::handle(make_table({"record_exception", "set_status_on_exception"}))},
        {context_api, nb::handle(nb::module_::import_("opentelemetry.context"))},
        {attach, "attach"},
        {detach, "detach"},
        {get_current, "get_current"},
        {arg_keys, nb::handle(arg_key_table)},
        {coroutine_qualname, async_wrapper_qualname},
    });
}

// A view of a wrapper pair's names.
class Names : public Table<Name> {
public:
    using Table<Name>::Table;

    // "input.args[" + index + "]"
    nb::object arg_key(Py_ssize_t index) const {
        if (index < prepared_arg_keys) return nb::borrow(PyTuple_GetItem((*this)[Name::arg_keys].ptr(), index));
        std::string key = arg_key_text(index);
        return steal_or_throw(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
    }
};

// str(value); an Exception raised by the conversion gives the placeholder
// (and clears `printable` when given).
nb::object text_of(nb::handle value, bool* printable = nullptr) {
    PyObject* text = PyObject_Str(value.ptr());
    if (printable != nullptr) *printable = text != nullptr;
    if (text != nullptr) return nb::steal(text);
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw_current();
    PyErr_Clear();
    return nb::str(unprintable_text);
}

// fn(*args, **kwargs)
nb::object call_with(nb::handle fn, nb::handle args, nb::handle kwargs) {
    nb::object positional =
        PyTuple_Check(args.ptr()) ? nb::borrow(args) : steal_or_throw(PySequence_Tuple(args.ptr()));
    nb::object keywords;
    if (PyDict_Check(kwargs.ptr())) {
        keywords = nb::borrow(kwargs);
    } else {
        keywords = steal_or_throw(PyDict_New());
        if (PyDict_Merge(keywords.ptr(), kwargs.ptr(), 1) != 0) throw_current();
    }
    // The traced function may be running, or waiting, when the host ends a
    // daemon thread at exit: the thread then stays inside rather than unwind
    // the frames that hold the span (runtime/thread_exit.hpp).
    PyObject* result = park_on_thread_exit([&] { return PyObject_Call(fn.ptr(), positional.ptr(), keywords.ptr()); });
    return steal_or_throw(result);
}

// get_trace_name(instance, wrapped): the function's qualified name without an
// instance, else the name of the instance's class (the instance itself when
// it is a class), ".", and the function's name.
nb::object get_trace_name(const Names& names, nb::handle instance, nb::handle wrapped) {
    if (instance.is_none()) return get_attr(wrapped, names[Name::qualname]);
    nb::object cls = is_instance(instance, reinterpret_cast<PyObject*>(&PyType_Type))
                         ? nb::borrow(instance)
                         : get_attr(instance, names[Name::class_]);
    nb::object class_name = get_attr(cls, names[Name::name]);
    nb::object function_name = get_attr(wrapped, names[Name::name]);
    return steal_or_throw(PyUnicode_FromFormat("%S.%S", class_name.ptr(), function_name.ptr()));
}

// store_input_on_span(span, args, kwargs)
void store_input_on_span(const Names& names, nb::handle span, nb::handle args, nb::handle kwargs) {
    nb::handle set_attribute = names[Name::set_attribute];
    Py_ssize_t index = 0;
    for (nb::handle arg : args) call_method(span, set_attribute, names.arg_key(index++), text_of(arg));
    auto store_keyword = [&](nb::handle keyword, nb::handle value) {
        nb::object key = steal_or_throw(PyUnicode_Concat(names[Name::kwargs_prefix].ptr(), keyword.ptr()));
        call_method(span, set_attribute, key, text_of(value));
    };
    if (PyDict_CheckExact(kwargs.ptr())) {
        // A snapshot in the dict's order: str() and set_attribute run other
        // code, which may change the dict.
        nb::object items = steal_or_throw(PyDict_Items(kwargs.ptr()));
        for (nb::handle pair : items) store_keyword(PyTuple_GetItem(pair.ptr(), 0), PyTuple_GetItem(pair.ptr(), 1));
        return;
    }
    for (nb::handle pair : kwargs.attr("items")()) store_keyword(nb::object(pair[0]), nb::object(pair[1]));
}

// store_output_on_span(span, result)
void store_output_on_span(const Names& names, nb::handle span, nb::handle result) {
    call_method(span, names[Name::set_attribute], names[Name::output], text_of(result));
}

// The exception event the SDK's record_exception writes, for an exception
// whose str() fails (record_exception itself then raises).
void record_unprintable_exception(nb::handle span, nb::handle exception, nb::handle message) {
    nb::handle type = reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr()));
    nb::object module = type.attr("__module__");
    nb::object qualname = type.attr("__qualname__");
    bool qualified = truthy(module) && !module.equal(nb::str("builtins"));
    nb::object type_name =
        qualified ? steal_or_throw(PyUnicode_FromFormat("%S.%S", module.ptr(), qualname.ptr())) : qualname;
    nb::object lines = nb::module_::import_("traceback").attr("format_exception")(exception);
    nb::dict attributes;
    attributes["exception.type"] = type_name;
    attributes["exception.message"] = message;
    attributes["exception.stacktrace"] = nb::str("").attr("join")(lines);
    attributes["exception.escaped"] = nb::str("False");
    span.attr("add_event")("exception", attributes);
}

// store_exception_on_span(span, exception): one exception event, then the
// error status with str(exception) as its description.
void store_exception_on_span(nb::handle trace, nb::handle span, nb::handle exception) {
    bool printable = true;
    nb::object message = text_of(exception, &printable);
    if (printable) {
        span.attr("record_exception")(exception);
    } else {
        record_unprintable_exception(span, exception, message);
    }
    nb::object status_code = trace.attr("StatusCode").attr("ERROR");
    span.attr("set_status")(trace.attr("Status")(status_code, message));
}

// Records an error that escaped the traced call, when it is an Exception
// (interruptions, exits and cancellations are not recorded). An error raised
// while recording takes its place, with the call's error as its context.
void record_error(nb::handle trace, nb::handle span, const nb::python_error& error) {
    if (!error.matches(PyExc_Exception)) return;
    Handling handling(error);
    store_exception_on_span(trace, span, error.value());
}

// The span of one traced call: tracer.start_as_current_span(name) entered as
// the `with` block of the call, its value the span. Obtains the tracer,
// builds the span name and enters the span; an error here propagates
// unrecorded, and the traced function is not called.
ContextScope open_span(const Names& names, nb::handle trace, nb::handle tracer_name, nb::handle wrapped,
                       nb::handle instance) {
    nb::object tracer = call_method(trace, names[Name::get_tracer], tracer_name);
    nb::object span_name = get_trace_name(names, instance, wrapped);
    // start_as_current_span(span_name, record_exception=False, set_status_on_exception=False)
    PyObject* argv[] = {nullptr, tracer.ptr(), span_name.ptr(), Py_False, Py_False};
    nb::object manager = steal_or_throw(PyObject_VectorcallMethod(names[Name::start_as_current_span].ptr(), argv + 1,
                                                                  2 | PY_VECTORCALL_ARGUMENTS_OFFSET,
                                                                  names[Name::span_options].ptr()));
    return ContextScope(manager);
}

// Ends the span's block with the error that ends the call, recorded first
// (an error raised while recording takes its place). Throws that error
// unless the context manager suppressed it.
void end_with_error(nb::handle trace, ContextScope& scope, nb::python_error& error) {
    try {
        record_error(trace, scope.value(), error);
    } catch (nb::python_error& e) {
        if (!scope.close(e)) throw;
        return;
    }
    if (!scope.close(error)) throw std::move(error);
}

// Runs one step of the call inside the span's block; an error it raises ends
// the block (end_with_error). False when the context manager suppressed that
// error: the call is over and answers None.
template <class Body>
bool run_in_span(nb::handle trace, ContextScope& scope, Body&& body) {
    try {
        body();
    } catch (nb::python_error& e) {
        end_with_error(trace, scope, e);
        return false;
    }
    return true;
}

// trace_sync_method(wrapped, instance, args, kwargs)
nb::object trace_sync_method(Call& c) {
    nb::handle wrapped = c[0];
    nb::handle args = c[2];
    nb::handle kwargs = c[3];
    Names names(c.closure());
    nb::object trace = c.global(names[Name::trace]);
    ContextScope scope = open_span(names, trace, c.global(names[Name::module]), wrapped, c[1]);
    nb::object result;
    bool completed = run_in_span(trace, scope, [&] {
        store_input_on_span(names, scope.value(), args, kwargs);
        result = call_with(wrapped, args, kwargs);
        store_output_on_span(names, scope.value(), result);
    });
    if (!completed) return nb::none();
    scope.close();
    return result;
}

// The body of trace_async_method: the same steps as the synchronous wrapper,
// run when the coroutine is first awaited, with the traced function's
// awaitable awaited inside the span. The span is current only while the
// coroutine runs: each stretch of work attaches the context it had when it
// last stopped, and gives the caller its own back when it stops again.
class TracedCall : public AsyncBody {
public:
    TracedCall(nb::handle function, nb::handle wrapped, nb::handle instance, nb::handle args, nb::handle kwargs)
        : function_(nb::borrow(function)),
          names_(nb::borrow(function_closure(function))),
          wrapped_(nb::borrow(wrapped)),
          instance_(nb::borrow(instance)),
          args_(nb::borrow(args)),
          kwargs_(nb::borrow(kwargs)) {}

    Step resume(nb::handle value) override {
        if (!scope_) return start();
        bool completed = run_in_span(trace_, *scope_, [&] { store_output_on_span(names(), scope_->value(), value); });
        if (!completed) return Step::finish();
        scope_->close();
        return Step::finish(nb::borrow(value));
    }

    Step resume_error(nb::python_error& error) override {
        end_with_error(trace_, *scope_, error);
        return Step::finish();
    }

    void enter() override {
        nb::handle context = names()[Name::context_api];
        nb::object current = saved_.is_valid() ? std::move(saved_) : call_method(context, names()[Name::get_current]);
        saved_ = nb::object();
        token_ = call_method(context, names()[Name::attach], current);
    }

    void leave() override {
        nb::handle context = names()[Name::context_api];
        // Once the span's block was left, the call is over: nothing to keep.
        if (scope_ && scope_->open()) saved_ = call_method(context, names()[Name::get_current]);
        nb::object token = std::move(token_);
        token_ = nb::object();
        call_method(context, names()[Name::detach], token);
    }

    // Closed while it waits: the span ends as the `with` block would on
    // GeneratorExit, which is not recorded.
    void close() override {
        if (!scope_ || !scope_->open()) return;
        PyErr_SetNone(PyExc_GeneratorExit);
        nb::python_error exit_error;
        try {
            scope_->close(exit_error);
        } catch (nb::python_error& e) {
            if (!e.matches(PyExc_GeneratorExit)) throw;
        }
    }

    int traverse(visitproc visit, void* arg) override {
        for (const nb::object* o :
             {&function_, &names_, &wrapped_, &instance_, &args_, &kwargs_, &trace_, &token_, &saved_}) {
            Py_VISIT(o->ptr());
        }
        return scope_ ? scope_->traverse(visit, arg) : 0;
    }

private:
    Step start() {
        trace_ = function_global(function_, names()[Name::trace]);
        nb::object tracer_name = function_global(function_, names()[Name::module]);
        scope_.emplace(open_span(names(), trace_, tracer_name, wrapped_, instance_));
        nb::object awaitable;
        bool started = run_in_span(trace_, *scope_, [&] {
            store_input_on_span(names(), scope_->value(), args_, kwargs_);
            awaitable = call_with(wrapped_, args_, kwargs_);
        });
        if (!started) return Step::finish();
        return Step::await(std::move(awaitable));
    }

    Names names() const { return Names(names_); }

    nb::object function_, names_, wrapped_, instance_, args_, kwargs_;
    nb::object trace_;
    std::optional<ContextScope> scope_;
    nb::object token_;  // of the context attached for the current stretch of work
    nb::object saved_;  // the context as the call left it when it last stopped
};

// trace_async_method(wrapped, instance, args, kwargs): a coroutine that
// stands for the one of `wrapped`, so that it is awaited and inspected as
// that one would be.
nb::object trace_async_method(Call& c) {
    return make_coroutine(std::make_unique<TracedCall>(c.function(), c[0], c[1], c[2], c[3]),
                          Names(c.closure())[Name::coroutine_qualname], c[0]);
}

// The object that replaced a function at its place is a wrapt proxy (a
// FunctionWrapper): wrapt 2's BaseObjectProxy, or wrapt 1's ObjectProxy.
bool is_wrapt_proxy(nb::handle wrapt, nb::handle obj) {
    nb::str base_name(PyObject_HasAttrString(wrapt.ptr(), "BaseObjectProxy") ? "BaseObjectProxy" : "ObjectProxy");
    return is_instance(obj, wrapt.attr(base_name));
}

// Puts back what stood at module:qualname before a wrapper replaced it: the
// wrapper's __wrapped__, which for a class or static method is its own
// descriptor. Module functions of any module and functions of classes alike.
void restore_original(nb::handle wrapt, nb::handle module_name, nb::handle qualname) {
    nb::object parent = steal_or_throw(PyImport_Import(module_name.ptr()));
    nb::object parts = qualname.attr("split")(".");
    Py_ssize_t n = nb::len(parts);
    for (Py_ssize_t i = 0; i + 1 < n; ++i) parent = parent.attr(nb::object(parts[i]));
    nb::object name = parts[n - 1];
    nb::object current;
    if (PyType_Check(parent.ptr())) {
        current = parent.attr("__dict__").attr("get")(name);
    } else {
        current = attr_or_missing(parent, name);
        if (!current.is_valid()) return;
    }
    if (current.is_none() || !is_wrapt_proxy(wrapt, current) || !nb::hasattr(current, "__wrapped__")) return;
    nb::setattr(parent, name, current.attr("__wrapped__"));
}

nb::object ZUNTFunctionsInstrumentor_instrumentation_dependencies(Call&) { return nb::list(); }

// _instrument(self, **kwargs)
nb::object ZUNTFunctionsInstrumentor_instrument(Call& c) {
    nb::handle self = c[0];
    nb::object methods = self.attr("_get_methods")(c[1]);
    if (!truthy(methods)) return nb::none();
    auto [trace_sync, trace_async] = unpack_pair(self.attr("_create_trace_wrapper_method")());
    for (nb::handle method : methods) {
        bool is_async = truthy(c.global("inspect").attr("iscoroutinefunction")(method));
        nb::handle wrapper = is_async ? trace_async : trace_sync;
        nb::object module = method.attr("__module__");
        nb::object qualname = method.attr("__qualname__");
        c.global("wrapt").attr("wrap_function_wrapper")(module, qualname, wrapper);
        self.attr("_instrumented_methods").attr("add")(method);
    }
    return nb::none();
}

// _uninstrument(self, **kwargs)
nb::object ZUNTFunctionsInstrumentor_uninstrument(Call& c) {
    nb::handle self = c[0];
    nb::object methods = self.attr("_instrumented_methods");
    for (nb::handle method : methods) {
        nb::object module = method.attr("__module__");
        nb::object qualname = method.attr("__qualname__");
        restore_original(c.global("wrapt"), module, qualname);
    }
    methods.attr("clear")();
    return nb::none();
}

// _get_methods(self, kwargs)
nb::object ZUNTFunctionsInstrumentor_get_methods(Call& c) { return c[1].attr("get")("methods", nb::list()); }

// _create_trace_wrapper_method(self)
nb::object ZUNTFunctionsInstrumentor_create_trace_wrapper_method(Call& c) {
    const std::string prefix = "ZUNTFunctionsInstrumentor._create_trace_wrapper_method.<locals>.";
    std::vector<Param> params = {arg("wrapped"), arg("instance"), arg("args"), arg("kwargs")};
    nb::dict ns = nb::borrow<nb::dict>(c.function().attr("__globals__"));
    nb::object names = make_names();
    nb::object sync = make_function(ns, {.name = "trace_sync_method",
                                         .params = params,
                                         .impl = trace_sync_method,
                                         .qualname = prefix + "trace_sync_method",
                                         .closure = names});
    nb::object async = make_function(ns, {.name = "trace_async_method",
                                          .params = params,
                                          .impl = trace_async_method,
                                          .qualname = async_wrapper_qualname,
                                          .closure = names});
    mark_coroutine_function(async);
    return nb::make_tuple(sync, async);
}

}  // namespace

void build_zunt_core_telemetry_opentelemetry_instrument_functions(ModuleScope& m) {
    m.doc("The function-tracing instrumentor: traces the calls of functions that the application names.");
    m.import_bind("inspect");
    m.from_import("typing", {"Callable", "Collection", "Dict", "Set", "Tuple"});
    m.import_bind("wrapt");
    m.from_import("opentelemetry", {"trace"});
    m.from_import("opentelemetry.instrumentation.instrumentor", {"BaseInstrumentor"});
    m.from_import("opentelemetry.instrumentation.utils", {"unwrap"});

    nb::object none = nb::none();
    nb::object Dict = m.get("Dict");
    nb::object Callable = m.get("Callable");

    ClassBuilder cls(m, "ZUNTFunctionsInstrumentor", nb::make_tuple(m.get("BaseInstrumentor")),
                     "Traces the functions given to instrument(methods=[...]): every call through the module or "
                     "class runs in a span named after the function, with its arguments and result (or "
                     "exception) recorded as text.");
    cls.annotate("_instrumented_methods", m.get("Set")).attr("_instrumented_methods", nb::set());
    cls.method({.name = "instrumentation_dependencies", .params = {arg("self")},
                .impl = ZUNTFunctionsInstrumentor_instrumentation_dependencies,
                .doc = "No instrumented package is required.",
                .returns = subscript(m.get("Collection"), builtin("str"))})
        .method({.name = "_instrument", .params = {arg("self"), var_kwargs()},
                 .impl = ZUNTFunctionsInstrumentor_instrument,
                 .doc = "Wrap each function listed under the keyword methods.", .returns = none})
        .method({.name = "_uninstrument", .params = {arg("self"), var_kwargs()},
                 .impl = ZUNTFunctionsInstrumentor_uninstrument,
                 .doc = "Put back the functions that were wrapped.", .returns = none})
        .method({.name = "_get_methods", .params = {arg("self"), arg("kwargs", Dict)},
                 .impl = ZUNTFunctionsInstrumentor_get_methods,
                 .doc = "The functions listed under the keyword methods, or an empty list."})
        .method({.name = "_create_trace_wrapper_method", .params = {arg("self")},
                 .impl = ZUNTFunctionsInstrumentor_create_trace_wrapper_method,
                 .doc = "A new pair of tracing wrappers: (synchronous, asynchronous).",
                 .returns = subscript(m.get("Tuple"), {Callable, Callable})});
    cls.build();
}

}  // namespace zunt
