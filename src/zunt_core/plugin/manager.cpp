// zunt_core.plugin.manager: the plugin manager. Its default and keyed
// instances are created and initialised once each, under one class-wide
// lock; initialisation loads the .env file and builds one service registry
// per handler class. Registration picks a handler, binds its registry to the
// plugin class, creates the plugin and lets the handler initialise it.
#include "runtime/coroutine.hpp"
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "zunt_core/modules.hpp"
#include "zunt_core/plugin/origin.shared.hpp"

#include <memory>
#include <string>

namespace zunt {

using namespace rt;

namespace {

// Whether this thread is inside a section guarded by the manager lock. The
// lock is not re-entrant, so a construction from inside such a section (a
// handler's create_injections, code run by the .env loading) would wait for
// ever on itself; it is refused instead.
thread_local bool thread_holds_manager_lock = false;

// Holds PluginManager._lock (the host's threading.Lock, as the class has it at
// this moment) for one scope. acquire() releases the GIL while it waits.
class ManagerLock {
public:
    explicit ManagerLock(nb::handle cls) {
        if (thread_holds_manager_lock) {
            raise(PyExc_RuntimeError,
                  "PluginManager cannot be constructed while this thread holds the PluginManager lock "
                  "(for example from a handler's create_injections or while the .env file is loaded): "
                  "the lock is not re-entrant and the construction would wait for ever");
        }
        lock_ = cls.attr("_lock");
        lock_.attr("acquire")();
        thread_holds_manager_lock = true;
    }

    ~ManagerLock() {
        thread_holds_manager_lock = false;
        run_unraisable(lock_, [&] { lock_.attr("release")(); });
    }

