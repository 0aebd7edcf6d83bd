#include "runtime/function.hpp"

#include "runtime/errors.hpp"
#include "runtime/thread_exit.hpp"
#include "zunt/call_errors.hpp"

#include <nanobind/stl/string.h>

#include <new>
#include <stdexcept>
#include <string_view>

namespace zunt::rt {

namespace {

struct FunctionData {
    Impl impl = nullptr;
    std::string qualname;
    std::vector<std::string> names;
    std::vector<ParamKind> kinds;
    std::vector<PyObject*> name_objects;  // interned, owned
    std::vector<PyObject*> defaults;      // owned or null
    std::vector<PyObject*> annotations;   // owned or null
    PyObject* returns = nullptr;
    PyObject* globals = nullptr;
    PyObject* closure = nullptr;
    PyObject* signature = nullptr;        // built on first use
    std::size_t n_positional = 0;         // positional-or-keyword parameters
    std::size_t n_positional_defaults = 0;
    std::size_t n_kwonly = 0;
    int var_positional = -1;
    int var_keyword = -1;
    bool all_positional = true;           // only positional-or-keyword parameters
};

struct FunctionObject {
    PyObject ob_base;
    vectorcallfunc vectorcall;
    PyObject* dict;
    FunctionData* data;
};

// The type object lives for the whole process; it is never released, so no
// destructor runs after the interpreter has gone.
PyTypeObject* function_type = nullptr;

FunctionObject* as_function(PyObject* obj) { return reinterpret_cast<FunctionObject*>(obj); }

[[noreturn]] void raise_type_error(const std::string& message) { raise(PyExc_TypeError, message); }

// Runs the body on arguments already bound to the declared parameters.
PyObject* run_body(PyObject* self, const FunctionData& d, PyObject* const* slots) {
    Call call(self, slots);
    nb::object result = d.impl(call);
    if (!result.is_valid()) {
        return Py_NewRef(Py_None);
    }
    return result.release().ptr();
}

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    FunctionData& d = *as_function(self)->data;
    const std::size_t n_params = d.kinds.size();
    const std::size_t nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));

    try {
        // The common call: every parameter given by position, nothing else to
        // bind. The caller's argument array is the slot array.
        if (kwnames == nullptr && d.all_positional && nargs == n_params) {
            return run_body(self, d, args);
        }

        constexpr std::size_t small_size = 8;
        PyObject* small[small_size];
        std::vector<PyObject*> large;
        PyObject** slots = small;
        if (n_params > small_size) {
            large.resize(n_params);
            slots = large.data();
        }
        for (std::size_t i = 0; i < n_params; ++i) {
            slots[i] = nullptr;
        }

        nb::object extra_args, extra_kwargs;  // *args and **kwargs, alive until the body returns
        const std::size_t n_bound = nargs < d.n_positional ? nargs : d.n_positional;
        for (std::size_t i = 0; i < n_bound; ++i) {
            slots[i] = args[i];
        }
        if (d.var_positional >= 0) {
            std::size_t extra = nargs > d.n_positional ? nargs - d.n_positional : 0;
            extra_args = steal_or_throw(PyTuple_New(static_cast<Py_ssize_t>(extra)));
            for (std::size_t i = 0; i < extra; ++i) {
                PyObject* item = args[d.n_positional + i];
                Py_INCREF(item);
                PyTuple_SetItem(extra_args.ptr(), static_cast<Py_ssize_t>(i), item);
            }
            slots[d.var_positional] = extra_args.ptr();
        }
        if (d.var_keyword >= 0) {
            extra_kwargs = steal_or_throw(PyDict_New());
            slots[d.var_keyword] = extra_kwargs.ptr();
        }

        if (kwnames != nullptr) {
            const Py_ssize_t nkw = PyTuple_Size(kwnames);
            for (Py_ssize_t k = 0; k < nkw; ++k) {
                PyObject* key = PyTuple_GetItem(kwnames, k);
                PyObject* value = args[nargs + static_cast<std::size_t>(k)];
                std::size_t found = n_params;
                for (std::size_t j = 0; j < n_params; ++j) {
                    if (d.name_objects[j] == key) {
                        found = j;
                        break;
                    }
                }
                if (found == n_params) {
                    for (std::size_t j = 0; j < n_params; ++j) {
                        if (d.name_objects[j] != nullptr && PyUnicode_Compare(d.name_objects[j], key) == 0) {
                            found = j;
                            break;
                        }
                    }
                }
                if (found == n_params) {
                    if (d.var_keyword >= 0) {
                        if (PyDict_SetItem(extra_kwargs.ptr(), key, value) != 0) {
                            throw_current();
                        }
                        continue;
                    }
                    raise_type_error(text::unexpected_keyword(d.qualname, to_utf8(key)));
                }
                if (slots[found] != nullptr) {
                    raise_type_error(text::multiple_values(d.qualname, d.names[found]));
                }
                slots[found] = value;
            }
        }

        if (nargs > d.n_positional && d.var_positional < 0) {
            std::size_t kwonly_given = 0;
            for (std::size_t j = 0; j < n_params; ++j) {
                if (d.kinds[j] == ParamKind::keyword_only && slots[j] != nullptr) {
                    ++kwonly_given;
                }
            }
            raise_type_error(text::too_many_positional(d.qualname, d.n_positional - d.n_positional_defaults,
                                                       d.n_positional, nargs, kwonly_given));
        }

        std::vector<std::string_view> missing;
        for (std::size_t j = 0; j < n_params; ++j) {
            if (slots[j] == nullptr && d.kinds[j] == ParamKind::positional) {
                if (d.defaults[j] != nullptr) {
                    slots[j] = d.defaults[j];
                } else {
                    missing.push_back(d.names[j]);
                }
            }
        }
        if (!missing.empty()) {
            raise_type_error(text::missing_arguments(d.qualname, "positional", missing));
        }
        for (std::size_t j = 0; j < n_params; ++j) {
            if (slots[j] == nullptr && d.kinds[j] == ParamKind::keyword_only) {
                if (d.defaults[j] != nullptr) {
                    slots[j] = d.defaults[j];
                } else {
                    missing.push_back(d.names[j]);
                }
            }
        }
        if (!missing.empty()) {
            raise_type_error(text::missing_arguments(d.qualname, "keyword-only", missing));
        }

        return run_body(self, d, slots);
#if defined(__GLIBCXX__)
    } catch (abi::__forced_unwind&) {
        // The host ends this thread at exit: it stays here instead of
        // unwinding the frames of the callers (runtime/thread_exit.hpp).
        park_forever();
#endif
    } catch (...) {
        translate_exception();
        return nullptr;
    }
}

