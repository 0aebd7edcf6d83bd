#include "runtime/builder.hpp"

#include "runtime/errors.hpp"
#include "runtime/host.hpp"

#include <stdexcept>

namespace zunt::rt {

ModuleScope::ModuleScope(nb::handle module)
    : module_(module),
      globals_(nb::borrow<nb::dict>(steal_or_throw(PyObject_GetAttrString(module.ptr(), "__dict__")))),
      name_(nb::cast<std::string>(globals_["__name__"])) {}

void ModuleScope::doc(const char* text) { globals_["__doc__"] = nb::str(text); }

nb::object ModuleScope::import(const char* module) {
    nb::str name(module);
    nb::list fromlist;
    fromlist.append(nb::str("__name__"));
    // A non-empty fromlist makes the host return the leaf module.
    return steal_or_throw(
        PyImport_ImportModuleLevelObject(name.ptr(), globals_.ptr(), nullptr, fromlist.ptr(), 0));
}

nb::object ModuleScope::import_bind(const char* module) {
    nb::str name(module);
    nb::object top = steal_or_throw(
        PyImport_ImportModuleLevelObject(name.ptr(), globals_.ptr(), nullptr, nullptr, 0));
    std::string top_name(module);
    top_name = top_name.substr(0, top_name.find('.'));
    globals_[top_name.c_str()] = top;
    return top;
}

namespace {

// getattr(module, name) for `from module import name`: the host's ImportError
// when missing.
nb::object imported_name(nb::handle mod, const char* module, const char* name) {
    nb::object value = attr_or_missing(mod, name);
    if (!value.is_valid()) {
        raise(PyExc_ImportError, std::string("cannot import name '") + name + "' from '" + module + "'");
    }
    return value;
}

}  // namespace

void ModuleScope::from_import(const char* module, std::initializer_list<const char*> names) {
    nb::str mod_name(module);
    nb::list fromlist;
    for (const char* n : names) fromlist.append(nb::str(n));
    nb::object mod = steal_or_throw(
        PyImport_ImportModuleLevelObject(mod_name.ptr(), globals_.ptr(), nullptr, fromlist.ptr(), 0));
    for (const char* n : names) globals_[n] = imported_name(mod, module, n);
}

void ModuleScope::from_import_as(const char* module, const char* name, const char* alias) {
    nb::str mod_name(module);
    nb::list fromlist;
    fromlist.append(nb::str(name));
    nb::object mod = steal_or_throw(
        PyImport_ImportModuleLevelObject(mod_name.ptr(), globals_.ptr(), nullptr, fromlist.ptr(), 0));
    globals_[alias] = imported_name(mod, module, name);
}

void ModuleScope::set(const char* name, nb::handle value) { globals_[name] = value; }

nb::object ModuleScope::get(const char* name) const { return globals_[name]; }

void ModuleScope::set_all(std::initializer_list<const char*> names) {
    nb::list all;
    for (const char* n : names) all.append(nb::str(n));
    globals_["__all__"] = all;
}

nb::object ModuleScope::function(FunctionDecl decl) const { return make_function(globals_, std::move(decl)); }

nb::object ModuleScope::def(FunctionDecl decl) {
    std::string name = decl.name;
    nb::object fn = function(std::move(decl));
    globals_[name.c_str()] = fn;
    return fn;
}

ClassBuilder::ClassBuilder(ModuleScope& scope, std::string name, nb::tuple bases, const char* doc)
    : scope_(scope), name_(name), qualname_(std::move(name)), bases_(std::move(bases)), doc_(doc) {}

ClassBuilder::ClassBuilder(ModuleScope& scope, std::string name, const char* doc)
    : ClassBuilder(scope, std::move(name), nb::tuple(), doc) {}

ClassBuilder& ClassBuilder::unbound() {
    bind_ = false;
    return *this;
}

nb::object ClassBuilder::make_method(FunctionDecl decl) {
    if (decl.qualname.empty()) decl.qualname = qualname_ + "." + decl.name;
    bool own_closure = decl.closure.is_valid();
    nb::object fn = scope_.function(std::move(decl));
    if (!own_closure) functions_.push_back(fn);
    return fn;
}

ClassBuilder& ClassBuilder::method(FunctionDecl decl) {
    std::string name = decl.name;
    return attr(name.c_str(), make_method(std::move(decl)));
}

ClassBuilder& ClassBuilder::static_method(FunctionDecl decl) {
    std::string name = decl.name;
    nb::object fn = make_method(std::move(decl));
    return attr(name.c_str(), builtin("staticmethod")(fn));
}

ClassBuilder& ClassBuilder::class_method(FunctionDecl decl) {
    std::string name = decl.name;
    nb::object fn = make_method(std::move(decl));
    return attr(name.c_str(), builtin("classmethod")(fn));
}

ClassBuilder& ClassBuilder::abstract_method(FunctionDecl decl) {
    std::string name = decl.name;
    nb::object fn = make_method(std::move(decl));
    return attr(name.c_str(), nb::module_::import_("abc").attr("abstractmethod")(fn));
}

ClassBuilder& ClassBuilder::abstract_class_method(FunctionDecl decl) {
    std::string name = decl.name;
    nb::object fn = make_method(std::move(decl));
    nb::object abstract = nb::module_::import_("abc").attr("abstractmethod")(fn);
    return attr(name.c_str(), builtin("classmethod")(abstract));
}

ClassBuilder& ClassBuilder::property(FunctionDecl getter) {
    std::string name = getter.name;
    nb::object fn = make_method(std::move(getter));
    return attr(name.c_str(), builtin("property")(fn));
}

namespace {

// The body of a storing __init__: its closure holds (parameter index, name)
// pairs, in the order of the assignments.
nb::object storing_init_body(Call& c) {
    nb::handle pairs = c.closure();
    const Py_ssize_t n = PyTuple_Size(pairs.ptr());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pair = PyTuple_GetItem(pairs.ptr(), i);
        const Py_ssize_t index = PyLong_AsSsize_t(PyTuple_GetItem(pair, 0));
        if (PyObject_SetAttr(c[0].ptr(), PyTuple_GetItem(pair, 1), c[static_cast<std::size_t>(index)].ptr()) != 0) {
            throw_current();
        }
    }
    return nb::none();
}

}  // namespace

