// zunt_core.helpers.json: free functions over JSON-like trees of host values.
//
// The trees are walked here, over the caller's own objects, through the C API:
// exact dicts, lists and tuples are read directly; subclasses and every other
// value go through the host's protocols (methods, membership, item and
// attribute access), so overridden methods behave as they would for Python
// code. Values placed in results are the caller's own objects, never copies.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/names.hpp"
#include "runtime/walk.hpp"
#include "zunt/camel_case.hpp"
#include "zunt/iso_datetime.hpp"
#include "zunt_core/modules.hpp"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zunt {

using namespace rt;

namespace {

static_assert(sizeof(wchar_t) == sizeof(char32_t), "code points are read as wchar_t");

// ---------------------------------------------------------------------------
// Small C API helpers

// Type tests for the values a walk meets most: the exact built-in types are
// told apart by their type object alone (a subclass test is a call into the
// host under the stable ABI).
inline bool exact_scalar(PyTypeObject* t) {
    return t == &PyUnicode_Type || t == &PyLong_Type || t == &PyFloat_Type || t == &PyBool_Type;
}

// isinstance(obj, dict)
inline bool is_dict(PyObject* obj) {
    PyTypeObject* t = Py_TYPE(obj);
    if (t == &PyDict_Type) return true;
    if (exact_scalar(t) || obj == Py_None || t == &PyList_Type) return false;
    return PyDict_Check(obj);
}

// isinstance(obj, list)
inline bool is_list(PyObject* obj) {
    PyTypeObject* t = Py_TYPE(obj);
    if (t == &PyList_Type) return true;
    if (exact_scalar(t) || obj == Py_None || t == &PyDict_Type) return false;
    return PyList_Check(obj);
}

// isinstance(obj, (dict, list))
inline bool dict_or_list(PyObject* obj) {
    PyTypeObject* t = Py_TYPE(obj);
    if (t == &PyDict_Type || t == &PyList_Type) return true;
    if (exact_scalar(t) || obj == Py_None) return false;
    return PyDict_Check(obj) || PyList_Check(obj);
}

// `container[key]`. An exact dict is searched directly, with the one lookup
// its subscript makes, and the same KeyError when the key is missing.
nb::object get_item(PyObject* container, PyObject* key) {
    if (PyDict_CheckExact(container)) {
        PyObject* value = PyDict_GetItemWithError(container, key);  // borrowed
        if (value != nullptr) return nb::borrow(value);
        if (PyErr_Occurred()) throw_current();
        nb::object args = steal_or_throw(PyTuple_Pack(1, key));
        raise(PyExc_KeyError, args);
    }
    return steal_or_throw(PyObject_GetItem(container, key));
}

void list_append(PyObject* list, PyObject* item) {
    if (PyList_Append(list, item) < 0) throw_current();
}

// `current` after `if key not in target: target[key] = {}` and
// `target = target[key]`.
nb::object step_into(PyObject* target, PyObject* key) {
    if (!contains(target, key)) {
        nb::object level = steal_or_throw(PyDict_New());
        set_item(target, key, level.ptr());
    }
    return get_item(target, key);
}

// ---------------------------------------------------------------------------
// get_value / has_value

nb::object get_value(PyObject* obj, PyObject* key) {
    if (PyDict_CheckExact(obj)) {
        PyObject* value = PyDict_GetItemWithError(obj, key);  // borrowed
        if (value != nullptr) return nb::borrow(value);
        if (PyErr_Occurred()) throw_current();
        return nb::none();
    }
    if (is_dict(obj)) return call_method(obj, "get", key);
    nb::object value = attr_or_missing(obj, key);
    return value.is_valid() ? value : nb::none();
}

bool has_value(PyObject* obj, PyObject* key) {
    if (is_dict(obj)) return contains(obj, key);
    return attr_or_missing(obj, key).is_valid();
}

nb::object json_get_value(Call& c) { return get_value(c[0].ptr(), c[1].ptr()); }

nb::object json_has_value(Call& c) { return nb::bool_(has_value(c[0].ptr(), c[1].ptr())); }

// ---------------------------------------------------------------------------
// filter_json
//
// The host's reading of `fields` is followed step by step: the bases are
// worked out afresh for every record, and each base's bare and related
// fields when its turn comes, so code of the caller's that changes `fields`
// on the way (a property read from a record) changes what later bases and
// records keep, as it would in Python. While `fields` is an exact list or
// tuple of exact str, working these out runs nothing of the caller's and
// depends only on which str objects it holds: the plan made from them is
// reused for as long as `fields` holds the very same objects, checked before
// each use.

// A related field: the whole path, and, for an exact str, its segments after
// the first (splitting an exact str runs nothing of the caller's, so it is
// done once).
struct Related {
    nb::object field;
    bool split = false;
    std::vector<nb::object> segments{};
};

struct BaseField {
    nb::object name;
    bool bare = false;
    std::vector<Related> related{};
};

struct FieldPlan {
    std::vector<nb::object> fields;  // the str objects it was made from, held
    nb::object tuple;                // or the tuple of them
    std::vector<BaseField> bases;
};

// The texts the walks use at every call, made once with the module and held
// as the closure of the functions that read them.
enum class JsonName { dot, dict, split, startswith, isoformat, model_dump, reduce, count };
using JsonNames = Table<JsonName>;

nb::object make_json_names() {
    using enum JsonName;
    return JsonNames::make({{dot, "."},
                            {dict, "__dict__"},
                            {split, "split"},
                            {startswith, "startswith"},
                            {isoformat, "isoformat"},
                            {model_dump, "model_dump"},
                            {reduce, "__reduce__"}});
}

struct FilterContext {
    FilterContext(PyObject* fields_arg, const JsonNames& names)
        : fields(fields_arg),
          dot(names[JsonName::dot]),
          dict_name(names[JsonName::dict]),
          split_name(names[JsonName::split]),
          startswith_name(names[JsonName::startswith]) {}

