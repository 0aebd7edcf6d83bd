// Signing and reading access tokens with the process-wide settings, shared by
// the three token services.
//
// The algorithm is always the configured one, checked first: "none" (in any
// letter case) and names the JWT library cannot sign with are refused with a
// fixed error, and a token is never decoded with a list of algorithms the
// configuration did not name. The key is made ready for that algorithm
// first; a key the library cannot use gives one fixed error without a cause.
// Errors of signing and checking pass through as they are, unless their text
// or chain would carry the signing key: those become the same fixed error.
#pragma once

#include "runtime/function.hpp"

#include <utility>

namespace zunt::access_token {

namespace nb = nanobind;

// jwt.encode(claims, jwk.construct(settings.auth_secret_key, algorithm), algorithm=settings.auth_algorithm)
nb::object sign(const rt::Call& c, nb::handle claims);

// jwt.decode(token, jwk.construct(settings.auth_secret_key, algorithm), algorithms=[settings.auth_algorithm])
nb::object decode(const rt::Call& c, nb::handle token);

// The "sub" and "jti" claims of decoded claims; JWTClaimsError
// "Invalid token claims." when either is absent or empty.
std::pair<nb::object, nb::object> subject_and_token_id(const rt::Call& c, nb::handle claims);

// JWTClaimsError(message), from the module's own JWT names.
[[noreturn]] void raise_invalid_claims(const rt::Call& c);

// The current time in whole seconds since 1970-01-01 UTC, the fraction dropped.
nb::object now_seconds(const rt::Call& c);

}  // namespace zunt::access_token
