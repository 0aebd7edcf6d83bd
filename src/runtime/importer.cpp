#include "runtime/importer.hpp"

#include "runtime/errors.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zunt::rt {

namespace {

// The module table is plain C++ data, fixed at build time.
const ModuleEntry* module_table = nullptr;
std::size_t module_table_size = 0;

const ModuleEntry* find_entry(std::string_view name) {
    for (std::size_t i = 0; i < module_table_size; ++i) {
        if (name == module_table[i].name) return &module_table[i];
    }
    return nullptr;
}

std::string parent_of(std::string_view name) {
    auto dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(0, dot));
}

std::string location_of(const std::string& root_path, std::string_view package) {
    std::string out = root_path;
    out += '/';
    for (char ch : package) out += ch == '.' ? '/' : ch;
    return out;
}

// _ModuleTreeFinder(path): the path hook. It answers only for paths inside
// the binary that name a package of the table.
nb::object Finder_init(Call& c) {
    nb::handle self = c[0];
    nb::handle path = c[1];
    nb::handle cls = c.closure();
    std::string root_path = nb::cast<std::string>(cls.attr("_root_path"));
    std::string root_name = nb::cast<std::string>(cls.attr("_root_name"));
    if (!nb::isinstance<nb::str>(path)) raise(PyExc_ImportError, "not a path inside the package binary");
    std::string p = nb::cast<std::string>(path);
    std::string prefix = root_path + "/";
    if (p.compare(0, prefix.size(), prefix) != 0) raise(PyExc_ImportError, "not a path inside the package binary");
    std::string package = p.substr(prefix.size());
    for (char& ch : package) {
        if (ch == '/') ch = '.';
    }
    bool known = package == root_name;
    if (!known) {
        const ModuleEntry* entry = find_entry(package);
        known = entry != nullptr && entry->package;
    }
    if (!known) raise(PyExc_ImportError, "no package of the binary at " + p);
    self.attr("path") = path;
    self.attr("package") = nb::str(package.c_str());
    return nb::none();
}

nb::object Finder_find_spec(Call& c) {
    nb::handle self = c[0];
    nb::handle fullname = c[1];
    if (!nb::isinstance<nb::str>(fullname)) return nb::none();
    std::string name = nb::cast<std::string>(fullname);
    if (parent_of(name) != nb::cast<std::string>(self.attr("package"))) return nb::none();
    const ModuleEntry* entry = find_entry(name);
    if (entry == nullptr) return nb::none();
    nb::handle cls = c.closure();
    std::string root_path = nb::cast<std::string>(cls.attr("_root_path"));
    nb::object machinery = nb::module_::import_("importlib.machinery");
    if (entry->build == nullptr) {
        // A namespace portion, as the host's file finder reports one: no
        // loader, only the search location.
        nb::object portion = machinery.attr("ModuleSpec")(fullname, nb::none());
        nb::list locations;
        locations.append(nb::str(location_of(root_path, name).c_str()));
        portion.attr("submodule_search_locations") = locations;
        return portion;
    }
    nb::object spec = machinery.attr("ModuleSpec")(fullname, cls.attr("_loader"),
                                                   nb::arg("origin") = nb::str(root_path.c_str()),
                                                   nb::arg("is_package") = entry->package);
    spec.attr("has_location") = true;
    if (entry->package) {
        nb::list locations;
        locations.append(nb::str(location_of(root_path, name).c_str()));
        spec.attr("submodule_search_locations") = locations;
    }
    return spec;
}

nb::object Finder_invalidate_caches(Call&) { return nb::none(); }

// The package's modules in the order of the host's file finder: sorted by
// name (it sorts file names, and a module's suffix begins with ".", which
// sorts before any character of a name).
nb::object Finder_iter_modules(Call& c) {
    nb::handle self = c[0];
    std::string prefix = to_utf8(c[1]);
    std::string package = nb::cast<std::string>(self.attr("package"));
    std::vector<std::pair<std::string_view, bool>> found;
    for (std::size_t i = 0; i < module_table_size; ++i) {
        std::string_view name = module_table[i].name;
        if (parent_of(name) != package) continue;
        found.emplace_back(name.substr(package.size() + 1), module_table[i].package);
    }
    std::sort(found.begin(), found.end());
    nb::list out;
    for (const auto& [leaf, is_package] : found) {
        out.append(nb::make_tuple(nb::str((prefix + std::string(leaf)).c_str()), is_package));
    }
    return out;
}