    PyObject* fields;
    nb::handle dot, dict_name, split_name, startswith_name;
    std::optional<FieldPlan> plan;
};

// An exact list or tuple of exact str.
bool plain_fields(PyObject* fields) {
    const bool list = PyList_CheckExact(fields);
    if (!list && !PyTuple_CheckExact(fields)) return false;
    const Py_ssize_t n = list ? PyList_Size(fields) : PyTuple_Size(fields);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* f = list ? PyList_GetItem(fields, i) : PyTuple_GetItem(fields, i);
        if (!PyUnicode_CheckExact(f)) return false;
    }
    return true;
}

// True while `fields` holds exactly the objects the plan was made from.
bool plan_holds(const FilterContext& ctx) {
    if (!ctx.plan) return false;
    PyObject* fields = ctx.fields;
    const std::vector<nb::object>& made_from = ctx.plan->fields;
    const Py_ssize_t n = static_cast<Py_ssize_t>(made_from.size());
    if (PyList_CheckExact(fields)) {
        if (PyList_Size(fields) != n) return false;
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (PyList_GetItem(fields, i) != made_from[static_cast<std::size_t>(i)].ptr()) return false;
        }
        return true;
    }
    // A tuple cannot change: the plan holds for the same tuple.
    return PyTuple_CheckExact(fields) && ctx.plan->tuple.ptr() == fields;
}

// field.split(".")
nb::object split_path(FilterContext& ctx, PyObject* field) {
    if (PyUnicode_CheckExact(field)) return steal_or_throw(PyUnicode_Split(field, ctx.dot.ptr(), -1));
    return call_method(field, ctx.split_name, ctx.dot.ptr());
}

Related make_related(FilterContext& ctx, nb::object field) {
    Related related{std::move(field)};
    if (PyUnicode_CheckExact(related.field.ptr())) {
        nb::object parts = split_path(ctx, related.field.ptr());
        const Py_ssize_t n = PyList_Size(parts.ptr());
        for (Py_ssize_t i = 1; i < n; ++i) related.segments.push_back(nb::borrow(PyList_GetItem(parts.ptr(), i)));
        related.split = true;
    }
    return related;
}

// bases = {}; for field in fields: bases[field.split(".")[0]] = None
std::vector<BaseField> find_bases(FilterContext& ctx) {
    nb::object seen = steal_or_throw(PyDict_New());
    SeqCursor fields(ctx.fields);
    PyObject* field;
    while (fields.next(field)) {
        nb::object held = nb::borrow(field);
        nb::object parts = split_path(ctx, field);
        nb::object first;
        if (PyList_CheckExact(parts.ptr()) && PyList_Size(parts.ptr()) > 0) {
            first = nb::borrow(PyList_GetItem(parts.ptr(), 0));
        } else {
            nb::object zero = steal_or_throw(PyLong_FromLong(0));
            first = steal_or_throw(PyObject_GetItem(parts.ptr(), zero.ptr()));
        }
        set_item(seen.ptr(), first.ptr(), Py_None);
    }
    std::vector<BaseField> bases;
    Py_ssize_t pos = 0;
    PyObject* name;
    PyObject* unused;
    while (PyDict_Next(seen.ptr(), &pos, &name, &unused)) bases.push_back(BaseField{nb::borrow(name)});
    return bases;
}

// base in fields
bool is_bare(FilterContext& ctx, PyObject* base) { return check_test(PySequence_Contains(ctx.fields, base)); }

// [f for f in fields if f.startswith(base + ".")]
std::vector<Related> find_related(FilterContext& ctx, PyObject* base) {
    std::vector<Related> related;
    SeqCursor fields(ctx.fields);
    PyObject* field;
    while (fields.next(field)) {
        nb::object held = nb::borrow(field);
        bool match;
        if (PyUnicode_CheckExact(field) && PyUnicode_CheckExact(base)) {
            nb::object prefix = steal_or_throw(PyUnicode_Concat(base, ctx.dot.ptr()));
            Py_ssize_t r = PyUnicode_Tailmatch(field, prefix.ptr(), 0, PY_SSIZE_T_MAX, -1);
            if (r < 0) throw_current();
            match = r != 0;
        } else {
            nb::object startswith = steal_or_throw(PyObject_GetAttr(field, ctx.startswith_name.ptr()));
            nb::object prefix = steal_or_throw(PyNumber_Add(base, ctx.dot.ptr()));
            match = truthy(steal_or_throw(call_one(startswith.ptr(), prefix.ptr())));
        }
        if (match) related.push_back(make_related(ctx, std::move(held)));
    }
    return related;
}

