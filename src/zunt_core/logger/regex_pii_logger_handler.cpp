// zunt_core.logger.regex_pii_logger_handler: a logging handler that masks
// identity-card numbers, tax numbers, phone numbers and e-mail addresses in
// each record's message, for the handlers that receive the record after it.
//
// The class constants are the host's compiled patterns and the maskers read
// them from the handler at each call. A pattern that is one of the five built
// here (same source, default flags) is matched by the native scans of
// zunt/pii_patterns, which give the host's matches in linear time; any other
// pattern an application puts in their place is matched by the host's `re`.
// Masker methods that a subclass or an instance replaces are called as such.
#include "runtime/errors.hpp"
#include "runtime/host.hpp"
#include "runtime/names.hpp"
#include "zunt/pii_patterns.hpp"
#include "zunt_core/logger/emit.shared.hpp"
#include "zunt_core/modules.hpp"

#include <cstdint>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zunt {

using namespace rt;

namespace {

// ---------------------------------------------------------------------------
// \d, \w and \s beyond ASCII, as the host's str predicates answer them (the
// classes `re` uses for str patterns). Each code point is asked once per
// process: the host's Unicode database does not change while it runs.

constexpr std::uint8_t class_known = 0x80;
std::uint8_t host_classes[0x110000];

std::uint8_t host_class_of(char32_t c) { return static_cast<std::uint8_t>(host_classes[c] & ~class_known); }

bool host_predicate(nb::handle ch, const char* name) { return truthy(ch.attr(name)()); }

void learn_classes(std::u32string_view text) {
    for (char32_t c : text) {
        if (c < 128 || (host_classes[c] & class_known) != 0) continue;
        nb::object ch = steal_or_throw(PyUnicode_FromOrdinal(static_cast<int>(c)));
        std::uint8_t k = class_known;
        if (host_predicate(ch, "isdecimal")) k |= pii::decimal;
        if (host_predicate(ch, "isalnum")) k |= pii::word;
        if (host_predicate(ch, "isspace")) k |= pii::space;
        host_classes[c] = k;
    }
}

const pii::CharClasses ascii_classes;
const pii::CharClasses unicode_classes(host_class_of);

// ---------------------------------------------------------------------------
// What the handler's methods read on every record, made when the module is
// built and kept as the methods' closure: the patterns as the class constants
// were built (a pattern object that is one of these needs no further test)
// and the names of the attributes read.

enum class HandlerName {
    // the built-in patterns, in pii::Pattern order
    pattern_ktp, pattern_npwp, pattern_phone_unbroken, pattern_phone_grouped, pattern_email,
    process, enabled, get_message, msg, args, isascii,
    // the maskers' method names, then their constants' names, in masking order
    mask_ktp, mask_npwp, mask_phone, mask_email,
    regex_ktp, regex_npwp, regex_phone, regex_email,
    count
};
using HandlerNames = Table<HandlerName>;

HandlerName offset(HandlerName first, std::size_t i) {
    return static_cast<HandlerName>(static_cast<std::size_t>(first) + i);
}
nb::handle builtin_pattern(const HandlerNames& names, pii::Pattern p) {
    return names[offset(HandlerName::pattern_ktp, static_cast<std::size_t>(p))];
}
nb::handle masker_method(const HandlerNames& names, std::size_t i) { return names[offset(HandlerName::mask_ktp, i)]; }
nb::handle masker_constant(const HandlerNames& names, std::size_t i) {
    return names[offset(HandlerName::regex_ktp, i)];
}

// Which matcher answers for a pattern object: a native one for the five
// sources compiled by `re` as str patterns with no flags of their own (the
// class's own objects, or the same compiled anew), the host's `re` for
// anything else. The host's `re` is looked up through the module at the
// first pattern that needs it.
class Matchers {
public:
    Matchers(Call& c, const HandlerNames& names) : call_(c), names_(names) {}

