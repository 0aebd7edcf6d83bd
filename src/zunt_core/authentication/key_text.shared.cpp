#include "zunt_core/authentication/key_text.shared.hpp"

#include "runtime/errors.hpp"
#include "zunt/key_layout.hpp"

#include <optional>
#include <string_view>

namespace zunt::key_text {

using namespace rt;

namespace {

// UTF-8 of an exact text; nothing for any other object or for text the codec
// refuses (lone surrogates), which then goes the host's way.
std::optional<std::string_view> exact_utf8(nb::handle obj) {
    if (!PyUnicode_CheckExact(obj.ptr())) return std::nullopt;
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj.ptr(), &size);
    if (data == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string_view(data, static_cast<std::size_t>(size));
}

nb::object text_of(std::string_view utf8) {
    return steal_or_throw(PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size())));
}

}  // namespace

nb::object generate_secret(const Call& c, const char* length_attr) {
    return c.global("secrets").attr("token_urlsafe")(c[0].attr(length_attr));
}

nb::object build_key(const Call& c, const char* prefix_attr, const char* name_field) {
    nb::handle self = c[0];
    nb::handle record = c[1];
    nb::object encode = c.global("encode_base64");
    nb::object id_segment = encode(record.attr("id"));
    nb::object name_segment = encode(record.attr(name_field));
    nb::object secret = record.attr("secret");
    nb::object prefix = self.attr(prefix_attr);
    nb::object delimiter = self.attr("DELIMITER");
    auto prefix_text = exact_utf8(prefix);
    auto delimiter_text = exact_utf8(delimiter);
    auto id_text = exact_utf8(id_segment);
    auto name_text = exact_utf8(name_segment);
    auto secret_text = exact_utf8(secret);
    if (prefix_text && delimiter_text && id_text && name_text && secret_text) {
        return text_of(keys::join_key(*prefix_text, *id_text, *name_text, *secret_text, *delimiter_text));
    }
    nb::list segments;
    segments.append(id_segment);
    segments.append(name_segment);
    segments.append(secret);
    nb::object joined = delimiter.attr("join")(segments);
    return steal_or_throw(PyNumber_Add(prefix.ptr(), joined.ptr()));
}

nb::object segmentize(const Call& c, nb::handle text, const char* prefix_attr, nb::handle error_class,
                      const char* message) {
    nb::handle self = c[0];
    nb::object prefix = self.attr(prefix_attr);
    nb::object delimiter = self.attr("DELIMITER");
    nb::list pieces;
    auto key = exact_utf8(text);
    auto delimiter_text = exact_utf8(delimiter);
    if (key && delimiter_text && !delimiter_text->empty() && PyUnicode_CheckExact(prefix.ptr())) {
        Py_ssize_t skip = PyUnicode_GetLength(prefix.ptr());
        if (skip < 0) throw_current();
        std::string_view rest = keys::drop_code_points(*key, static_cast<std::size_t>(skip));
        for (std::string_view piece : keys::split_all(rest, *delimiter_text)) pieces.append(text_of(piece));
    } else {
        Py_ssize_t skip = PyObject_Size(prefix.ptr());
        if (skip < 0) throw_current();
        nb::object tail = steal_or_throw(PySlice_New(nb::int_(skip).ptr(), Py_None, Py_None));
        nb::object rest = steal_or_throw(PyObject_GetItem(text.ptr(), tail.ptr()));
        pieces = nb::borrow<nb::list>(steal_or_throw(PySequence_List(rest.attr("split")(delimiter).ptr())));
    }
    if (nb::len(pieces) < 3) raise(error_class.ptr(), message);
    return pieces;
}

KeyFields read_key(const Call& c, nb::handle text) {
    nb::object pieces = c[0].attr("_segmentize")(text);
    nb::object decode = c.global("decode_base64");
    nb::object id_text = decode(nb::object(pieces[0]));
    nb::object name = decode(nb::object(pieces[1]));
    nb::object secret = pieces[2];
    return {c.global("UUID")(id_text), std::move(name), std::move(secret)};
}

}  // namespace zunt::key_text
