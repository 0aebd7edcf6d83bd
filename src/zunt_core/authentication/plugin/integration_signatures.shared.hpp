// The annotations and parameter lists that the integration interface, its SQL
// repository and the integration service declare alike, from the `UUID` and
// `ThirdPartyIntegrationAuth` the declaring module imported.
#pragma once

#include "runtime/builder.hpp"

#include <vector>

namespace zunt {

namespace nb = nanobind;

struct IntegrationSignatures {
    explicit IntegrationSignatures(rt::ModuleScope& m)
        : uuid(m.get("UUID")),
          text(rt::builtin("str")),
          record(m.get("ThirdPartyIntegrationAuth")),
          optional_record(rt::optional_of(record)),
          record_list(rt::subscript(rt::builtin("list"), record)),
          id_list(rt::subscript(rt::builtin("list"), uuid)),
          account{rt::arg("client_id", uuid), rt::arg("user_id", uuid), rt::arg("connector", text)},
          account_with_identifier(account) {
        account_with_identifier.push_back(rt::arg("user_identifier", text));
    }

    nb::object uuid, text, record, optional_record, record_list, id_list;
    std::vector<rt::Param> account;                  // client_id, user_id, connector
    std::vector<rt::Param> account_with_identifier;  // ... and user_identifier
};

}  // namespace zunt