    std::optional<pii::Pattern> native_matcher(nb::handle pattern) {
        for (pii::Pattern p : pii::all_patterns) {
            if (pattern.is(builtin_pattern(names_, p))) return p;
        }
        if (reinterpret_cast<PyObject*>(Py_TYPE(pattern.ptr())) != re().attr("Pattern").ptr()) return std::nullopt;
        nb::object source = pattern.attr("pattern");
        if (!PyUnicode_CheckExact(source.ptr())) return std::nullopt;
        nb::object flags = pattern.attr("flags");
        nb::object unicode = re().attr("UNICODE");
        int same_flags = PyObject_RichCompareBool(flags.ptr(), unicode.ptr(), Py_EQ);
        if (same_flags < 0) throw_current();
        if (same_flags == 0) return std::nullopt;
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(source.ptr(), &size);
        if (utf8 == nullptr) {
            PyErr_Clear();  // lone surrogates: none of ours
            return std::nullopt;
        }
        const std::string_view text(utf8, static_cast<std::size_t>(size));
        for (pii::Pattern p : pii::all_patterns) {
            if (pii::pattern_source(p) == text) return p;
        }
        return std::nullopt;
    }

    nb::handle re() {
        if (!re_.is_valid()) re_ = call_.global("re");
        return re_;
    }

private:
    Call& call_;
    const HandlerNames& names_;
    nb::object re_;
};

// ---------------------------------------------------------------------------
// The text of one masking run. It stays in native form across the steps the
// native matchers answer, and is a host str for steps the host's `re`
// answers and at the end. Pure-ASCII text is scanned in place, in the str's
// own buffer, until a step changes it; other text is copied into code points
// that the run owns. The caller's str is left as it was (no UTF-8 form is
// made and cached on it).

class MaskingText {
public:
    MaskingText(nb::handle text, const HandlerNames& names) : host_(nb::borrow(text)), names_(names) {}

    // One masking step with `pattern` and the masked form `form`.
    void apply(Matchers& matchers, nb::handle pattern, const pii::MaskForm& form) {
        std::optional<pii::Pattern> matcher = matchers.native_matcher(pattern);
        if (matcher && to_native()) {
            native_step(*matcher, form);
        } else {
            host_step(matchers.re(), pattern, form);
        }
    }

    nb::object result() {
        to_host();
        return host_;
    }

    // Goes on from a text the host produced.
    void reset(nb::handle text) {
        form_ = Form::host;
        changed_ = false;
        host_ = nb::borrow(text);
    }

    MaskingText(const MaskingText&) = delete;
    MaskingText& operator=(const MaskingText&) = delete;

private:
    enum class Form { host, ascii, wide };

    // False when the text is no exact str: subclasses and other objects go
    // through the host's own operations, whatever they do.
    bool to_native() {
        if (form_ != Form::host) return true;
        if (!PyUnicode_CheckExact(host_.ptr())) return false;
        if (truthy(call_method(host_, names_[HandlerName::isascii]))) {
            // An ASCII str's UTF-8 form is its own buffer: nothing is made.
            Py_ssize_t size = 0;
            const char* utf8 = PyUnicode_AsUTF8AndSize(host_.ptr(), &size);
            if (utf8 == nullptr) throw_current();
            ascii_view_ = std::string_view(utf8, static_cast<std::size_t>(size));
            form_ = Form::ascii;
            return true;
        }
        Py_UCS4* points = PyUnicode_AsUCS4Copy(host_.ptr());
        if (points == nullptr) throw_current();
        const auto length = static_cast<std::size_t>(PyUnicode_GetLength(host_.ptr()));
        wide_.assign(reinterpret_cast<const char32_t*>(points), length);
        PyMem_Free(points);
        learn_classes(wide_);
        form_ = Form::wide;
        return true;
    }

    void to_host() {
        if (form_ == Form::host) return;
        if (changed_) {
            if (form_ == Form::ascii) {
                host_ = steal_or_throw(
                    PyUnicode_FromStringAndSize(ascii_view_.data(), static_cast<Py_ssize_t>(ascii_view_.size())));
            } else {
                static_assert(sizeof(wchar_t) == sizeof(char32_t), "code points are passed as wchar_t");
                host_ = steal_or_throw(PyUnicode_FromWideChar(reinterpret_cast<const wchar_t*>(wide_.data()),
                                                              static_cast<Py_ssize_t>(wide_.size())));
            }
        }
        form_ = Form::host;
        changed_ = false;
    }