nb::object Loader_create_module(Call&) { return nb::none(); }

nb::object Loader_exec_module(Call& c) {
    nb::handle module = c[1];
    std::string name = to_utf8(module.attr("__spec__").attr("name"));
    const ModuleEntry* entry = find_entry(name);
    if (entry == nullptr || entry->build == nullptr) raise(PyExc_ImportError, "No module named '" + name + "'");
    ModuleScope scope(module);
    entry->build(scope);
    return nb::none();
}

nb::object Loader_is_package(Call& c) {
    std::string name = to_utf8(c[1]);
    const ModuleEntry* entry = find_entry(name);
    if (entry == nullptr) raise(PyExc_ImportError, "No module named '" + name + "'");
    return nb::bool_(entry->package);
}

bool hook_installed(nb::handle hooks, const std::string& root_path) {
    for (nb::handle hook : hooks) {
        if (!nb::hasattr(hook, "_root_path")) continue;
        nb::object value = hook.attr("_root_path");
        if (nb::isinstance<nb::str>(value) && nb::cast<std::string>(value) == root_path) return true;
    }
    return false;
}

}  // namespace

void install_importer(nb::handle root, const ModuleEntry* table, std::size_t size) {
    module_table = table;
    module_table_size = size;

    std::string root_path = nb::cast<std::string>(root.attr("__file__"));
    std::string root_name = nb::cast<std::string>(root.attr("__name__"));

    nb::list path;
    path.append(nb::str(location_of(root_path, root_name).c_str()));
    root.attr("__path__") = path;
    nb::object spec = root.attr("__spec__");
    if (!spec.is_none()) spec.attr("submodule_search_locations") = path;

    nb::module_ sys = nb::module_::import_("sys");
    nb::object hooks = sys.attr("path_hooks");
    if (hook_installed(hooks, root_path)) return;

    ModuleScope scope(root);
    ClassBuilder loader_class(scope, "_ModuleTreeLoader", "Loads the modules compiled into the package binary.");
    loader_class.unbound()
        .method({.name = "create_module", .params = {arg("self"), arg("spec")}, .impl = Loader_create_module})
        .method({.name = "exec_module", .params = {arg("self"), arg("module")}, .impl = Loader_exec_module})
        .method({.name = "is_package", .params = {arg("self"), arg("fullname")}, .impl = Loader_is_package});
    nb::object loader = loader_class.build()();

    ClassBuilder finder_class(scope, "_ModuleTreeFinder", "Finds the modules compiled into the package binary.");
    finder_class.unbound()
        .attr("_root_path", nb::str(root_path.c_str()))
        .attr("_root_name", nb::str(root_name.c_str()))
        .attr("_loader", loader)
        .method({.name = "__init__", .params = {arg("self"), arg("path")}, .impl = Finder_init})
        .method({.name = "find_spec", .params = {arg("self"), arg("fullname"), arg_default("target", {}, nb::none())},
                 .impl = Finder_find_spec})
        .method({.name = "invalidate_caches", .params = {arg("self")}, .impl = Finder_invalidate_caches})
        .method({.name = "iter_modules", .params = {arg("self"), arg_default("prefix", {}, nb::str(""))},
                 .impl = Finder_iter_modules});
    nb::object finder = finder_class.build();

    hooks.attr("insert")(0, finder);
    // Forget answers other hooks gave for paths inside the binary.
    nb::object cache = sys.attr("path_importer_cache");
    nb::list stale;
    std::string prefix = root_path + "/";
    for (nb::handle key : cache) {
        if (nb::isinstance<nb::str>(key) && nb::cast<std::string>(key).compare(0, prefix.size(), prefix) == 0) {
            stale.append(key);
        }
    }
    for (nb::handle key : stale) cache.attr("pop")(key, nb::none());
}

}  // namespace zunt::rt