int function_traverse(PyObject* self, visitproc visit, void* arg) {
    FunctionObject* f = as_function(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->dict);
    if (FunctionData* d = f->data) {
        for (PyObject* obj : d->defaults) Py_VISIT(obj);
        for (PyObject* obj : d->annotations) Py_VISIT(obj);
        Py_VISIT(d->returns);
        Py_VISIT(d->globals);
        Py_VISIT(d->closure);
        Py_VISIT(d->signature);
    }
    return 0;
}

int function_clear(PyObject* self) {
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->dict);
    if (FunctionData* d = f->data) {
        for (PyObject*& obj : d->defaults) Py_CLEAR(obj);
        for (PyObject*& obj : d->annotations) Py_CLEAR(obj);
        Py_CLEAR(d->returns);
        Py_CLEAR(d->globals);
        Py_CLEAR(d->closure);
        Py_CLEAR(d->signature);
    }
    return 0;
}

void function_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    function_clear(self);
    FunctionObject* f = as_function(self);
    if (FunctionData* d = f->data) {
        for (PyObject*& obj : d->name_objects) Py_CLEAR(obj);
        delete d;
        f->data = nullptr;
    }
    PyTypeObject* tp = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(tp, Py_tp_free));
    free_fn(self);
    Py_DECREF(tp);
}

PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) {
        return Py_NewRef(self);
    }
    // A method: bound like a Python function, through types.MethodType (a
    // static type of the host, so keeping a pointer to it is safe).
    static PyObject* method_type = nullptr;
    if (method_type == nullptr) {
        PyObject* types = PyImport_ImportModule("types");
        if (types == nullptr) return nullptr;
        method_type = PyObject_GetAttrString(types, "MethodType");
        Py_DECREF(types);
        if (method_type == nullptr) return nullptr;
    }
    PyObject* call_args[2] = {self, obj};
    return PyObject_Vectorcall(method_type, call_args, 2, nullptr);
}

PyObject* function_repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %s at %p>", as_function(self)->data->qualname.c_str(), self);
}

