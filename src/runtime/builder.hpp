// Building modules and classes from C++ the way a Python module body would:
// imports through the host's import, names bound in the module namespace,
// classes made by the metaclass their bases demand.
#pragma once

#include "runtime/function.hpp"

#include <nanobind/stl/string.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace zunt::rt {

class ModuleScope {
public:
    explicit ModuleScope(nb::handle module);

    nb::handle module() const { return module_; }
    nb::dict globals() const { return globals_; }
    const std::string& name() const { return name_; }

    void doc(const char* text);
    // import a.b.c (returns the leaf module, binds nothing)
    nb::object import(const char* module);
    // import os  (binds the top-level name)
    nb::object import_bind(const char* module);
    // from module import a, b  (binds each name; the host's ImportError when missing)
    void from_import(const char* module, std::initializer_list<const char*> names);
    // from module import name as alias
    void from_import_as(const char* module, const char* name, const char* alias);
    void set(const char* name, nb::handle value);
    nb::object get(const char* name) const;
    void set_all(std::initializer_list<const char*> names);
    // def name(...): ...  bound in the module
    nb::object def(FunctionDecl decl);
    // A function owned by this module but not bound in it.
    nb::object function(FunctionDecl decl) const;

private:
    nb::handle module_;
    nb::dict globals_;
    std::string name_;
};

class ClassBuilder {
public:
    ClassBuilder(ModuleScope& scope, std::string name, nb::tuple bases, const char* doc);
    ClassBuilder(ModuleScope& scope, std::string name, const char* doc);

    // Build without binding the class in the module.
    ClassBuilder& unbound();
    ClassBuilder& method(FunctionDecl decl);
    ClassBuilder& static_method(FunctionDecl decl);
    ClassBuilder& class_method(FunctionDecl decl);
    // @abstractmethod
    ClassBuilder& abstract_method(FunctionDecl decl);
    // @classmethod @abstractmethod (the class-method marker outermost)
    ClassBuilder& abstract_class_method(FunctionDecl decl);
    ClassBuilder& property(FunctionDecl getter);
    // An attribute that a storing __init__ sets, and the parameter it takes
    // (the one of the same name unless given).
    struct Stored {
        Stored(const char* name) : attribute(name), parameter(name) {}
        Stored(const char* attribute_name, const char* parameter_name)
            : attribute(attribute_name), parameter(parameter_name) {}
        const char* attribute;
        const char* parameter;
    };
    // def __init__(self, <params>) -> None: self.<attribute> = <parameter>
    // for each of `stored`, in that order, and nothing else.
    ClassBuilder& storing_init(std::vector<Param> params, std::initializer_list<Stored> stored,
                               const char* doc = nullptr);
    ClassBuilder& attr(const char* name, nb::handle value);
    // name: annotation  (entered in the class's __annotations__)
    ClassBuilder& annotate(const char* name, nb::handle annotation);
    // Like method(), but returns the function so that it can be wrapped further.
    nb::object make_method(FunctionDecl decl);

    const std::string& qualname() const { return qualname_; }

    // Makes the class, binds it in the module and returns it. Every method
    // without a closure of its own gets the class as closure (the host's
    // __class__ cell, for cooperative super calls).
    nb::object build();

private:
    ModuleScope& scope_;
    std::string name_;
    std::string qualname_;
    nb::tuple bases_;
    const char* doc_;
    bool bind_ = true;
    nb::dict annotations_;
    std::vector<std::pair<std::string, nb::object>> entries_;
    std::vector<nb::object> functions_;
};

// super(cls, obj)
nb::object super_of(nb::handle cls, nb::handle obj);

// generic[item], generic[a, b, ...]: for annotations such as List[str]
nb::object subscript(nb::handle generic, nb::handle item);
nb::object subscript(nb::handle generic, std::initializer_list<nb::handle> items);
nb::object builtin(const char* name);
// type | None, as an annotation
nb::object optional_of(nb::handle type);
// The declaration of a method: `self` first, then the given parameters.
FunctionDecl method_decl(const char* name, std::vector<Param> params, Impl impl, nb::handle returns,
                         const char* doc);

}  // namespace zunt::rt
