// The one callable type behind every Python-visible function and method of
// the package. A function is made from a declaration (name, parameters with
// kinds, defaults and annotations, result annotation, docstring) and a C++
// body; the declaration drives both argument parsing (with the host's own
// TypeError texts) and the `__signature__` that `inspect` reports.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zunt::rt {

namespace nb = nanobind;

enum class ParamKind : std::uint8_t { positional, keyword_only, var_positional, var_keyword };

struct Param {
    std::string name;
    ParamKind kind = ParamKind::positional;
    nb::object default_value;  // unset: required
    nb::object annotation;     // unset: none
};

// Parameter declarations, written the way a Python signature reads.
Param arg(std::string name, nb::handle annotation = nb::handle());
Param arg_default(std::string name, nb::handle annotation, nb::handle default_value);
Param kwonly(std::string name, nb::handle annotation = nb::handle());
Param kwonly_default(std::string name, nb::handle annotation, nb::handle default_value);
Param var_args(std::string name = "args");
Param var_kwargs(std::string name = "kwargs");

class Call;
using Impl = nb::object (*)(Call&);

// Written with designated initializers, so that no field can take another's
// place: {.name = "f", .params = {arg("x")}, .impl = f_body, .doc = "..."}.
struct FunctionDecl {
    std::string name;
    std::vector<Param> params{};
    Impl impl = nullptr;
    const char* doc = nullptr;   // nullptr: no docstring
    nb::object returns{};        // unset: no result annotation
    std::string qualname{};      // empty: same as name
    nb::object closure{};        // data the body reads through Call::closure()
};

// The arguments of one call, bound to the declared parameters in order.
// Parameters that were not given hold their default; *args holds a tuple and
// **kwargs a dict.
class Call {
public:
    Call(PyObject* fn, PyObject* const* slots) : fn_(fn), slots_(slots) {}

    nb::handle operator[](std::size_t i) const { return slots_[i]; }
    nb::handle function() const { return fn_; }
    nb::handle closure() const;
    // A global of the module that defined the function, looked up at call
    // time like a Python function's global name (NameError when absent).
    nb::object global(const char* name) const;
    // The same, for a name given as a (preferably interned) str.
    nb::object global(nb::handle name) const;

private:
    PyObject* fn_;
    PyObject* const* slots_;
};

// Makes a function owned by the module whose namespace is `globals`.
nb::object make_function(nb::handle globals, FunctionDecl decl);

bool is_function(nb::handle obj);
// The body of a function made by make_function; nullptr for any other object.
// Tells whether a looked-up method is still one's own or was replaced.
Impl function_impl(nb::handle obj);
// What Call::global and Call::closure answer, for code that runs later on
// behalf of a native function (a coroutine body) and keeps only the function.
nb::object function_global(nb::handle fn, const char* name);
nb::object function_global(nb::handle fn, nb::handle name);
nb::handle function_closure(nb::handle fn);
// Replaces the closure of a function made by make_function.
void set_closure(nb::handle fn, nb::handle closure);
// Marks a function so that inspect/asyncio see a coroutine function.
void mark_coroutine_function(nb::handle fn);

// Creates the function type once per process. Called by the package init.
void init_function_type();

}  // namespace zunt::rt
