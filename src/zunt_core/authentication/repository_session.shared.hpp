// What the four SQL repositories share: each keeps only the data store's
// per-thread session registry, and runs every operation in one scope of the
// calling thread's session, closed on every way out.
#pragma once

#include "runtime/context.hpp"
#include "runtime/function.hpp"

#include <utility>

namespace zunt::repository_session {

namespace nb = nanobind;

// __init__(self, data_store): self.db = data_store.db, and nothing else.
inline nb::object keep_registry(rt::Call& c) {
    c[0].attr("db") = c[1].attr("db");
    return nb::none();
}

// with self.db() as session: body(session)
template <class Body>
auto in_session(const rt::Call& c, Body&& body) {
    return rt::with_context(c[0].attr("db")(), std::forward<Body>(body));
}

}  // namespace zunt::repository_session