    void native_step(pii::Pattern matcher, const pii::MaskForm& form) {
        if (form_ == Form::ascii) {
            std::string out;
            if (pii::mask(matcher, form, ascii_view_, ascii_classes, out)) {
                ascii_ = std::move(out);
                ascii_view_ = ascii_;
                changed_ = true;
            }
        } else {
            std::u32string out;
            if (pii::mask(matcher, form, std::u32string_view(wide_), unicode_classes, out)) {
                wide_ = std::move(out);
                changed_ = true;
            }
        }
    }

    // for found in re.findall(pattern, text): text = text.replace(found, masked(found))
    // A match of a pattern with groups is a tuple; its first group is the found text.
    // An empty found text masks nothing.
    void host_step(nb::handle re, nb::handle pattern, const pii::MaskForm& form) {
        to_host();
        nb::object found_all = re.attr("findall")(pattern, host_);
        nb::str middle(form.middle.data(), form.middle.size());
        nb::object head_slice = steal_or_throw(PySlice_New(nullptr, nb::int_(form.head).ptr(), nullptr));
        nb::object tail_slice =
            steal_or_throw(PySlice_New(nb::int_(-static_cast<long>(form.tail)).ptr(), nullptr, nullptr));
        for (nb::handle item : found_all) {
            nb::object found = nb::borrow(item);
            if (PyTuple_Check(item.ptr())) found = steal_or_throw(PySequence_GetItem(item.ptr(), 0));
            const Py_ssize_t length = PyObject_Size(found.ptr());
            if (length < 0) throw_current();
            if (length == 0) continue;
            nb::object head = steal_or_throw(PyObject_GetItem(found.ptr(), head_slice.ptr()));
            nb::object tail = steal_or_throw(PyObject_GetItem(found.ptr(), tail_slice.ptr()));
            nb::object masked = steal_or_throw(PyNumber_Add(head.ptr(), middle.ptr()));
            masked = steal_or_throw(PyNumber_Add(masked.ptr(), tail.ptr()));
            host_ = host_.attr("replace")(found, masked);
        }
    }

    Form form_ = Form::host;
    bool changed_ = false;       // the native text differs from host_
    nb::object host_;            // the text (in ascii form before a change: the str scanned in place)
    const HandlerNames& names_;
    std::string_view ascii_view_;
    std::string ascii_;
    std::u32string wide_;
};

// ---------------------------------------------------------------------------
// The maskers

struct Masker {
    bool pattern_list;      // the constant is a list of patterns, applied in order
    pii::Pattern patterns;  // whose row's mask form it applies (the first of its patterns)
    Impl impl;
};

nb::object RegexLoggerHandler_mask_ktp_number(Call& c);
nb::object RegexLoggerHandler_mask_npwp_number(Call& c);
nb::object RegexLoggerHandler_mask_phone_number(Call& c);
nb::object RegexLoggerHandler_mask_email_address(Call& c);
nb::object RegexLoggerHandler_process_message_using_regex(Call& c);

// In the order process_message_using_regex applies them; their method and
// constant names are masker_method(names, i) and masker_constant(names, i).
const Masker maskers[] = {
    {false, pii::Pattern::ktp, RegexLoggerHandler_mask_ktp_number},
    {false, pii::Pattern::npwp, RegexLoggerHandler_mask_npwp_number},
    {true, pii::Pattern::phone_unbroken, RegexLoggerHandler_mask_phone_number},
    {false, pii::Pattern::email, RegexLoggerHandler_mask_email_address},
};

void apply_masker(Matchers& matchers, nb::handle self, nb::handle constant_name, const Masker& m,
                  MaskingText& text) {
    nb::object constant = get_attr(self, constant_name);
    const pii::MaskForm& form = pii::pattern_row(m.patterns).mask;
    if (!m.pattern_list) {
        text.apply(matchers, constant, form);
        return;
    }
    for (nb::handle pattern : constant) text.apply(matchers, pattern, form);
}

nb::object run_masker(Call& c, std::size_t i) {
    const HandlerNames names(c.closure());
    Matchers matchers(c, names);
    MaskingText text(c[1], names);
    apply_masker(matchers, c[0], masker_constant(names, i), maskers[i], text);
    return text.result();
}

nb::object RegexLoggerHandler_mask_ktp_number(Call& c) { return run_masker(c, 0); }
nb::object RegexLoggerHandler_mask_npwp_number(Call& c) { return run_masker(c, 1); }
nb::object RegexLoggerHandler_mask_phone_number(Call& c) { return run_masker(c, 2); }
nb::object RegexLoggerHandler_mask_email_address(Call& c) { return run_masker(c, 3); }

// Whether self.<name> is still the method `impl` of this module: neither a
// subclass nor the instance has put another in its place.
class OwnMethods {
public:
    explicit OwnMethods(nb::handle self) : self_(self) {}