    ManagerLock(const ManagerLock&) = delete;
    ManagerLock& operator=(const ManagerLock&) = delete;

private:
    nb::object lock_;
};

// obj.__name__, or str(obj) when it has none.
nb::object name_or_text(nb::handle obj) {
    nb::object name = attr_or_missing(obj, "__name__");
    return name.is_valid() ? name : nb::object(nb::str(obj));
}

// PluginManager.__new__(cls, *, handlers=None, env_file=None, global_services=(), key_instance=None)
nb::object PluginManager_new(Call& c) {
    nb::handle cls = c[0];
    nb::handle handlers = c[1];
    nb::handle key_instance = c[4];
    ManagerLock guard(cls);
    auto bare_instance = [&](nb::handle key) {
        nb::object next_new = super_of(c.closure(), cls).attr("__new__");
        nb::object instance = steal_or_throw(call_one(next_new.ptr(), cls.ptr()));
        instance.attr("_key_instance") = key;
        instance.attr("_initialized") = false;
        return instance;
    };
    if (!key_instance.is_none()) {
        nb::object multi = cls.attr("_multi_instance");
        if (!contains(multi, key_instance)) {
            if (handlers.is_none()) {
                raise(PyExc_ValueError,
                      steal_or_throw(PyUnicode_FromFormat(
                          "handlers must be provided when creating instance '%S' for the first time",
                          key_instance.ptr())));
            }
            nb::object instance = bare_instance(key_instance);
            set_item(multi, key_instance, instance);
            set_item(cls.attr("_multi_initialized"), key_instance, nb::bool_(false));
        }
        return steal_or_throw(PyObject_GetItem(multi.ptr(), key_instance.ptr()));
    }
    nb::object current = cls.attr("_instance");
    if (current.is_none()) {
        if (handlers.is_none()) raise(PyExc_ValueError, "handlers must be provided when creating the first instance");
        cls.attr("_instance") = bare_instance(nb::none());
    }
    return cls.attr("_instance");
}

// The one-time work of __init__: .env file, then one registry per handler class.
void initialize_tables(Call& c, nb::handle self, nb::handle handlers, nb::handle env_file,
                       nb::handle global_services) {
    self.attr("_load_environment")(env_file);
    self.attr("_handler_registries") = nb::dict();
    self.attr("_plugins") = nb::dict();
    self.attr("_handlers") = nb::dict();
    nb::object registry_cls = c.global("ServiceRegistry");
    nb::object config_cls = c.global("ConfigService");
    for (nb::handle handler : handlers) {
        nb::handle handler_cls = type_of(handler);
        nb::object registry = registry_cls();
        registry.attr("register")(config_cls, config_cls());
        for (nb::handle service : global_services) registry.attr("register")(type_of(service), service);
        nb::object injections = handler_cls.attr("create_injections")(handler);
        for (nb::handle pair : injections.attr("items")()) {
            nb::object service_type = pair[0];
            nb::object service = pair[1];
            registry.attr("register")(service_type, service);
        }
        set_item(self.attr("_handler_registries"), handler_cls, registry);
        set_item(self.attr("_handlers"), handler_cls, handler);
    }
}

// After a failed first initialisation: the instance goes back to "created",
// so that a later construction with handlers initialises it anew.
void undo_initialization(nb::handle self, nb::handle cls, nb::handle key_instance) {
    run_unraisable(self, [&] {
        if (!key_instance.is_none()) {
            set_item(cls.attr("_multi_initialized"), key_instance, nb::bool_(false));
        } else {
            self.attr("_initialized") = false;
        }
        for (const char* table : {"_handler_registries", "_plugins", "_handlers"}) {
            if (PyObject_HasAttrString(self.ptr(), table) && PyObject_DelAttrString(self.ptr(), table) != 0) {
                throw_current();
            }
        }
    });
}

// PluginManager.__init__(self, *, handlers=None, env_file=None, global_services=(), key_instance=None)
nb::object PluginManager_init(Call& c) {
    nb::handle self = c[0];
    nb::handle handlers = c[1];
    nb::handle env_file = c[2];
    nb::handle global_services = c[3];
    nb::handle key_instance = c[4];
    nb::handle cls = type_of(self);
    ManagerLock guard(cls);
    if (!key_instance.is_none()) {
        nb::object marks = cls.attr("_multi_initialized");
        if (truthy(marks.attr("get")(key_instance, false))) return nb::none();
        if (!truthy(handlers)) raise(PyExc_ValueError, "At least one plugin handler must be provided");
        set_item(marks, key_instance, nb::bool_(true));
    } else {
        if (truthy(self.attr("_initialized"))) return nb::none();
        if (!truthy(handlers)) raise(PyExc_ValueError, "At least one plugin handler must be provided");
        self.attr("_initialized") = true;
    }
    try {
        initialize_tables(c, self, handlers, env_file, global_services);
    } catch (nb::python_error&) {
        undo_initialization(self, cls, key_instance);
        throw;
    }
    return nb::none();
}

// _load_environment(self, env_file=None)
nb::object PluginManager_load_environment(Call& c) {
    nb::handle env_file = c[1];
    if (truthy(env_file)) {
        c.global("load_dotenv")(env_file);
        return nb::none();
    }
    nb::object current = c.global("Path").attr("cwd")();
    nb::str entry(".env");
    for (int i = 0; i < 4; ++i) {
        nb::object env_path = steal_or_throw(PyNumber_TrueDivide(current.ptr(), entry.ptr()));
        if (truthy(env_path.attr("exists")())) {
            c.global("load_dotenv")(env_path);
            return nb::none();
        }
        current = current.attr("parent");
    }
    return nb::none();
}

// The union test of the declared-service check: Union[...] / Optional[...],
// or an X | None form. A value without __args__ (a TypeVar, typing.Self)
// has no members, so it is no union.
bool is_optional_union(nb::handle annotation, nb::handle union_marker) {
    nb::object origin = attr_or_missing(annotation, "__origin__");
    if (origin.is_valid() && origin.is(union_marker)) return true;
    if (!attr_or_missing(annotation, "__or__").is_valid() || PyType_Check(annotation.ptr())) return false;
    nb::object args = attr_or_missing(annotation, "__args__");
    if (!args.is_valid()) return false;
    return contains(args, reinterpret_cast<PyObject*>(Py_TYPE(Py_None)));
}

bool is_builtin_class(nb::handle annotation) {
    if (!PyType_Check(annotation.ptr())) return false;
    nb::object module = annotation.attr("__module__");
    return PyUnicode_Check(module.ptr()) && PyUnicode_CompareWithASCIIString(module.ptr(), "builtins") == 0;
}

// Whether a key of the registry reduces to a class that is a subclass of
// the annotation's target; a TypeError of the subclass test is no match.
bool service_declared(const plugin::OriginReducer& origins, nb::handle services, nb::handle annotation) {
    nb::object target = origins.reduce(annotation);
    if (origins.rejects_every_class(target)) return false;
    for (nb::handle key : services) {
        nb::object base = origins.reduce(key);
        if (!PyType_Check(base.ptr())) continue;
        int r = PyObject_IsSubclass(base.ptr(), target.ptr());
        if (r < 0) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw_current();
            PyErr_Clear();
            continue;
        }
        if (r) return true;
    }
    return false;
}

nb::object joined(const nb::list& names) { return nb::str(", ").attr("join")(names); }

// _prepare_plugin_registration(self, plugin_class)
nb::object PluginManager_prepare(Call& c) {
    nb::handle self = c[0];
    nb::handle plugin_class = c[1];
    nb::object handler_type = plugin_class.attr("get_handler_type")();
    nb::object plugin_name = plugin_class.attr("__name__");
    if (!truthy(handler_type)) {
        raise(PyExc_ValueError,
              steal_or_throw(PyUnicode_FromFormat(
                  "Plugin %S must specify a handler type using @Plugin.for_handler decorator", plugin_name.ptr())));
    }
    nb::object compatible_handler = nb::none();
    nb::object compatible_registry = nb::none();
    for (nb::handle pair : self.attr("_handlers").attr("items")()) {
        nb::object handler_cls = pair[0];
        nb::object handler = pair[1];
        if (is_subclass(type_of(handler), handler_type)) {
            compatible_handler = handler;
            compatible_registry = steal_or_throw(
                PyObject_GetItem(self.attr("_handler_registries").ptr(), handler_cls.ptr()));
            break;
        }
    }
    nb::object handler_name = handler_type.attr("__name__");
    if (!truthy(compatible_handler)) {
        raise(PyExc_RuntimeError,
              steal_or_throw(PyUnicode_FromFormat("Plugin %S requires handler %S or a subclass, but none was provided",
                                                  plugin_name.ptr(), handler_name.ptr())));
    }
    nb::object logging = c.global("logging");
    logging.attr("info")(steal_or_throw(PyUnicode_FromFormat("Initializing plugin %S", plugin_name.ptr())));

    nb::list unsupported_unions;
    nb::list missing_services;
    nb::object annotations = plugin_class.attr("__annotations__");
    nb::object union_marker = c.global("Union");
    plugin::OriginReducer origins(c.global("get_origin"));
    nb::object services = compatible_registry.attr("_services");
    for (nb::handle pair : annotations.attr("items")()) {
        nb::object field = pair[0];
        nb::object annotation = pair[1];
        if (is_builtin_class(annotation)) continue;
        if (is_optional_union(annotation, union_marker)) {
            unsupported_unions.append(field);
            continue;
        }
        if (!service_declared(origins, services, annotation)) missing_services.append(name_or_text(annotation));
    }
    if (nb::len(unsupported_unions) > 0) {
        logging.attr("warning")(steal_or_throw(PyUnicode_FromFormat(
            "Plugin %S using handler %S has Union types which are not supported for injection: %S",
            plugin_name.ptr(), handler_name.ptr(), joined(unsupported_unions).ptr())));
    }
    if (nb::len(missing_services) > 0) {
        logging.attr("warning")(steal_or_throw(
            PyUnicode_FromFormat("Plugin %S using handler %S could not inject the following services: %S",
                                 plugin_name.ptr(), handler_name.ptr(), joined(missing_services).ptr())));
    }

    plugin_class.attr("set_registry")(compatible_registry);
    nb::object plugin = steal_or_throw(PyObject_CallNoArgs(plugin_class.ptr()));
    set_item(self.attr("_plugins"), plugin.attr("name"), plugin);
    return nb::make_tuple(compatible_handler, compatible_registry, handler_type, plugin);
}

// register_plugin(self, plugin_class, custom_initializer=None)
nb::object PluginManager_register_plugin(Call& c) {
    nb::object prepared = c[0].attr("_prepare_plugin_registration")(c[1]);
    nb::object handler = prepared[0];
    nb::object plugin = prepared[3];
    type_of(handler).attr("initialize_plugin")(handler, plugin);
    if (!c[2].is_none()) c[2](plugin);
    return nb::none();
}

// The body of aregister_plugin: preparation before the first suspension,
// then the handler's asynchronous (or plain) initialiser, then the custom one.
class RegisterPlugin : public AsyncBody {
public:
    RegisterPlugin(nb::handle manager, nb::handle plugin_class, nb::handle custom, nb::handle asyncio)
        : manager_(nb::borrow(manager)),
          plugin_class_(nb::borrow(plugin_class)),
          custom_(nb::borrow(custom)),
          asyncio_(nb::borrow(asyncio)) {}

