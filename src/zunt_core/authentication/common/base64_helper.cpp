// zunt_core.authentication.common.base64_helper: text to URL-safe base64
// without "=", and back. Exact texts are coded natively with the host's
// results and errors; anything else takes the host's own operations.
#include "runtime/errors.hpp"
#include "zunt/base64url.hpp"
#include "zunt_core/modules.hpp"

#include <string_view>

namespace zunt {

using namespace rt;

namespace {

std::string_view utf8_view(nb::handle text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (data == nullptr) throw_current();
    return {data, static_cast<std::size_t>(size)};
}

// encode_base64(to_encode): base64.urlsafe_b64encode(str(to_encode).encode("utf-8")).decode("utf-8").strip("=")
nb::object encode_base64(Call& c) {
    nb::object text = steal_or_throw(PyObject_Str(c[0].ptr()));
    std::string encoded = codec::base64url_encode_unpadded(utf8_view(text));
    return steal_or_throw(PyUnicode_FromStringAndSize(encoded.data(), static_cast<Py_ssize_t>(encoded.size())));
}

[[noreturn]] void raise_non_ascii() {
    raise(PyExc_ValueError, "string argument should contain only ASCII characters");
}

// The host's own steps, for arguments that are not exact texts:
// base64.urlsafe_b64decode(to_decode + "=" * k).decode("utf-8")
nb::object decode_through_host(Call& c, nb::handle to_decode) {
    Py_ssize_t length = PyObject_Size(to_decode.ptr());
    if (length < 0) throw_current();
    std::string pads(codec::key_padding_for(static_cast<std::size_t>(length)), '=');
    nb::object padded = steal_or_throw(PyNumber_Add(to_decode.ptr(), nb::str(pads.c_str()).ptr()));
    nb::object raw = c.global("base64").attr("urlsafe_b64decode")(padded);
    return raw.attr("decode")("utf-8");
}

// decode_base64(to_decode): the text padded with 4 - len % 4 "=", decoded
// leniently, then read as strict UTF-8.
nb::object decode_base64(Call& c) {
    nb::handle to_decode = c[0];
    if (!PyUnicode_CheckExact(to_decode.ptr())) return decode_through_host(c, to_decode);
    Py_ssize_t length = PyUnicode_GetLength(to_decode.ptr());
    if (length < 0) throw_current();
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(to_decode.ptr(), &size);
    if (data == nullptr) {
        // Lone surrogates: not ASCII either.
        PyErr_Clear();
        raise_non_ascii();
    }
    if (size != length) raise_non_ascii();
    codec::Base64Decoded decoded = codec::base64url_decode_lenient(
        std::string_view(data, static_cast<std::size_t>(size)), codec::key_padding_for(static_cast<std::size_t>(length)));
    if (decoded.error != codec::Base64Error::none) {
        nb::object error = c.global("base64").attr("binascii").attr("Error");
        raise(error.ptr(), codec::base64_error_message(decoded));
    }
    return steal_or_throw(PyUnicode_DecodeUTF8(decoded.bytes.data(), static_cast<Py_ssize_t>(decoded.bytes.size()),
                                               "strict"));
}

}  // namespace

void build_zunt_core_authentication_common_base64_helper(ModuleScope& m) {
    m.doc("Base64 helper.");
    m.import_bind("base64");
    m.from_import("typing", {"Any"});

    nb::object str = builtin("str");
    m.def({.name = "encode_base64", .params = {arg("to_encode", m.get("Any"))}, .impl = encode_base64,
           .doc = "Encode base64.\n\nThe text form of the value, as UTF-8, in URL-safe base64 without \"=\".",
           .returns = str});
    m.def({.name = "decode_base64", .params = {arg("to_decode", str)}, .impl = decode_base64,
           .doc = "Decode base64.\n\nURL-safe base64 text, with or without \"=\", back to its UTF-8 text.",
           .returns = str});
}

}  // namespace zunt