    bool own(nb::handle name, Impl impl) {
        nb::object on_type = get_attr(type_of(self_), name);
        if (function_impl(on_type) != impl) return false;
        if (!instance_dict_.is_valid()) {
            instance_dict_ = steal_or_throw(PyObject_GenericGetDict(self_.ptr(), nullptr));
        }
        int shadowed = PyDict_Contains(instance_dict_.ptr(), name.ptr());
        if (shadowed < 0) throw_current();
        return shadowed == 0;
    }

private:
    nb::handle self_;
    nb::object instance_dict_;
};

// The four maskers in order, each on the result of the one before.
nb::object process_message(Call& c, nb::handle self, nb::handle message, OwnMethods& methods) {
    const HandlerNames names(c.closure());
    Matchers matchers(c, names);
    MaskingText text(message, names);
    for (std::size_t i = 0; i < std::size(maskers); ++i) {
        if (methods.own(masker_method(names, i), maskers[i].impl)) {
            apply_masker(matchers, self, masker_constant(names, i), maskers[i], text);
        } else {
            text.reset(get_attr(self, masker_method(names, i))(text.result()));
        }
    }
    return text.result();
}

nb::object RegexLoggerHandler_process_message_using_regex(Call& c) {
    OwnMethods methods(c[0]);
    return process_message(c, c[0], c[1], methods);
}

// RegexLoggerHandler.__init__(self, pii_regex_process_enabled=False)
nb::object RegexLoggerHandler_init(Call& c) {
    nb::handle self = c[0];
    super_of(c.closure(), self).attr("__init__")();
    self.attr("pii_regex_process_enabled") = c[1];
    return nb::none();
}

// RegexLoggerHandler.emit(self, record)
nb::object RegexLoggerHandler_emit(Call& c) {
    nb::handle self = c[0];
    nb::handle record = c[1];
    const HandlerNames names(c.closure());
    logger::emit_guarded(self, record, [&] {
        if (!truthy(get_attr(self, names[HandlerName::enabled]))) return;
        nb::object message = get_attr(record, names[HandlerName::get_message])();
        OwnMethods methods(self);
        nb::handle process = names[HandlerName::process];
        nb::object masked = methods.own(process, RegexLoggerHandler_process_message_using_regex)
                                ? process_message(c, self, message, methods)
                                : get_attr(self, process)(message);
        set_attr(record, names[HandlerName::msg], masked);
        set_attr(record, names[HandlerName::args], nb::tuple());
    });
    return nb::none();
}

// init_regex_pii_logging_handler(logger_name, pii_regex_process_enabled=False)
nb::object init_regex_pii_logging_handler(Call& c) {
    nb::object handler = c.global("RegexLoggerHandler")(c[1]);
    nb::object logger = c.global("logging").attr("getLogger")(c[0]);
    logger.attr("addHandler")(handler);
    return nb::none();
}

}  // namespace