nb::object build_signature(FunctionData& d) {
    nb::module_ inspect = nb::module_::import_("inspect");
    nb::object parameter = inspect.attr("Parameter");
    nb::object empty = parameter.attr("empty");
    nb::list params;
    for (std::size_t j = 0; j < d.kinds.size(); ++j) {
        const char* kind = "POSITIONAL_OR_KEYWORD";
        switch (d.kinds[j]) {
            case ParamKind::positional: kind = "POSITIONAL_OR_KEYWORD"; break;
            case ParamKind::keyword_only: kind = "KEYWORD_ONLY"; break;
            case ParamKind::var_positional: kind = "VAR_POSITIONAL"; break;
            case ParamKind::var_keyword: kind = "VAR_KEYWORD"; break;
        }
        nb::handle def = d.defaults[j] ? nb::handle(d.defaults[j]) : nb::handle(empty);
        nb::handle ann = d.annotations[j] ? nb::handle(d.annotations[j]) : nb::handle(empty);
        params.append(parameter(d.names[j], parameter.attr(kind), nb::arg("default") = def,
                                nb::arg("annotation") = ann));
    }
    nb::handle ret = d.returns ? nb::handle(d.returns) : nb::handle(inspect.attr("Signature").attr("empty"));
    return inspect.attr("Signature")(params, nb::arg("return_annotation") = ret);
}

PyObject* function_get_signature(PyObject* self, void*) {
    FunctionData& d = *as_function(self)->data;
    if (d.signature == nullptr) {
        try {
            d.signature = build_signature(d).release().ptr();
        } catch (...) {
            translate_exception();
            return nullptr;
        }
    }
    return Py_NewRef(d.signature);
}

PyGetSetDef function_getset[] = {
    {"__signature__", function_get_signature, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(FunctionObject, dict), Py_READONLY, nullptr},
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FunctionObject, vectorcall), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "zunt_core.function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
        Py_TPFLAGS_IMMUTABLETYPE,
    function_slots,
};

PyObject* new_ref_or_null(nb::handle h) {
    if (!h.is_valid()) return nullptr;
    return Py_NewRef(h.ptr());
}

void check_declaration(const FunctionDecl& decl) {
    bool seen_default = false;
    bool seen_star = false;
    bool seen_varkw = false;
    for (const Param& p : decl.params) {
        if (seen_varkw) throw std::logic_error(decl.name + ": parameter after **kwargs");
        switch (p.kind) {
            case ParamKind::positional:
                if (seen_star) throw std::logic_error(decl.name + ": positional parameter after *");
                if (p.default_value.is_valid()) {
                    seen_default = true;
                } else if (seen_default) {
                    throw std::logic_error(decl.name + ": required parameter after a default");
                }
                break;
            case ParamKind::var_positional:
                if (seen_star) throw std::logic_error(decl.name + ": two * parameters");
                seen_star = true;
                break;
            case ParamKind::keyword_only:
                seen_star = true;
                break;
            case ParamKind::var_keyword:
                seen_varkw = true;
                break;
        }
    }
}

}  // namespace

Param arg(std::string name, nb::handle annotation) {
    return Param{std::move(name), ParamKind::positional, nb::object(), nb::borrow(annotation)};
}

Param arg_default(std::string name, nb::handle annotation, nb::handle default_value) {
    return Param{std::move(name), ParamKind::positional, nb::borrow(default_value), nb::borrow(annotation)};
}

Param kwonly(std::string name, nb::handle annotation) {
    return Param{std::move(name), ParamKind::keyword_only, nb::object(), nb::borrow(annotation)};
}

Param kwonly_default(std::string name, nb::handle annotation, nb::handle default_value) {
    return Param{std::move(name), ParamKind::keyword_only, nb::borrow(default_value), nb::borrow(annotation)};
}

Param var_args(std::string name) { return Param{std::move(name), ParamKind::var_positional, {}, {}}; }

Param var_kwargs(std::string name) { return Param{std::move(name), ParamKind::var_keyword, {}, {}}; }

nb::handle Call::closure() const {
    PyObject* c = as_function(fn_)->data->closure;
    return c ? nb::handle(c) : nb::none();
}

nb::object Call::global(const char* name) const { return function_global(fn_, name); }

nb::object Call::global(nb::handle name) const { return function_global(fn_, name); }

nb::object function_global(nb::handle fn, const char* name) {
    nb::str key(name);
    return function_global(fn, key);
}