    Step resume(nb::handle) override {
        switch (stage_) {
            case Stage::start: {
                nb::object prepared = manager_.attr("_prepare_plugin_registration")(plugin_class_);
                nb::object handler = prepared[0];
                plugin_ = prepared[3];
                nb::handle handler_cls = type_of(handler);
                nb::object ainit = handler_cls.attr("ainitialize_plugin");
                if (is_coroutine_function(ainit)) {
                    stage_ = Stage::handler_awaited;
                    return Step::await(ainit(handler, plugin_));
                }
                handler_cls.attr("initialize_plugin")(handler, plugin_);
                return run_custom();
            }
            case Stage::handler_awaited:
                return run_custom();
            case Stage::custom_awaited:
                break;
        }
        return Step::finish();
    }

    int traverse(visitproc visit, void* arg) override {
        Py_VISIT(manager_.ptr());
        Py_VISIT(plugin_class_.ptr());
        Py_VISIT(custom_.ptr());
        Py_VISIT(asyncio_.ptr());
        Py_VISIT(plugin_.ptr());
        return 0;
    }

private:
    enum class Stage { start, handler_awaited, custom_awaited };

    bool is_coroutine_function(nb::handle fn) { return truthy(asyncio_.attr("iscoroutinefunction")(fn)); }