void make_plan(FilterContext& ctx) {
    FieldPlan plan;
    PyObject* fields = ctx.fields;
    const bool list = PyList_CheckExact(fields);
    const Py_ssize_t n = list ? PyList_Size(fields) : PyTuple_Size(fields);
    for (Py_ssize_t i = 0; i < n; ++i) {
        plan.fields.push_back(nb::borrow(list ? PyList_GetItem(fields, i) : PyTuple_GetItem(fields, i)));
    }
    if (!list) plan.tuple = nb::borrow(fields);
    plan.bases = find_bases(ctx);
    for (BaseField& base : plan.bases) {
        base.bare = is_bare(ctx, base.name.ptr());
        if (!base.bare) base.related = find_related(ctx, base.name.ptr());
    }
    ctx.plan = std::move(plan);
}

// One related field of _record(source, related), for a field whose segments
// are known:
//
//     current = source
//     for key in keys[:-1]:
//         if not has_value(current, key): return
//         current = get_value(current, key)
//     if has_value(current, keys[-1]):
//         target = record
//         for key in keys[:-1]:
//             if key not in target: target[key] = {}
//             target = target[key]
//         target[keys[-1]] = get_value(current, keys[-1])
void place_leaf(PyObject* record, PyObject* source, const std::vector<nb::object>& keys) {
    // A related field always holds a "." after its base; only a base made
    // by a str subclass's own split() or __add__ can relate a field without.
    if (keys.empty()) raise(PyExc_IndexError, "list index out of range");
    const std::size_t last = keys.size() - 1;
    nb::object current = nb::borrow(source);
    for (std::size_t i = 0; i < last; ++i) {
        if (!has_value(current.ptr(), keys[i].ptr())) return;
        current = get_value(current.ptr(), keys[i].ptr());
    }
    if (!has_value(current.ptr(), keys[last].ptr())) return;
    nb::object target = nb::borrow(record);
    for (std::size_t i = 0; i < last; ++i) target = step_into(target.ptr(), keys[i].ptr());
    nb::object leaf = get_value(current.ptr(), keys[last].ptr());
    set_item(target.ptr(), keys[last].ptr(), leaf.ptr());
}

// The same for any other field, every step through the host's protocols:
// keys = field.split(".")[1:], and keys[:-1] and keys[-1] read where the
// Python reads them.
void place_leaf_generic(FilterContext& ctx, PyObject* record, PyObject* source, PyObject* field) {
    nb::object one = steal_or_throw(PyLong_FromLong(1));
    nb::object minus_one = steal_or_throw(PyLong_FromLong(-1));
    nb::object tail = steal_or_throw(PySlice_New(one.ptr(), Py_None, Py_None));
    nb::object head = steal_or_throw(PySlice_New(Py_None, minus_one.ptr(), Py_None));
    nb::object keys = steal_or_throw(PyObject_GetItem(split_path(ctx, field).ptr(), tail.ptr()));

    nb::object current = nb::borrow(source);
    {
        SeqCursor walk(steal_or_throw(PyObject_GetItem(keys.ptr(), head.ptr())));
        PyObject* key;
        while (walk.next(key)) {
            nb::object held = nb::borrow(key);
            if (!has_value(current.ptr(), key)) return;
            current = get_value(current.ptr(), key);
        }
    }
    if (!has_value(current.ptr(), steal_or_throw(PyObject_GetItem(keys.ptr(), minus_one.ptr())).ptr())) return;
    nb::object target = nb::borrow(record);
    {
        SeqCursor walk(steal_or_throw(PyObject_GetItem(keys.ptr(), head.ptr())));
        PyObject* key;
        while (walk.next(key)) {
            nb::object held = nb::borrow(key);
            target = step_into(target.ptr(), key);
        }
    }
    nb::object leaf = get_value(current.ptr(), steal_or_throw(PyObject_GetItem(keys.ptr(), minus_one.ptr())).ptr());
    nb::object last = steal_or_throw(PyObject_GetItem(keys.ptr(), minus_one.ptr()));
    set_item(target.ptr(), last.ptr(), leaf.ptr());
}

// _record(source, related): a new dict holding, for each related field, the
// leaf it names in `source` under the same chain of keys.
nb::object build_record(FilterContext& ctx, PyObject* source, const std::vector<Related>& related) {
    nb::object record = steal_or_throw(PyDict_New());
    for (const Related& r : related) {
        if (r.split) {
            place_leaf(record.ptr(), source, r.segments);
        } else {
            place_leaf_generic(ctx, record.ptr(), source, r.field.ptr());
        }
    }
    return record;
}

// filter_json(data, fields) for a `data` that is not a list (and `fields`
// true).
nb::object filter_record(FilterContext& ctx, PyObject* data) {
    if (!is_dict(data) && !attr_or_missing(data, ctx.dict_name).is_valid()) return nb::borrow(data);

    // The bases, from `fields` as it is now.
    const std::vector<BaseField>* bases;
    std::vector<BaseField> fresh;
    bool planned = false;
    if (plan_holds(ctx)) {
        planned = true;
    } else if (plain_fields(ctx.fields)) {
        make_plan(ctx);
        planned = true;
    } else {
        fresh = find_bases(ctx);
    }
    bases = planned ? &ctx.plan->bases : &fresh;

    nb::object result = steal_or_throw(PyDict_New());
    for (std::size_t i = 0; i < bases->size(); ++i) {
        const BaseField& base = (*bases)[i];
        PyObject* name = base.name.ptr();
        // The plan answers for as long as `fields` holds what it was made
        // from; the caller's code may have changed it since the last base.
        const bool use_plan = planned && (i == 0 || plan_holds(ctx));
        if (use_plan ? base.bare : is_bare(ctx, name)) {
            nb::object value = get_value(data, name);
            if (!value.is_none() || has_value(data, name)) set_item(result.ptr(), name, value.ptr());
            continue;
        }
        std::vector<Related> found;
        if (!use_plan) found = find_related(ctx, name);
        const std::vector<Related>& related = use_plan ? base.related : found;

        nb::object value = get_value(data, name);
        if (value.is_none() && !has_value(data, name)) continue;
        if (is_list(value.ptr())) {
            nb::object records = steal_or_throw(PyList_New(0));
            SeqCursor items(value);
            PyObject* item;
            while (items.next(item)) {
                nb::object held = nb::borrow(item);
                nb::object record = build_record(ctx, item, related);
                if (PyDict_Size(record.ptr()) > 0) list_append(records.ptr(), record.ptr());
            }
            if (PyList_Size(records.ptr()) > 0) set_item(result.ptr(), name, records.ptr());
        } else {
            nb::object record = build_record(ctx, value.ptr(), related);
            if (PyDict_Size(record.ptr()) > 0) set_item(result.ptr(), name, record.ptr());
        }
    }
    return result;
}

