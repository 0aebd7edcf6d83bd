// zunt_core.exception.base: the library's error hierarchy. Every error keeps
// its message as its one argument, a status number and optional extra data.
#include "runtime/errors.hpp"
#include "zunt_core/modules.hpp"

namespace zunt {

using namespace rt;

namespace {

// ZuntException.__init__(self, message, *, status_code, extra_info=None)
nb::object ZuntException_init(Call& c) {
    nb::handle self = c[0];
    super_of(c.closure(), self).attr("__init__")(c[1]);
    self.attr("status_code") = c[2];
    self.attr("extra_info") = c[3];
    return nb::none();
}

// The subclasses' __init__(self, message=<default>): the root constructor with
// the class's own status number, reached through the cooperative super call.
template <int StatusCode>
nb::object ZuntException_subclass_init(Call& c) {
    super_of(c.closure(), c[0]).attr("__init__")(c[1], nb::arg("status_code") = StatusCode);
    return nb::none();
}

struct SubclassDecl {
    const char* name;
    const char* doc;
    const char* default_message;
    Impl init;
};

}  // namespace

void build_zunt_core_exception_base(ModuleScope& m) {
    m.doc("Base exception.");
    nb::object str = builtin("str");

    ClassBuilder root(m, "ZuntException", nb::make_tuple(builtin("Exception")), "Base exception.");
    root.method({.name = "__init__",
                 .params = {arg("self"), arg("message", str), kwonly("status_code", builtin("int")),
                            kwonly_default("extra_info", builtin("dict"), nb::none())},
                 .impl = ZuntException_init});
    nb::object base = root.build();

    const SubclassDecl subclasses[] = {
        {"UninitializedException", "Exception raised when database adapter is not initialized.",
         "Database adapter is not initialized.", ZuntException_subclass_init<500>},
        {"UnauthorizedException", "Exception raised when user is unauthorized.", "Unauthorized",
         ZuntException_subclass_init<401>},
        {"InvalidClientException", "Exception raised when client is invalid.", "Client not found",
         ZuntException_subclass_init<404>},
        {"UserAlreadyExistsException", "Exception raised when user already exists.", "User already exists",
         ZuntException_subclass_init<409>},
        {"NotFoundException", "Exception raised when a resource is not found.", "Not found",
         ZuntException_subclass_init<404>},
    };
    for (const SubclassDecl& decl : subclasses) {
        ClassBuilder cls(m, decl.name, nb::make_tuple(base), decl.doc);
        cls.method({"__init__", {arg("self"), arg_default("message", str, nb::str(decl.default_message))}, decl.init});
        cls.build();
    }
}

}  // namespace zunt
