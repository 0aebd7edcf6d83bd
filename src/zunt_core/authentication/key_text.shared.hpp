// Writing and cutting the text of client API keys and user keys, shared by
// ClientHelper and UserHelper. The prefix and delimiter are read through the
// helper instance at each use; exact texts take the native path of
// zunt/key_layout.hpp, anything else the host's own slicing, splitting and
// joining, so results and errors are the host's either way.
#pragma once

#include "runtime/function.hpp"

namespace zunt::key_text {

namespace nb = nanobind;

// secrets.token_urlsafe(self.<length_attr>)
nb::object generate_secret(const rt::Call& c, const char* length_attr);

// self.<prefix_attr> + self.DELIMITER.join([encode_base64(record.id),
//     encode_base64(record.<name_field>), record.secret])
nb::object build_key(const rt::Call& c, const char* prefix_attr, const char* name_field);

// text[len(self.<prefix_attr>):].split(self.DELIMITER), as a list; fewer than
// three pieces raise error_class(message).
nb::object segmentize(const rt::Call& c, nb::handle text, const char* prefix_attr, nb::handle error_class,
                      const char* message);

// The three fields a key carries: (UUID(decode_base64(pieces[0])),
// decode_base64(pieces[1]), pieces[2]), from self._segmentize(text).
struct KeyFields {
    nb::object id;
    nb::object name;
    nb::object secret;
};
KeyFields read_key(const rt::Call& c, nb::handle text);

}  // namespace zunt::key_text