ClassBuilder& ClassBuilder::storing_init(std::vector<Param> params, std::initializer_list<Stored> stored,
                                         const char* doc) {
    nb::list pairs;
    for (const Stored& field : stored) {
        std::size_t index = 0;
        while (index < params.size() && params[index].name != field.parameter) ++index;
        if (index == params.size()) {
            throw std::logic_error(name_ + ".__init__ stores an unknown parameter " + field.parameter);
        }
        nb::object key = steal_or_throw(PyUnicode_InternFromString(field.attribute));
        pairs.append(nb::make_tuple(nb::int_(index + 1), key));  // + 1: after self
    }
    FunctionDecl decl = method_decl("__init__", std::move(params), storing_init_body, nb::none(), doc);
    decl.closure = nb::tuple(pairs);
    return method(std::move(decl));
}

ClassBuilder& ClassBuilder::attr(const char* name, nb::handle value) {
    for (auto& entry : entries_) {
        if (entry.first == name) {
            entry.second = nb::borrow(value);
            return *this;
        }
    }
    entries_.emplace_back(name, nb::borrow(value));
    return *this;
}

ClassBuilder& ClassBuilder::annotate(const char* name, nb::handle annotation) {
    annotations_[name] = annotation;
    return *this;
}

namespace {

// The most derived metaclass of the bases, as the host's class statement
// computes it.
nb::object most_derived_metaclass(nb::handle bases) {
    PyTypeObject* winner = &PyType_Type;
    for (nb::handle base : bases) {
        PyTypeObject* t = Py_TYPE(base.ptr());
        if (PyType_IsSubtype(winner, t)) continue;
        if (PyType_IsSubtype(t, winner)) {
            winner = t;
            continue;
        }
        raise(PyExc_TypeError,
              "metaclass conflict: the metaclass of a derived class must be a (non-strict) subclass of the "
              "metaclasses of all its bases");
    }
    return nb::borrow(reinterpret_cast<PyObject*>(winner));
}

}  // namespace

nb::object ClassBuilder::build() {
    nb::object meta = most_derived_metaclass(bases_);
    nb::str name(name_.c_str());
    nb::object ns = nb::hasattr(meta, "__prepare__") ? meta.attr("__prepare__")(name, bases_) : nb::dict();
    ns["__module__"] = nb::str(scope_.name().c_str());
    ns["__qualname__"] = nb::str(qualname_.c_str());
    if (doc_ != nullptr) ns["__doc__"] = nb::str(doc_);
    if (nb::len(annotations_) > 0) ns["__annotations__"] = annotations_;
    for (auto& [key, value] : entries_) ns[key.c_str()] = value;
    nb::object cls = meta(name, bases_, ns);
    for (nb::handle fn : functions_) set_closure(fn, cls);
    if (bind_) scope_.set(name_.c_str(), cls);
    return cls;
}

nb::object super_of(nb::handle cls, nb::handle obj) {
    PyObject* args[2] = {cls.ptr(), obj.ptr()};
    return steal_or_throw(PyObject_Vectorcall(reinterpret_cast<PyObject*>(&PySuper_Type), args, 2, nullptr));
}

nb::object subscript(nb::handle generic, nb::handle item) {
    return steal_or_throw(PyObject_GetItem(generic.ptr(), item.ptr()));
}

nb::object subscript(nb::handle generic, std::initializer_list<nb::handle> items) {
    nb::object tuple = steal_or_throw(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    Py_ssize_t i = 0;
    for (nb::handle item : items) {
        PyTuple_SetItem(tuple.ptr(), i++, Py_NewRef(item.ptr()));
    }
    return subscript(generic, tuple);
}

nb::object builtin(const char* name) { return nb::module_::import_("builtins").attr(name); }

nb::object optional_of(nb::handle type) { return steal_or_throw(PyNumber_Or(type.ptr(), Py_None)); }

FunctionDecl method_decl(const char* name, std::vector<Param> params, Impl impl, nb::handle returns,
                         const char* doc) {
    params.insert(params.begin(), arg("self"));
    return FunctionDecl{
        .name = name, .params = std::move(params), .impl = impl, .doc = doc, .returns = nb::borrow(returns)};
}

}  // namespace zunt::rt
