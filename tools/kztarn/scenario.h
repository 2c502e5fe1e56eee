// Scenario files for the built-in module simulator: the phone's name and
// address, contacts, call lists, phones in reach and music, one line each:
//
//   name "Pixel Test"                 address 00:1a:7d:da:71:13
//   contact "John Doe" home "+49 89 765430" cell "+49 171 2233445"
//   received "John Doe" +4989765430 20240501T081500     (also dialed, missed)
//   nearby 34:12:78:56:bc:9a "Galaxy Test"
//   track "So What" "Miles Davis" "Kind of Blue"          (each line joins the playlist)
//   pin 1234
//
// "#" starts a comment; words with spaces are quoted. A list named in the
// file replaces the demo phone's list; what the file leaves out stays.
#pragma once
#include <istream>
#include <string>

#include "phone.h"

namespace kztool {

// False with "line N: reason" (the first bad line) and the phone unchanged.
bool ApplyScenario(std::istream& in, kzsim::Phone& phone, std::string& error);

}  // namespace kztool