// filter_json(data, fields): lists are filtered item by item, at any depth,
// on an explicit stack; `fields` is tested for truth before each item, as the
// recursive call would.
nb::object json_filter_json(Call& c) {
    FilterContext ctx(c[1].ptr(), JsonNames(c.closure()));
    PyObject* data = c[0].ptr();
    if (!truthy(ctx.fields)) return nb::borrow(data);
    if (!is_list(data)) return filter_record(ctx, data);

    struct Level {
        SeqCursor items;
        nb::object result;
    };
    std::vector<Level> stack;
    DepthBudget depth;
    depth.enter();
    stack.push_back(Level{SeqCursor(c[0]), steal_or_throw(PyList_New(0))});
    for (;;) {
        Level* top = &stack.back();
        PyObject* item;
        bool deeper = false;
        while (top->items.next(item)) {
            nb::object held = nb::borrow(item);
            if (!truthy(ctx.fields)) {
                list_append(top->result.ptr(), item);
                continue;
            }
            if (is_list(item)) {
                depth.enter();
                stack.push_back(Level{SeqCursor(held), steal_or_throw(PyList_New(0))});
                deeper = true;
                break;
            }
            nb::object filtered = filter_record(ctx, item);
            list_append(top->result.ptr(), filtered.ptr());
        }
        if (deeper) continue;
        nb::object done = std::move(top->result);
        stack.pop_back();
        depth.leave();
        if (stack.empty()) return done;
        list_append(stack.back().result.ptr(), done.ptr());
    }
}

// ---------------------------------------------------------------------------
// camel_to_snake_case / convert_keys_to_snake_case

// The host's own substitutions, for anything that is not an exact str (their
// errors and their handling of str subclasses are the host's).
nb::object camel_to_snake_host(Call& c, PyObject* text) {
    nb::object sub = c.global("re").attr("sub");
    nb::object repl = nb::str("\\1_\\2");
    nb::object step1 = sub(nb::str("(.)([A-Z][a-z]+)"), repl, nb::handle(text));
    nb::object step2 = sub(nb::str("([a-z0-9])([A-Z])"), repl, step1);
    return step2.attr("lower")();
}