    Step run_custom() {
        if (custom_.is_none()) return Step::finish();
        if (is_coroutine_function(custom_)) {
            stage_ = Stage::custom_awaited;
            return Step::await(custom_(plugin_));
        }
        custom_(plugin_);
        return Step::finish();
    }

    nb::object manager_;
    nb::object plugin_class_;
    nb::object custom_;
    nb::object asyncio_;
    nb::object plugin_;
    Stage stage_ = Stage::start;
};

nb::object PluginManager_aregister_plugin(Call& c) {
    return make_coroutine(std::make_unique<RegisterPlugin>(c[0], c[1], c[2], c.global("asyncio")),
                          "PluginManager.aregister_plugin");
}

nb::object PluginManager_get_plugin(Call& c) { return c[0].attr("_plugins").attr("get")(c[1]); }

nb::object PluginManager_get_plugins(Call& c) {
    nb::handle handler_type = c[1];
    nb::handle plugin_names = c[2];
    nb::list result;
    for (nb::handle plugin : c[0].attr("_plugins").attr("values")()) {
        if (!handler_type.is_none()) {
            nb::object declared = plugin.attr("handler_type");
            if (!truthy(declared) || !is_subclass(declared, handler_type)) continue;
        }
        if (!plugin_names.is_none() && !contains(plugin_names, plugin.attr("name"))) continue;
        result.append(plugin);
    }
    return result;
}

nb::object PluginManager_get_handlers(Call& c) {
    nb::handle handler_type = c[1];
    nb::list result;
    for (nb::handle handler : c[0].attr("_handlers").attr("values")()) {
        if (handler_type.is_none() || is_instance(handler, handler_type)) result.append(handler);
    }
    return result;
}

nb::object PluginManager_get_handler(Call& c) {
    nb::handle handler_type = c[1];
    for (nb::handle handler : c[0].attr("_handlers").attr("values")()) {
        if (is_instance(handler, handler_type)) return nb::borrow(handler);
    }
    nb::object name = handler_type.attr("__name__");
    raise(c.global("HandlerNotFoundError").ptr(),
          steal_or_throw(PyUnicode_FromFormat("No handler of type %S found", name.ptr())));
}

}  // namespace

