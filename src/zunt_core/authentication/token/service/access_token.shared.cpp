#include "zunt_core/authentication/token/service/access_token.shared.hpp"

#include "runtime/errors.hpp"
#include "runtime/host.hpp"

#include <cmath>
#include <string>
#include <unordered_set>

namespace zunt::access_token {

using namespace rt;

namespace {

nb::object jose_exceptions() { return nb::module_::import_("jose.exceptions"); }

[[noreturn]] void raise_fixed(const char* message) {
    nb::object error = jose_exceptions().attr("JWTError")(message);
    error.attr("__suppress_context__") = true;
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())), error.ptr());
    throw nb::python_error();
}

// The configured algorithm, when the JWT library signs with it.
nb::object checked_algorithm(nb::handle settings) {
    nb::object algorithm = settings.attr("auth_algorithm");
    nb::object algorithms = nb::module_::import_("jose.constants").attr("ALGORITHMS");
    bool known = false;
    if (PyUnicode_Check(algorithm.ptr()) && !nb::str(algorithm).attr("lower")().equal(nb::str("none"))) {
        for (const char* family : {"HMAC", "RSA_DS", "EC_DS"}) {
            if (contains(algorithms.attr(family), algorithm)) known = true;
        }
        known = known && contains(algorithms.attr("SUPPORTED"), algorithm);
    }
    if (!known) raise_fixed("The configured token algorithm is not supported.");
    return algorithm;
}

// Whether the error, its cause or its context (at any depth) shows the key.
bool chain_shows(nb::handle error, const std::string& key) {
    std::unordered_set<PyObject*> seen;
    nb::object current = nb::borrow(error);
    while (current.is_valid() && !current.is_none() && seen.insert(current.ptr()).second) {
        PyObject* text = PyObject_Str(current.ptr());
        if (text == nullptr) {
            PyErr_Clear();
            return true;  // cannot tell: treat as showing it
        }
        nb::object text_obj = nb::steal(text);
        if (to_utf8(text_obj).find(key) != std::string::npos) return true;
        PyObject* cause = PyException_GetCause(current.ptr());
        if (cause == nullptr) cause = PyException_GetContext(current.ptr());
        current = cause ? nb::steal(cause) : nb::object();
    }
    return false;
}

constexpr const char* unusable_key = "The access token could not be signed or checked with the configured key.";

template <class Body>
nb::object hiding_key(nb::handle key, Body&& body) {
    try {
        return body();
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
        std::string key_text = PyUnicode_Check(key.ptr()) ? to_utf8(key) : std::string();
        if (key_text.empty() || chain_shows(e.value(), key_text)) raise_fixed(unusable_key);
        throw;
    }
}

// The configured key made ready for the configured algorithm by the JWT
// library, before any token is signed or looked at. The key parsers' errors
// can quote what they read of the key (a field of a malformed PEM body, say),
// which no search for the key's text would find, so a key the library cannot
// use always gives the one fixed error, without its chain. Signing and
// checking then take the ready key, never its text: handed a text, the
// library's decoding reads one that parses as JSON as keys of its own, so
// tokens signed with the text would be checked against something else.
nb::object prepared_key(nb::handle key, nb::handle algorithm) {
    try {
        return nb::module_::import_("jose.jwk").attr("construct")(key, algorithm);
    } catch (nb::python_error& e) {
        if (!e.matches(PyExc_Exception)) throw;
        raise_fixed(unusable_key);
    }
}

nb::object settings_of(const Call& c) { return c.global("AuthenticationDbSettings")(); }

}  // namespace

nb::object sign(const Call& c, nb::handle claims) {
    nb::object settings = settings_of(c);
    nb::object algorithm = checked_algorithm(settings);
    nb::object key = settings.attr("auth_secret_key");
    nb::object prepared = prepared_key(key, algorithm);
    return hiding_key(key, [&] {
        return c.global("jwt").attr("encode")(claims, prepared, nb::arg("algorithm") = algorithm);
    });
}

nb::object decode(const Call& c, nb::handle token) {
    // The JWT library encodes a text token to UTF-8 first; a text that has no
    // UTF-8 form (a lone surrogate) would fail there with the whole token in
    // the error.
    if (PyUnicode_Check(token.ptr())) {
        Py_ssize_t size = 0;
        if (PyUnicode_AsUTF8AndSize(token.ptr(), &size) == nullptr) {
            PyErr_Clear();
            raise_fixed("The access token is not valid text.");
        }
    }
    nb::object settings = settings_of(c);
    nb::object algorithm = checked_algorithm(settings);
    nb::object key = settings.attr("auth_secret_key");
    nb::object prepared = prepared_key(key, algorithm);
    nb::list accepted;
    accepted.append(algorithm);
    return hiding_key(key, [&] {
        return c.global("jwt").attr("decode")(token, prepared, nb::arg("algorithms") = accepted);
    });
}

void raise_invalid_claims(const Call& c) {
    raise(c.global("JWTClaimsError").ptr(), "Invalid token claims.");
}

std::pair<nb::object, nb::object> subject_and_token_id(const Call& c, nb::handle claims) {
    nb::object subject = claims.attr("get")("sub");
    nb::object token_id = claims.attr("get")("jti");
    if (!truthy(subject) || !truthy(token_id)) raise_invalid_claims(c);
    return {subject, token_id};
}

nb::object now_seconds(const Call& c) {
    nb::object now = c.global("datetime").attr("now")(c.global("timezone").attr("utc"));
    double stamp = nb::cast<double>(now.attr("timestamp")());
    return nb::int_(static_cast<long long>(std::floor(stamp)));
}

}  // namespace zunt::access_token