nb::object camel_to_snake(Call& c, PyObject* text) {
    if (!PyUnicode_CheckExact(text)) return camel_to_snake_host(c, text);
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (utf8 != nullptr && size == PyUnicode_GetLength(text)) {
        // Pure ASCII: the UTF-8 bytes are the code points.
        std::string out = text::camel_to_snake_ascii(std::string_view(utf8, static_cast<std::size_t>(size)));
        return steal_or_throw(PyUnicode_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
    }
    if (utf8 == nullptr) PyErr_Clear();  // lone surrogates have no UTF-8 form
    wchar_t* wide_raw = PyUnicode_AsWideCharString(text, &size);
    if (wide_raw == nullptr) throw_current();
    std::u32string points(static_cast<std::size_t>(size), U'\0');
    std::memcpy(points.data(), wide_raw, static_cast<std::size_t>(size) * sizeof(char32_t));
    PyMem_Free(wide_raw);
    std::u32string broken = text::insert_word_breaks(std::u32string_view(points));
    nb::object joined = steal_or_throw(PyUnicode_FromWideChar(reinterpret_cast<const wchar_t*>(broken.data()),
                                                              static_cast<Py_ssize_t>(broken.size())));
    // Full Unicode case mapping is the host's.
    return call_method(joined.ptr(), "lower");
}

nb::object json_camel_to_snake_case(Call& c) { return camel_to_snake(c, c[0].ptr()); }

// Converted keys of one call, by key object: the trees these functions see
// repeat the same key objects in every record. The cache holds both keys.
struct KeyCache {
    Call& call;
    std::unordered_map<PyObject*, std::pair<nb::object, nb::object>> converted;  // key -> (key, new key)
    nb::object last;  // a conversion the cache had no room for

    // The converted key, borrowed: valid until the next call.
    PyObject* convert(PyObject* key) {
        auto it = converted.find(key);
        if (it != converted.end()) return it->second.second.ptr();
        nb::object new_key = camel_to_snake(call, key);
        if (converted.size() < 4096) {
            return converted.emplace(key, std::make_pair(nb::borrow(key), std::move(new_key))).first->second.second.ptr();
        }
        last = std::move(new_key);
        return last.ptr();
    }
};

// convert_keys_to_snake_case(data), as the host runs
//
//     if isinstance(data, dict):
//         return {camel_to_snake_case(k): convert_keys_to_snake_case(v) for k, v in data.copy().items()}
//     if isinstance(data, list):
//         return [convert_keys_to_snake_case(item) for item in data.copy()]
//     return data
//
// on an explicit stack. Each level walks the shallow copy of its dict or list.
// An exact dict or list is walked in place instead, for as long as none of
// the caller's code has run since the level began: until then it cannot
// differ from its copy. Before any such code runs (a subclass's copy() and
// what its result does when walked, the host's re for a key that is not an
// exact str), every level still in place takes its copy.
class ConvertWalk {
public:
    explicit ConvertWalk(Call& call) : keys_{call, {}, {}} {}

    nb::object run(nb::handle data) {
        if (!dict_or_list(data.ptr())) return nb::borrow(data);
        push(nb::borrow(data));
        PyObject* key;
        PyObject* item;
        nb::object held_key, held_item;  // across the caller's code
        for (;;) {
            Frame* top = &stack_.back();
            bool deeper = false;
            if (top->is_dict) {
                const bool fixed = top->fixed;
                const bool generic = !top->entries.in_place();
                for (;;) {
                    if (generic) before_callers_code();  // items() of a copy() result
                    if (!(fixed ? top->entries.next_unchanged(key, item) : top->entries.next(key, item))) break;
                    // The key first, as the comprehension does. Only the
                    // host's re, for a key that is not an exact str, can run
                    // code of the caller's here.
                    if (!PyUnicode_CheckExact(key)) {
                        held_key = nb::borrow(key);
                        held_item = nb::borrow(item);
                        before_callers_code();
                    }
                    PyObject* new_key = keys_.convert(key);
                    if (dict_or_list(item)) {
                        top->key = nb::borrow(new_key);
                        deeper = true;
                        break;
                    }
                    set_item(top->result.ptr(), new_key, item);
                }
            } else {
                const bool generic = !top->items.in_place();
                for (;;) {
                    if (generic) before_callers_code();  // iter() of a copy() result
                    if (!top->items.next(item)) break;
                    if (dict_or_list(item)) {
                        deeper = true;
                        break;
                    }
                    top->add(item);
                }
            }
            if (deeper) {
                push(nb::borrow(item));
                continue;
            }
            nb::object done = finish();
            if (stack_.empty()) return done;
            top = &stack_.back();
            if (top->is_dict) {
                set_item(top->result.ptr(), top->key.ptr(), done.ptr());
            } else {
                top->add(done.ptr());
            }
        }
    }

private:
    struct Frame {
        bool is_dict = false;
        // True while the level walks its exact dict or list in place of the
        // copy the host would walk.
        bool in_place = false;
        // True for an exact dict: walked in place, then as its own copy, it
        // cannot change while it is walked (the result of a subclass's
        // copy() can).
        bool fixed = false;
        ItemsCursor entries;  // a dict's copy
        SeqCursor items;      // a list's copy
        nb::object result;
        nb::object key;       // the converted key of the value being converted
        // A list walked in place has as many items as its copy would: its
        // result is made at that size and filled in order.
        Py_ssize_t filled = -1;
        Py_ssize_t size = 0;

        void add(PyObject* item) {
            if (filled >= 0 && filled < size) {
                PyList_SetItem(result.ptr(), filled++, Py_NewRef(item));
            } else {
                list_append(result.ptr(), item);
            }
        }
    };

    // A new level for a dict or list.
    void push(nb::object data) {
        PyObject* d = data.ptr();
        depth_.enter();
        Frame& frame = stack_.emplace_back();
        if (PyDict_Check(d)) {
            frame.is_dict = true;
            if (PyDict_CheckExact(d)) {
                frame.entries = ItemsCursor(data);
                frame.in_place = true;
                frame.fixed = true;
            } else {
                before_callers_code();
                frame.entries = ItemsCursor(call_method(d, "copy"));
            }
            frame.result = steal_or_throw(PyDict_New());
        } else {
            if (PyList_CheckExact(d)) {
                frame.items = SeqCursor(data);
                frame.in_place = true;
                frame.size = PyList_Size(d);
                frame.filled = 0;
            } else {
                before_callers_code();
                frame.items = SeqCursor(call_method(d, "copy"));
            }
            frame.result = steal_or_throw(PyList_New(frame.size));
        }
    }

    nb::object finish() {
        Frame& top = stack_.back();
        // Never the case (see Frame::add), but a result with empty slots
        // must not get out.
        if (top.filled >= 0 && top.filled < top.size &&
            PyList_SetSlice(top.result.ptr(), top.filled, top.size, nullptr) < 0) {
            throw_current();
        }
        nb::object result = std::move(top.result);
        stack_.pop_back();
        depth_.leave();
        if (in_place_from_ > stack_.size()) in_place_from_ = stack_.size();
        return result;
    }

    // Every level that walks its dict or list in place takes its copy now.
    void before_callers_code() {
        for (std::size_t i = in_place_from_; i < stack_.size(); ++i) {
            Frame& frame = stack_[i];
            if (!frame.in_place) continue;
            if (frame.is_dict) {
                frame.entries.detach();
            } else {
                frame.items.detach();
            }
            frame.in_place = false;
        }
        in_place_from_ = stack_.size();
    }

    KeyCache keys_;
    DepthBudget depth_;
    std::vector<Frame> stack_;
    std::size_t in_place_from_ = 0;  // levels below this one have their copy
};

nb::object json_convert_keys_to_snake_case(Call& c) { return ConvertWalk(c).run(c[0]); }

// ---------------------------------------------------------------------------
// merge_dicts

// merge_dicts(d1, d2), as the host runs
//
//     result = d1.copy()
//     for k, v in d2.items():
//         if k in result and isinstance(result[k], dict) and isinstance(v, dict):
//             result[k] = merge_dicts(result[k], v)
//         else:
//             result[k] = v
//     return result
//
// on an explicit stack. Each d2 is walked live, as the host's items()
// iterator walks it.
class MergeWalk {
public:
    nb::object run(PyObject* d1, PyObject* d2) {
        push(d1, d2);
        for (;;) {
            Level* top = &stack_.back();
            bool deeper = false;
            PyObject* k;
            PyObject* v;
            while (top->entries.next(k, v)) {
                // Held: membership, lookups and stores may run the caller's
                // code (a key's __hash__ or __eq__, a subclass's methods).
                nb::object key = nb::borrow(k), value = nb::borrow(v);
                PyObject* result = top->result.ptr();
                if (contains(result, k) && is_dict(get_item(result, k).ptr()) && is_dict(v)) {
                    nb::object left = get_item(result, k);
                    top->key = std::move(key);
                    push(left.ptr(), v);
                    deeper = true;
                    break;
                }
                set_item(result, k, v);
            }
            if (deeper) continue;
            nb::object done = std::move(top->result);
            stack_.pop_back();
            depth_.leave();
            if (stack_.empty()) return done;
            top = &stack_.back();
            set_item(top->result.ptr(), top->key.ptr(), done.ptr());
            top->key.reset();
        }
    }

private:
    struct Level {
        nb::object result;
        ItemsCursor entries;
        nb::object key;  // the key whose two dicts are being merged
    };

    void push(PyObject* d1, PyObject* d2) {
        depth_.enter();
        Level& level = stack_.emplace_back();
        level.result = PyDict_CheckExact(d1) ? steal_or_throw(PyDict_Copy(d1)) : call_method(d1, "copy");
        level.entries = ItemsCursor(d2);
    }

    std::vector<Level> stack_;
    DepthBudget depth_;
};

nb::object json_merge_dicts(Call& c) { return MergeWalk().run(c[0].ptr(), c[1].ptr()); }

// ---------------------------------------------------------------------------
// get_value_by_path / set_value_by_path

nb::object json_get_value_by_path(Call& c) {
    nb::object current = nb::borrow(c[0]);
    SeqCursor parts(c[1]);
    PyObject* p;
    while (parts.next(p)) {
        nb::object part = nb::borrow(p);
        PyObject* cur = current.ptr();
        if (is_dict(cur)) {
            if (!contains(cur, p)) return nb::none();
            current = get_item(cur, p);
        } else if (is_list(cur)) {
            // [item[part] for item in current if isinstance(item, dict) and part in item] or None
            nb::object projected = steal_or_throw(PyList_New(0));
            SeqCursor items(current);
            PyObject* item;
            while (items.next(item)) {
                if (!is_dict(item)) continue;
                nb::object held = nb::borrow(item);
                if (contains(item, p)) list_append(projected.ptr(), get_item(item, p).ptr());
            }
            current = PyList_Size(projected.ptr()) > 0 ? std::move(projected) : nb::none();
        } else {
            return nb::none();
        }
    }
    return current;
}

nb::object json_set_value_by_path(Call& c) {
    PyObject* path = c[1].ptr();
    nb::object current = nb::borrow(c[0]);
    nb::object last;
    if (PyList_CheckExact(path)) {
        // `path[:-1]` is taken before the walk, so the parts are held here:
        // the walk may run code of the caller's that changes `path`.
        constexpr Py_ssize_t small = 8;
        const Py_ssize_t n_head = PyList_Size(path) > 0 ? PyList_Size(path) - 1 : 0;
        nb::object parts_small[small];
        std::vector<nb::object> parts_large;
        nb::object* parts = parts_small;
        if (n_head > small) {
            parts_large.resize(static_cast<std::size_t>(n_head));
            parts = parts_large.data();
        }
        for (Py_ssize_t i = 0; i < n_head; ++i) parts[i] = nb::borrow(PyList_GetItem(path, i));
        for (Py_ssize_t i = 0; i < n_head; ++i) current = step_into(current.ptr(), parts[i].ptr());
        // `path[-1]`, read once the walk is over.
        const Py_ssize_t n = PyList_Size(path);
        if (n == 0) raise(PyExc_IndexError, "list index out of range");
        last = nb::borrow(PyList_GetItem(path, n - 1));
    } else {
        nb::object minus_one = steal_or_throw(PyLong_FromLong(-1));
        nb::object slice = steal_or_throw(PySlice_New(Py_None, minus_one.ptr(), Py_None));
        SeqCursor head(steal_or_throw(PyObject_GetItem(path, slice.ptr())));
        PyObject* part;
        while (head.next(part)) {
            nb::object held = nb::borrow(part);
            current = step_into(current.ptr(), part);
        }
        last = steal_or_throw(PyObject_GetItem(path, minus_one.ptr()));
    }
    set_item(current.ptr(), last.ptr(), c[2].ptr());
    return nb::none();
}

// ---------------------------------------------------------------------------
// to_dict

struct ToDictContext {
    ToDictContext(nb::object datetime_type, nb::object base_model_type, const JsonNames& names)
        : datetime(std::move(datetime_type)),
          base_model(std::move(base_model_type)),
          dict_name(names[JsonName::dict]),
          isoformat_name(names[JsonName::isoformat]),
          model_dump_name(names[JsonName::model_dump]),
          reduce_name(names[JsonName::reduce]) {}

    nb::object datetime;
    nb::object base_model;
    nb::handle dict_name, isoformat_name, model_dump_name, reduce_name;
};

// The text of a host datetime without a time zone, written here from its
// pickled state `(type, (state,))`: exactly what its isoformat() gives, for a
// fraction of the cost. Anything else, a subclass or an aware date-time
// included, is asked of the host.
std::optional<nb::object> naive_isoformat(ToDictContext& ctx, PyObject* obj) {
    PyTypeObject* type = Py_TYPE(obj);
    if (reinterpret_cast<PyObject*>(type) != ctx.datetime.ptr() || (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE)) {
        return std::nullopt;
    }
    nb::object reduced = call_method(obj, ctx.reduce_name);
    PyObject* r = reduced.ptr();
    if (!PyTuple_CheckExact(r) || PyTuple_Size(r) != 2 || PyTuple_GetItem(r, 0) != ctx.datetime.ptr()) {
        return std::nullopt;
    }
    PyObject* args = PyTuple_GetItem(r, 1);
    if (!PyTuple_CheckExact(args) || PyTuple_Size(args) != 1) return std::nullopt;  // a time zone
    PyObject* state = PyTuple_GetItem(args, 0);
    char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (!PyBytes_CheckExact(state) || PyBytes_AsStringAndSize(state, &bytes, &size) < 0) {
        PyErr_Clear();
        return std::nullopt;
    }
    std::optional<text::DateTimeFields> fields =
        text::read_datetime_state(std::string_view(bytes, static_cast<std::size_t>(size)));
    if (!fields) return std::nullopt;
    std::string iso = text::iso_datetime(*fields);
    return steal_or_throw(PyUnicode_FromStringAndSize(iso.data(), static_cast<Py_ssize_t>(iso.size())));
}

// None, str, int (bool included) and float: to_dict gives the value itself.
bool plain_value(PyObject* obj) {
    if (obj == Py_None || exact_scalar(Py_TYPE(obj))) return true;
    return PyUnicode_Check(obj) || PyLong_Check(obj) || PyFloat_Check(obj);
}

// to_dict(obj), as the host runs it (the rules in their order)
//
//     if obj is None: return None
//     if isinstance(obj, (str, int, float, bool)): return obj
//     if isinstance(obj, (list, tuple)): return [to_dict(item) for item in obj]
//     if isinstance(obj, dict): return {k: to_dict(v) for k, v in obj.items()}
//     if isinstance(obj, datetime): return obj.isoformat()
//     if isinstance(obj, BaseModel): return to_dict(obj.model_dump())
//     if hasattr(obj, "__dict__") and obj.__dict__: return to_dict(obj.__dict__)
//     return str(obj)
//
// on an explicit stack. Lists, tuples and dicts are walked live, as the
// host's iterators walk them; a model's dump and an object's __dict__ are
// converted in turn, each counted as one level.
class ToDictWalk {
public:
    explicit ToDictWalk(ToDictContext& ctx) : ctx_(ctx) {}

    nb::object run(nb::handle obj) {
        nb::object done = visit(nb::borrow(obj));
        if (done.is_valid()) return done;
        for (;;) {
            Level* top = &stack_.back();
            bool deeper = false;
            if (top->is_dict) {
                PyObject* k;
                PyObject* v;
                while (top->entries.next(k, v)) {
                    if (plain_value(v)) {
                        set_item(top->result.ptr(), k, v);
                        continue;
                    }
                    top->key = nb::borrow(k);
                    nb::object converted = visit(nb::borrow(v));
                    if (!converted.is_valid()) {
                        deeper = true;
                        break;
                    }
                    set_item(top->result.ptr(), top->key.ptr(), converted.ptr());
                }
            } else {
                PyObject* item;
                while (top->items.next(item)) {
                    if (plain_value(item)) {
                        list_append(top->result.ptr(), item);
                        continue;
                    }
                    nb::object converted = visit(nb::borrow(item));
                    if (!converted.is_valid()) {
                        deeper = true;
                        break;
                    }
                    list_append(top->result.ptr(), converted.ptr());
                }
            }
            if (deeper) continue;
            nb::object result = std::move(top->result);
            depth_.leave(top->levels);
            stack_.pop_back();
            if (stack_.empty()) return result;
            top = &stack_.back();
            if (top->is_dict) {
                set_item(top->result.ptr(), top->key.ptr(), result.ptr());
                top->key.reset();
            } else {
                list_append(top->result.ptr(), result.ptr());
            }
        }
    }

private:
    struct Level {
        bool is_dict = false;
        SeqCursor items;
        ItemsCursor entries;
        nb::object result;
        nb::object key;   // the key whose value is being converted
        long levels = 1;  // this level, and the dumps and __dict__ reads that led to it
    };

    // The converted value of `obj`, or an invalid object once a level for it
    // (a list, tuple or dict) has been pushed.
    nb::object visit(nb::object obj) {
        long hops = 0;
        for (;;) {
            PyObject* o = obj.ptr();
            if (plain_value(o)) break;
            PyTypeObject* t = Py_TYPE(o);
            const bool exact_dict = t == &PyDict_Type;
            if (!exact_dict && (t == &PyList_Type || t == &PyTuple_Type || PyList_Check(o) || PyTuple_Check(o))) {
                depth_.enter();
                Level& level = stack_.emplace_back();
                level.levels = hops + 1;
                level.items = SeqCursor(obj);
                level.result = steal_or_throw(PyList_New(0));
                return nb::object();
            }
            if (exact_dict || PyDict_Check(o)) {
                depth_.enter();
                Level& level = stack_.emplace_back();
                level.is_dict = true;
                level.levels = hops + 1;
                level.entries = ItemsCursor(obj);
                level.result = steal_or_throw(PyDict_New());
                return nb::object();
            }
            if (is_instance(o, ctx_.datetime.ptr())) {
                std::optional<nb::object> text = naive_isoformat(ctx_, o);
                obj = text ? std::move(*text) : call_method(o, ctx_.isoformat_name);
                break;
            }
            if (is_instance(o, ctx_.base_model.ptr())) {
                depth_.enter();
                ++hops;
                obj = call_method(o, ctx_.model_dump_name);
                continue;
            }
            // hasattr(obj, "__dict__") and obj.__dict__, then obj.__dict__
            // read a third time: a property answers each read.
            if (attr_or_missing(o, ctx_.dict_name).is_valid() && truthy(get_attr(o, ctx_.dict_name))) {
                depth_.enter();
                ++hops;
                obj = get_attr(o, ctx_.dict_name);
                continue;
            }
            obj = steal_or_throw(PyObject_Str(o));
            break;
        }
        depth_.leave(hops);
        return obj;
    }

    ToDictContext& ctx_;
    std::vector<Level> stack_;
    DepthBudget depth_;
};

nb::object json_to_dict(Call& c) {
    ToDictContext ctx(c.global("datetime"), c.global("BaseModel"), JsonNames(c.closure()));
    return ToDictWalk(ctx).run(c[0]);
}

}  // namespace