void build_zunt_core_plugin_manager(ModuleScope& m) {
    m.doc("Plugin manager: creates and initialises the manager instances, loads the .env file, builds one "
          "service registry per handler, registers plugins and looks them up.");
    m.import_bind("asyncio");
    m.import_bind("logging");
    m.from_import("pathlib", {"Path"});
    m.from_import("threading", {"Lock"});
    m.from_import("typing", {"Any", "Callable", "Dict", "List", "Optional", "Tuple", "Type", "TypeVar", "Union",
                             "get_origin"});
    m.from_import("dotenv", {"load_dotenv"});
    m.from_import("zunt_core.plugin.handler", {"PluginHandler"});
    m.from_import("zunt_core.plugin.plugin", {"Plugin"});
    m.from_import("zunt_core.plugin.registry", {"ServiceRegistry"});
    m.from_import("zunt_core.services.config", {"ConfigService"});

    nb::object PluginHandler = m.get("PluginHandler");
    nb::object T = m.get("TypeVar")("T", nb::arg("bound") = PluginHandler);
    m.set("T", T);

    ClassBuilder error(m, "HandlerNotFoundError", nb::make_tuple(builtin("RuntimeError")), nullptr);
    error.build();

    nb::object Any = m.get("Any");
    nb::object Optional = m.get("Optional");
    nb::object List = m.get("List");
    nb::object Type = m.get("Type");
    nb::object Callable = m.get("Callable");
    nb::object Plugin = m.get("Plugin");
    nb::object str = builtin("str");
    nb::object none = nb::none();
    nb::object opt_str = subscript(Optional, str);
    nb::object type_plugin = subscript(Type, Plugin);
    nb::object opt_type_handler = subscript(Optional, subscript(Type, PluginHandler));
    nb::list plugin_param;
    plugin_param.append(Plugin);

    auto construction_params = [&](const char* first) {
        return std::vector<Param>{
            arg(first),
            kwonly_default("handlers", subscript(Optional, subscript(List, PluginHandler)), none),
            kwonly_default("env_file", opt_str, none),
            kwonly_default("global_services", subscript(List, Any), nb::tuple()),
            kwonly_default("key_instance", opt_str, none),
        };
    };

    ClassBuilder cls(m, "PluginManager", nullptr);
    cls.attr("_instance", none)
        .attr("_multi_instance", nb::dict())
        .attr("_lock", m.get("Lock")())
        .attr("_initialized", nb::bool_(false))
        .attr("_multi_initialized", nb::dict());
    cls.static_method({.name = "__new__", .params = construction_params("cls"), .impl = PluginManager_new,
                       .returns = nb::str("PluginManager")})
        .method({.name = "__init__", .params = construction_params("self"), .impl = PluginManager_init})
        .method({.name = "_load_environment", .params = {arg("self"), arg_default("env_file", opt_str, none)},
                 .impl = PluginManager_load_environment, .returns = none})
        .method({.name = "_prepare_plugin_registration",
                 .params = {arg("self"), arg("plugin_class", type_plugin)},
                 .impl = PluginManager_prepare,
                 .returns = subscript(m.get("Tuple"), {Any, m.get("ServiceRegistry"), Type, Plugin})})
        .method({.name = "register_plugin",
                 .params = {arg("self"), arg("plugin_class", type_plugin),
                            arg_default("custom_initializer",
                                        subscript(Optional, subscript(Callable, {plugin_param, none})), none)},
                 .impl = PluginManager_register_plugin,
                 .doc = "Register a plugin class: create the plugin with its services and let its handler "
                        "initialise it.",
                 .returns = none});
    nb::object aregister =
        cls.make_method({.name = "aregister_plugin",
                         .params = {arg("self"), arg("plugin_class", type_plugin),
                                    arg_default("custom_initializer",
                                                subscript(Optional, subscript(Callable, {plugin_param, Any})), none)},
                         .impl = PluginManager_aregister_plugin,
                         .doc = "Register a plugin class, awaiting the asynchronous initialisers.",
                         .returns = none});
    mark_coroutine_function(aregister);
    cls.attr("aregister_plugin", aregister);
    cls.method({.name = "get_plugin", .params = {arg("self"), arg("name", str)}, .impl = PluginManager_get_plugin,
                .doc = "Return the plugin registered under a name, or None.", .returns = subscript(Optional, Plugin)})
        .method({.name = "get_plugins",
                 .params = {arg("self"), arg_default("handler_type", opt_type_handler, none),
                            arg_default("plugin_names", subscript(Optional, subscript(List, str)), none)},
                 .impl = PluginManager_get_plugins,
                 .doc = "Return the registered plugins, optionally only those of a handler type and of given names.",
                 .returns = subscript(List, Plugin)})
        .method({.name = "get_handlers", .params = {arg("self"), arg_default("handler_type", opt_type_handler, none)},
                 .impl = PluginManager_get_handlers, .doc = "Return the handlers, optionally only those of a type.",
                 .returns = subscript(List, PluginHandler)})
        .method({.name = "get_handler", .params = {arg("self"), arg("handler_type", subscript(Type, T))},
                 .impl = PluginManager_get_handler,
                 .doc = "Return the first handler of a type; raises HandlerNotFoundError when there is none.",
                 .returns = T});
    cls.build();
}

}  // namespace zunt