void build_zunt_core_logger_regex_pii_logger_handler(ModuleScope& m) {
    m.doc("Logging handler that masks identity-card numbers, tax numbers, phone numbers and e-mail addresses in "
          "log messages with regular expressions.");
    nb::object logging = m.import_bind("logging");
    nb::object re = m.import_bind("re");

    nb::object str = builtin("str");
    nb::object bool_ = builtin("bool");
    nb::object none = nb::none();
    nb::object log_record = logging.attr("LogRecord");
    nb::object compile = re.attr("compile");
    auto pattern = [&](pii::Pattern p) {
        std::string_view source = pii::pattern_source(p);
        return compile(nb::str(source.data(), source.size()));
    };
    static_assert(std::size(pii::all_patterns) == 5, "one slot per built-in pattern");
    nb::object closure;
    {
    using enum HandlerName;
    closure = HandlerNames::make({
        {pattern_ktp, nb::handle(pattern(pii::Pattern::ktp))},
        {pattern_npwp, nb::handle(pattern(pii::Pattern::npwp))},
        {pattern_phone_unbroken, nb::handle(pattern(pii::Pattern::phone_unbroken))},
        {pattern_phone_grouped, nb::handle(pattern(pii::Pattern::phone_grouped))},
        {pattern_email, nb::handle(pattern(pii::Pattern::email))},
        {process, "process_message_using_regex"},
        {enabled, "pii_regex_process_enabled"},
        {get_message, "getMessage"},
        {msg, "msg"},
        {args, "args"},
        {isascii, "isascii"},
        {mask_ktp, "mask_ktp_number"},
        {mask_npwp, "mask_npwp_number"},
        {mask_phone, "mask_phone_number"},
        {mask_email, "mask_email_address"},
        {regex_ktp, "REGEX_KTP"},
        {regex_npwp, "REGEX_NPWP"},
        {regex_phone, "REGEX_PHONE_NUMBER"},
        {regex_email, "REGEX_EMAIL_ADDRESS"},
    });
    }
    const HandlerNames names(closure);
    auto builtin = [&](pii::Pattern p) { return builtin_pattern(names, p); };
    nb::list phone_patterns;
    phone_patterns.append(builtin(pii::Pattern::phone_unbroken));
    phone_patterns.append(builtin(pii::Pattern::phone_grouped));

    ClassBuilder cls(m, "RegexLoggerHandler", nb::make_tuple(logging.attr("Handler")),
                     "Logging handler that masks personal data in each record's message with regular expressions.\n\n"
                     "When enabled, it replaces the record's message by its formatted, masked text and empties the "
                     "record's arguments; it writes nothing itself, so the handlers that receive the record after it "
                     "output the masked text.");
    cls.attr("REGEX_KTP", builtin(pii::Pattern::ktp))
        .attr("REGEX_NPWP", builtin(pii::Pattern::npwp))
        .attr("REGEX_PHONE_NUMBER", phone_patterns)
        .attr("REGEX_EMAIL_ADDRESS", builtin(pii::Pattern::email));
    // The methods that read the names take them as their closure.
    cls.method({.name = "__init__",
                .params = {arg("self"), arg_default("pii_regex_process_enabled", bool_, nb::bool_(false))},
                .impl = RegexLoggerHandler_init,
                .returns = none})
        .method({.name = "emit",
                 .params = {arg("self"), arg("record", log_record)},
                 .impl = RegexLoggerHandler_emit,
                 .doc = "Mask the record's formatted message in place (message replaced, arguments emptied) when "
                        "enabled.",
                 .returns = none,
                 .closure = closure})
        .method({.name = "process_message_using_regex",
                 .params = {arg("self"), arg("message", str)},
                 .impl = RegexLoggerHandler_process_message_using_regex,
                 .doc = "Mask identity-card numbers, tax numbers, phone numbers and e-mail addresses, in this order.",
                 .returns = str,
                 .closure = closure})
        .method({.name = "mask_ktp_number",
                 .params = {arg("self"), arg("ktp_number", str)},
                 .impl = RegexLoggerHandler_mask_ktp_number,
                 .doc = "Mask the identity-card (KTP) numbers of a text.",
                 .returns = str,
                 .closure = closure})
        .method({.name = "mask_npwp_number",
                 .params = {arg("self"), arg("npwp_number", str)},
                 .impl = RegexLoggerHandler_mask_npwp_number,
                 .doc = "Mask the tax (NPWP) numbers of a text.",
                 .returns = str,
                 .closure = closure})
        .method({.name = "mask_phone_number",
                 .params = {arg("self"), arg("phone_number", str)},
                 .impl = RegexLoggerHandler_mask_phone_number,
                 .doc = "Mask the phone numbers of a text.",
                 .returns = str,
                 .closure = closure})
        .method({.name = "mask_email_address",
                 .params = {arg("self"), arg("email_address", str)},
                 .impl = RegexLoggerHandler_mask_email_address,
                 .doc = "Mask the e-mail addresses of a text.",
                 .returns = str,
                 .closure = closure});
    cls.build();

    m.def({.name = "init_regex_pii_logging_handler",
           .params = {arg("logger_name", str), arg_default("pii_regex_process_enabled", bool_, nb::bool_(false))},
           .impl = init_regex_pii_logging_handler,
           .doc = "Attach a new RegexLoggerHandler to the named logger, after its other handlers.",
           .returns = none});
}

}  // namespace zunt