nb::object function_global(nb::handle fn, nb::handle name) {
    if (!is_function(fn)) throw std::logic_error("function_global: not a native function");
    PyObject* globals = as_function(fn.ptr())->data->globals;
    PyObject* value = PyDict_GetItemWithError(globals, name.ptr());  // borrowed
    if (value != nullptr) {
        return nb::borrow(value);
    }
    if (PyErr_Occurred()) throw_current();
    PyObject* builtins = PyEval_GetBuiltins();  // borrowed
    value = builtins ? PyDict_GetItemWithError(builtins, name.ptr()) : nullptr;
    if (value != nullptr) {
        return nb::borrow(value);
    }
    if (PyErr_Occurred()) throw_current();
    raise(PyExc_NameError, steal_or_throw(PyUnicode_FromFormat("name '%U' is not defined", name.ptr())));
}

nb::handle function_closure(nb::handle fn) {
    if (!is_function(fn)) throw std::logic_error("function_closure: not a native function");
    PyObject* c = as_function(fn.ptr())->data->closure;
    return c ? nb::handle(c) : nb::none();
}

void init_function_type() {
    if (function_type != nullptr) return;
    function_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&function_spec));
    if (function_type == nullptr) throw_current();
}

bool is_function(nb::handle obj) {
    return function_type != nullptr && Py_TYPE(obj.ptr()) == function_type;
}

Impl function_impl(nb::handle obj) { return is_function(obj) ? as_function(obj.ptr())->data->impl : nullptr; }

void set_closure(nb::handle fn, nb::handle closure) {
    if (!is_function(fn)) throw std::logic_error("set_closure: not a native function");
    FunctionData& d = *as_function(fn.ptr())->data;
    PyObject* old = d.closure;
    d.closure = Py_NewRef(closure.ptr());
    Py_XDECREF(old);
}

void mark_coroutine_function(nb::handle fn) {
    nb::module_::import_("inspect").attr("markcoroutinefunction")(fn);
}

nb::object make_function(nb::handle globals, FunctionDecl decl) {
    init_function_type();
    check_declaration(decl);
    if (decl.impl == nullptr) throw std::logic_error(decl.name + ": no body");

    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(function_type, Py_tp_alloc));
    nb::object obj = steal_or_throw(alloc(function_type, 0));
    FunctionObject* f = as_function(obj.ptr());
    f->vectorcall = function_vectorcall;
    f->data = new FunctionData();
    FunctionData& d = *f->data;

    d.impl = decl.impl;
    d.qualname = decl.qualname.empty() ? decl.name : decl.qualname;
    nb::dict annotations;
    for (std::size_t j = 0; j < decl.params.size(); ++j) {
        Param& p = decl.params[j];
        d.names.push_back(p.name);
        d.kinds.push_back(p.kind);
        PyObject* name = PyUnicode_InternFromString(p.name.c_str());
        if (name == nullptr) throw_current();
        d.name_objects.push_back(name);
        // *args and **kwargs are never matched by keyword.
        if (p.kind == ParamKind::var_positional || p.kind == ParamKind::var_keyword) {
            d.name_objects.back() = nullptr;
            Py_DECREF(name);
        }
        d.defaults.push_back(new_ref_or_null(p.default_value));
        d.annotations.push_back(new_ref_or_null(p.annotation));
        if (p.annotation.is_valid()) annotations[p.name.c_str()] = p.annotation;
        switch (p.kind) {
            case ParamKind::positional:
                ++d.n_positional;
                if (p.default_value.is_valid()) ++d.n_positional_defaults;
                break;
            case ParamKind::keyword_only: ++d.n_kwonly; d.all_positional = false; break;
            case ParamKind::var_positional:
                d.var_positional = static_cast<int>(j);
                d.all_positional = false;
                break;
            case ParamKind::var_keyword:
                d.var_keyword = static_cast<int>(j);
                d.all_positional = false;
                break;
        }
    }
    d.returns = new_ref_or_null(decl.returns);
    if (decl.returns.is_valid()) annotations["return"] = decl.returns;
    d.globals = Py_NewRef(globals.ptr());
    d.closure = new_ref_or_null(decl.closure);

    nb::dict dict;
    dict["__name__"] = nb::str(decl.name.c_str());
    dict["__qualname__"] = nb::str(d.qualname.c_str());
    dict["__module__"] = nb::borrow<nb::dict>(globals).get("__name__", nb::none());
    dict["__doc__"] = decl.doc ? nb::object(nb::str(decl.doc)) : nb::object(nb::none());
    dict["__annotations__"] = annotations;
    dict["__globals__"] = globals;
    f->dict = dict.release().ptr();
    return obj;
}

}  // namespace zunt::rt