void build_zunt_core_helpers_json(ModuleScope& m) {
    m.doc("JSON helper functions for filtering and manipulating JSON data.");
    m.import_bind("re");
    m.from_import("datetime", {"datetime"});
    m.from_import("typing", {"Any", "List"});
    m.from_import("pydantic", {"BaseModel"});

    nb::object Any = m.get("Any");
    nb::object str = builtin("str");
    nb::object dict = builtin("dict");
    nb::object list_str = subscript(m.get("List"), str);

    nb::object names = make_json_names();
    m.def({.name = "filter_json",
           .params = {arg("data", Any), arg("fields", list_str)},
           .impl = json_filter_json,
           .doc = "Filter JSON data based on field paths.\n\n"
                  "Bare fields keep a whole value; dotted fields keep the leaf they name, under the\n"
                  "same chain of keys. Lists are filtered item by item.",
           .returns = Any,
           .closure = names});
    m.def({.name = "convert_keys_to_snake_case",
           .params = {arg("data", Any)},
           .impl = json_convert_keys_to_snake_case,
           .doc = "Recursively convert all dictionary keys from camelCase to snake_case.\n\n"
                  "Dicts and lists are rebuilt; any other value is returned as it is.",
           .returns = Any});
    m.def({.name = "get_value",
           .params = {arg("obj", Any), arg("key", str)},
           .impl = json_get_value,
           .doc = "Get value from an object or dict using either attribute or key access.\n\n"
                  "Returns None when the key or attribute is missing.",
           .returns = Any});
    m.def({.name = "has_value",
           .params = {arg("obj", Any), arg("key", str)},
           .impl = json_has_value,
           .doc = "Check if an object or dict has a value using either attribute or key access.",
           .returns = builtin("bool")});
    m.def({.name = "merge_dicts",
           .params = {arg("d1", dict), arg("d2", dict)},
           .impl = json_merge_dicts,
           .doc = "Deep merge two dictionaries.\n\n"
                  "Values of d2 win, except where both sides hold a dict: those are merged in turn.\n"
                  "Neither argument is changed.",
           .returns = dict});
    m.def({.name = "get_value_by_path",
           .params = {arg("data", Any), arg("path", list_str)},
           .impl = json_get_value_by_path,
           .doc = "Get a value from nested data using a path list.\n\n"
                  "A list on the way yields the values of its dict items that hold the key; a missing\n"
                  "key gives None.",
           .returns = Any});
    m.def({.name = "set_value_by_path",
           .params = {arg("target", dict), arg("path", list_str), arg("value", Any)},
           .impl = json_set_value_by_path,
           .doc = "Set a value in a nested dictionary using a path list.\n\n"
                  "Missing intermediate levels are created as new dicts.",
           .returns = nb::none()});
    m.def({.name = "to_dict",
           .params = {arg("obj", Any)},
           .impl = json_to_dict,
           .doc = "Convert any object to a dictionary recursively.\n\n"
                  "Models are dumped, date-times become ISO text, objects give their attributes and\n"
                  "anything else not JSON-like gives its text form.",
           .returns = Any,
           .closure = names});
    m.def({.name = "camel_to_snake_case",
           .params = {arg("text", str)},
           .impl = json_camel_to_snake_case,
           .doc = "Convert a camelCase string to snake_case.",
           .returns = str});
}

}  // namespace zunt
