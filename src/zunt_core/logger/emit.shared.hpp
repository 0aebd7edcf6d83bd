// What both masking handlers' emit share: the host's handler contract.
#pragma once

#include "runtime/errors.hpp"

namespace zunt::logger {

namespace nb = nanobind;

// Runs an emit body as the host's own handlers do: an error of the body does
// not reach the code that logged; it is reported through the handler's
// handleError(record) (which prints it while logging.raiseExceptions is
// set) and the record goes on to the later handlers. RecursionError and
// errors that are no Exception (KeyboardInterrupt, SystemExit) pass.
template <class Body>
void emit_guarded(nb::handle handler, nb::handle record, Body&& body) {
    try {
        body();
    } catch (nb::python_error& e) {
        if (e.matches(PyExc_RecursionError) || !e.matches(PyExc_Exception)) throw;
        rt::Handling handling(e);
        handler.attr("handleError")(record);
    }
}

}  // namespace zunt::logger
